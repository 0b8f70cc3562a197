#include "forms/Unit10.h"

#include "framework/Application.h"

#include <QLineEdit>
#include <QPushButton>

TForm10* Form10 = nullptr;

TForm10::TForm10()
    : TForm(QStringLiteral("Инициализация")),
      OpenDialog1(QStringLiteral("Временной ряд(*.ser)|*.ser"), QStringLiteral("ser"))
{
    SetFormFont(QStringLiteral("MS Sans Serif"), -11);
    SetBounds(400, 300, 149, 60);

    Label1 = new TLabel(this, 0, 5, QStringLiteral("Размер окна"));
    Edit1 = Place(new QLineEdit(QStringLiteral("3"), this), 72, 5, 73, 21);
    Label2 = new TLabel(this, 0, 21, QStringLiteral("Длина ряда"));
    Edit2 = Place(new QLineEdit(QStringLiteral("10"), this), 72, 21, 73, 21);
    Button1 = Place(new QPushButton(QStringLiteral("ОК"), this), 8, 40, 41, 17);

    Handle(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
}

void TForm10::Button1Click() {}
