#include "forms/Unit4.h"

#include "framework/Application.h"

#include <QCheckBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

TLearnForm* LearnForm = nullptr;

TLearnForm::TLearnForm()
    : TForm(QStringLiteral("Обратное распространение"))
{
    SetFormFont(QStringLiteral("MS Sans Serif"), -11);
    SetBounds(300, 250, 250, 89);

    CheckBox1 = Place(new QCheckBox(this), 8, 0, 17, 17);
    CheckBox1->setToolTip(QStringLiteral("Продолжать принудительно"));
    Label1 = new TLabel(this, 43, 0);
    Button2 = Place(new QPushButton(QStringLiteral("Пуск"), this), 0, 18, 41, 17);
    Button1 = Place(new QPushButton(QStringLiteral("Стоп"), this), 0, 34, 41, 17);
    Button3 = Place(new QPushButton(QStringLiteral("Шаг"), this), 1, 56, 40, 17);
    Image1 = new TImage(this, 48, 16, 200, 60);
    ProgressBar1 = Place(new QProgressBar(this), 0, 80, 249, 9);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    Timer1 = new QTimer(this);
    Timer1->setInterval(1);

    Handle(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    Handle(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
    Handle(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
    Handle(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
}

void TLearnForm::FormShow() {}
void TLearnForm::FormClose() {}
void TLearnForm::Button1Click() {}
void TLearnForm::Button2Click() {}
void TLearnForm::Button3Click() {}
void TLearnForm::Timer1Timer() {}
void TLearnForm::RunEpoch() {}
