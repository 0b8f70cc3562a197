#include "forms/Unit13.h"

#include "forms/ProgressPlot.h"
#include "forms/Unit14.h"
#include "framework/Application.h"
#include "framework/Convert.h"
#include "images/ClassNames.h"
#include "project/AtomicFile.h"
#include "project/Learning.h"
#include "project/TextFiles.h"

#include <QBuffer>
#include <QFileInfo>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QToolTip>

#include <algorithm>
#include <array>
#include <cmath>
#include <initializer_list>
#include <limits>
#include <map>

TProgressForm* ProgressForm = nullptr;

namespace {

constexpr int ClientWidth = 660;
constexpr int CurveHeight = 270;
constexpr int LowerHeight = 232;
constexpr int PanelWidth = 300; // the hidden neurons' weights
constexpr int PanelHeight = CurveHeight + 2 + LowerHeight;
// The two matrices in Image2.
const QRect TrainingArea(6, 4, ClientWidth / 2 - 12, LowerHeight - 8);
const QRect CheckArea(ClientWidth / 2 + 6, 4, ClientWidth / 2 - 12, LowerHeight - 8);
const QString TilesHint = QStringLiteral("Наведите мышь на плитку нейрона:\nкакие классы он усиливает.");
// The most elements of a cell the gallery lists, worst first, and the most
// pixels their pictures take together.
constexpr std::size_t MaxGalleryItems = 400;
constexpr std::size_t MaxGalleryPixels = std::size_t{1} << 24;
// The largest picture of an element in the gallery, and the largest scale of
// a weight tile, in pixels per retina cell.
constexpr std::uint32_t GalleryPictureSide = 64;
constexpr std::uint32_t LargestTileScale = 8;

constexpr TColor CorrectColor = qRgb(0, 0, 200);
constexpr TColor ErrorColor = qRgb(210, 0, 0);
constexpr TColor OneStepColor = qRgb(0, 130, 0);
constexpr TColor ClosedLoopColor = qRgb(190, 0, 190);
constexpr TColor AutoOneStepColor = qRgb(0, 150, 170);
constexpr TColor AutoClosedLoopColor = qRgb(220, 120, 0);
constexpr TColor CheckColor = qRgb(0, 150, 0);

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

std::string ClassName(std::size_t c)
{
    return ShownClassName(Project.ClassNames(), static_cast<std::int64_t>(c));
}

QString Share(std::uint64_t part, std::uint64_t whole)
{
    return whole == 0 ? QStringLiteral("—")
                      : PlotNumber(static_cast<double>(part) / static_cast<double>(whole));
}

void Clear(TImage* image)
{
    TCanvas& canvas = image->Canvas();
    canvas.SetPenColor(clWhite);
    canvas.SetBrushColor(clWhite);
    canvas.Rectangle(0, 0, image->width(), image->height());
    canvas.SetFontName(QStringLiteral("MS Sans Serif"));
    canvas.SetFontSize(8);
}

void Note(TCanvas& canvas, int x, int y, const QString& text)
{
    canvas.SetFontColor(clBlack);
    canvas.SetTransparentText(true);
    canvas.TextOut(x, y, text);
}

// The smallest positive and the largest finite figure of the histories' values.
void Span(const TEpochHistory& history, std::initializer_list<std::size_t> indices, double& smallest,
          double& largest)
{
    for (std::size_t i = 0; i < history.Count(); ++i)
        for (const std::size_t k : indices) {
            const double v = history[i].values[k];
            if (std::isfinite(v) && v > 0.0) {
                smallest = std::min(smallest, v);
                largest = std::max(largest, v);
            }
        }
}

void Widen(double v, double& smallest, double& largest)
{
    if (std::isfinite(v) && v > 0.0) {
        smallest = std::min(smallest, v);
        largest = std::max(largest, v);
    }
}

} // namespace

TProgressForm::TProgressForm()
    : TForm(QStringLiteral("Ход обучения")),
      TProjectListener(Project),
      TTrainingListener(Project),
      OpenDialog1(QStringLiteral("Обучающая последовательность|*.llt"), QStringLiteral("llt")),
      SaveDialog1(QStringLiteral("Рисунок PNG|*.png"), QStringLiteral("png")),
      SaveDialog2(QStringLiteral("Таблица CSV|*.csv"), QStringLiteral("csv")),
      SaveDialog3(QStringLiteral("Таблица CSV|*.csv"), QStringLiteral("csv"))
{
    SetFormFont(QStringLiteral("MS Sans Serif"), -11);
    SetBounds(30, 60, ClientWidth + PanelWidth, 24 + CurveHeight + 2 + LowerHeight + 28);

    Label1 = new TLabel(this, 8, 5);
    Image1 = new TImage(this, 0, 24, ClientWidth, CurveHeight);
    Image2 = new TImage(this, 0, 24 + CurveHeight + 2, ClientWidth, LowerHeight);
    Image3 = new TImage(this, ClientWidth + 2, 24, PanelWidth - 2, PanelHeight);
    const int buttons = 24 + CurveHeight + 2 + LowerHeight + 3;
    Label2 = new TLabel(this, ClientWidth + 6, buttons);
    Button1 = Place(new QPushButton(QStringLiteral("Проверить на файле…"), this), 4, buttons, 150, 22);
    Button2 = Place(new QPushButton(QStringLiteral("Сохранить рисунок…"), this), 160, buttons, 150, 22);
    Button3 = Place(new QPushButton(QStringLiteral("Сохранить кривую…"), this), 316, buttons, 150, 22);
    Button4 = Place(new QPushButton(QStringLiteral("Сохранить матрицу…"), this), 472, buttons, 150, 22);
    Timer1 = new QTimer(this);
    Timer1->setInterval(250);

    Handle(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    Handle(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
    Handle(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
    Handle(Button4, &QPushButton::clicked, this, [this] { Button4Click(); });
    Handle(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
    Handle(Image2, &TImage::mouseDown, this, [this](Qt::MouseButton b, int x, int y) { Image2MouseDown(b, x, y); });
    Handle(Image3, &TImage::mouseMove, this, [this](int x, int y) { Image3MouseMove(x, y); });
    StartCurve();
}

void TProgressForm::ProjectChanged(TProjectChange change)
{
    switch (change) {
    case TProjectChange::Network:
        StartCurve();
        source = TSource::Patterns;
        break;
    case TProjectChange::SeriesLoaded:
    case TProjectChange::SeriesReloaded:
        StartCurve();
        source = TSource::Series;
        break;
    case TProjectChange::Opened:
        StartCurve();
        source = Project.State().HasSeries() && Project.SeriesNetworkInPlace() ? TSource::Series
                                                                                 : TSource::Patterns;
        break;
    default:
        break;
    }
}

void TProgressForm::StartCurve()
{
    patternHistory.Clear();
    seriesHistory.Clear();
    heldOutHistory.Clear();
    checkHistory.Clear();
    patternEpochs = 0;
    seriesEpochs = 0;
    lastAnswers.clear();
    lastMargins.clear();
    lastClasses = 0;
    confusionReady_ = false;
    checked = false;
    checkTotal = 0;
    checkRight = 0;
    checkConfusion.Reset(0);
    checkSequence.Clear();
    checkAnswers.clear();
    checkMargins.clear();
    checkFile.clear();
    checkApart = 0;
    checkApartNames.clear();
    baselines = {};
    baselinesReady = false;
    bestEpoch = 0;
    bestClosedLoop = NaN;
    dirty_ = true;
}

void TProgressForm::PatternEpochTrained(const TPatternEpochReport& report)
{
    source = TSource::Patterns;
    dirty_ = true;
    ++patternEpochs;
    patternHistory.Add({patternEpochs,
                        {static_cast<double>(report.correct), report.totalError,
                         static_cast<double>(report.elements), 0.0}});
    lastAnswers.assign(report.answers.begin(), report.answers.begin() + report.elements);
    lastMargins.assign(report.margins.begin(), report.margins.begin() + report.elements);
    // The epoch left the cursor on its first element.
    epochMark = Project.CursorMark();
    lastClasses = report.classes;
    confusionReady_ = false;
}

void TProgressForm::HeldOutChecked(const TRunEpoch& epoch)
{
    // Told right after the epoch's own report, which numbered it.
    if (patternHistory.Empty() || epoch.heldOutTotal == 0)
        return;
    const double share = static_cast<double>(epoch.heldOutRight) / static_cast<double>(epoch.heldOutTotal);
    checkHistory.Add({patternEpochs,
                      {share * patternHistory.Last().values[Elements], static_cast<double>(epoch.heldOutRight),
                       static_cast<double>(epoch.heldOutTotal), 0.0}});
    dirty_ = true;
}

void TProgressForm::SeriesEpochTrained(const TSeriesEpochReport& report)
{
    if (report.windows == 0)
        return;
    source = TSource::Series;
    dirty_ = true;
    ++seriesEpochs;
    seriesHistory.Add({seriesEpochs, {report.maxError, report.minError, 0.0, 0.0}});
}

bool TProgressForm::SeriesInPlace() const
{
    return Project.SeriesReady();
}

void TProgressForm::EvaluateHeldOut()
{
    if (!SeriesInPlace())
        return;
    // The same figures the series window's picture comes from, computed
    // once for these weights.
    const THeldOutErrors& errors = Project.SeriesForecast().heldOut;
    if (errors.points == 0)
        return;
    heldOutHistory.Add({seriesEpochs, {errors.oneStep, errors.closedLoop, 0.0, 0.0}});
    if (bestEpoch == 0 || errors.closedLoop < bestClosedLoop) {
        bestEpoch = seriesEpochs;
        bestClosedLoop = errors.closedLoop;
    }
    dirty_ = true;
}

void TProgressForm::AdvanceBaselines()
{
    if (baselinesReady || source != TSource::Series || !SeriesInPlace())
        return;
    // Made aside while the window shows; taken once they are ready.
    if (const TSeriesBaselines* made = Project.SeriesBaselines()) {
        baselines = *made;
        baselinesReady = true;
        dirty_ = true;
    }
}

void TProgressForm::CatchUpHeldOut()
{
    if (source == TSource::Series && seriesEpochs > 0 &&
        (heldOutHistory.Empty() || heldOutHistory.Last().epoch != seriesEpochs))
        EvaluateHeldOut();
}

const TConfusion& TProgressForm::TrainingConfusion()
{
    if (!confusionReady_) {
        trainingConfusion_.Reset(lastClasses <= MaxConfusionClasses ? lastClasses : 0);
        for (const TElementAnswer& a : lastAnswers)
            trainingConfusion_.Add(a);
        confusionReady_ = true;
    }
    return trainingConfusion_;
}

void TProgressForm::FormShow()
{
    CatchUpHeldOut();
    AdvanceBaselines();
    Repaint();
    Timer1->start();
}

void TProgressForm::FormClose()
{
    Timer1->stop();
}

void TProgressForm::Timer1Timer()
{
    CatchUpHeldOut();
    AdvanceBaselines();
    if (dirty_)
        Repaint();
}

void TProgressForm::Repaint()
{
    dirty_ = false;
    Clear(Image1);
    Clear(Image2);
    if (source == TSource::Patterns)
        DrawPatterns();
    else
        DrawSeries();
    DrawNeurons();
    ShowStatus();
}

void TProgressForm::ShowStatus()
{
    QString text;
    if (source == TSource::Patterns) {
        if (patternHistory.Empty()) {
            text = QStringLiteral("Эпох ещё не было.");
        } else {
            const TEpochPoint& p = patternHistory.Last();
            text = QStringLiteral("Эпоха %1: верно %2 из %3, суммарная ошибка %4")
                       .arg(p.epoch)
                       .arg(static_cast<std::uint64_t>(p.values[Correct]))
                       .arg(static_cast<std::uint64_t>(p.values[Elements]))
                       .arg(PlotNumber(p.values[TotalError]));
            if (checked)
                text += QStringLiteral("; проверка на «%1»: верно %2 из %3")
                            .arg(checkFile)
                            .arg(checkRight)
                            .arg(checkTotal);
        }
    } else if (seriesHistory.Empty()) {
        text = QStringLiteral("Эпох ещё не было.");
    } else {
        const TEpochPoint& p = seriesHistory.Last();
        text = QStringLiteral("Эпоха %1: ошибка окна от %2 до %3")
                   .arg(p.epoch)
                   .arg(PlotNumber(p.values[MinError]), PlotNumber(p.values[MaxError]));
        if (bestEpoch > 0)
            text += QStringLiteral("; замкнутый прогноз лучше всего в эпоху %1: %2")
                        .arg(bestEpoch)
                        .arg(PlotNumber(bestClosedLoop));
    }
    Label1->SetCaption(text);
}

void TProgressForm::DrawPatternCurve()
{
    TCanvas& canvas = Image1->Canvas();
    if (patternHistory.Empty()) {
        // Two lines: one does not fit the curve's width.
        Note(canvas, 12, 12, QStringLiteral("Кривая обучения появится с первой эпохой окна «Обучение» →"));
        Note(canvas, 12, 26, QStringLiteral("«Обратное распространение» или «Стохастический алгоритм»."));
    } else {
        const TEpochPoint& last = patternHistory.Last();
        const TPlotAxis x = LinearAxis(0.0, static_cast<double>(last.epoch));
        const TPlotAxis correct = LinearAxis(0.0, std::max(last.values[Elements], 1.0));
        double smallest = std::numeric_limits<double>::infinity();
        double largest = 0.0;
        Span(patternHistory, {TotalError}, smallest, largest);
        const TPlotAxis error = LogAxis(smallest, largest);
        const QRect area(56, 26, ClientWidth - 56 - 60, CurveHeight - 26 - 36);
        // With a held-out check's curve, three shorter entries share the line.
        const bool check = !checkHistory.Empty();
        int legend = LegendEntry(canvas, 56, 4, CorrectColor, false,
                                 check ? QStringLiteral("верных ответов (слева)")
                                       : QStringLiteral("верных ответов (шкала слева)"));
        legend = LegendEntry(canvas, legend, 4, ErrorColor, false,
                             check ? QStringLiteral("суммарная ошибка (справа, лог.)")
                                   : QStringLiteral("суммарная ошибка (шкала справа, логарифмическая)"));
        if (check)
            LegendEntry(canvas, legend, 4, CheckColor, false, QStringLiteral("верных на проверке (доля, слева)"));
        TPlot left(canvas, area, x, correct);
        left.Frame(QStringLiteral("эпоха"));
        left.VerticalAxis(false, CorrectColor);
        TPlot right(canvas, area, x, error);
        right.VerticalAxis(true, ErrorColor);
        right.Curve(patternHistory, TotalError, ErrorColor, 1);
        left.Curve(patternHistory, Correct, CorrectColor, 2);
        left.Curve(checkHistory, CheckShown, CheckColor, 2);
    }
}

void TProgressForm::DrawPatterns()
{
    DrawPatternCurve();

    TCanvas& lower = Image2->Canvas();
    const std::vector<std::string>& names = Project.ClassNames();
    // A matrix, or only its title where the network has too many classes.
    const auto matrix = [&](const QRect& area, const QString& title, const TConfusion& m) {
        if (lastClasses > MaxDrawnClasses) {
            Note(lower, area.left(), area.top(), title);
            Note(lower, area.left(), area.top() + 16,
                 QStringLiteral("Классов больше %1: матрица не показывается.").arg(MaxDrawnClasses));
            return;
        }
        DrawConfusion(lower, area, title, m, names);
    };
    if (patternHistory.Empty()) {
        Note(lower, TrainingArea.left(), TrainingArea.top(),
             QStringLiteral("Обучение: матрица ошибок после первой эпохи."));
    } else {
        const auto right = static_cast<std::uint64_t>(patternHistory.Last().values[Correct]);
        const auto total = static_cast<std::uint64_t>(patternHistory.Last().values[Elements]);
        matrix(TrainingArea,
               QStringLiteral("Обучение, эпоха %1: верно %2 из %3 (%4)")
                   .arg(patternEpochs)
                   .arg(right)
                   .arg(total)
                   .arg(Share(right, total)),
               TrainingConfusion());
    }
    if (!checked) {
        Note(lower, CheckArea.left(), CheckArea.top(),
             QStringLiteral("Проверка: «Проверить на файле…» — отложенные образцы."));
    } else {
        matrix(CheckArea,
               QStringLiteral("Проверка «%1»: верно %2 из %3 (%4)")
                   .arg(checkFile)
                   .arg(checkRight)
                   .arg(checkTotal)
                   .arg(Share(checkRight, checkTotal)),
               checkConfusion);
        QString notes;
        if (checkConfusion.Outside() > 0)
            notes += QStringLiteral("Образцов с классом, которого нет среди выходов сети (неверные): %1. ")
                         .arg(checkConfusion.Outside());
        if (checkApart > 0)
            notes += QStringLiteral("Не проверялись образцы классов, которых нет в проекте: %1.").arg(checkApartNames);
        if (!notes.isEmpty())
            Note(lower, CheckArea.left(), CheckArea.bottom() - 12, notes);
    }
    // The two matrices apart.
    lower.SetPenColor(qRgb(200, 200, 200));
    lower.MoveTo(ClientWidth / 2, 2);
    lower.LineTo(ClientWidth / 2, LowerHeight - 2);
}

namespace {

// The epoch of the best closed-loop forecast on the held-out plot: a mark
// on the curve and its label beside it, on the side with room for it.
void MarkBestClosedLoop(TCanvas& lower, TPlot& plot, const QRect& area, std::uint64_t epoch, double value)
{
    plot.Mark(static_cast<double>(epoch), clBlack);
    const int bx = plot.X(static_cast<double>(epoch));
    const int by = plot.Y(value);
    lower.SetPenColor(clBlack);
    lower.SetBrushColor(ClosedLoopColor);
    lower.Rectangle(bx - 3, by - 3, bx + 4, by + 4);
    const QString label = QStringLiteral("лучший замкнутый прогноз: эпоха %1, %2").arg(epoch).arg(PlotNumber(value));
    const int width = lower.TextRect(0, 0, label).width();
    const int lx = bx + 4 + width < area.right() ? bx + 4 : bx - 4 - width;
    lower.SetBrushColor(clWhite);
    lower.SetFontColor(clBlack);
    lower.SetTransparentText(false);
    lower.TextOut(std::max(lx, area.left() + 2), area.top() + 2, label);
}

} // namespace

void TProgressForm::DrawSeries()
{
    TCanvas& canvas = Image1->Canvas();
    TCanvas& lower = Image2->Canvas();
    if (seriesHistory.Empty()) {
        Note(canvas, 12, 12,
             QStringLiteral("Кривая обучения появится с первой эпохой окна «Временной ряд» → «Обучение»."));
        return;
    }
    const TPlotAxis x = LinearAxis(0.0, static_cast<double>(seriesHistory.Last().epoch));
    double smallest = std::numeric_limits<double>::infinity();
    double largest = 0.0;
    Span(seriesHistory, {MaxError, MinError}, smallest, largest);
    const QRect area(64, 26, ClientWidth - 64 - 20, CurveHeight - 26 - 36);
    const int legend = LegendEntry(canvas, 64, 4, ErrorColor, false, QStringLiteral("наибольшая ошибка окна"));
    LegendEntry(canvas, legend, 4, CorrectColor, false, QStringLiteral("наименьшая ошибка окна"));
    TPlot top(canvas, area, x, LogAxis(smallest, largest));
    top.Frame(QStringLiteral("эпоха; ошибки окна в единицах файла, шкала логарифмическая"));
    top.VerticalAxis(false, clBlack);
    top.Curve(seriesHistory, MaxError, ErrorColor, 1);
    top.Curve(seriesHistory, MinError, CorrectColor, 1);

    // The held-out part: the network's two errors and the yardsticks.
    if (heldOutHistory.Empty()) {
        Note(lower, 12, 12,
             SeriesInPlace() ? QStringLiteral("Нет точек после обучающей части ряда: проверять не на чем.")
                             : QStringLiteral("Сеть не подходит к ряду."));
        return;
    }
    smallest = std::numeric_limits<double>::infinity();
    largest = 0.0;
    Span(heldOutHistory, {OneStep, ClosedLoop}, smallest, largest);
    if (baselinesReady)
        for (const double v : {baselines.naive.oneStep, baselines.naive.closedLoop, baselines.autoregression.oneStep,
                               baselines.autoregression.closedLoop})
            Widen(v, smallest, largest);
    // One column per forecaster: one-step above, closed-loop below.
    LegendEntry(lower, 40, 2, OneStepColor, false, QStringLiteral("сеть: на шаг вперёд"));
    LegendEntry(lower, 40, 16, ClosedLoopColor, false, QStringLiteral("сеть: замкнутый прогноз"));
    if (baselinesReady) {
        LegendEntry(lower, 240, 2, OneStepColor, true, QStringLiteral("наивный: на шаг вперёд"));
        LegendEntry(lower, 240, 16, ClosedLoopColor, true, QStringLiteral("наивный: замкнутый прогноз"));
    } else {
        Note(lower, 240, 2, QStringLiteral("сравнение с наивным прогнозом и авторегрессией готовится…"));
    }
    if (baselinesReady && baselines.fitted) {
        LegendEntry(lower, 440, 2, AutoOneStepColor, true, QStringLiteral("авторегрессия: на шаг вперёд"));
        LegendEntry(lower, 440, 16, AutoClosedLoopColor, true, QStringLiteral("авторегрессия: замкнутый прогноз"));
    }
    const QRect heldOutArea(64, 34, ClientWidth - 64 - 20, LowerHeight - 34 - 34);
    TPlot plot(lower, heldOutArea, x, LogAxis(smallest, largest));
    plot.Frame(QStringLiteral("эпоха; средняя абсолютная ошибка после обучающей части, в единицах файла"));
    plot.VerticalAxis(false, clBlack);
    if (baselinesReady) {
        plot.Level(baselines.naive.oneStep, OneStepColor, true);
        plot.Level(baselines.naive.closedLoop, ClosedLoopColor, true);
    }
    if (baselinesReady && baselines.fitted) {
        plot.Level(baselines.autoregression.oneStep, AutoOneStepColor, true);
        plot.Level(baselines.autoregression.closedLoop, AutoClosedLoopColor, true);
    }
    plot.Curve(heldOutHistory, OneStep, OneStepColor, 2);
    plot.Curve(heldOutHistory, ClosedLoop, ClosedLoopColor, 2);
    if (bestEpoch > 0)
        MarkBestClosedLoop(lower, plot, heldOutArea, bestEpoch, bestClosedLoop);
}

void TProgressForm::Button1Click()
{
    if (!OpenDialog1.Execute(this))
        return;
    const QString shown = OpenDialog1.FileName;
    TSequenceWithNames read;
    TClassMap classes;
    std::string reason = LoadSequenceWithNames(LocalPath(shown), read);
    if (reason.empty())
        reason = CheckRefusal(CurrentNet.get(), Project.ClassNames(), read, classes);
    if (!reason.empty()) {
        MessageBox(TApplication::Title(),
                   QStringLiteral("Не удалось проверить сеть на файле «%1»: %2. Сеть и обучающая "
                                  "последовательность не изменились.")
                       .arg(shown, QString::fromStdString(reason)));
        return;
    }
    const TCheckReport report = CheckNetwork(*CurrentNet, read, classes);
    checkConfusion = report.confusion;
    checkTotal = report.total;
    checkRight = report.right;
    checked = true;
    checkFile = QFileInfo(shown).fileName();
    checkApart = report.apart;
    checkApartNames.clear();
    for (const TApartClass& c : report.apartClasses)
        checkApartNames += (checkApartNames.isEmpty() ? QString() : QStringLiteral(", ")) +
                           QStringLiteral("%1 — %2").arg(QString::fromStdString(c.name)).arg(c.elements);
    KeepChecked(read.sequence, report);
    source = TSource::Patterns;
    Repaint();
}

QImage TProgressForm::Picture() const
{
    QImage picture(ClientWidth, CurveHeight + LowerHeight, QImage::Format_RGB32);
    picture.fill(Qt::white);
    QPainter painter(&picture);
    painter.drawImage(0, 0, Image1->Bitmap());
    painter.drawImage(0, CurveHeight, Image2->Bitmap());
    return picture;
}

std::string TProgressForm::HistoryCsv() const
{
    std::string csv;
    if (source == TSource::Patterns) {
        // The held-out check's columns only when a run checked epochs.
        const bool check = !checkHistory.Empty();
        std::map<std::uint64_t, const TEpochPoint*> checks;
        for (std::size_t i = 0; i < checkHistory.Count(); ++i)
            checks[checkHistory[i].epoch] = &checkHistory[i];
        csv = "эпоха,верно,элементов,суммарная ошибка";
        csv += check ? ",проверка: верно,проверка: элементов\n" : "\n";
        for (std::size_t i = 0; i < patternHistory.Count(); ++i) {
            const TEpochPoint& p = patternHistory[i];
            csv += std::to_string(p.epoch) + ',' + CsvNumber(p.values[Correct]) + ',' +
                   CsvNumber(p.values[Elements]) + ',' + CsvNumber(p.values[TotalError]);
            if (check) {
                const auto c = checks.find(p.epoch);
                csv += c == checks.end() ? std::string(",,")
                                         : ',' + CsvNumber(c->second->values[CheckRight]) + ',' +
                                               CsvNumber(c->second->values[CheckTotal]);
            }
            csv += '\n';
        }
        return csv;
    }
    // Every epoch of either history, in order, with the figures it has.
    std::map<std::uint64_t, std::array<double, 4>> rows;
    for (std::size_t i = 0; i < seriesHistory.Count(); ++i) {
        const TEpochPoint& p = seriesHistory[i];
        rows.try_emplace(p.epoch, std::array<double, 4>{NaN, NaN, NaN, NaN});
        rows[p.epoch][0] = p.values[MaxError];
        rows[p.epoch][1] = p.values[MinError];
    }
    for (std::size_t i = 0; i < heldOutHistory.Count(); ++i) {
        const TEpochPoint& p = heldOutHistory[i];
        rows.try_emplace(p.epoch, std::array<double, 4>{NaN, NaN, NaN, NaN});
        rows[p.epoch][2] = p.values[OneStep];
        rows[p.epoch][3] = p.values[ClosedLoop];
    }
    csv = "эпоха,наибольшая ошибка окна,наименьшая ошибка окна,сеть: на шаг вперёд,сеть: замкнутый прогноз,"
          "наивный: на шаг вперёд,наивный: замкнутый,авторегрессия: на шаг вперёд,авторегрессия: замкнутая\n";
    const std::string yardsticks =
        CsvNumber(baselinesReady ? baselines.naive.oneStep : NaN) + ',' +
        CsvNumber(baselinesReady ? baselines.naive.closedLoop : NaN) + ',' +
        CsvNumber(baselinesReady ? baselines.autoregression.oneStep : NaN) + ',' +
        CsvNumber(baselinesReady ? baselines.autoregression.closedLoop : NaN);
    for (const auto& [epoch, v] : rows)
        csv += std::to_string(epoch) + ',' + CsvNumber(v[0]) + ',' + CsvNumber(v[1]) + ',' + CsvNumber(v[2]) + ',' +
               CsvNumber(v[3]) + ',' + yardsticks + '\n';
    return csv;
}

std::string TProgressForm::ConfusionCsv()
{
    const TConfusion& training = TrainingConfusion();
    const std::size_t k = std::max(training.Classes(), checked ? checkConfusion.Classes() : 0);
    std::string csv = "набор,истина\\ответ";
    for (std::size_t c = 0; c < k; ++c)
        csv += ',' + CsvField(ClassName(c));
    csv += ",полнота\n";
    const auto table = [&](const std::string& set, const TConfusion& m) {
        for (std::size_t t = 0; t < m.Classes(); ++t) {
            csv += CsvField(set) + ',' + CsvField(ClassName(t));
            for (std::size_t a = 0; a < k; ++a)
                csv += ',' + std::to_string(a < m.Classes() ? m.Count(t, a) : 0);
            csv += ',' + CsvNumber(m.Recall(t)) + '\n';
        }
        csv += CsvField(set) + ",точность";
        for (std::size_t a = 0; a < k; ++a)
            csv += ',' + CsvNumber(a < m.Classes() ? m.Precision(a) : NaN);
        csv += ",\n";
    };
    table("обучение", training);
    if (checked)
        table("проверка: " + checkFile.toStdString(), checkConfusion);
    return csv;
}

void TProgressForm::Save(TSaveDialog& dialog, const std::string& bytes, const QString& what)
{
    if (!dialog.Execute(this))
        return;
    const std::string reason = SaveFileAtomically(LocalPath(dialog.FileName), bytes);
    if (!reason.empty())
        MessageBox(TApplication::Title(), QStringLiteral("Не удалось сохранить %1 в файл «%2»: %3")
                                              .arg(what, dialog.FileName, QString::fromStdString(reason)));
}

void TProgressForm::Button2Click()
{
    Repaint();
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    Picture().save(&buffer, "PNG");
    Save(SaveDialog1, png.toStdString(), QStringLiteral("рисунок"));
}

void TProgressForm::Button3Click()
{
    const bool none = source == TSource::Patterns ? patternHistory.Empty() : seriesHistory.Empty();
    if (none) {
        MessageBox(TApplication::Title(), QStringLiteral("Сохранять нечего: эпох ещё не было."));
        return;
    }
    Save(SaveDialog2, HistoryCsv(), QStringLiteral("кривую обучения"));
}

void TProgressForm::Button4Click()
{
    if (source != TSource::Patterns || (lastAnswers.empty() && !checked)) {
        MessageBox(TApplication::Title(),
                   QStringLiteral("Сохранять нечего: матрица ошибок появляется после эпохи окна «Обучение»."));
        return;
    }
    if (TrainingConfusion().Classes() == 0 && checkConfusion.Classes() == 0) {
        MessageBox(TApplication::Title(),
                   QStringLiteral("У сети больше %1 выходов: матрица ошибок не сохраняется.")
                       .arg(MaxConfusionClasses));
        return;
    }
    Save(SaveDialog3, ConfusionCsv(), QStringLiteral("матрицу ошибок"));
}

void TProgressForm::KeepChecked(PatternRing& sequence, const TCheckReport& report)
{
    checkSequence.Swap(sequence);
    checkAnswers = report.answers;
    checkMargins = report.margins;
}

TConfusionLayout TProgressForm::MatrixLayout(bool training)
{
    const bool drawn = source == TSource::Patterns && lastClasses <= MaxDrawnClasses &&
                       (training ? !patternHistory.Empty() : checked);
    if (!drawn)
        return {};
    return ConfusionLayout(Image2->Canvas(), training ? TrainingArea : CheckArea,
                           training ? TrainingConfusion().Classes() : checkConfusion.Classes());
}

std::optional<QPoint> TProgressForm::CellCentre(bool training, std::size_t trueClass, std::size_t answer)
{
    const TConfusionLayout layout = MatrixLayout(training);
    if (trueClass >= layout.classes || answer >= layout.classes)
        return std::nullopt;
    return QPoint(layout.left + static_cast<int>(answer) * layout.cellWidth + layout.cellWidth / 2,
                  layout.top + static_cast<int>(trueClass) * layout.cellHeight + layout.cellHeight / 2);
}

void TProgressForm::Image2MouseDown(Qt::MouseButton button, int x, int y)
{
    if (button != Qt::LeftButton)
        return;
    for (const bool training : {true, false})
        if (const auto cell = ConfusionCellAt(MatrixLayout(training), QPoint(x, y)))
            return OpenCell(training, cell->trueClass, cell->answer);
}

void TProgressForm::OpenCell(bool training, std::size_t trueClass, std::size_t answer)
{
    const std::vector<TElementAnswer>& answers = training ? lastAnswers : checkAnswers;
    const std::vector<float>& margins = training ? lastMargins : checkMargins;
    const PatternRing& sequence = training ? TrainingSequence : checkSequence;
    QString title = training ? QStringLiteral("Обучение, эпоха %1").arg(patternEpochs)
                             : QStringLiteral("Проверка «%1»").arg(checkFile);
    title += QStringLiteral(": класс «%1», ответ сети «%2».")
                 .arg(QString::fromStdString(ClassName(trueClass)), QString::fromStdString(ClassName(answer)));
    // The elements in the order of the answers: for training from the
    // epoch's first element, for the file from its first.
    const TAbsImage* first = training ? Project.MarkedElement(epochMark)
                                      : (checkSequence.Current ? checkSequence.Current->Next : nullptr);
    if (first == nullptr || sequence.Count != answers.size()) {
        GalleryForm->ShowCell(title + QStringLiteral(" Последовательность изменилась после этой эпохи: обучите "
                                                     "эпоху и откройте клетку снова."),
                              {}, 0, std::nullopt);
        return;
    }
    std::vector<const TAbsImage*> order(answers.size());
    const TAbsImage* e = first;
    for (const TAbsImage*& slot : order) {
        slot = e;
        e = e->Next;
    }
    const std::vector<std::uint32_t> cell = CellElements(answers, margins, answers.size(),
                                                         static_cast<std::int32_t>(trueClass),
                                                         static_cast<std::uint32_t>(answer));
    const TGridShape shape =
        InputShape(sequence.GetDimension(), Project.State().retinaWidth, Project.State().retinaHeight);
    const std::uint32_t scale =
        std::max<std::uint32_t>(1, GalleryPictureSide / std::max({shape.width, shape.height, 1u}));
    const std::size_t pixels = std::max<std::size_t>(std::size_t{shape.width} * shape.height * scale * scale, 1);
    const std::size_t most = std::min(MaxGalleryItems, std::max<std::size_t>(1, MaxGalleryPixels / pixels));
    std::vector<TGalleryItem> items;
    for (std::size_t n = 0; n < cell.size() && n < most; ++n) {
        const std::uint32_t k = cell[n];
        TGalleryItem item;
        // The place as the sequence is saved: from the element after the
        // cursor, where the epoch's first element comes last.
        item.place = training ? (k == 0 ? static_cast<std::uint32_t>(answers.size()) : k) : k + 1;
        item.step = k;
        item.trueClass = answers[k].trueClass;
        item.answer = answers[k].answer;
        item.margin = margins[k];
        item.picture = ElementPicture(*order[k], shape, scale);
        items.push_back(std::move(item));
    }
    GalleryForm->ShowCell(title, std::move(items), cell.size(),
                          training ? std::optional<TSequenceMark>(epochMark) : std::nullopt);
}

void TProgressForm::DrawNeurons()
{
    Clear(Image3);
    tiles_ = {};
    TCanvas& canvas = Image3->Canvas();
    Note(canvas, 6, 4, QStringLiteral("Веса входов скрытых нейронов"));
    const TNeuralNet* net = CurrentNet.get();
    const std::uint32_t hidden = net != nullptr && source == TSource::Patterns ? HiddenNeurons(*net) : 0;
    if (hidden == 0) {
        Label2->SetCaption(QString());
        Note(canvas, 6, 22, QStringLiteral("Нужна сеть распознавания образов"));
        Note(canvas, 6, 36, QStringLiteral("со скрытым слоем."));
        return;
    }
    if (Label2->Caption().isEmpty())
        Label2->SetCaption(TilesHint);
    // Below the tiles: the legend, and how many tiles did not fit.
    constexpr int Legend = 44;
    tilesAt_ = QPoint(6, 22);
    const TGridShape shape =
        InputShape(net->layers.front().inputCount, Project.State().retinaWidth, Project.State().retinaHeight);
    tiles_ = FitTiles(hidden, shape, static_cast<std::uint32_t>(Image3->width() - 12),
                      static_cast<std::uint32_t>(PanelHeight - 22 - Legend), LargestTileScale);
    const float scale = TileScale(*net, tiles_);
    const int bottom = PanelHeight - Legend;
    TPixels pixels(tiles_.Width(), tiles_.Height());
    DrawTiles(*net, tiles_, scale, pixels, 0, 0);
    TPixels bar(180, 10);
    DrawWeightBar(bar, 0, 0, bar.width, bar.height);
    {
        QPainter painter(&canvas.Image());
        painter.drawImage(tilesAt_, PixelsImage(pixels));
        painter.drawImage(6, bottom + 16, PixelsImage(bar));
    }
    if (tiles_.shown < hidden)
        Note(canvas, 6, bottom + 2,
             tiles_.shown == 0
                 ? QStringLiteral("Плитка нейрона не помещается: нейронов %1.").arg(hidden)
                 : QStringLiteral("Показаны первые %1 из %2; не поместились %3.")
                       .arg(tiles_.shown)
                       .arg(hidden)
                       .arg(hidden - tiles_.shown));
    Note(canvas, 6, bottom + 28, QStringLiteral("−%1").arg(PlotNumber(scale)));
    Note(canvas, 6 + 90 - 3, bottom + 28, QStringLiteral("0"));
    const QString top = QStringLiteral("+%1").arg(PlotNumber(scale));
    Note(canvas, 6 + 180 - canvas.TextRect(0, 0, top).width(), bottom + 28, top);
    Note(canvas, 194, bottom + 14, QStringLiteral("синий: вес < 0"));
    Note(canvas, 194, bottom + 28, QStringLiteral("красный: вес > 0"));
}

void TProgressForm::Image3MouseMove(int x, int y)
{
    const std::int64_t k = TileAt(tiles_, x - tilesAt_.x(), y - tilesAt_.y());
    const TNeuralNet* net = CurrentNet.get();
    if (k < 0 || net == nullptr || HiddenNeurons(*net) <= k) {
        Label2->SetCaption(tiles_.shown > 0 ? TilesHint : QString());
        return;
    }
    QString text = QStringLiteral("Нейрон %1 ").arg(k + 1);
    const std::vector<TFavour> favoured = FavouredClasses(*net, static_cast<std::uint32_t>(k), 3);
    if (favoured.empty())
        text += QStringLiteral("не усиливает ни один класс");
    else
        text += QStringLiteral("усиливает классы:\n");
    for (std::size_t n = 0; n < favoured.size(); ++n)
        text += QStringLiteral("%1«%2» +%3")
                    .arg(n == 0 ? QString() : QStringLiteral(", "))
                    .arg(QString::fromStdString(ClassName(favoured[n].output)))
                    .arg(favoured[n].weight, 0, 'f', 2);
    Label2->SetCaption(text);
    QToolTip::showText(Image3->mapToGlobal(QPoint(x, y)), text, Image3);
}
