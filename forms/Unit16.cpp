#include "forms/Unit16.h"

#include "forms/ProgressPlot.h"
#include "framework/Application.h"
#include "framework/Dialogs.h"
#include "engine/Random.h"
#include "project/Globals.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPushButton>

#include <algorithm>
#include <exception>
#include <optional>
#include <string>

TTuneForm* TuneForm = nullptr;

namespace {

constexpr int CurveWidth = 460;
constexpr int CurveHeight = 150;
constexpr TColor MeanColor = qRgb(0, 0, 200);
// The share of each class set aside for the check, as trelis-cli tune does.
constexpr double HeldOutShare = 0.2;

QString Fixed(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

} // namespace

// What the search's thread works on and leaves: made before it starts, read
// by the window only after it has ended.
struct TTuneForm::TSearch {
    TSearch(std::uint64_t seed)
        : search(Project.Sequence(), Project.ClassNames(), Project.Net()->outputCount, HeldOutShare, seed)
    {
    }
    TTuneSearch search;
    std::string error; // what stopped the search, when it failed
};

TTuneForm::TTuneForm()
    : TForm(QStringLiteral("Подбор параметров"))
{
    SetFormFont(QStringLiteral("MS Sans Serif"), -11);
    SetBounds(200, 150, CurveWidth + 16, 420);

    Label1 = new TLabel(this, 8, 6, QStringLiteral("«Пуск» начинает подбор на обучающей последовательности."));
    Label1->setWordWrap(true);
    Label1->setFixedWidth(CurveWidth);
    Label1->setMinimumHeight(30);
    StringGrid1 = new TStringGrid(this, 8, 40, CurveWidth, 170, 7, 2, 1, 18);
    const char* const headers[] = {"скрытых", "скорость", "момент", "верно", "разброс", "эпох", "время"};
    for (int c = 0; c < 7; ++c)
        StringGrid1->SetCell(c, 0, QString::fromUtf8(headers[c]));
    Image1 = new TImage(this, 8, 216, CurveWidth, CurveHeight);
    Button1 = Place(new QPushButton(QStringLiteral("Пуск"), this), 8, 392, 80, 22);
    Button2 = Place(new QPushButton(QStringLiteral("Стоп"), this), 96, 392, 80, 22);
    Button3 = Place(new QPushButton(QStringLiteral("Взять лучшую сеть"), this), 184, 392, 150, 22);

    Handle(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    Handle(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
    Handle(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
    ShowButtons();
    DrawCurve();
}

TTuneForm::~TTuneForm()
{
    StopAndJoin();
}

void TTuneForm::ShowButtons()
{
    Button1->setEnabled(!Searching());
    Button2->setEnabled(Searching());
    Button3->setEnabled(!Searching() && search_ && search_->search.HasNetwork());
}

void TTuneForm::Button1Click()
{
    if (Searching())
        return;
    if (!Project.Net() || Project.Sequence().GetCount() == 0) {
        MessageBox(TApplication::Title(), QStringLiteral("Последовательность пуста: подбирать не на чем."));
        return;
    }
    if (const std::string refusal = SequenceRefusal(*Project.Net(), Project.Sequence()); !refusal.empty()) {
        MessageBox(TApplication::Title(), QString::fromStdString(refusal));
        return;
    }
    const std::uint64_t seed = Project.RunSettings().seed.value_or(static_cast<std::uint64_t>(SeedClockNow()));
    auto search = std::make_unique<TSearch>(seed);
    const TTuneSearch& plan = search->search;
    if (!plan.Refusal().empty()) {
        MessageBox(TApplication::Title(), QString::fromStdString(plan.Refusal()) + QStringLiteral("."));
        return;
    }
    const unsigned jobs = std::max(std::thread::hardware_concurrency(), 1u);
    Label1->SetCaption(QStringLiteral("Подбор: обучение %1, проверка %2, классов %3; настроек %4 по %5 (зёрна с %6), "
                                      "не больше %7 эпох, терпение %8, потоков %9.")
                           .arg(plan.TrainCount())
                           .arg(plan.CheckCount())
                           .arg(Project.Net()->outputCount)
                           .arg(plan.Plan().settings.size())
                           .arg(plan.Plan().seeds.size())
                           .arg(seed)
                           .arg(plan.Plan().maxEpochs)
                           .arg(plan.Plan().patience)
                           .arg(jobs));
    rows_.clear();
    curve_.Clear();
    StringGrid1->SetRowCount(2);
    for (int c = 0; c < 7; ++c)
        StringGrid1->SetCell(c, 1, QString());
    DrawCurve();

    search_ = std::move(search);
    stop_.store(false);
    thread_ = std::thread([this, s = search_.get(), jobs] {
        try {
            s->search.Run(
                jobs,
                [this](const TTuneRow& row) {
                    QMetaObject::invokeMethod(this, [this, row] { RunHandler([&] { RowDone(row); }); },
                                              Qt::QueuedConnection);
                },
                [this] { return stop_.load(); });
        } catch (const std::exception& e) {
            s->error = e.what();
        } catch (...) {
            s->error = "неизвестная ошибка";
        }
        QMetaObject::invokeMethod(this, [this] { RunHandler([&] { SearchDone(); }); }, Qt::QueuedConnection);
    });
    ShowButtons();
}

void TTuneForm::RowDone(const TTuneRow& row)
{
    rows_.push_back(row);
    const int r = static_cast<int>(rows_.size());
    StringGrid1->SetRowCount(r + 1);
    const QString cells[] = {QString::number(row.values.hidden), Fixed(row.values.rate, 3),
                             Fixed(row.values.momentum, 2),     Fixed(row.mean, 4),
                             Fixed(row.spread, 4),              Fixed(row.epochs, 1),
                             Fixed(row.seconds, 1) + QStringLiteral(" с")};
    for (int c = 0; c < 7; ++c)
        StringGrid1->SetCell(c, r, cells[c]);
    curve_.Add({static_cast<std::uint64_t>(r), {row.mean, 0.0, 0.0, 0.0}});
    DrawCurve();
}

void TTuneForm::SearchDone()
{
    if (thread_.joinable())
        thread_.join();
    const TTuneResult& result = search_->search.Result();
    if (!search_->error.empty()) {
        Label1->SetCaption(QStringLiteral("Подбор прерван: ") + QString::fromStdString(search_->error));
    } else if (!search_->search.HasNetwork()) {
        Label1->SetCaption(QStringLiteral("Подбор остановлен раньше, чем закончился хоть один запуск."));
    } else {
        const TTuneRow& best = result.rows[*result.best];
        Label1->SetCaption(
            (result.cut ? QStringLiteral("Подбор остановлен раньше конца плана: взято лучшее из сделанного. ")
                        : QString()) +
            QStringLiteral("Лучшая настройка: скрытых %1, скорость %2, момент %3: верно на проверке %4 в среднем; "
                           "лучшая сеть — зерна %5")
                .arg(best.values.hidden)
                .arg(Fixed(best.values.rate, 3), Fixed(best.values.momentum, 2), Fixed(best.mean, 4))
                .arg(result.bestSeed) +
            (search_->search.Refitted()
                 ? QStringLiteral(", обучена заново на всей последовательности (эпох: %1).")
                       .arg(search_->search.RefitEpochs())
                 : QStringLiteral(".")));
    }
    ShowButtons();
}

void TTuneForm::Button2Click()
{
    stop_.store(true);
}

void TTuneForm::Button3Click()
{
    if (Searching() || !search_ || !search_->search.HasNetwork())
        return;
    if (Project.Unsaved() && Ask(TApplication::Title(), QStringLiteral("Заменить сеть проекта лучшей сетью подбора?")) !=
                                 Seams::TAnswer::Yes)
        return;
    const TTuneResult& result = search_->search.Result();
    const TTuneRow& best = result.rows[*result.best];
    TRunSettings settings = Project.RunSettings();
    settings.step.learningRate = best.values.rate;
    settings.step.momentum = best.values.momentum;
    settings.seed = result.bestSeed;
    Project.ReplaceNetwork(search_->search.TakeNetwork(), result.bestSeed);
    Project.SetRunSettings(settings);
    Label1->SetCaption(QStringLiteral("Сеть проекта заменена лучшей сетью подбора (скрытых %1, зерно %2).")
                           .arg(best.values.hidden)
                           .arg(result.bestSeed));
    ShowButtons();
}

void TTuneForm::WaitForSearch()
{
    if (thread_.joinable())
        thread_.join();
    // The rows and the end, posted by the search, shown now.
    QCoreApplication::sendPostedEvents(this);
}

void TTuneForm::StopAndJoin()
{
    stop_.store(true);
    if (thread_.joinable())
        thread_.join();
}

bool TTuneForm::OnCloseQuery()
{
    // Closing stops the search; what it finished is still shown.
    StopAndJoin();
    QCoreApplication::sendPostedEvents(this);
    return true;
}

void TTuneForm::DrawCurve()
{
    TCanvas& canvas = Image1->Canvas();
    canvas.SetPenColor(clWhite);
    canvas.SetBrushColor(clWhite);
    canvas.Rectangle(0, 0, Image1->width(), Image1->height());
    canvas.SetFontName(QStringLiteral("MS Sans Serif"));
    canvas.SetFontSize(8);
    const double settings = search_ ? static_cast<double>(search_->search.Plan().settings.size()) : 1.0;
    const QRect area(44, 20, CurveWidth - 44 - 12, CurveHeight - 20 - 34);
    LegendEntry(canvas, 44, 3, MeanColor, false, QStringLiteral("верно на проверке, в среднем по зёрнам"));
    TPlot plot(canvas, area, LinearAxis(0.0, std::max(settings, 1.0)), LinearAxis(0.0, 1.0));
    plot.Frame(QStringLiteral("настройка"));
    plot.VerticalAxis(false, clBlack);
    canvas.SetPenColor(MeanColor);
    canvas.SetBrushColor(MeanColor);
    for (std::size_t i = 0; i < curve_.Count(); ++i) {
        const int x = plot.X(static_cast<double>(curve_[i].epoch));
        const int y = plot.Y(curve_[i].values[0]);
        canvas.Rectangle(x - 2, y - 2, x + 3, y + 3);
    }
    plot.Curve(curve_, 0, MeanColor, 2);
}
