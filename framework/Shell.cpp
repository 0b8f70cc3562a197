#include "framework/Shell.h"

#include "framework/Seams.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>

void RunShellCommand(const QString& commandLine)
{
    if (Seams::shell) {
        Seams::shell(commandLine);
        return;
    }
    const QUrl target = ShellTarget(commandLine);
    if (target.isValid())
        QDesktopServices::openUrl(target);
}

QUrl ShellTarget(const QString& commandLine)
{
    static const QString prefix = QStringLiteral("start ");
    if (!commandLine.startsWith(prefix))
        return {};
    const QString target = commandLine.mid(prefix.size()).trimmed();
    if (target.isEmpty())
        return {};
    const QUrl address(target, QUrl::StrictMode);
    if (address.isValid() && address.scheme().size() > 1)
        return address;
    const QString path = QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(target);
    return QUrl::fromLocalFile(path);
}
