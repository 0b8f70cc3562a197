#include "forms/Unit11.h"

#include "framework/Application.h"

#include <QCheckBox>
#include <QPushButton>
#include <QTimer>

TSerLForm* SerLForm = nullptr;

TSerLForm::TSerLForm()
    : TForm(QStringLiteral("Запоминаем временной ряд"))
{
    SetFormFont(QStringLiteral("Small Fonts"), -9);
    SetBounds(150, 150, 500, 288);

    Image1 = new TImage(this, 0, 12, 500, 255);
    Label2 = new TLabel(this, 392, 0, QStringLiteral("Label2"));
    Label3 = new TLabel(this, 392, 268, QStringLiteral("Label3"));
    Button1 = Place(new QPushButton(QStringLiteral("Пуск"), this), 0, 272, 49, 17);
    Button2 = Place(new QPushButton(QStringLiteral("Стоп"), this), 104, 272, 49, 17);
    CheckBox1 = Place(new QCheckBox(QStringLiteral("По первому окну"), this), 168, 272, 97, 17);
    Timer1 = new QTimer(this);
    Timer1->setInterval(1);
    Timer2 = new QTimer(this);
    Timer2->setInterval(500);

    Handle(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    Handle(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
    Handle(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
    Handle(Timer2, &QTimer::timeout, this, [this] { Timer2Timer(); });
}

void TSerLForm::Button1Click() {}
void TSerLForm::Button2Click() {}
void TSerLForm::FormShow() {}
void TSerLForm::FormClose() {}
void TSerLForm::Timer1Timer() {}
void TSerLForm::Timer2Timer() {}
void TSerLForm::PrepareBuffers() {}
void TSerLForm::ReleaseBuffers() {}
void TSerLForm::NormaliseSeries() {}
void TSerLForm::DrawSeries() {}
