// The history of training the progress window draws: the pattern epochs and
// the checks of a run, the check on a held-out file, the series' held-out
// errors and yardsticks, when a new history begins, and the CSV tables.
#include "tests/project/SeriesWave.h"
#include "project/TrainingHistory.h"

#include "project/SeriesHeldOut.h"
#include "project/TextFiles.h"
#include "tests/engine/TestNets.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <sstream>

namespace {

using TSource = TTrainingHistory::TSource;
// Elements of one-hot cells: each one's hot cell (none at the size or
// beyond) and class.
using TElements = std::vector<std::pair<std::uint32_t, std::int32_t>>;

// A one-layer network of n inputs and n outputs that answers an element whose
// only 1 is at cell i with output i. Saturated, its answers stay while an
// epoch trains it.
std::unique_ptr<TNeuralNet> Detector(std::uint32_t n)
{
    auto net = std::make_unique<TNeuralNet>(1, std::vector<std::uint32_t>{n, n}, 0.68f, 0.0f, 0.0f, 1.0f, 1.0f);
    TLayer& layer = net->layers[0];
    for (std::uint32_t i = 0; i <= n; ++i)
        for (std::uint32_t j = 0; j < n; ++j)
            layer.weights[i][j] = i == n ? 0.0f : (i == j ? 10.0f : -10.0f);
    return net;
}

void Fill(PatternRing& ring, std::uint32_t size, const TElements& elements)
{
    ring.SetDimension(size);
    for (const auto& [hot, cls] : elements) {
        TAbsImage image(size);
        if (hot < size)
            image.Cells[hot] = 1;
        ring.Add(image, cls);
    }
}

// The cell of an element that holds 1; its size when none does.
std::uint32_t Hot(const TAbsImage& e)
{
    std::uint32_t k = 0;
    while (k < e.Size && e.Cells[k] == 0)
        ++k;
    return k;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The fields of a CSV row without quotes.
std::vector<std::string> Cells(const std::string& row)
{
    std::vector<std::string> cells(1);
    for (const char c : row)
        if (c == ',')
            cells.emplace_back();
        else
            cells.back() += c;
    return cells;
}

// A number of a CSV table: NaN when the cell is empty.
double Number(const std::string& cell)
{
    return cell.empty() ? std::nan("") : std::stod(cell);
}

bool Same(double a, double b)
{
    return a == b || (std::isnan(a) && std::isnan(b));
}


// A pattern project: the detector of three classes and three elements with
// cells 0, 1 and 2 hot, the third filed under class 0, so that the detector
// answers two of them right. One class name holds a comma.
class PatternHistory : public ::testing::Test {
protected:
    void SetUp() override
    {
        project.ReplaceNetwork(Detector(3));
        PatternRing ring;
        Fill(ring, 3, training);
        project.ReplaceSequence(ring);
        project.SetLoadedClassNames(names);
        history.Subscribe([this] { ++told; });
    }

    static std::string Path(const std::string& name) { return ::testing::TempDir() + "trelis_history_" + name; }

    // A sequence file of these elements, with a names file beside it unless
    // there are no names.
    static std::string HeldOut(const std::string& name, std::uint32_t size, const TElements& elements,
                               const std::vector<std::string>& names)
    {
        PatternRing ring;
        Fill(ring, size, elements);
        const std::string path = Path(name);
        std::remove(ClassNamesFileName(path).c_str());
        if (names.empty())
            EXPECT_TRUE(ring.SaveToFile(path));
        else
            EXPECT_EQ(SaveSequenceWithNames(path, ring, names), "");
        return path;
    }

    const TElements training{{0, 0}, {1, 1}, {2, 0}};
    const std::vector<std::string> names{"ноль", "один, два", "два"};
    TProject project;
    TTrainingHistory history{project};
    int told = 0;
};

TEST_F(PatternHistory, EpochsAndTheChecksOfARunMakeTheCurveTheMatrixAndTheTable)
{
    TRunEpoch check;
    check.heldOutRight = 1;
    check.heldOutTotal = 2;
    project.ReportCheck(check); // before any epoch: none to go with
    EXPECT_TRUE(history.Checks().Empty());
    EXPECT_EQ(told, 0);

    std::vector<TPatternEpochReport> reports;
    for (std::uint64_t k = 1; k <= 4; ++k) {
        reports.push_back(project.TrainEpoch({}));
        if (k == 1) {
            EXPECT_EQ(history.HistoryCsv().substr(0, history.HistoryCsv().find('\n')),
                      "эпоха,верно,элементов,суммарная ошибка");
        }
        // A run checks epochs 2 and 4, the last on no elements.
        check.heldOutTotal = k == 2 ? 2 : 0;
        if (k % 2 == 0)
            project.ReportCheck(check);
    }
    EXPECT_EQ(told, 4 + 1);
    EXPECT_EQ(history.Source(), TSource::Patterns);
    ASSERT_EQ(history.Patterns().Count(), 4u);
    EXPECT_EQ(history.PatternEpochs(), 4u);
    ASSERT_EQ(history.Checks().Count(), 1u);
    const TEpochPoint& checked = history.Checks().Last();
    EXPECT_EQ(checked.epoch, 2u);
    EXPECT_EQ(checked.values[TTrainingHistory::CheckRight], 1.0);
    EXPECT_EQ(checked.values[TTrainingHistory::CheckTotal], 2.0);
    // Half right: drawn at half the training elements.
    EXPECT_EQ(checked.values[TTrainingHistory::CheckShown], 0.5 * training.size());

    // The table: every epoch's figures as its report gave them, and the
    // check's where there was one.
    const std::vector<std::string> rows = Lines(history.HistoryCsv());
    ASSERT_EQ(rows.size(), 1 + reports.size());
    EXPECT_EQ(rows[0], "эпоха,верно,элементов,суммарная ошибка,проверка: верно,проверка: элементов");
    for (std::size_t k = 0; k < reports.size(); ++k) {
        SCOPED_TRACE(k);
        const std::vector<std::string> cells = Cells(rows[k + 1]);
        ASSERT_EQ(cells.size(), 6u);
        EXPECT_EQ(std::stoull(cells[0]), k + 1);
        EXPECT_EQ(std::stod(cells[1]), reports[k].correct);
        EXPECT_EQ(std::stod(cells[2]), reports[k].elements);
        EXPECT_EQ(std::stod(cells[3]), reports[k].totalError);
        EXPECT_EQ(cells[4] + "/" + cells[5], k + 1 == checked.epoch ? "1/2" : "/");
    }

    // The matrix of the last epoch: the detector answers each element's hot cell.
    std::map<std::pair<std::int32_t, std::uint32_t>, std::uint64_t> expected;
    for (const auto& [hot, cls] : training)
        ++expected[{cls, hot}];
    const TConfusion& m = history.TrainingConfusion();
    ASSERT_EQ(m.Classes(), 3u);
    for (std::size_t t = 0; t < 3; ++t)
        for (std::uint32_t a = 0; a < 3; ++a)
            EXPECT_EQ(m.Count(t, a), (expected[{static_cast<std::int32_t>(t), a}])) << t << " " << a;
    // The answers are those of the elements from the epoch's first on.
    const auto order = history.AnsweredElements(true);
    ASSERT_TRUE(order);
    ASSERT_EQ(order->size(), training.size());
    for (std::size_t k = 0; k < order->size(); ++k) {
        EXPECT_EQ((*order)[k]->ClassIndex, history.LastEpoch().answers[k].trueClass) << k;
        EXPECT_EQ(Hot(*(*order)[k]), history.LastEpoch().answers[k].answer) << k;
    }
    project.RemoveCurrentSample();
    EXPECT_FALSE(history.AnsweredElements(true));
}

TEST_F(PatternHistory, AHeldOutFileIsCheckedOnACopyAndUnfitFilesAreRefused)
{
    project.TrainEpoch({});
    const TNeuralNet& net = *project.Net();
    const std::vector<float> weights = testnets::Weights(net);
    const std::vector<float> outputs(net.outputs, net.outputs + net.outputCount);
    const auto order = history.AnsweredElements(true);

    // Hot cell = the detector's answer. The file numbers its classes its own
    // way; they are the project's by name, and "чужой" and the unnamed class
    // 7 are not the project's at all.
    const std::vector<std::string> fileNames{"два", "ноль", "чужой", "один, два"};
    const int projectClass[] = {2, 0, -1, 1};
    const TElements elements{{0, 1}, {1, 3}, {1, 3}, {2, 0}, {1, 0}, {2, 1}, {1, 2}, {2, 7}};
    const struct {
        std::string file;
        const char* refusal; // empty: accepted
    } cases[] = {
        {HeldOut("good.llt", 3, elements, fileNames), ""},
        {HeldOut("wide.llt", 4, {{0, 0}}, {"a"}), "размер элемента в файле (4) не совпадает с числом входов сети (3)"},
        {Path("missing.llt"), "файл не найден"},
        {HeldOut("nameless.llt", 3, {{0, 0}}, {}), "нет файла имён классов"},
        {HeldOut("foreign.llt", 3, {{0, 0}}, {"zero", "one"}), "ни одно имя класса"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const int toldBefore = told;
        const std::string reason = history.CheckOnFile(c.file, "shown " + c.file);
        EXPECT_EQ(testnets::Weights(*project.Net()), weights);
        EXPECT_EQ(std::vector<float>(net.outputs, net.outputs + net.outputCount), outputs);
        EXPECT_EQ(history.AnsweredElements(true), order);
        EXPECT_EQ(project.ClassNames(), names);
        // A refusal keeps the check before.
        ASSERT_NE(history.FileCheck(), nullptr);
        const TTrainingHistory::TFileCheck& check = *history.FileCheck();
        EXPECT_EQ(check.file, "shown " + cases[0].file);
        if (*c.refusal) {
            EXPECT_NE(reason.find(c.refusal), std::string::npos) << reason;
            EXPECT_EQ(told, toldBefore);
            continue;
        }
        EXPECT_EQ(reason, "");
        EXPECT_EQ(told, toldBefore + 1);
        std::map<std::pair<int, std::uint32_t>, std::uint64_t> count;
        std::uint64_t apart = 0, right = 0;
        for (const auto& [hot, cls] : elements) {
            if (cls >= 4 || projectClass[cls] < 0) {
                ++apart;
                continue;
            }
            ++count[{projectClass[cls], hot}];
            right += projectClass[cls] == static_cast<int>(hot);
        }
        EXPECT_EQ(check.total, elements.size() - apart);
        EXPECT_EQ(check.right, right);
        EXPECT_EQ(check.apart, apart);
        EXPECT_EQ(check.apartNames, "чужой — 1, класс 7 без имени — 1");
        for (std::size_t t = 0; t < 3; ++t)
            for (std::uint32_t a = 0; a < 3; ++a)
                EXPECT_EQ(check.confusion.Count(t, a), (count[{static_cast<int>(t), a}])) << t << " " << a;
        // The file's elements in its own order, each with its answer.
        const auto checked = history.AnsweredElements(false);
        ASSERT_TRUE(checked);
        ASSERT_EQ(checked->size(), elements.size());
        ASSERT_EQ(check.answers.size(), elements.size());
        for (std::size_t k = 0; k < elements.size(); ++k) {
            EXPECT_EQ(Hot(*(*checked)[k]), elements[k].first) << k;
            const bool kept = elements[k].second < 4 && projectClass[elements[k].second] >= 0;
            EXPECT_EQ(check.answers[k].trueClass, kept ? projectClass[elements[k].second] : -1) << k;
        }
    }
}

// The table of the confusion matrices: the class names as its columns, the
// training rows (with each class's recall) and the precision of each answer,
// then the same for the file checked. For the detector the training matrix
// has the rows 1 0 1 / 0 1 0 / 0 0 0; the file's elements with cells 0 and
// 2 hot under their own classes give the diagonal 1 0 1.
TEST_F(PatternHistory, TheMatrixTableHasTheTrainingRowsThenTheChecksAndQuotesNames)
{
    const std::string header = "набор,истина\\ответ,ноль,\"один, два\",два,полнота\n";
    const std::string trained = "обучение,ноль,1,0,1,0.5\n"
                                "обучение,\"один, два\",0,1,0,1\n"
                                "обучение,два,0,0,0,\n"
                                "обучение,точность,1,1,0,\n";
    const std::string checked = "проверка: check.llt,ноль,1,0,0,1\n"
                                "проверка: check.llt,\"один, два\",0,0,0,\n"
                                "проверка: check.llt,два,0,0,1,1\n"
                                "проверка: check.llt,точность,1,,1,\n";
    const struct {
        const char* what;
        bool epoch, check;
        std::string csv;
    } cases[] = {
        {"an epoch", true, false, header + trained},
        {"an epoch and a check", true, true, header + trained + checked},
        {"a check before any epoch", false, true, header + "обучение,точность,,,,\n" + checked},
    };
    const std::string file = HeldOut("check.llt", 3, {{0, 0}, {2, 2}}, names);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        project.ReplaceNetwork(Detector(3)); // a new history
        if (c.epoch)
            project.TrainEpoch({});
        if (c.check) {
            ASSERT_EQ(history.CheckOnFile(file, "check.llt"), "");
        }
        EXPECT_EQ(history.ConfusionCsv(), c.csv);
    }
}

TEST_F(PatternHistory, ANewNetworkSeriesOrOpenedProjectBeginsANewHistory)
{
    const std::string saved = Path("project.trelis");
    const struct {
        const char* what;
        std::function<void(TProject&)> change;
        bool begins;
        TSource source;
    } cases[] = {
        {"the sequence replaced",
         [](TProject& p) {
             PatternRing ring;
             Fill(ring, 3, {{1, 1}});
             p.ReplaceSequence(ring);
         },
         false, TSource::Patterns},
        {"a sample added", [](TProject& p) { p.AddSample(TAbsImage(3), 2); }, false, TSource::Patterns},
        {"the best weights put back", [](TProject& p) { p.PutBackWeights(Detector(3)); }, false, TSource::Patterns},
        {"a new network", [](TProject& p) { p.ReplaceNetwork(Detector(3)); }, true, TSource::Patterns},
        {"a series loaded", [](TProject& p) { TSeriesLoad load = Wave(40, 0.0); p.LoadSeries(load, 4, 30, 1); },
         true, TSource::Series},
        {"a pattern project opened", [&](TProject& p) { ASSERT_EQ(p.Save(saved), ""); ASSERT_EQ(p.Open(saved), ""); },
         true, TSource::Patterns},
        {"a series project opened",
         [&](TProject& p) {
             TSeriesLoad load = Wave(40, 0.0);
             p.LoadSeries(load, 4, 30, 1);
             ASSERT_EQ(p.Save(saved), "");
             p.ReplaceNetwork(Detector(3));
             ASSERT_EQ(p.Open(saved), "");
         },
         true, TSource::Series},
    };
    const std::string file = HeldOut("check.llt", 3, {{0, 0}}, names);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TProject project;
        project.ReplaceNetwork(Detector(3));
        PatternRing ring;
        Fill(ring, 3, training);
        project.ReplaceSequence(ring);
        project.SetLoadedClassNames(names);
        TTrainingHistory history(project);
        project.TrainEpoch({});
        ASSERT_EQ(history.CheckOnFile(file, "check.llt"), "");
        int told = 0;
        history.Subscribe([&told] { ++told; });

        c.change(project);
        EXPECT_EQ(history.Source(), c.source);
        EXPECT_EQ(history.Patterns().Empty(), c.begins);
        EXPECT_EQ(history.PatternEpochs(), c.begins ? 0u : 1u);
        EXPECT_EQ(history.TrainingConfusion().Total(), c.begins ? 0u : training.size());
        EXPECT_EQ(history.FileCheck() == nullptr, c.begins);
        EXPECT_EQ(told > 0, c.begins);
    }
    std::remove(saved.c_str());
}

TEST(SeriesHistory, FollowsTheEpochsWithTheHeldOutErrorsAndTheYardsticks)
{
    TProject project;
    TTrainingHistory history(project);
    int told = 0;
    history.Subscribe([&told] { ++told; });
    TSeriesLoad load = Wave(120, 0.0);
    project.LoadSeries(load, 6, 90, 7);
    EXPECT_EQ(history.Source(), TSource::Series);
    const TSeriesView view = project.SeriesView();

    // Every epoch's window errors; the held-out errors of the weights now
    // whenever they are caught up with, once for each epoch.
    for (std::uint64_t k = 1; k <= 30; ++k) {
        const TSeriesEpochReport report = project.TrainSeriesEpoch();
        const TEpochPoint& p = history.Series().Last();
        ASSERT_EQ(p.epoch, k);
        EXPECT_EQ(p.values[TTrainingHistory::MaxError], report.maxError);
        EXPECT_EQ(p.values[TTrainingHistory::MinError], report.minError);
        if (k % 10 != 0)
            continue;
        history.CatchUp();
        const int toldBefore = told;
        history.CatchUp();
        EXPECT_EQ(told, toldBefore) << k;
        TNeuralNet copy(*project.Net());
        std::vector<float> inputs(view.windowSize + 1), reproduction(view.count);
        const THeldOutErrors now = NetworkHeldOutErrors(copy, view.values, view.count, view.trainLength,
                                                        view.windowSize, view.unit, inputs.data(), reproduction.data());
        ASSERT_EQ(history.HeldOut().Count(), k / 10);
        const TEpochPoint& held = history.HeldOut().Last();
        EXPECT_EQ(held.epoch, k);
        EXPECT_EQ(held.values[TTrainingHistory::OneStep], now.oneStep);
        EXPECT_EQ(held.values[TTrainingHistory::ClosedLoop], now.closedLoop);
    }
    ASSERT_NE(project.SeriesBaselines(true), nullptr);
    history.CatchUp();
    ASSERT_NE(history.Baselines(), nullptr);
    const TSeriesBaselines yardsticks =
        SeriesBaselines(view.values, view.count, view.trainLength, view.windowSize, view.unit);
    const TSeriesBaselines& kept = *history.Baselines();
    EXPECT_EQ(kept.fitted, yardsticks.fitted);
    EXPECT_TRUE(Same(kept.naive.oneStep, yardsticks.naive.oneStep));
    EXPECT_TRUE(Same(kept.naive.closedLoop, yardsticks.naive.closedLoop));
    EXPECT_TRUE(Same(kept.autoregression.oneStep, yardsticks.autoregression.oneStep));
    EXPECT_TRUE(Same(kept.autoregression.closedLoop, yardsticks.autoregression.closedLoop));

    // The best closed-loop epoch is the lowest of those evaluated.
    const TEpochHistory& h = history.HeldOut();
    std::size_t best = 0;
    for (std::size_t i = 1; i < h.Count(); ++i)
        if (h[i].values[TTrainingHistory::ClosedLoop] < h[best].values[TTrainingHistory::ClosedLoop])
            best = i;
    EXPECT_EQ(history.BestEpoch(), h[best].epoch);
    EXPECT_EQ(history.BestClosedLoop(), h[best].values[TTrainingHistory::ClosedLoop]);

    // The table: every epoch, its held-out errors where evaluated, and the
    // yardsticks on every row.
    const std::vector<std::string> rows = Lines(history.HistoryCsv());
    ASSERT_EQ(rows.size(), 1u + 30u);
    EXPECT_EQ(Cells(rows[0]).size(), 9u);
    for (std::size_t r = 1; r < rows.size(); ++r) {
        SCOPED_TRACE(rows[r]);
        const std::vector<std::string> cells = Cells(rows[r]);
        ASSERT_EQ(cells.size(), 9u);
        const std::uint64_t epoch = std::stoull(cells[0]);
        ASSERT_EQ(epoch, r);
        const TEpochPoint& p = history.Series()[r - 1];
        EXPECT_EQ(Number(cells[1]), p.values[TTrainingHistory::MaxError]);
        EXPECT_EQ(Number(cells[2]), p.values[TTrainingHistory::MinError]);
        if (epoch % 10 == 0) {
            const TEpochPoint& held = h[epoch / 10 - 1];
            EXPECT_EQ(Number(cells[3]), held.values[TTrainingHistory::OneStep]);
            EXPECT_EQ(Number(cells[4]), held.values[TTrainingHistory::ClosedLoop]);
        } else {
            EXPECT_EQ(cells[3] + cells[4], "");
        }
        const double expected[] = {yardsticks.naive.oneStep, yardsticks.naive.closedLoop,
                                   yardsticks.autoregression.oneStep, yardsticks.autoregression.closedLoop};
        for (std::size_t k = 0; k < 4; ++k)
            EXPECT_TRUE(Same(Number(cells[5 + k]), expected[k])) << k;
    }

    // New values of the series begin a new history.
    TSeriesLoad reload = Wave(120, 1.0);
    project.ReloadSeries(reload);
    EXPECT_EQ(history.Source(), TSource::Series);
    EXPECT_TRUE(history.Series().Empty());
    EXPECT_TRUE(history.HeldOut().Empty());
    EXPECT_EQ(history.BestEpoch(), 0u);
    EXPECT_EQ(history.Baselines(), nullptr);
}

} // namespace
