#include "project/TrainingHistory.h"

#include "images/ClassNames.h"
#include "project/Checking.h"
#include "project/TextFiles.h"

#include <algorithm>
#include <array>
#include <limits>
#include <map>

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

} // namespace

TTrainingHistory::TTrainingHistory(TProject& project)
    : TProjectListener(project),
      TTrainingListener(project),
      project_(project)
{
    Start();
}

void TTrainingHistory::Changed()
{
    if (changed_)
        changed_();
}

void TTrainingHistory::ProjectChanged(TProjectChange change)
{
    switch (change) {
    case TProjectChange::Network:
        Start();
        source_ = TSource::Patterns;
        break;
    case TProjectChange::SeriesLoaded:
    case TProjectChange::SeriesReloaded:
        Start();
        source_ = TSource::Series;
        break;
    case TProjectChange::Opened:
        Start();
        source_ = project_.State().HasSeries() && project_.SeriesNetworkInPlace() ? TSource::Series
                                                                                    : TSource::Patterns;
        break;
    default:
        return;
    }
    Changed();
}

void TTrainingHistory::Start()
{
    patterns_.Clear();
    series_.Clear();
    heldOut_.Clear();
    checks_.Clear();
    patternEpochs_ = 0;
    seriesEpochs_ = 0;
    last_ = {};
    confusionReady_ = false;
    checked_ = false;
    check_.file.clear();
    check_.total = 0;
    check_.right = 0;
    check_.confusion.Reset(0);
    check_.sequence.Clear();
    check_.answers.clear();
    check_.margins.clear();
    check_.apart = 0;
    check_.apartNames.clear();
    baselines_ = {};
    baselinesReady_ = false;
    bestEpoch_ = 0;
    bestClosedLoop_ = NaN;
}

void TTrainingHistory::PatternEpochTrained(const TPatternEpochReport& report)
{
    source_ = TSource::Patterns;
    ++patternEpochs_;
    patterns_.Add({patternEpochs_,
                   {static_cast<double>(report.correct), report.totalError, static_cast<double>(report.elements),
                    0.0}});
    last_.answers.assign(report.answers.begin(), report.answers.begin() + report.elements);
    last_.margins.assign(report.margins.begin(), report.margins.begin() + report.elements);
    // The epoch left the cursor on its first element.
    last_.mark = project_.CursorMark();
    last_.classes = report.classes;
    confusionReady_ = false;
    Changed();
}

void TTrainingHistory::HeldOutChecked(const TRunEpoch& epoch)
{
    // Told right after the epoch's own report, which numbered it.
    if (patterns_.Empty() || epoch.heldOutTotal == 0)
        return;
    const double share = static_cast<double>(epoch.heldOutRight) / static_cast<double>(epoch.heldOutTotal);
    checks_.Add({patternEpochs_,
                 {share * patterns_.Last().values[Elements], static_cast<double>(epoch.heldOutRight),
                  static_cast<double>(epoch.heldOutTotal), 0.0}});
    Changed();
}

void TTrainingHistory::SeriesEpochTrained(const TSeriesEpochReport& report)
{
    if (report.windows == 0)
        return;
    source_ = TSource::Series;
    ++seriesEpochs_;
    series_.Add({seriesEpochs_, {report.maxError, report.minError, 0.0, 0.0}});
    Changed();
}

const TConfusion& TTrainingHistory::TrainingConfusion() const
{
    if (!confusionReady_) {
        trainingConfusion_.Reset(last_.classes <= MaxConfusionClasses ? last_.classes : 0);
        for (const TElementAnswer& a : last_.answers)
            trainingConfusion_.Add(a);
        confusionReady_ = true;
    }
    return trainingConfusion_;
}

std::string TTrainingHistory::CheckOnFile(const std::string& path, const std::string& shown)
{
    TSequenceWithNames read;
    TClassMap classes;
    std::string reason = LoadSequenceWithNames(path, read);
    if (reason.empty())
        reason = CheckRefusal(project_.Net(), project_.ClassNames(), read, classes);
    if (!reason.empty())
        return reason;
    TCheckReport report = CheckNetwork(*project_.Net(), read, classes);
    check_.file = shown;
    check_.total = report.total;
    check_.right = report.right;
    check_.confusion = std::move(report.confusion);
    check_.sequence.Swap(read.sequence);
    check_.answers = std::move(report.answers);
    check_.margins = std::move(report.margins);
    check_.apart = report.apart;
    check_.apartNames.clear();
    for (const TApartClass& c : report.apartClasses)
        check_.apartNames += (check_.apartNames.empty() ? "" : ", ") + c.name + " — " + std::to_string(c.elements);
    checked_ = true;
    source_ = TSource::Patterns;
    Changed();
    return {};
}

std::optional<std::vector<const TAbsImage*>> TTrainingHistory::AnsweredElements(bool training) const
{
    const std::size_t count = training ? last_.answers.size() : check_.answers.size();
    const PatternRing& sequence = training ? project_.Sequence() : check_.sequence;
    // The epoch's from the element its mark holds; the file's as the check
    // read them, from the element after its cursor.
    const TRingElements fileOrder = sequence.FileOrder();
    const TAbsImage* first = training ? project_.MarkedElement(last_.mark)
                                      : (fileOrder.empty() ? nullptr : &*fileOrder.begin());
    if (first == nullptr || sequence.GetCount() != count)
        return std::nullopt;
    std::vector<const TAbsImage*> order;
    order.reserve(count);
    for (const TAbsImage& e : sequence.ElementsFrom(*first))
        order.push_back(&e);
    return order;
}

void TTrainingHistory::EvaluateHeldOut()
{
    if (!project_.SeriesReady())
        return;
    // The same figures the series window's picture comes from, computed
    // once for these weights.
    const THeldOutErrors& errors = project_.SeriesForecast().heldOut;
    if (errors.points == 0)
        return;
    heldOut_.Add({seriesEpochs_, {errors.oneStep, errors.closedLoop, 0.0, 0.0}});
    if (bestEpoch_ == 0 || errors.closedLoop < bestClosedLoop_) {
        bestEpoch_ = seriesEpochs_;
        bestClosedLoop_ = errors.closedLoop;
    }
    Changed();
}

void TTrainingHistory::AdvanceBaselines()
{
    if (baselinesReady_ || source_ != TSource::Series || !project_.SeriesReady())
        return;
    // Made aside from the first call on; taken once they are ready.
    if (const TSeriesBaselines* made = project_.SeriesBaselines()) {
        baselines_ = *made;
        baselinesReady_ = true;
        Changed();
    }
}

void TTrainingHistory::CatchUp()
{
    if (source_ == TSource::Series && seriesEpochs_ > 0 &&
        (heldOut_.Empty() || heldOut_.Last().epoch != seriesEpochs_))
        EvaluateHeldOut();
    AdvanceBaselines();
}

std::string TTrainingHistory::HistoryCsv() const
{
    return source_ == TSource::Patterns ? PatternCsv() : SeriesCsv();
}

std::string TTrainingHistory::PatternCsv() const
{
    // The held-out check's columns only when a run checked epochs.
    const bool check = !checks_.Empty();
    std::map<std::uint64_t, const TEpochPoint*> checks;
    for (std::size_t i = 0; i < checks_.Count(); ++i)
        checks[checks_[i].epoch] = &checks_[i];
    std::string csv = "эпоха,верно,элементов,суммарная ошибка";
    csv += check ? ",проверка: верно,проверка: элементов\n" : "\n";
    for (std::size_t i = 0; i < patterns_.Count(); ++i) {
        const TEpochPoint& p = patterns_[i];
        csv += std::to_string(p.epoch) + ',' + CsvNumber(p.values[Correct]) + ',' + CsvNumber(p.values[Elements]) +
               ',' + CsvNumber(p.values[TotalError]);
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

std::string TTrainingHistory::SeriesCsv() const
{
    // Every epoch of either history, in order, with the figures it has.
    std::map<std::uint64_t, std::array<double, 4>> rows;
    const auto take = [&rows](const TEpochHistory& history, std::size_t first, std::size_t second,
                              std::size_t column) {
        for (std::size_t i = 0; i < history.Count(); ++i) {
            const TEpochPoint& p = history[i];
            std::array<double, 4>& row = rows.try_emplace(p.epoch, std::array<double, 4>{NaN, NaN, NaN, NaN})
                                             .first->second;
            row[column] = p.values[first];
            row[column + 1] = p.values[second];
        }
    };
    take(series_, MaxError, MinError, 0);
    take(heldOut_, OneStep, ClosedLoop, 2);
    std::string csv =
        "эпоха,наибольшая ошибка окна,наименьшая ошибка окна,сеть: на шаг вперёд,сеть: замкнутый прогноз,"
        "наивный: на шаг вперёд,наивный: замкнутый,авторегрессия: на шаг вперёд,авторегрессия: замкнутая\n";
    const std::string yardsticks =
        CsvNumber(baselinesReady_ ? baselines_.naive.oneStep : NaN) + ',' +
        CsvNumber(baselinesReady_ ? baselines_.naive.closedLoop : NaN) + ',' +
        CsvNumber(baselinesReady_ ? baselines_.autoregression.oneStep : NaN) + ',' +
        CsvNumber(baselinesReady_ ? baselines_.autoregression.closedLoop : NaN);
    for (const auto& [epoch, v] : rows)
        csv += std::to_string(epoch) + ',' + CsvNumber(v[0]) + ',' + CsvNumber(v[1]) + ',' + CsvNumber(v[2]) + ',' +
               CsvNumber(v[3]) + ',' + yardsticks + '\n';
    return csv;
}

std::string TTrainingHistory::ConfusionCsv() const
{
    const TConfusion& training = TrainingConfusion();
    const std::size_t k = std::max(training.Classes(), checked_ ? check_.confusion.Classes() : 0);
    const auto name = [this](std::size_t c) {
        return CsvField(ShownClassName(project_.ClassNames(), static_cast<std::int64_t>(c)));
    };
    std::string csv = "набор,истина\\ответ";
    for (std::size_t c = 0; c < k; ++c)
        csv += ',' + name(c);
    csv += ",полнота\n";
    const auto table = [&](const std::string& set, const TConfusion& m) {
        for (std::size_t t = 0; t < m.Classes(); ++t) {
            csv += CsvField(set) + ',' + name(t);
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
    if (checked_)
        table("проверка: " + check_.file, check_.confusion);
    return csv;
}
