#include "framework/Dialogs.h"

#include "framework/Seams.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

void MessageBox(const QString& caption, const QString& text)
{
    if (Seams::messageBox) {
        Seams::messageBox(caption, text);
        return;
    }
    QMessageBox box(QMessageBox::Critical, caption, text, QMessageBox::Ok);
    box.exec();
}

Seams::TAnswer Ask(const QString& caption, const QString& text)
{
    if (Seams::question)
        return Seams::question(caption, text);
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("Да"));
    box.button(QMessageBox::No)->setText(QStringLiteral("Нет"));
    box.button(QMessageBox::Cancel)->setText(QStringLiteral("Отмена"));
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::Cancel);
    switch (box.exec()) {
    case QMessageBox::Yes:
        return Seams::TAnswer::Yes;
    case QMessageBox::No:
        return Seams::TAnswer::No;
    default:
        return Seams::TAnswer::Cancel;
    }
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
    } else {
        const QString filters = ToolkitFilter(Filter);
        const QStringList entries = filters.split(QStringLiteral(";;"));
        QString selected = entries.value(FilterIndex - 1);
        chosen = kind_ == Kind::Open ? QFileDialog::getOpenFileName(parent, {}, FileName, filters, &selected)
                                     : QFileDialog::getSaveFileName(parent, {}, FileName, filters, &selected);
        if (!chosen.isEmpty() && entries.contains(selected))
            FilterIndex = static_cast<int>(entries.indexOf(selected)) + 1;
    }
    if (chosen.isEmpty())
        return false;
    FileName = WithDefaultExtension(chosen, FilterExtension(Filter, FilterIndex, DefaultExt));
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

QString FilterExtension(const QString& filter, int index, const QString& defaultExt)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    if (parts.size() < 4 || index < 1 || 2 * index > parts.size())
        return defaultExt;
    const QString first = parts[2 * index - 1].section(QLatin1Char(';'), 0, 0);
    const QString ext = first.mid(2);
    if (!first.startsWith(QStringLiteral("*.")) || ext.isEmpty() || ext.contains(QLatin1Char('*')) ||
        ext.contains(QLatin1Char('?')))
        return defaultExt;
    return ext;
}

QString WithDefaultExtension(const QString& fileName, const QString& defaultExt)
{
    if (defaultExt.isEmpty() || !QFileInfo(fileName).suffix().isEmpty())
        return fileName;
    return fileName + QLatin1Char('.') + defaultExt;
}
