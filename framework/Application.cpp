#include "framework/Application.h"

#include "framework/Convert.h"
#include "framework/Dialogs.h"
#include "images/RangeError.h"

#include <QFileInfo>
#include <QFont>
#include <QLibraryInfo>
#include <QTranslator>

#include <vector>

namespace {

// Depth of event deliveries on the stack, and the errors caught meanwhile.
int deliveryDepth = 0;
std::vector<std::exception_ptr> pendingErrors;

void ShowPendingErrors()
{
    while (!pendingErrors.empty()) {
        const std::exception_ptr error = pendingErrors.front();
        pendingErrors.erase(pendingErrors.begin());
        ShowException(error);
    }
}

} // namespace

TApplication::TApplication(int& argc, char** argv)
    : QApplication(argc, argv)
{
    // The windows name the fonts of their designer; these are the installed
    // fonts closest to them.
    QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"));
    QFont::insertSubstitution(QStringLiteral("Small Fonts"), QStringLiteral("DejaVu Sans"));
    QFont::insertSubstitution(QStringLiteral("Times New Roman"), QStringLiteral("Liberation Serif"));
    // The main form decides when the program ends (TForm).
    setQuitOnLastWindowClosed(false);
    // The name the main window shows; otherwise the toolkit takes the file
    // name of the program, in lower case.
    setApplicationName(QStringLiteral("Trelis"));
    // The toolkit's own dialogs and buttons speak the windows' language.
    auto* translator = new QTranslator(this);
    if (translator->load(QStringLiteral("qtbase_ru"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        installTranslator(translator);
    else
        delete translator;
}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    bool result = false;
    ++deliveryDepth;
    try {
        result = QApplication::notify(receiver, event);
    } catch (...) {
        // Last resort for an error that bypassed RunHandler.
        pendingErrors.push_back(std::current_exception());
    }
    --deliveryDepth;
    ShowPendingErrors();
    return result;
}

QString TApplication::Title()
{
    return QCoreApplication::applicationName();
}

QString TApplication::ProgramFileName()
{
    return QFileInfo(QCoreApplication::applicationFilePath()).fileName();
}

void ShowException(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const ERangeError&) {
        MessageBox(TApplication::ProgramFileName(), QString::fromUtf8(RangeErrorText));
        MessageBox(TApplication::Title(), QString::fromUtf8(RangeErrorFollowUpText));
    } catch (const EConvertError& e) {
        MessageBox(TApplication::Title(), e.Message());
    } catch (const std::exception& e) {
        MessageBox(TApplication::Title(), QString::fromUtf8(e.what()));
    } catch (...) {
        MessageBox(TApplication::Title(), QStringLiteral("Unknown error"));
    }
}

void ReportException(std::exception_ptr error)
{
    if (deliveryDepth > 0 && qobject_cast<TApplication*>(QCoreApplication::instance()))
        pendingErrors.push_back(error);
    else
        ShowException(error);
}
