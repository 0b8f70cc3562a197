#include "framework/Dialogs.h"

#include "framework/Seams.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

void MessageBox(const QString& caption, const QString& text)
{
    if (Seams::messageBox) {
        Seams::messageBox(caption, text);
        return;
    }
    QMessageBox box(QMessageBox::Critical, caption, text, QMessageBox::Ok);
    box.exec();
}

TFileDialog::TFileDialog(Kind kind, QString filter, QString defaultExt)
    : Filter(std::move(filter)), DefaultExt(std::move(defaultExt)), kind_(kind)
{
}

bool TFileDialog::Execute(QWidget* parent)
{
    QString chosen;
    if (Seams::fileDialog) {
        const std::optional<QString> answer = Seams::fileDialog(*this);
        if (answer)
            chosen = *answer;
    } else if (kind_ == Kind::Open) {
        chosen = QFileDialog::getOpenFileName(parent, {}, FileName, ToolkitFilter(Filter));
    } else {
        chosen = QFileDialog::getSaveFileName(parent, {}, FileName, ToolkitFilter(Filter));
    }
    if (chosen.isEmpty())
        return false;
    FileName = WithDefaultExtension(chosen, DefaultExt);
    return true;
}

QString ToolkitFilter(const QString& filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString& description = parts[i];
        QString patterns = parts[i + 1];
        // A description that already ends with its patterns keeps them once.
        const bool shown = description.endsWith(QLatin1Char('(') + patterns + QLatin1Char(')'));
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        if (shown || description.endsWith(QLatin1Char('(') + patterns + QLatin1Char(')')))
            entries << description;
        else
            entries << QStringLiteral("%1 (%2)").arg(description, patterns);
    }
    return entries.join(QStringLiteral(";;"));
}

QString WithDefaultExtension(const QString& fileName, const QString& defaultExt)
{
    if (defaultExt.isEmpty() || !QFileInfo(fileName).suffix().isEmpty())
        return fileName;
    return fileName + QLatin1Char('.') + defaultExt;
}
