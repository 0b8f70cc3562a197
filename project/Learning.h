#pragma once
// Training the network on the whole training sequence, one epoch at a time,
// without any window: the learning window runs the epochs and paints what
// they report, and recognition shares the safe way of feeding an image to
// the network.

#include "engine/NeuralNet.h"
#include "images/Images.h"
#include "images/PatternRing.h"
#include "project/Confusion.h"

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

// How far the outputs of the network's last pass are from answering the
// class: the greatest output of another class (at least 0.0, where the
// winner rule starts) minus the class's own output (0 for a class without
// an output). For a wrong answer this is the winning
// output minus the class's; a right answer gives 0 or less, the nearer to 0
// the nearer it came to being wrong. Elements listed worst first are listed
// by this figure, greatest first.
float AnswerMargin(const TNeuralNet& net, std::int32_t classIndex);

// Why the network cannot be trained on the sequence, as the user reads it:
// elements of another size than the network's inputs, or an element whose
// class is beyond the network's outputs (a class below 0, filed under no
// class, trains towards all zeros and is allowed). Empty when training can
// go on; an empty sequence is the caller's to report.
std::string SequenceRefusal(const TNeuralNet& net, const PatternRing& sequence);

// How the network is trained on the sequence.
enum class TTrainingMethod {
    BackPropagation, // TrainBytes with the rate and momentum below
    Stochastic,      // TrainStochastic with the step width below
};

// The parameters of pattern training; the defaults are the learning window's.
struct TTrainingSettings {
    TTrainingMethod method = TTrainingMethod::BackPropagation;
    float learningRate = 0.1f; // back-propagation
    float momentum = 0.0f;     // back-propagation
    float stepWidth = 0.1f;    // stochastic trials

    bool operator==(const TTrainingSettings&) const = default;
};

// What one epoch over the training sequence did.
struct TPatternEpochReport {
    std::uint32_t elements = 0; // elements trained
    std::uint32_t correct = 0;  // of them, answered right
    // The sum over the elements of AnswerError: |output - target| of every
    // output as the element's training step left it.
    double totalError = 0.0;
    // Each element's true class and answer, and its AnswerMargin, in epoch
    // order.
    std::vector<TElementAnswer> answers;
    std::vector<float> margins;
    std::uint32_t classes = 0; // the network's outputs

    bool Perfect() const { return elements > 0 && correct == elements; }
};

// Trains the network on the training sequence, one epoch at a time.
class TPatternTrainer {
public:
    // One training step on one element: back-propagation (TrainBytes) or one
    // pass of stochastic trials (TrainStochastic). The answer comes from the
    // outputs the step left: for back-propagation the response before the
    // update, for the stochastic pass the response during its last trial.
    // A class without an output trains towards all zeros and is never
    // counted correct.
    TPatternAnswer Train(TNeuralNet& net, const TAbsImage& element, const TTrainingSettings& settings);

    // One epoch: trains on every element once, from the cursor round the
    // ring, calling onAnswer(answer) after each element; the cursor stays
    // where it is. Returns the epoch's report (valid until the next epoch);
    // an empty sequence trains nothing. Allocates only when the sequence has
    // grown.
    template <class OnAnswer>
    const TPatternEpochReport& RunEpoch(TNeuralNet& net, const PatternRing& ring,
                                        const TTrainingSettings& settings, OnAnswer&& onAnswer)
    {
        report_.elements = 0;
        report_.correct = 0;
        report_.totalError = 0.0;
        report_.classes = net.outputCount;
        const TRingElements elements = ring.Elements();
        if (report_.answers.size() < elements.size()) {
            report_.answers.resize(elements.size());
            report_.margins.resize(elements.size());
        }
        for (const TAbsImage& element : elements) {
            const TPatternAnswer answer = Train(net, element, settings);
            if (answer.correct)
                ++report_.correct;
            report_.totalError += AnswerError(net, answer.trueClass);
            report_.margins[report_.elements] = AnswerMargin(net, answer.trueClass);
            report_.answers[report_.elements++] = {answer.trueClass, answer.winner};
            onAnswer(answer);
        }
        return report_;
    }
    const TPatternEpochReport& RunEpoch(TNeuralNet& net, const PatternRing& ring, const TTrainingSettings& settings)
    {
        return RunEpoch(net, ring, settings, [](const TPatternAnswer&) {});
    }

    // The report of an epoch that trained nothing.
    const TPatternEpochReport& Skip()
    {
        report_.elements = report_.correct = 0;
        report_.totalError = 0.0;
        return report_;
    }

private:
    TPatternEpochReport report_;
    std::vector<std::int8_t> target_;
    std::vector<std::int8_t> input_;
};
