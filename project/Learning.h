#pragma once
// Training the network on the whole training sequence, one epoch at a time,
// without any window: the learning window runs the epochs and paints what
// they report, and recognition shares the safe way of feeding an image to
// the network.

#include "engine/NeuralNet.h"
#include "images/Images.h"
#include "images/PatternRing.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The number of inputs of the network's first layer, not counting the bias
// input; 0 for a network without layers.
std::uint32_t NetworkInputCount(const TNeuralNet& net);

// The byte input for a network of `inputs` inputs made from an image: its
// cells, 0 for every input beyond them, then the bias byte 1. Nothing beyond
// the image's cells is read: an element of another size (say, loaded from
// another project's file) feeds exactly the cells it has. Returns the image's
// own buffer when that already is such an input, otherwise `scratch`; valid
// while neither changes.
const std::int8_t* NetworkInput(const TAbsImage& image, std::size_t inputs,
                                std::vector<std::int8_t>& scratch);

// Whether a class index names one of the network's outputs.
inline bool ClassHasOutput(std::int32_t classIndex, std::uint32_t outputCount)
{
    return classIndex >= 0 && static_cast<std::uint32_t>(classIndex) < outputCount;
}

// The target of a pattern of the given class: outputCount bytes, 1 at the
// class's output and 0 elsewhere; all 0 when the class has no output.
void BuildTarget(std::int32_t classIndex, std::uint32_t outputCount, std::vector<std::int8_t>& target);

// Runs the network on the image (see NetworkInput) and returns its answer.
TWinner Classify(TNeuralNet& net, const TAbsImage& image, std::vector<std::int8_t>& scratch);

// What one training step made of a pattern: the winning output read from
// the outputs the step left, whether it names the pattern's class, and
// that class.
struct TPatternAnswer {
    std::uint32_t winner = 0;
    float best = 0.0f;
    bool correct = false;
    std::int32_t trueClass = 0;
};

// The distance of the outputs of the network's last pass from the target of
// the class (BuildTarget): the sum of |output - target| over the outputs, in
// float, output 0 first.
float AnswerError(const TNeuralNet& net, std::int32_t classIndex);

// Why the network cannot be trained on the sequence, as the user reads it:
// elements of another size than the network's inputs, or an element whose
// class is beyond the network's outputs (a class below 0, filed under no
// class, trains towards all zeros and is allowed). Empty when training can
// go on; an empty sequence is the caller's to report.
std::string SequenceRefusal(const TNeuralNet& net, const PatternRing& sequence);

class TEpochTrainer {
public:
    static constexpr float LearningRate = 0.1f; // back-propagation
    static constexpr float Momentum = 0.0f;     // back-propagation
    static constexpr float StepWidth = 0.1f;    // stochastic trials

    // One training step on one element: back-propagation (TrainBytes) or one
    // pass of stochastic trials (TrainStochastic). The answer comes from the
    // outputs the step left: for back-propagation the response before the
    // update, for the stochastic pass the response during its last trial.
    // A class without an output trains towards all zeros and is never
    // counted correct.
    TPatternAnswer Train(TNeuralNet& net, const TAbsImage& element, bool stochastic);

    // One epoch: trains on every element once, from the cursor round the
    // ring, calling onAnswer(answer) after each element, and leaves the
    // cursor where it was. The cursor steps along as the epoch goes, so
    // onAnswer finds the element just trained at ring.Current. Returns the
    // number of correct answers; does nothing on an empty sequence.
    template <class OnAnswer>
    std::uint32_t Run(TNeuralNet& net, PatternRing& ring, bool stochastic, OnAnswer&& onAnswer)
    {
        if (ring.Count == 0 || ring.Current == nullptr)
            return 0;
        std::uint32_t correct = 0;
        TAbsImage* const start = ring.Current;
        do {
            const TPatternAnswer answer = Train(net, *ring.Current, stochastic);
            if (answer.correct)
                ++correct;
            onAnswer(answer);
            ring.Current = ring.Current->Next;
        } while (ring.Current != start && ring.Current != nullptr);
        ring.Current = start;
        return correct;
    }

private:
    std::vector<std::int8_t> target_;
    std::vector<std::int8_t> input_;
};
