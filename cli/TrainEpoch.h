#pragma once
// One training epoch of `trelis-cli train`: the learning window's epoch
// (TEpochTrainer::Run) with the total error the command reports. Shared by
// the command and its benchmark.

#include "engine/NeuralNet.h"
#include "images/PatternRing.h"
#include "project/Learning.h"

#include <cstdint>
#include <vector>

struct TTrainEpoch {
    std::uint32_t correct = 0; // elements answered right
    double totalError = 0.0;   // sum over the elements of |output - target| over the outputs
};

// Trains on every element once from the cursor round the ring. The error
// of an element is taken from the outputs the training step left (for
// back-propagation the network's response before the weights changed)
// against its target: 1 at the output of its class, 0 elsewhere (all 0 for
// a class without an output). onElement(done) is called after each element
// with the number of elements done. `target` is scratch space.
template <class OnElement>
TTrainEpoch TrainEpoch(TEpochTrainer& trainer, TNeuralNet& net, PatternRing& ring, bool stochastic,
                       std::vector<float>& target, OnElement&& onElement)
{
    TTrainEpoch epoch;
    std::uint32_t done = 0;
    epoch.correct = trainer.Run(net, ring, stochastic, [&](const TPatternAnswer&) {
        target.assign(net.outputCount, 0.0f);
        const std::int32_t c = ring.Current->ClassIndex;
        if (ClassHasOutput(c, net.outputCount))
            target[static_cast<std::size_t>(c)] = 1.0f;
        epoch.totalError += net.OutputError(target.data());
        onElement(++done);
    });
    return epoch;
}
