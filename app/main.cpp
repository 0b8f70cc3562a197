// The entry point. The shared image and sequence objects are constructed
// before main runs; then the application object, the twelve windows in their
// fixed order, and the message loop until the main window closes. The one
// argument the program takes is a project file to open at start.

#include "forms/Forms.h"
#include "forms/Unit1.h"
#include "framework/Application.h"

#include <QIcon>
#include <QStringList>

int main(int argc, char* argv[])
{
    TApplication app(argc, argv);
    TApplication::setWindowIcon(QIcon(QStringLiteral(":/trelis.png")));
    try {
        CreateForms();
        const QStringList arguments = TApplication::arguments();
        if (arguments.size() > 1)
            RunHandler([&] { Form1->OpenProject(arguments.at(1)); });
        TApplication::exec();
    } catch (...) {
        // An error that escapes start-up or the message loop ends the program.
        ShowException(std::current_exception());
    }
    DestroyForms();
    return 0;
}
