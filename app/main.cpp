// The entry point. The shared image and sequence objects are constructed
// before main runs; then the application object, the twelve windows in their
// fixed order, and the message loop until the main window closes.

#include "forms/Forms.h"
#include "framework/Application.h"

#include <QIcon>

int main(int argc, char* argv[])
{
    TApplication app(argc, argv);
    TApplication::setWindowIcon(QIcon(QStringLiteral(":/trelis.png")));
    try {
        CreateForms();
        TApplication::exec();
    } catch (...) {
        // An error that escapes start-up or the message loop ends the program.
        ShowException(std::current_exception());
    }
    DestroyForms();
    return 0;
}
