// The project's operations and the use cases done with it: every change is
// told to the listeners and counts as unsaved work; the series forecast is
// computed once for each state of the weights; the yardsticks made aside
// are those made at once.
#include "tests/project/SeriesWave.h"
#include "project/Project.h"

#include "project/Text.h"
#include "project/TextFiles.h"
#include "tests/engine/TestNets.h"

#include <cstdio>
#include <functional>

namespace {

class TRecorder : public TProjectListener {
public:
    explicit TRecorder(TProject& project)
        : TProjectListener(project)
    {
    }
    void ProjectChanged(TProjectChange change) override { changes.push_back(change); }
    std::vector<TProjectChange> changes;
};


} // namespace

TEST(Project, EveryChangeIsToldAndCountsAsUnsavedWork)
{
    using C = TProjectChange;
    TAbsImage sample(4);
    sample.Cells = {1, 0, 0, 1};
    const auto patterns = [&](TProject& p) {
        p.NewProject({4, 2, 3});
        p.AddSample(sample, 0);
    };
    const auto series = [](TProject& p) {
        TSeriesLoad load = Wave(20);
        p.LoadSeries(load, 3, 15);
    };
    const struct {
        const char* name;
        std::function<void(TProject&)> before;
        std::function<void(TProject&)> change;
        std::vector<TProjectChange> told; // besides SaveState
    } cases[] = {
        {"new project", {}, [](TProject& p) { p.NewProject({4, 2, 3}); }, {C::Sequence, C::ClassNamesLaidOut, C::Network}},
        {"a sample", patterns, [&](TProject& p) { p.AddSample(sample, 1); }, {C::SampleAdded}},
        {"a removal", patterns, [](TProject& p) { p.RemoveCurrentSample(); }, {C::SampleRemoved}},
        {"a renamed class", patterns, [](TProject& p) { p.RenameClass(1, "квадрат"); }, {}},
        {"confirmed names", {}, [](TProject& p) { p.ConfirmClassNames({"круг"}); }, {C::ClassList}},
        {"an epoch", patterns, [](TProject& p) { p.TrainEpoch({}); }, {}},
        {"a network", {}, [](TProject& p) { p.ReplaceNetwork(std::make_unique<TNeuralNet>(testnets::MakeNet({4, 2}))); },
         {C::Network}},
        {"a series", {}, series, {C::SeriesLoaded}},
        {"a series epoch", series, [](TProject& p) { p.TrainSeriesEpoch(); }, {}},
        {"the first window", series, [](TProject& p) { p.SetFromFirstWindow(true); }, {C::SeriesSettings}},
    };
    const std::string path = ::testing::TempDir() + "trelis_project_test.trelis";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TProject project;
        if (c.before)
            c.before(project);
        ASSERT_EQ(project.Save(path), "");
        EXPECT_FALSE(project.Unsaved());
        EXPECT_EQ(project.FileName(), path);
        TRecorder recorder(project);
        c.change(project);
        EXPECT_TRUE(project.Unsaved());
        // Only a new project leaves the file behind.
        EXPECT_EQ(project.FileName().empty(), std::string(c.name) == "new project");
        std::vector<TProjectChange> told;
        for (const TProjectChange change : recorder.changes)
            if (change != C::SaveState)
                told.push_back(change);
        EXPECT_EQ(told, c.told);
        EXPECT_EQ(told.size() + 1, recorder.changes.size()); // and once that there is unsaved work
    }
    std::remove(path.c_str());
}

TEST(Text, ACountTakesTheRussianFormThatGoesWithIt)
{
    for (const auto& [count, text] : std::vector<std::pair<std::uint64_t, std::string>>{
             {0, "0 эпох"}, {1, "1 эпоха"}, {2, "2 эпохи"}, {4, "4 эпохи"}, {5, "5 эпох"}, {11, "11 эпох"},
             {12, "12 эпох"}, {14, "14 эпох"}, {21, "21 эпоха"}, {22, "22 эпохи"}, {25, "25 эпох"},
             {101, "101 эпоха"}, {111, "111 эпох"}, {112, "112 эпох"}, {144, "144 эпохи"}, {1000001, "1000001 эпоха"}})
        EXPECT_EQ(Counted(count, "эпоха", "эпохи", "эпох"), text);
}

TEST(Project, TheSeriesForecastIsComputedOnceForEachStateOfTheWeights)
{
    TProject project;
    TSeriesLoad load = Wave(60);
    project.LoadSeries(load, 4, 40);
    ASSERT_TRUE(project.SeriesReady());
    const TSeriesView series = project.SeriesView();
    for (int epoch = 0; epoch < 3; ++epoch) {
        for (const bool fromFirstWindow : {false, true}) {
            SCOPED_TRACE(std::to_string(epoch) + (fromFirstWindow ? " from the first window" : ""));
            project.SetFromFirstWindow(fromFirstWindow);
            const TSeriesForecast& forecast = project.SeriesForecast();
            // Asked again without a change, it is the same figures.
            const float* computed = forecast.reproduction.data();
            EXPECT_EQ(project.SeriesForecast().reproduction.data(), computed);
            // They are the network's own: a copy of it reproduces them.
            TNeuralNet net(*project.Net());
            std::vector<float> inputs(5), reproduction(60), closed(60);
            const THeldOutErrors errors =
                NetworkHeldOutErrors(net, series.values, 60, 40, 4, series.unit, inputs.data(), closed.data());
            ReproduceSeries(net, series.values, 60, 40, 4, fromFirstWindow, inputs.data(), reproduction.data());
            EXPECT_EQ(forecast.reproduction, reproduction);
            EXPECT_EQ(forecast.heldOut.oneStep, errors.oneStep);
            EXPECT_EQ(forecast.heldOut.closedLoop, errors.closedLoop);
            EXPECT_EQ(forecast.heldOut.points, 20u);
        }
        const std::vector<float> before = project.SeriesForecast().reproduction;
        const TSeriesEpochReport& report = project.TrainSeriesEpoch();
        EXPECT_EQ(report.epoch, static_cast<std::uint64_t>(epoch + 1));
        EXPECT_EQ(report.windows, 36u);
        EXPECT_EQ(report.maxError, series.unit * report.errors.maxError);
        EXPECT_NE(project.SeriesForecast().reproduction, before);
    }
}

TEST(Project, TheYardsticksMadeAsideAreThoseMadeAtOnce)
{
    TProject project;
    TSeriesLoad load = Wave(300);
    project.LoadSeries(load, 12, 200);
    const TSeriesView series = project.SeriesView();
    const TSeriesBaselines* aside = project.SeriesBaselines(true);
    ASSERT_NE(aside, nullptr);
    const TSeriesBaselines atOnce = SeriesBaselines(series.values, 300, 200, 12, series.unit);
    ASSERT_TRUE(atOnce.fitted);
    EXPECT_EQ(aside->autoregression.oneStep, atOnce.autoregression.oneStep);
    EXPECT_EQ(aside->autoregression.closedLoop, atOnce.autoregression.closedLoop);
    EXPECT_EQ(aside->naive.oneStep, atOnce.naive.oneStep);
    // A reload stops a job begun for the old values and forgets its figures.
    TSeriesLoad first = Wave(300, 1.0);
    project.ReloadSeries(first);
    project.SeriesBaselines();
    TSeriesLoad second = Wave(300, 2.0);
    project.ReloadSeries(second);
    const TSeriesBaselines reloaded = *project.SeriesBaselines(true);
    const TSeriesView now = project.SeriesView();
    const TSeriesBaselines expected = SeriesBaselines(now.values, 300, 200, 12, now.unit);
    EXPECT_EQ(reloaded.autoregression.closedLoop, expected.autoregression.closedLoop);
    EXPECT_NE(reloaded.autoregression.closedLoop, atOnce.autoregression.closedLoop);
}

TEST(Project, TheFitsNormalEquationsEqualTheirSumsOverEveryWindow)
{
    // The fit gathers lagged sums once and walks the diagonals; the least
    // squares over the windows, summed window by window here, must agree.
    std::mt19937 random(5);
    std::uniform_real_distribution<float> noise(0.0f, 1.0f);
    std::vector<float> x(400);
    for (std::size_t t = 0; t < x.size(); ++t)
        x[t] = 0.5f + 0.3f * static_cast<float>(std::sin(t * 0.2)) + 0.2f * noise(random);
    const std::uint32_t w = 7, end = 350;
    const std::size_t n = w + 1;
    std::vector<double> gram(n * n, 0.0), right(n, 0.0);
    for (std::uint32_t t = w; t < end; ++t) {
        std::vector<double> row(x.begin() + (t - w), x.begin() + t);
        row.push_back(1.0);
        for (std::size_t i = 0; i < n; ++i) {
            right[i] += row[i] * x[t];
            for (std::size_t k = 0; k < n; ++k)
                gram[i * n + k] += row[i] * row[k];
        }
    }
    // Gaussian elimination with partial pivoting.
    for (std::size_t c = 0; c < n; ++c) {
        std::size_t pivot = c;
        for (std::size_t r = c + 1; r < n; ++r)
            if (std::fabs(gram[r * n + c]) > std::fabs(gram[pivot * n + c]))
                pivot = r;
        for (std::size_t k = 0; k < n; ++k)
            std::swap(gram[c * n + k], gram[pivot * n + k]);
        std::swap(right[c], right[pivot]);
        for (std::size_t r = c + 1; r < n; ++r) {
            const double f = gram[r * n + c] / gram[c * n + c];
            for (std::size_t k = c; k < n; ++k)
                gram[r * n + k] -= f * gram[c * n + k];
            right[r] -= f * right[c];
        }
    }
    std::vector<double> solution(n);
    for (std::size_t c = n; c-- > 0;) {
        double sum = right[c];
        for (std::size_t k = c + 1; k < n; ++k)
            sum -= gram[c * n + k] * solution[k];
        solution[c] = sum / gram[c * n + c];
    }
    const auto fit = FitAutoregression(x.data(), 400, end, w);
    ASSERT_TRUE(fit);
    for (std::size_t k = 0; k < w; ++k)
        EXPECT_NEAR(fit->weights[k], solution[k], 1e-7) << k;
    EXPECT_NEAR(fit->intercept, solution[w], 1e-7);
}
