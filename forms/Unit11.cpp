#include "forms/Unit11.h"

#include "forms/SeriesPlot.h"
#include "framework/Application.h"
#include "framework/Convert.h"
#include "project/SeriesMath.h"

#include <QCheckBox>
#include <QPushButton>
#include <QTimer>

#include <algorithm>

TSerLForm* SerLForm = nullptr;

TSerLForm::TSerLForm()
    : TForm(QStringLiteral("Запоминаем временной ряд")),
      TProjectListener(Project)
{
    SetFormFont(QStringLiteral("Small Fonts"), -9);
    SetBounds(150, 150, 500, 288);

    Image1 = new TImage(this, 0, 12, 500, 255);
    Label2 = new TLabel(this, 392, 0, QStringLiteral("Label2"));
    Label3 = new TLabel(this, 392, 268, QStringLiteral("Label3"));
    Button1 = Place(new QPushButton(QStringLiteral("Пуск"), this), 0, 272, 49, 17);
    Button2 = Place(new QPushButton(QStringLiteral("Стоп"), this), 104, 272, 49, 17);
    CheckBox1 = Place(new QCheckBox(QStringLiteral("По первому окну"), this), 168, 272, 97, 17);
    // The substitute font may be wider than the one the box was laid out for:
    // never cut its caption.
    CheckBox1->resize(std::max(97, CheckBox1->sizeHint().width()), 17);
    Timer1 = new QTimer(this);
    Timer1->setInterval(1);
    Timer2 = new QTimer(this);
    Timer2->setInterval(500);

    Handle(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    Handle(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
    Handle(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
    Handle(Timer2, &QTimer::timeout, this, [this] { Timer2Timer(); });
    Handle(CheckBox1, &QCheckBox::toggled, this, [](bool checked) { Project.SetFromFirstWindow(checked); });
}

void TSerLForm::ProjectChanged(TProjectChange change)
{
    switch (change) {
    case TProjectChange::SeriesLoaded:
        ReleaseBuffers();
        ShowSeriesRange();
        minError = 200000000.0f;
        maxError = 0.0f;
        lastError = 0.0f;
        PrepareBuffers();
        break;
    case TProjectChange::SeriesReloaded:
        Timer1->stop();
        ShowSeriesRange();
        Timer1->start();
        break;
    case TProjectChange::SeriesSettings:
        CheckBox1->setChecked(Project.State().fromFirstWindow);
        break;
    case TProjectChange::Opened:
        // The opened series is shown as it was saved; training waits for "Пуск".
        ReleaseBuffers();
        CheckBox1->setChecked(Project.State().fromFirstWindow);
        minError = 200000000.0f;
        maxError = 0.0f;
        lastError = 0.0f;
        if (Project.State().HasSeries()) {
            ShowSeriesRange();
        } else {
            Label2->SetCaption(QStringLiteral("Label2"));
            Label3->SetCaption(QStringLiteral("Label3"));
        }
        if (isVisible())
            Timer2->start();
        break;
    default:
        break;
    }
}

void TSerLForm::Button1Click()
{
    if (SeriesReady())
        Timer1->start();
}

void TSerLForm::Button2Click()
{
    Timer1->stop();
}

void TSerLForm::FormShow()
{
    Timer2->start();
}

void TSerLForm::FormClose()
{
    // Only the repaint stops: training goes on while the window is closed.
    Timer2->stop();
}

void TSerLForm::Timer1Timer()
{
    if (!SeriesReady()) {
        // No series, or the network was replaced: there is nothing to train
        // until the next load, which starts the timer again.
        Timer1->stop();
        return;
    }
    const TSeriesEpochReport& report = Project.TrainSeriesEpoch();
    minError = report.errors.minError;
    maxError = report.errors.maxError;
    lastError = report.errors.lastError;
}

void TSerLForm::Timer2Timer()
{
    DrawSeries();
}

void TSerLForm::PrepareBuffers()
{
    Timer1->start();
}

void TSerLForm::ReleaseBuffers()
{
    Timer1->stop();
    Timer2->stop();
}

void TSerLForm::ShowSeriesRange()
{
    Label2->SetCaption(FloatToStr(seriesMin));
    Label3->SetCaption(FloatToStr(seriesMax));
}

QString TSerLForm::MaxErrorText() const
{
    return QStringLiteral("Максимальная ошибка ") + FloatToStr(Project.SeriesView().ErrorInUnits(maxError));
}

QString TSerLForm::MinErrorText() const
{
    return QStringLiteral("Минимальная ошибка ") + FloatToStr(Project.SeriesView().ErrorInUnits(minError));
}

void TSerLForm::DrawSeries()
{
    TCanvas& canvas = Image1->Canvas();
    canvas.SetPenColor(clWhite);
    canvas.SetBrushColor(clWhite);
    canvas.Rectangle(0, 0, Image1->width(), Image1->height());
    if (!SeriesReady())
        return;

    canvas.SetPenColor(clBlack);
    canvas.TextOut(0, 225, MaxErrorText());
    canvas.TextOut(0, 240, MinErrorText());

    const auto count = static_cast<std::uint32_t>(SeriesBuffer.count);
    const float* values = SeriesBuffer.values.get();
    const float step = SeriesStep(count);

    // The grid: one line per point; points sharing a column share a line.
    canvas.SetPenColor(clBlue);
    canvas.SetPenWidth(1);
    int drawnColumn = -1;
    for (std::uint32_t i = 1; i < count; ++i) {
        const int x = SeriesX(i, step);
        if (x == drawnColumn)
            continue;
        drawnColumn = x;
        canvas.MoveTo(x, 0);
        canvas.LineTo(x, SeriesPictureHeight);
    }

    // The series: black where it is trained on, red from trainLength on.
    canvas.MoveTo(0, SeriesY(values[0]));
    canvas.SetPenWidth(3);
    canvas.SetPenColor(clBlack);
    {
        TColumnPolyline line(canvas);
        for (std::uint32_t j = 1; j < trainLength; ++j)
            line.LineTo(SeriesX(j, step), SeriesY(values[j]));
        line.Flush();
        canvas.SetPenColor(clRed);
        for (std::uint32_t k = std::max(trainLength, 1u); k < count; ++k)
            line.LineTo(SeriesX(k, step), SeriesY(values[k]));
    }

    // The reproduction and forecast in yellow.
    const std::vector<float>& reproduction = Project.SeriesForecast().reproduction;
    canvas.MoveTo(0, SeriesY(values[0]));
    canvas.SetPenColor(clYellow);
    TColumnPolyline line(canvas);
    for (std::uint32_t n = 1; n < count; ++n)
        line.LineTo(SeriesX(n, step), SeriesY(reproduction[n]));
}
