// One training run for every front end: its stop rules, the best epoch's
// weights, the seed of a network, and the search for settings built on it.
#include "project/Project.h"
#include "project/TrainingRun.h"
#include "project/Tuning.h"

#include "StateDifference.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

namespace {

// `perClass` noisy copies of `classes` distinct 4 x 4 patterns.
void NoisyPatterns(PatternRing& ring, std::uint32_t classes, std::uint32_t perClass, std::uint32_t seed)
{
    std::mt19937 random(seed);
    ring.Clear();
    ring.SetDimension(16);
    for (std::uint32_t n = 0; n < perClass; ++n)
        for (std::uint32_t c = 0; c < classes; ++c) {
            TAbsImage image(16);
            for (std::uint32_t i = 0; i < 16; ++i)
                image.Cells[i] = static_cast<std::int8_t>(((i * 7 + c * 5) % (c + 3) == 0) != (random() % 9 == 0));
            ring.Add(image, static_cast<std::int32_t>(c));
        }
}

bool SameWeights(const TNeuralNet& a, const TNeuralNet& b)
{
    for (std::size_t k = 0; k < a.layers.size(); ++k)
        if (!SameMatrix(a.layers[k].weights, b.layers[k].weights))
            return false;
    return a.layers.size() == b.layers.size();
}

} // namespace

TEST(TrainingRun, StopRulesAndTheBestEpochFollowTheFiguresOfEachEpoch)
{
    struct TEpochFigures {
        std::uint32_t correct;
        std::uint64_t heldOut; // right on the check
    };
    struct TCase {
        const char* name;
        TRunSettings settings;
        bool checking;
        std::vector<TEpochFigures> epochs; // of 10 elements, a check of 20
        std::uint64_t stopsAfter;
        TRunStop stop;
        std::uint64_t bestEpoch;
    };
    const auto with = [](auto edit) {
        TRunSettings s;
        edit(s);
        return s;
    };
    const std::vector<TCase> cases = {
        {"the learning window's rule: the first perfect epoch", with([](TRunSettings&) {}), false, {{3, 0}, {10, 0}, {10, 0}}, 2,
         TRunStop::Perfect, 0},
        {"kept going, the epoch limit", with([](TRunSettings& s) { s.keepGoing = true, s.maxEpochs = 3; }), false,
         {{10, 0}, {10, 0}, {10, 0}, {10, 0}}, 3, TRunStop::EpochLimit, 0},
        {"a target share", with([](TRunSettings& s) { s.targetAccuracy = 0.7; }), false, {{6, 0}, {7, 0}}, 2,
         TRunStop::Target, 0},
        {"patience on the training count", with([](TRunSettings& s) { s.patience = 2; }), false,
         {{4, 0}, {6, 0}, {6, 0}, {5, 0}, {9, 0}}, 4, TRunStop::Patience, 0},
        {"patience on the check; the first of the best counts is kept",
         with([](TRunSettings& s) { s.patience = 3, s.keepGoing = true; }), true,
         {{4, 5}, {6, 9}, {7, 12}, {10, 12}, {10, 11}, {10, 12}}, 6, TRunStop::Patience, 3},
        {"a perfect epoch ends a checked run too", with([](TRunSettings&) {}), true, {{4, 5}, {10, 4}}, 2, TRunStop::Perfect, 1},
    };
    TNeuralNet net = *NewPatternNetwork({2, 2, 2}, 1);
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        TRunRules rules(c.settings, c.checking);
        TRunEpoch epoch;
        for (const TEpochFigures& figures : c.epochs) {
            ++epoch.epoch;
            epoch.elements = 10;
            epoch.correct = figures.correct;
            epoch.checked = c.checking;
            epoch.heldOutRight = figures.heldOut;
            epoch.heldOutTotal = 20;
            net.layers[0].weights[0][0] = static_cast<float>(epoch.epoch); // marks the epoch's weights
            rules.After(epoch, net);
            if (epoch.stop != TRunStop::None)
                break;
        }
        EXPECT_EQ(epoch.epoch, c.stopsAfter);
        EXPECT_EQ(epoch.stop, c.stop);
        EXPECT_EQ(rules.BestEpoch(), c.bestEpoch);
        const std::unique_ptr<TNeuralNet> best = rules.TakeBest();
        ASSERT_EQ(best != nullptr, c.bestEpoch > 0);
        if (best) {
            EXPECT_EQ(best->layers[0].weights[0][0], static_cast<float>(c.bestEpoch));
        }
    }
}

TEST(TrainingRun, AProjectsRunKeepsTheBestCheckedWeightsAndTellsItsListeners)
{
    TProject project;
    TSequenceWithNames loaded;
    NoisyPatterns(loaded.sequence, 3, 6, 1);
    loaded.names = {"a", "b", "c"};
    ASSERT_EQ(NewProjectForSequence(project, loaded, 6, 42, TFigureFit::Aspect), "");
    EXPECT_EQ(project.State().seed, 42u);
    EXPECT_EQ(project.State().fit, TFigureFit::Aspect);
    // The same seed draws the same weights, bit for bit.
    EXPECT_TRUE(SameWeights(*project.Net(), *NewPatternNetwork({16, 6, 3}, 42)));
    EXPECT_FALSE(SameWeights(*project.Net(), *NewPatternNetwork({16, 6, 3}, 43)));

    THeldOutSet heldOut;
    NoisyPatterns(heldOut.file.sequence, 3, 4, 2);
    heldOut.file.names = project.ClassNames();
    OwnClassesHeldOut(3, heldOut);
    struct TCounter : TTrainingListener {
        using TTrainingListener::TTrainingListener;
        std::vector<std::uint64_t> checked;
        void HeldOutChecked(const TRunEpoch& e) override { checked.push_back(e.heldOutRight); }
    } listener(project);

    TRunSettings settings;
    settings.keepGoing = true;
    settings.maxEpochs = 12;
    settings.step.learningRate = 2.0f; // large steps, so that the check goes up and down
    TTrainingRun run(project, settings, &heldOut);
    std::map<std::uint64_t, TNeuralNet> after;
    while (run.Epoch().stop == TRunStop::None)
        after.emplace(run.Last().epoch, *project.Net());
    after.emplace(run.Last().epoch, *project.Net());
    EXPECT_EQ(run.Last().stop, TRunStop::EpochLimit);
    EXPECT_EQ(listener.checked.size(), 12u);
    const std::uint64_t best = run.Rules().BestEpoch();
    EXPECT_EQ(listener.checked[best - 1], *std::max_element(listener.checked.begin(), listener.checked.end()));
    EXPECT_EQ(run.Finish(), best != 12);
    EXPECT_TRUE(SameWeights(*project.Net(), after.at(best)));
}

TEST(Tuning, TheSplitIsClassByClassAndTheSearchDoesNotDependOnItsThreads)
{
    PatternRing all;
    NoisyPatterns(all, 3, 10, 3);
    PatternRing train, heldOut, again, heldAgain;
    SplitHeldOut(all, 0.2, 9, train, heldOut);
    SplitHeldOut(all, 0.2, 9, again, heldAgain);
    ASSERT_EQ(heldOut.GetCount(), 6u); // 2 of each class's 10
    EXPECT_EQ(train.GetCount() + heldOut.GetCount(), all.GetCount());
    std::map<std::int32_t, int> perClass;
    std::multiset<std::vector<std::int8_t>> parts, whole;
    const auto walk = [](const PatternRing& ring, auto f) {
        for (const TAbsImage& e : ring.Elements())
            f(e);
    };
    walk(heldOut, [&](const TAbsImage& e) { ++perClass[e.ClassIndex], parts.insert(e.Cells); });
    walk(train, [&](const TAbsImage& e) { parts.insert(e.Cells); });
    walk(all, [&](const TAbsImage& e) { whole.insert(e.Cells); });
    EXPECT_EQ(perClass, (std::map<std::int32_t, int>{{0, 2}, {1, 2}, {2, 2}}));
    EXPECT_EQ(parts, whole);
    std::vector<std::vector<std::int8_t>> first, second;
    walk(heldOut, [&](const TAbsImage& e) { first.push_back(e.Cells); });
    walk(heldAgain, [&](const TAbsImage& e) { second.push_back(e.Cells); });
    EXPECT_EQ(first, second);

    THeldOutSet check;
    CopyRing(heldOut, check.file.sequence);
    OwnClassesHeldOut(3, check);
    TTunePlan plan = PlanTuning(train.GetCount(), train.GetDimension(), 5);
    plan.settings.resize(3);
    for (TTuneSetting& s : plan.settings)
        s.hidden = 4 + s.hidden % 5;
    std::vector<TTuneResult> results;
    for (const unsigned jobs : {1u, 2u, 3u}) {
        std::vector<std::size_t> told;
        results.push_back(RunTuning(train, check, 3, plan, jobs, [&](const TTuneRow& r) { told.push_back(r.setting); },
                                    [] { return false; }));
        EXPECT_EQ(told, (std::vector<std::size_t>{0, 1, 2})) << jobs << " threads";
    }
    for (const TTuneResult& r : results) {
        ASSERT_FALSE(r.cut);
        ASSERT_TRUE(r.best && r.bestNet);
        EXPECT_EQ(r.best, results[0].best);
        EXPECT_EQ(r.bestSeed, results[0].bestSeed);
        EXPECT_TRUE(SameWeights(*r.bestNet, *results[0].bestNet));
        for (std::size_t k = 0; k < r.rows.size(); ++k)
            EXPECT_EQ(r.rows[k].mean, results[0].rows[k].mean);
    }
    // Stopped at once: nothing is left half told, and the result says it was cut.
    const TTuneResult cut = RunTuning(train, check, 3, plan, 2, {}, [] { return true; });
    EXPECT_TRUE(cut.cut);
    EXPECT_EQ(cut.best.has_value(), cut.bestNet != nullptr);
}
