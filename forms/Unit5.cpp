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

// The figures are counted in 64 bits, so that the products of large sizes
// are shown as they are instead of wrapping round.
void TForm5::FormShow()
{
    const std::int64_t d = TrainingSequence.GetDimension();
    const std::int64_t p = TrainingSequence.GetCount();
    Label2->SetCaption(QStringLiteral("Размерность:") + QString::number(d));
    Label1->SetCaption(QStringLiteral("Длина:") + QString::number(p));
    Label9->SetCaption(QStringLiteral("Память:") + QString::number((d + 4) * p) + QStringLiteral("b"));

    Label6->SetCaption(QStringLiteral("Х=") + QString::number(Project.State().retinaWidth));
    Label7->SetCaption(QStringLiteral("Y=") + QString::number(Project.State().retinaHeight));

    std::int64_t neurons = 0;
    std::int64_t connections = 0;
    std::int64_t outputs = 0;
    for (const TLayer& layer : CurrentNet->layers) {
        neurons += layer.neuronCount;
        connections += std::int64_t{layer.inputCount} * layer.neuronCount;
        outputs = layer.neuronCount;
    }
    Label3->SetCaption(QStringLiteral("Нейронов:") + QString::number(neurons));
    Label4->SetCaption(QStringLiteral("Слоев:") + QString::number(CurrentNet->layerCount));
    Label5->SetCaption(QStringLiteral("Выходов:") + QString::number(outputs));
    Label8->SetCaption(QStringLiteral("Связей:") + QString::number(connections));
    Label10->SetCaption(QStringLiteral("Память:") + QString::number(4 * connections) + QStringLiteral("b"));
}

void TForm5::Button1Click()
{
    close();
}
