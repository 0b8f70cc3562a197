#pragma once
// Hands command lines to the desktop shell. A line "start <target>" opens the
// target with the desktop's default handler: a web address as it is, a
// document name relative to the folder of the running program, or, for an
// installed program, to its data folder <prefix>/share/trelis. Other lines
// are not run. The result is never reported.

#include <QString>
#include <QStringList>
#include <QUrl>

// Passes the line to Seams::shell, or opens its target.
void RunShellCommand(const QString& commandLine);

// What "start <target>" opens; an invalid address for any other line.
QUrl ShellTarget(const QString& commandLine);

// The first of folders that holds the file name (a relative name), as a
// clean absolute path; the path in the first folder when none holds it.
QString FindDocument(const QString& name, const QStringList& folders);
