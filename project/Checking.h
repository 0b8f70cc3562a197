#pragma once
// Checking a network on a sequence it was not trained on: how many elements
// it names right and which classes it confuses. The progress window's
// "Проверить на файле…", trelis-cli train --validation and evaluate all
// check through here.
//
// The file's classes meet the project's by name, not by number: a folder of
// held-out pictures that lacks a class is numbered differently when it is
// imported, and its elements still count under their own classes. Elements
// of a class the project does not have are counted apart.

#include "engine/NeuralNet.h"
#include "images/PatternRing.h"
#include "project/Confusion.h"
#include "project/TextFiles.h"

#include <cstdint>
#include <string>
#include <vector>

// Confusion matrices are kept for networks of at most this many outputs (a
// matrix takes 8 bytes per pair of classes); beyond, the counts and each
// element's answer only.
inline constexpr std::uint32_t MaxConfusionClasses = 1000;

// How the classes of a file meet the project's.
struct TClassMap {
    // The project's class of each of the file's classes (by the file's class
    // number); -1 where the project has no class of that name.
    std::vector<std::int32_t> projectClass;
};

// A class of the file the project does not have, and its elements.
struct TApartClass {
    std::string name; // the file's name of it, or how it is filed when it has none
    std::uint64_t elements = 0;
};

struct TCheckReport {
    std::uint64_t total = 0;   // elements checked: those of a class the project has
    std::uint64_t right = 0;   // answered with their own class
    std::uint64_t outside = 0; // of a project's class the network has no output for (never right)
    // Elements not checked because the project has no class of their name
    // (or they have no name in the file), by class in the file's order.
    std::uint64_t apart = 0;
    std::vector<TApartClass> apartClasses;
    // Each element's class (the project's number) and answer, in the
    // sequence's order from the element after the cursor; an element set
    // apart is there as class -1 with answer 0, unchecked.
    std::vector<TElementAnswer> answers;
    // Each element's AnswerMargin, in the same order.
    std::vector<float> margins;
    // The matrix over the network's outputs; none (0 classes) beyond
    // MaxConfusionClasses.
    TConfusion confusion;
};

// Why the network cannot be checked on the file, as a clause that follows
// "…: " (no final period): no network, elements of another size than its
// inputs, no elements, no names file beside the sequence, or not one class
// name the project has. Empty when it can, and `map` then tells how the
// file's classes are the project's: a name matches the project's name as a
// names file stores it (blanks as '_', an empty name as its class number).
std::string CheckRefusal(const TNeuralNet* net, const std::vector<std::string>& projectNames,
                         const TSequenceWithNames& file, TClassMap& map);

// Runs the network on every element of the file whose class the project has
// (`map`, from CheckRefusal). The network itself is left exactly as it was,
// its last outputs included.
TCheckReport CheckNetwork(const TNeuralNet& net, const TSequenceWithNames& file, const TClassMap& map);
