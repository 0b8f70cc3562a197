#include "forms/Unit5.h"

#include "framework/Application.h"
#include "project/Globals.h"

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

void TForm5::FormShow()
{
    const TProjectFigures f = ProjectFigures(Project.State());
    const auto number = [](std::int64_t n) { return QString::number(n); };
    Label2->SetCaption(QStringLiteral("Размерность:") + number(f.dimension));
    Label1->SetCaption(QStringLiteral("Длина:") + number(f.length));
    Label9->SetCaption(QStringLiteral("Память:") + number(f.sequenceMemory) + QStringLiteral("b"));
    Label6->SetCaption(QStringLiteral("Х=") + number(f.retinaWidth));
    Label7->SetCaption(QStringLiteral("Y=") + number(f.retinaHeight));
    Label3->SetCaption(QStringLiteral("Нейронов:") + number(f.neurons));
    Label4->SetCaption(QStringLiteral("Слоев:") + number(f.layers));
    Label5->SetCaption(QStringLiteral("Выходов:") + number(f.outputs));
    Label8->SetCaption(QStringLiteral("Связей:") + number(f.connections));
    Label10->SetCaption(QStringLiteral("Память:") + number(f.networkMemory) + QStringLiteral("b"));
}

void TForm5::Button1Click()
{
    close();
}
