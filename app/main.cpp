// The entry point. The shared image and sequence objects are constructed
// before main runs; then the application object, the twelve windows in their
// fixed order, and the message loop until the main window closes. The one
// argument the program takes is a project file to open at start; --help and
// --version answer on the standard output without opening any window.

#include "forms/Forms.h"
#include "forms/Unit1.h"
#include "framework/Application.h"

#include <QIcon>
#include <QStringList>

#include <cstdio>
#include <cstring>

namespace {

const char* const Usage =
    "Использование: trelis [ПРОЕКТ.trelis]\n"
    "\n"
    "Открывает рабочее место Trelis: холст, обучающую последовательность, обучение\n"
    "сети и временные ряды. ПРОЕКТ — файл .trelis, записанный командой «Файл» →\n"
    "«Сохранить проект» (или trelis-cli train): он открывается сразу.\n"
    "\n"
    "  --help      эта справка\n"
    "  --version   версия программы\n"
    "\n"
    "Та же работа без окон: trelis-cli --help. Подробно: index.html, «Помощь» → «Помощь».\n";

} // namespace

int main(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(Usage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("Trelis %s\n", TRELIS_VERSION);
            return 0;
        }
    }
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
