// What the learning progress window is built on: the confusion matrix of an
// epoch's answers, the epoch's total error, the bounded history of epoch
// figures, and the check on a held-out file.
#include "project/Checking.h"
#include "project/Confusion.h"
#include "project/EpochHistory.h"
#include "project/Learning.h"

#include "tests/engine/TestNets.h"

#include <map>
#include <utility>

TEST(Confusion, AnEpochsMatrixAndErrorEqualARecountFromTheOutputs)
{
    // A small network of 3 outputs trained for a few epochs on random
    // elements filed under classes 0..2, under no class (-1) and under a
    // class it has no output for (3).
    TNeuralNet net = testnets::MakeNet({6, 5, 3}, 0.68f, 4242);
    std::mt19937 random(7);
    PatternRing ring;
    for (int k = 0; k < 60; ++k) {
        TAbsImage e(6);
        for (std::size_t c = 0; c < 6; ++c)
            e.Cells[c] = static_cast<std::int8_t>(random() % 2);
        ring.Add(e, static_cast<std::int32_t>(random() % 5) - 1);
    }

    TPatternTrainer trainer;
    for (int epoch = 0; epoch < 4; ++epoch) {
        TTrainingSettings settings;
        settings.method = epoch % 2 == 1 ? TTrainingMethod::Stochastic : TTrainingMethod::BackPropagation;
        std::map<std::pair<std::int32_t, std::uint32_t>, std::uint64_t> recount;
        std::vector<TElementAnswer> answers;
        double recountError = 0.0;
        // The epoch goes from the cursor round the ring.
        auto element = ring.Elements().begin();
        const TPatternEpochReport& report = trainer.RunEpoch(net, ring, settings, [&](const TPatternAnswer&) {
            // The test's own reading of the outputs the step left.
            const std::int32_t truth = (element++)->ClassIndex;
            std::uint32_t winner = 0;
            float best = 0.0f;
            std::vector<float> target(net.outputCount, 0.0f);
            for (std::uint32_t i = 0; i < net.outputCount; ++i) {
                if (net.outputs[i] > best) {
                    best = net.outputs[i];
                    winner = i;
                }
                if (truth >= 0 && static_cast<std::uint32_t>(truth) == i)
                    target[i] = 1.0f;
            }
            ++recount[{truth, winner}];
            answers.push_back({truth, winner});
            recountError += net.OutputError(target.data());
        });
        EXPECT_EQ(report.totalError, recountError);
        // The long form holds the pairs that occur, each with its count.
        std::map<std::pair<std::int32_t, std::uint32_t>, std::uint64_t> cells;
        for (const TConfusionCount& cell : ConfusionCounts(answers))
            cells[{cell.trueClass, cell.answer}] = cell.count;
        EXPECT_EQ(cells, recount);
        ASSERT_EQ(report.elements, ring.GetCount());
        TConfusion matrix(net.outputCount);
        for (std::uint32_t k = 0; k < report.elements; ++k) {
            EXPECT_EQ(report.answers[k].trueClass, answers[k].trueClass);
            EXPECT_EQ(report.answers[k].answer, answers[k].answer);
            matrix.Add(report.answers[k]);
        }
        const std::uint32_t correct = report.correct;

        std::uint64_t right = 0, outside = 0;
        std::vector<std::uint64_t> rows(3, 0), columns(3, 0);
        for (const auto& [key, n] : recount) {
            const auto [truth, answer] = key;
            if (truth < 0 || truth >= 3) {
                outside += n;
                continue;
            }
            EXPECT_EQ(matrix.Count(static_cast<std::size_t>(truth), answer), n);
            rows[static_cast<std::size_t>(truth)] += n;
            columns[answer] += n;
            if (static_cast<std::uint32_t>(truth) == answer)
                right += n;
        }
        EXPECT_EQ(matrix.Total(), ring.GetCount());
        EXPECT_EQ(matrix.Outside(), outside);
        EXPECT_GT(outside, 0u);
        EXPECT_EQ(matrix.Right(), right);
        EXPECT_EQ(matrix.Right(), correct); // the trainer's own count
        EXPECT_DOUBLE_EQ(matrix.Accuracy(), static_cast<double>(right) / ring.GetCount());
        for (std::size_t c = 0; c < 3; ++c) {
            SCOPED_TRACE(c);
            std::uint64_t cells = 0;
            for (std::size_t a = 0; a < 3; ++a)
                cells += matrix.Count(c, a);
            EXPECT_EQ(cells, rows[c]);
            const auto share = [](std::uint64_t a, std::uint64_t b) {
                return b == 0 ? std::nan("") : static_cast<double>(a) / static_cast<double>(b);
            };
            const std::uint64_t diagonal = recount[{static_cast<std::int32_t>(c), static_cast<std::uint32_t>(c)}];
            EXPECT_EQ(std::isnan(matrix.Recall(c)), rows[c] == 0);
            if (rows[c] > 0) {
                EXPECT_DOUBLE_EQ(matrix.Recall(c), share(diagonal, rows[c]));
            }
            EXPECT_EQ(std::isnan(matrix.Precision(c)), columns[c] == 0);
            if (columns[c] > 0) {
                EXPECT_DOUBLE_EQ(matrix.Precision(c), share(diagonal, columns[c]));
            }
        }
    }
    // Nothing counted: no accuracy, and a reset matrix is empty again. An
    // answer beyond the matrix is counted outside it, in no row or column.
    TConfusion empty(2);
    EXPECT_TRUE(std::isnan(empty.Accuracy()));
    empty.Add(0, 2);
    EXPECT_EQ(empty.Outside(), 1u);
    EXPECT_EQ(empty.RowSum(0) + empty.Count(1, 0), 0u);
    empty.Add(1, 1);
    empty.Reset(2);
    EXPECT_EQ(empty.Total(), 0u);
    EXPECT_EQ(empty.Count(1, 1), 0u);
}

TEST(EpochHistory, KeepsItsBoundTheFirstAndLastEpochsAndAnEvenResolution)
{
    const struct {
        std::size_t capacity;
        std::uint64_t epochs;
    } cases[] = {{4, 1}, {4, 3}, {4, 4}, {4, 5}, {6, 37}, {8, 1000}, {2048, 2048}, {2048, 100001}};
    // Every epoch's figures tell which epoch they are of.
    const auto point = [](std::uint64_t e) {
        return TEpochPoint{e, {0.5 * static_cast<double>(e), -static_cast<double>(e), 1.0 / static_cast<double>(e),
                               static_cast<double>(e % 7)}};
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.capacity << " / " << c.epochs);
        TEpochHistory h(c.capacity);
        for (int round = 0; round < 2; ++round) { // and again after Clear
            for (std::uint64_t e = 1; e <= c.epochs; ++e)
                h.Add(point(e));
            ASSERT_LE(h.Count(), c.capacity + 1);
            EXPECT_EQ(h.Added(), c.epochs);
            EXPECT_EQ(h[0].epoch, 1u);
            EXPECT_EQ(h[h.Count() - 1].epoch, c.epochs);
            EXPECT_EQ(h.Last().epoch, c.epochs);
            for (std::size_t i = 0; i < h.Count(); ++i)
                ASSERT_EQ(h[i].values, point(h[i].epoch).values) << i;
            // Kept points one stride apart; the last one at most a stride on.
            for (std::size_t i = 1; i < h.Count(); ++i) {
                const std::uint64_t gap = h[i].epoch - h[i - 1].epoch;
                if (i + 1 < h.Count())
                    ASSERT_EQ(gap, h.Stride()) << i;
                else
                    ASSERT_TRUE(gap >= 1 && gap <= h.Stride()) << i;
            }
            // Half full at least once it had to thin out.
            if (c.epochs > c.capacity) {
                EXPECT_GE(h.Count(), c.capacity / 2);
            }
            h.Clear();
            EXPECT_TRUE(h.Empty());
            EXPECT_EQ(h.Count(), 0u);
        }
    }
}

TEST(Checking, AFilesClassesMeetTheProjectsByStoredNameAndTheMatrixHasItsBound)
{
    // One element of the file's class 0, under the given names.
    const auto file = [](TSequenceWithNames& f, std::vector<std::string> names) -> const TSequenceWithNames& {
        f.sequence.SetDimension(1);
        f.sequence.Add(TAbsImage(1), 0);
        f.names = std::move(names);
        f.namesRead = true;
        f.namesPath = "held.nam";
        return f;
    };
    const struct {
        const char* what;
        std::vector<std::string> project, file;
        std::vector<std::int32_t> projectClass; // empty: refused
    } cases[] = {
        {"the first of equal project names", {"a", "b", "a"}, {"b", "a"}, {1, 0}},
        {"a name the file repeats, and one the project lacks", {"x", "y"}, {"y", "x", "y", "z"}, {1, 0, 1, -1}},
        {"blanks and empty names as a names file stores them", {"a b", "", "2"}, {"1", "a_b", ""}, {1, 0, 2}},
        {"no name in common", {"a"}, {"b", "a b"}, {}},
    };
    TNeuralNet net = testnets::MakeNet({1, 3});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TClassMap map;
        TSequenceWithNames f;
        const std::string refusal = CheckRefusal(&net, c.project, file(f, c.file), map);
        EXPECT_EQ(refusal.empty(), !c.projectClass.empty()) << refusal;
        if (refusal.empty()) {
            EXPECT_EQ(map.projectClass, c.projectClass);
        }
    }
    // The matrix is kept up to MaxConfusionClasses outputs, the counts beyond.
    for (const auto& [outputs, kept] : {std::pair{MaxConfusionClasses, MaxConfusionClasses},
                                        std::pair{MaxConfusionClasses + 1, 0u}}) {
        SCOPED_TRACE(outputs);
        const TNeuralNet wide = testnets::MakeNet({1, outputs});
        TClassMap map;
        TSequenceWithNames f;
        ASSERT_EQ(CheckRefusal(&wide, {"a"}, file(f, {"a"}), map), "");
        const TCheckReport report = CheckNetwork(wide, f, map);
        EXPECT_EQ(report.total, 1u);
        EXPECT_EQ(report.confusion.Classes(), kept);
    }
}
