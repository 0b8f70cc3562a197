#include "forms/Unit7.h"

#include "framework/Application.h"

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

void TForm7::StringGrid1SelectCell(int, int) {}
void TForm7::Edit1Change() {}
void TForm7::Button1Click() {}
