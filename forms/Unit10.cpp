#include "forms/Unit10.h"

#include "forms/Globals.h"
#include "forms/SeriesLoad.h"
#include "project/SeriesMath.h"
#include "forms/Unit1.h"
#include "forms/Unit11.h"
#include "framework/Application.h"
#include "framework/Convert.h"
#include "images/Globals.h"

#include <QLineEdit>
#include <QAction>
#include <QPushButton>
#include <QTimer>

#include <vector>

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

void TForm10::Button1Click()
{
    if (!OpenDialog1.Execute(this))
        return;
    const std::int32_t newWindowSize = StrToInt(Edit1->text());
    const std::int32_t newTrainLength = StrToInt(Edit2->text());
    TSeriesLoad load = CheckFullLoad(OpenDialog1.FileName, newWindowSize, newTrainLength);
    if (load.Refused()) {
        MessageBox(TApplication::Title(), load.refusal);
        return;
    }

    // Everything the load builds is made before anything is replaced, so
    // that running out of memory part-way leaves the old series whole.
    const auto window = static_cast<std::uint32_t>(newWindowSize);
    const auto count = static_cast<std::uint32_t>(load.count);
    std::vector<float> scaled(load.values.get(), load.values.get() + count);
    ScaleSeries(scaled.data(), scaled.size(), load.range);
    PatternRing windows;
    windows.SetDimension(window);
    CutSeriesWindows(scaled.data(), count, window, windows);
    auto network = std::make_unique<TNeuralNet>(2, std::vector<std::uint32_t>{window, 2, 1}, 0.68f, 0.0f, 0.0f,
                                                1.0f, 1.0f);

    SerLForm->ReleaseBuffers();
    windowSize = window;
    SerLForm->trainLength = static_cast<std::uint32_t>(newTrainLength);
    TrainingSequence.Swap(windows);
    CurrentNet.reset();
    CurrentNet = std::move(network);
    SeriesBuffer.values = std::move(load.values);
    SeriesBuffer.count = load.count;
    SerLForm->NormaliseSeries();
    close();
    SerLForm->PrepareBuffers();
    Form1->N27->setEnabled(true);
}

void TForm10::ReloadSeries()
{
    if (windowSize == 0)
        return; // nothing has been loaded yet
    if (!CurrentNet || CurrentNet->layers.empty() || CurrentNet->layers[0].inputCount != windowSize ||
        CurrentNet->outputCount != 1) {
        MessageBox(TApplication::Title(), ReplacedNetworkMessage());
        return;
    }
    if (!OpenDialog1.Execute(Form1))
        return;
    TSeriesLoad load = CheckReload(OpenDialog1.FileName, windowSize, SerLForm->trainLength);
    if (load.Refused()) {
        MessageBox(TApplication::Title(), load.refusal);
        return;
    }
    SerLForm->Timer1->stop();
    SeriesBuffer.values = std::move(load.values);
    SeriesBuffer.count = load.count;
    SerLForm->NormaliseSeries();
    SerLForm->FitBuffersToSeries();
    SerLForm->Timer1->start();
}
