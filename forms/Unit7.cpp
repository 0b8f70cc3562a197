#include "forms/Unit7.h"

#include "forms/Unit3.h"
#include "framework/Application.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

TForm7* Form7 = nullptr;

TForm7::TForm7()
    : TForm(QStringLiteral("Имена классов"))
{
    SetFormFont(QStringLiteral("MS Sans Serif"), -11);
    SetBounds(641, 0, 152, 175);

    StringGrid1 = new TStringGrid(this, 0, 0, 153, 145, 2, 5, 1, 15);
    Edit1 = Place(new QLineEdit(this), 8, 152, 65, 21);
    Button1 = Place(new QPushButton(QStringLiteral("ОК"), this), 88, 152, 49, 17);

    Handle(StringGrid1, &TStringGrid::cellSelected, this,
           [this](int column, int row) { StringGrid1SelectCell(column, row); });
    Handle(Edit1, &QLineEdit::textChanged, this, [this] { Edit1Change(); });
    Handle(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
}

void TForm7::StringGrid1SelectCell(int, int row)
{
    Edit1->setFocus();
    // Row 0 is the header; selecting it edits the first class.
    CurrentRow = row == 0 ? 1 : row;
    Edit1->setText(StringGrid1->Cell(1, CurrentRow));
}

void TForm7::Edit1Change()
{
    // A row the grid no longer has is left alone.
    StringGrid1->SetCell(1, CurrentRow, Edit1->text());
}

void TForm7::Button1Click()
{
    QComboBox* classes = SmImForm->ComboBox1;
    // The box keeps showing its text, which need not name a class any more.
    const QString shown = classes->currentText();
    classes->clear();
    for (int r = 1; r < StringGrid1->RowCount(); ++r)
        classes->addItem(StringGrid1->Cell(1, r));
    classes->setCurrentIndex(-1);
    classes->setEditText(shown);
}
