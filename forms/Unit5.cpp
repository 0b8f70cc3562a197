#include "forms/Unit5.h"

#include "framework/Application.h"

#include <QGroupBox>
#include <QPushButton>

TForm5* Form5 = nullptr;

TForm5::TForm5()
    : TForm(QStringLiteral("Сведения о проекте"))
{
    SetFormFont(QStringLiteral("MS Sans Serif"), -11);
    SetBounds(400, 300, 257, 123);

    GroupBox1 = Place(new QGroupBox(QStringLiteral("Последовательность"), this), 0, 0, 121, 65);
    Label2 = new TLabel(GroupBox1, 8, 16, QStringLiteral("Label2"));
    Label1 = new TLabel(GroupBox1, 8, 32, QStringLiteral("Label1"));
    Label9 = new TLabel(GroupBox1, 8, 48, QStringLiteral("Label9"));

    GroupBox2 = Place(new QGroupBox(QStringLiteral("Сеть"), this), 128, 0, 129, 97);
    Label3 = new TLabel(GroupBox2, 8, 16, QStringLiteral("Label3"));
    Label4 = new TLabel(GroupBox2, 8, 32, QStringLiteral("Label4"));
    Label5 = new TLabel(GroupBox2, 8, 48, QStringLiteral("Label5"));
    Label8 = new TLabel(GroupBox2, 8, 64, QStringLiteral("Label8"));
    Label10 = new TLabel(GroupBox2, 8, 80, QStringLiteral("Label10"));

    GroupBox3 = Place(new QGroupBox(QStringLiteral("Сетчатка"), this), 0, 72, 121, 49);
    Label6 = new TLabel(GroupBox3, 8, 16, QStringLiteral("Label6"));
    Label7 = new TLabel(GroupBox3, 8, 32, QStringLiteral("Label7"));

    Button1 = Place(new QPushButton(QStringLiteral("ОК"), this), 168, 104, 49, 17);
    Handle(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
}

void TForm5::FormShow() {}
void TForm5::Button1Click() {}
