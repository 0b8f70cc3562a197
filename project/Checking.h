#pragma once
// Checking a network on a sequence it was not trained on: how many elements
// it names right and which classes it confuses. The progress window's
// "Проверить на файле…", trelis-cli train --validation and evaluate all
// check through here.

#include "engine/NeuralNet.h"
#include "images/PatternRing.h"
#include "project/Confusion.h"

#include <cstdint>
#include <string>
#include <vector>

// Confusion matrices are kept for networks of at most this many outputs (a
// matrix takes 8 bytes per pair of classes); beyond, the counts and each
// element's answer only.
inline constexpr std::uint32_t MaxConfusionClasses = 1000;

struct TCheckReport {
    std::uint64_t total = 0;   // elements checked
    std::uint64_t right = 0;   // answered with their own class
    std::uint64_t outside = 0; // filed under a class the network has no output for (never right)
    // Each element's true class and answer, in the sequence's order from the
    // element after the cursor.
    std::vector<TElementAnswer> answers;
    // Each element's AnswerMargin, in the same order.
    std::vector<float> margins;
    // The matrix over the network's outputs; none (0 classes) beyond
    // MaxConfusionClasses.
    TConfusion confusion;
};

// Why the network cannot be checked on the sequence, as a clause that
// follows "…: " (no final period): no network, elements of another size
// than its inputs, or no elements. Empty when it can.
std::string CheckRefusal(const TNeuralNet* net, const PatternRing& sequence);

// Runs the network on every element. The network itself is left exactly as
// it was, its last outputs included.
TCheckReport CheckNetwork(const TNeuralNet& net, const PatternRing& sequence);
