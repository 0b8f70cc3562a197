// The learning epoch without the window.
#include "project/Learning.h"

#include "tests/engine/TestNets.h"

TEST(PatternTrainer, ElementsOfAnotherSizeFeedOnlyTheirOwnCells)
{
    // An element of 2 cells for a network of 5 inputs: the missing inputs
    // read 0 and the bias input 1, never the element's own bias byte.
    TAbsImage shorter(2);
    shorter.Cells = {1, 1, 1};
    std::vector<std::int8_t> scratch;
    const std::int8_t* in = NetworkInput(shorter, 5, scratch);
    EXPECT_EQ(std::vector<std::int8_t>(in, in + 6), (std::vector<std::int8_t>{1, 1, 0, 0, 0, 1}));

    // A longer element gives its first cells and then the bias input 1.
    TAbsImage longer(6);
    longer.Cells = {1, 0, 1, 0, 0, 1, 1};
    in = NetworkInput(longer, 3, scratch);
    EXPECT_EQ(std::vector<std::int8_t>(in, in + 4), (std::vector<std::int8_t>{1, 0, 1, 1}));

    // An element whose buffer is shorter than its Size claims.
    TAbsImage damaged(4);
    damaged.Cells = {1};
    in = NetworkInput(damaged, 4, scratch);
    EXPECT_EQ(std::vector<std::int8_t>(in, in + 5), (std::vector<std::int8_t>{1, 0, 0, 0, 1}));

    // No inputs at all: only the bias.
    in = NetworkInput(shorter, 0, scratch);
    EXPECT_EQ(in[0], 1);

    // An element that fits is used as it is.
    TAbsImage fits(3);
    fits.Cells = {0, 1, 0, 1};
    EXPECT_EQ(NetworkInput(fits, 3, scratch), fits.Cells.data());
}

TEST(PatternTrainer, TrainingOnAShortElementEqualsTrainingOnItsPaddedInput)
{
    TNeuralNet net = [] {
        testnets::PinnedClock clock(99);
        return TNeuralNet(2, {5, 4, 3}, 0.68f, 0.0f, 0.0f, 1.0f, 1.0f);
    }();
    TNeuralNet reference(net);

    PatternRing ring;
    TAbsImage shorter(2);
    shorter.Cells = {1, 0};
    ring.Add(shorter, 2);
    TPatternTrainer trainer;
    trainer.RunEpoch(net, ring, TTrainingSettings{});

    const std::int8_t padded[6] = {1, 0, 0, 0, 0, 1};
    const std::int8_t target[3] = {0, 0, 1};
    reference.TrainBytes(padded, target, 0.1f, 0.0f);
    for (std::size_t k = 0; k < net.layers.size(); ++k)
        for (std::size_t i = 0; i < net.layers[k].weights.Rows(); ++i)
            for (std::size_t j = 0; j < net.layers[k].weights.Columns(); ++j)
                ASSERT_EQ(net.layers[k].weights[i][j], reference.layers[k].weights[i][j]);
}
