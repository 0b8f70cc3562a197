#include "framework/Shell.h"

#include "framework/Seams.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>

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
    const QDir programDir(QCoreApplication::applicationDirPath());
    const QStringList folders{programDir.absolutePath(), programDir.absoluteFilePath(QStringLiteral("../share/trelis"))};
    return QUrl::fromLocalFile(FindDocument(target, folders));
}

QString FindDocument(const QString& name, const QStringList& folders)
{
    for (const QString& folder : folders) {
        const QString path = QDir::cleanPath(QDir(folder).absoluteFilePath(name));
        if (QFileInfo(path).isFile())
            return path;
    }
    return folders.isEmpty() ? name : QDir::cleanPath(QDir(folders.front()).absoluteFilePath(name));
}
