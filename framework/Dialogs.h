#pragma once
// Message boxes, questions and file dialogs, all answered through Seams in
// tests.

#include "framework/Seams.h"

#include <QString>

class QWidget;

// A modal box with the text, the caption and one OK button.
void MessageBox(const QString& caption, const QString& text);

// A modal question with the buttons "Да", "Нет" and "Отмена" ("Да" is the
// default); closing the box answers "Отмена".
Seams::TAnswer Ask(const QString& caption, const QString& text);

// A file open or save dialog that remembers the chosen name. The filter is
// written as pairs "description|patterns" joined by '|', patterns separated
// by ';' (e.g. "Обучающая последовательность|*.llt").
class TFileDialog {
public:
    enum class Kind { Open, Save };

    TFileDialog(Kind kind, QString filter = {}, QString defaultExt = {});

    // Asks the user for a file. On OK, FileName takes the chosen name (with
    // "." DefaultExt appended when the name has no extension; a filter of
    // several entries appends the extension of the entry chosen instead) and
    // the result is true; on Cancel FileName is kept and the result is false.
    bool Execute(QWidget* parent = nullptr);

    Kind DialogKind() const { return kind_; }

    QString Filter;     // see above; empty: every file
    QString DefaultExt; // without the dot; empty: none
    QString FileName;   // the name chosen last, offered again next time
    int FilterIndex = 1; // the filter entry offered first and, after OK, the one chosen (from 1)

private:
    Kind kind_;
};

class TOpenDialog : public TFileDialog {
public:
    explicit TOpenDialog(QString filter = {}, QString defaultExt = {})
        : TFileDialog(Kind::Open, std::move(filter), std::move(defaultExt)) {}
};

class TSaveDialog : public TFileDialog {
public:
    explicit TSaveDialog(QString filter = {}, QString defaultExt = {})
        : TFileDialog(Kind::Save, std::move(filter), std::move(defaultExt)) {}
};

// The filter in the toolkit's notation: "Обучающая последовательность (*.llt)",
// entries separated by ";;". A description that already ends with its
// patterns in brackets ("Временной ряд(*.ser)|*.ser") is taken as it is.
QString ToolkitFilter(const QString& filter);

// The extension of entry `index` (from 1) of a filter of several entries,
// when its first pattern is "*.ext"; otherwise `defaultExt`.
QString FilterExtension(const QString& filter, int index, const QString& defaultExt);

// The name with "." defaultExt appended when its file part has no extension.
QString WithDefaultExtension(const QString& fileName, const QString& defaultExt);
