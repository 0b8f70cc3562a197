#include "forms/Unit13.h"

#include "forms/ProgressPlot.h"
#include "forms/Unit14.h"
#include "framework/Application.h"
#include "framework/Convert.h"
#include "images/ClassNames.h"
#include "project/AtomicFile.h"
#include "project/Checking.h"
#include "project/Globals.h"
#include "project/Learning.h"

#include <QBuffer>
#include <QFileInfo>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QToolTip>

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <limits>

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

using TSource = TTrainingHistory::TSource;
using enum TTrainingHistory::PatternValue;
using enum TTrainingHistory::SeriesValue;
using enum TTrainingHistory::HeldOutValue;
using enum TTrainingHistory::CheckValue;

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
      OpenDialog1(QStringLiteral("Обучающая последовательность|*.llt"), QStringLiteral("llt")),
      SaveDialog1(QStringLiteral("Рисунок PNG|*.png"), QStringLiteral("png")),
      SaveDialog2(QStringLiteral("Таблица CSV|*.csv"), QStringLiteral("csv")),
      SaveDialog3(QStringLiteral("Таблица CSV|*.csv"), QStringLiteral("csv")),
      history_(Project)
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
    history_.Subscribe([this] { dirty_ = true; });
}

void TProgressForm::FormShow()
{
    history_.CatchUp();
    Repaint();
    Timer1->start();
}

void TProgressForm::FormClose()
{
    Timer1->stop();
}

void TProgressForm::Timer1Timer()
{
    history_.CatchUp();
    if (dirty_)
        Repaint();
}

void TProgressForm::Repaint()
{
    dirty_ = false;
    Clear(Image1);
    Clear(Image2);
    if (history_.Source() == TSource::Patterns)
        DrawPatterns();
    else
        DrawSeries();
    DrawNeurons();
    ShowStatus();
}

void TProgressForm::ShowStatus()
{
    const TEpochHistory& patterns = history_.Patterns();
    const TEpochHistory& series = history_.Series();
    QString text;
    if (history_.Source() == TSource::Patterns) {
        if (patterns.Empty()) {
            text = QStringLiteral("Эпох ещё не было.");
        } else {
            const TEpochPoint& p = patterns.Last();
            text = QStringLiteral("Эпоха %1: верно %2 из %3, суммарная ошибка %4")
                       .arg(p.epoch)
                       .arg(static_cast<std::uint64_t>(p.values[Correct]))
                       .arg(static_cast<std::uint64_t>(p.values[Elements]))
                       .arg(PlotNumber(p.values[TotalError]));
            if (const TTrainingHistory::TFileCheck* check = history_.FileCheck())
                text += QStringLiteral("; проверка на «%1»: верно %2 из %3")
                            .arg(QString::fromStdString(check->file))
                            .arg(check->right)
                            .arg(check->total);
        }
    } else if (series.Empty()) {
        text = QStringLiteral("Эпох ещё не было.");
    } else {
        const TEpochPoint& p = series.Last();
        text = QStringLiteral("Эпоха %1: ошибка окна от %2 до %3")
                   .arg(p.epoch)
                   .arg(PlotNumber(p.values[MinError]), PlotNumber(p.values[MaxError]));
        if (history_.BestEpoch() > 0)
            text += QStringLiteral("; замкнутый прогноз лучше всего в эпоху %1: %2")
                        .arg(history_.BestEpoch())
                        .arg(PlotNumber(history_.BestClosedLoop()));
    }
    Label1->SetCaption(text);
}

void TProgressForm::DrawPatternCurve()
{
    TCanvas& canvas = Image1->Canvas();
    const TEpochHistory& patterns = history_.Patterns();
    const TEpochHistory& checks = history_.Checks();
    if (patterns.Empty()) {
        // Two lines: one does not fit the curve's width.
        Note(canvas, 12, 12, QStringLiteral("Кривая обучения появится с первой эпохой окна «Обучение» →"));
        Note(canvas, 12, 26, QStringLiteral("«Обратное распространение» или «Стохастический алгоритм»."));
    } else {
        const TEpochPoint& last = patterns.Last();
        const TPlotAxis x = LinearAxis(0.0, static_cast<double>(last.epoch));
        const TPlotAxis correct = LinearAxis(0.0, std::max(last.values[Elements], 1.0));
        double smallest = std::numeric_limits<double>::infinity();
        double largest = 0.0;
        Span(patterns, {TotalError}, smallest, largest);
        const TPlotAxis error = LogAxis(smallest, largest);
        const QRect area(56, 26, ClientWidth - 56 - 60, CurveHeight - 26 - 36);
        // With a held-out check's curve, three shorter entries share the line.
        const bool check = !checks.Empty();
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
        right.Curve(patterns, TotalError, ErrorColor, 1);
        left.Curve(patterns, Correct, CorrectColor, 2);
        left.Curve(checks, CheckShown, CheckColor, 2);
    }
}

void TProgressForm::DrawPatterns()
{
    DrawPatternCurve();

    TCanvas& lower = Image2->Canvas();
    const std::vector<std::string>& names = Project.ClassNames();
    const TEpochHistory& patterns = history_.Patterns();
    // A matrix, or only its title where the network has too many classes.
    const auto matrix = [&](const QRect& area, const QString& title, const TConfusion& m) {
        if (history_.LastEpoch().classes > MaxDrawnClasses) {
            Note(lower, area.left(), area.top(), title);
            Note(lower, area.left(), area.top() + 16,
                 QStringLiteral("Классов больше %1: матрица не показывается.").arg(MaxDrawnClasses));
            return;
        }
        DrawConfusion(lower, area, title, m, names);
    };
    if (patterns.Empty()) {
        Note(lower, TrainingArea.left(), TrainingArea.top(),
             QStringLiteral("Обучение: матрица ошибок после первой эпохи."));
    } else {
        const auto right = static_cast<std::uint64_t>(patterns.Last().values[Correct]);
        const auto total = static_cast<std::uint64_t>(patterns.Last().values[Elements]);
        matrix(TrainingArea,
               QStringLiteral("Обучение, эпоха %1: верно %2 из %3 (%4)")
                   .arg(history_.PatternEpochs())
                   .arg(right)
                   .arg(total)
                   .arg(Share(right, total)),
               history_.TrainingConfusion());
    }
    const TTrainingHistory::TFileCheck* check = history_.FileCheck();
    if (check == nullptr) {
        Note(lower, CheckArea.left(), CheckArea.top(),
             QStringLiteral("Проверка: «Проверить на файле…» — отложенные образцы."));
    } else {
        matrix(CheckArea,
               QStringLiteral("Проверка «%1»: верно %2 из %3 (%4)")
                   .arg(QString::fromStdString(check->file))
                   .arg(check->right)
                   .arg(check->total)
                   .arg(Share(check->right, check->total)),
               check->confusion);
        QString notes;
        if (check->confusion.Outside() > 0)
            notes += QStringLiteral("Образцов с классом, которого нет среди выходов сети (неверные): %1. ")
                         .arg(check->confusion.Outside());
        if (check->apart > 0)
            notes += QStringLiteral("Не проверялись образцы классов, которых нет в проекте: %1.")
                         .arg(QString::fromStdString(check->apartNames));
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
    const TEpochHistory& series = history_.Series();
    const TEpochHistory& heldOut = history_.HeldOut();
    const TSeriesBaselines* baselines = history_.Baselines();
    if (series.Empty()) {
        Note(canvas, 12, 12,
             QStringLiteral("Кривая обучения появится с первой эпохой окна «Временной ряд» → «Обучение»."));
        return;
    }
    const TPlotAxis x = LinearAxis(0.0, static_cast<double>(series.Last().epoch));
    double smallest = std::numeric_limits<double>::infinity();
    double largest = 0.0;
    Span(series, {MaxError, MinError}, smallest, largest);
    const QRect area(64, 26, ClientWidth - 64 - 20, CurveHeight - 26 - 36);
    const int legend = LegendEntry(canvas, 64, 4, ErrorColor, false, QStringLiteral("наибольшая ошибка окна"));
    LegendEntry(canvas, legend, 4, CorrectColor, false, QStringLiteral("наименьшая ошибка окна"));
    TPlot top(canvas, area, x, LogAxis(smallest, largest));
    top.Frame(QStringLiteral("эпоха; ошибки окна в единицах файла, шкала логарифмическая"));
    top.VerticalAxis(false, clBlack);
    top.Curve(series, MaxError, ErrorColor, 1);
    top.Curve(series, MinError, CorrectColor, 1);

    // The held-out part: the network's two errors and the yardsticks.
    if (heldOut.Empty()) {
        Note(lower, 12, 12,
             Project.SeriesReady() ? QStringLiteral("Нет точек после обучающей части ряда: проверять не на чем.")
                                   : QStringLiteral("Сеть не подходит к ряду."));
        return;
    }
    smallest = std::numeric_limits<double>::infinity();
    largest = 0.0;
    Span(heldOut, {OneStep, ClosedLoop}, smallest, largest);
    if (baselines != nullptr)
        for (const double v : {baselines->naive.oneStep, baselines->naive.closedLoop,
                               baselines->autoregression.oneStep, baselines->autoregression.closedLoop})
            Widen(v, smallest, largest);
    // One column per forecaster: one-step above, closed-loop below.
    LegendEntry(lower, 40, 2, OneStepColor, false, QStringLiteral("сеть: на шаг вперёд"));
    LegendEntry(lower, 40, 16, ClosedLoopColor, false, QStringLiteral("сеть: замкнутый прогноз"));
    if (baselines != nullptr) {
        LegendEntry(lower, 240, 2, OneStepColor, true, QStringLiteral("наивный: на шаг вперёд"));
        LegendEntry(lower, 240, 16, ClosedLoopColor, true, QStringLiteral("наивный: замкнутый прогноз"));
    } else {
        Note(lower, 240, 2, QStringLiteral("сравнение с наивным прогнозом и авторегрессией готовится…"));
    }
    if (baselines != nullptr && baselines->fitted) {
        LegendEntry(lower, 440, 2, AutoOneStepColor, true, QStringLiteral("авторегрессия: на шаг вперёд"));
        LegendEntry(lower, 440, 16, AutoClosedLoopColor, true, QStringLiteral("авторегрессия: замкнутый прогноз"));
    }
    const QRect heldOutArea(64, 34, ClientWidth - 64 - 20, LowerHeight - 34 - 34);
    TPlot plot(lower, heldOutArea, x, LogAxis(smallest, largest));
    plot.Frame(QStringLiteral("эпоха; средняя абсолютная ошибка после обучающей части, в единицах файла"));
    plot.VerticalAxis(false, clBlack);
    if (baselines != nullptr) {
        plot.Level(baselines->naive.oneStep, OneStepColor, true);
        plot.Level(baselines->naive.closedLoop, ClosedLoopColor, true);
    }
    if (baselines != nullptr && baselines->fitted) {
        plot.Level(baselines->autoregression.oneStep, AutoOneStepColor, true);
        plot.Level(baselines->autoregression.closedLoop, AutoClosedLoopColor, true);
    }
    plot.Curve(heldOut, OneStep, OneStepColor, 2);
    plot.Curve(heldOut, ClosedLoop, ClosedLoopColor, 2);
    if (history_.BestEpoch() > 0)
        MarkBestClosedLoop(lower, plot, heldOutArea, history_.BestEpoch(), history_.BestClosedLoop());
}

void TProgressForm::Button1Click()
{
    if (!OpenDialog1.Execute(this))
        return;
    const QString shown = OpenDialog1.FileName;
    const std::string reason =
        history_.CheckOnFile(LocalPath(shown), QFileInfo(shown).fileName().toStdString());
    if (!reason.empty()) {
        MessageBox(TApplication::Title(),
                   QStringLiteral("Не удалось проверить сеть на файле «%1»: %2. Сеть и обучающая "
                                  "последовательность не изменились.")
                       .arg(shown, QString::fromStdString(reason)));
        return;
    }
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
    const bool none =
        history_.Source() == TSource::Patterns ? history_.Patterns().Empty() : history_.Series().Empty();
    if (none) {
        MessageBox(TApplication::Title(), QStringLiteral("Сохранять нечего: эпох ещё не было."));
        return;
    }
    Save(SaveDialog2, history_.HistoryCsv(), QStringLiteral("кривую обучения"));
}

void TProgressForm::Button4Click()
{
    const TTrainingHistory::TFileCheck* check = history_.FileCheck();
    if (history_.Source() != TSource::Patterns || (history_.LastEpoch().answers.empty() && check == nullptr)) {
        MessageBox(TApplication::Title(),
                   QStringLiteral("Сохранять нечего: матрица ошибок появляется после эпохи окна «Обучение»."));
        return;
    }
    if (history_.TrainingConfusion().Classes() == 0 && (check == nullptr || check->confusion.Classes() == 0)) {
        MessageBox(TApplication::Title(),
                   QStringLiteral("У сети больше %1 выходов: матрица ошибок не сохраняется.")
                       .arg(MaxConfusionClasses));
        return;
    }
    Save(SaveDialog3, history_.ConfusionCsv(), QStringLiteral("матрицу ошибок"));
}

TConfusionLayout TProgressForm::MatrixLayout(bool training)
{
    const TTrainingHistory::TFileCheck* check = history_.FileCheck();
    const bool drawn = history_.Source() == TSource::Patterns && history_.LastEpoch().classes <= MaxDrawnClasses &&
                       (training ? !history_.Patterns().Empty() : check != nullptr);
    if (!drawn)
        return {};
    return ConfusionLayout(Image2->Canvas(), training ? TrainingArea : CheckArea,
                           training ? history_.TrainingConfusion().Classes() : check->confusion.Classes());
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
    const TTrainingHistory::TLastEpoch& epoch = history_.LastEpoch();
    const TTrainingHistory::TFileCheck* check = history_.FileCheck();
    if (!training && check == nullptr)
        return;
    const std::vector<TElementAnswer>& answers = training ? epoch.answers : check->answers;
    const std::vector<float>& margins = training ? epoch.margins : check->margins;
    const PatternRing& sequence = training ? TrainingSequence : check->sequence;
    QString title = training ? QStringLiteral("Обучение, эпоха %1").arg(history_.PatternEpochs())
                             : QStringLiteral("Проверка «%1»").arg(QString::fromStdString(check->file));
    title += QStringLiteral(": класс «%1», ответ сети «%2».")
                 .arg(QString::fromStdString(ClassName(trueClass)), QString::fromStdString(ClassName(answer)));
    // The elements in the order of the answers: for training from the
    // epoch's first element, for the file from its first.
    const std::optional<std::vector<const TAbsImage*>> order = history_.AnsweredElements(training);
    if (!order) {
        GalleryForm->ShowCell(title + QStringLiteral(" Последовательность изменилась после этой эпохи: обучите "
                                                     "эпоху и откройте клетку снова."),
                              {}, 0, std::nullopt);
        return;
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
        item.picture = ElementPicture(*(*order)[k], shape, scale);
        items.push_back(std::move(item));
    }
    GalleryForm->ShowCell(title, std::move(items), cell.size(),
                          training ? std::optional<TSequenceMark>(epoch.mark) : std::nullopt);
}

void TProgressForm::DrawNeurons()
{
    Clear(Image3);
    tiles_ = {};
    TCanvas& canvas = Image3->Canvas();
    Note(canvas, 6, 4, QStringLiteral("Веса входов скрытых нейронов"));
    const TNeuralNet* net = CurrentNet.get();
    const std::uint32_t hidden = net != nullptr && history_.Source() == TSource::Patterns ? HiddenNeurons(*net) : 0;
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
