#pragma once
// The settings of a training run on the patterns: how each element trains,
// when the run stops, what it checks after each epoch, and where a new
// network's weights come from. The defaults are the learning window's own
// behaviour: back-propagation at rate 0.1 without momentum, until the first
// epoch that answers every element right, with no limit and no check.

#include "project/Learning.h"

#include <cstdint>
#include <optional>
#include <string>

struct TRunSettings {
    TTrainingSettings step;               // method, rate, momentum, step width
    std::uint64_t maxEpochs = 0;          // at most this many epochs; 0: no limit
    bool keepGoing = false;               // on past a perfect epoch ("Продолжать принудительно")
    std::optional<double> targetAccuracy; // stop after an epoch with at least this share right
    // Stop after this many epochs in a row without more right answers than
    // the best before (on the held-out sequence when there is one); 0: never.
    std::uint64_t patience = 0;
    std::string heldOutPath;              // a sequence checked after each epoch; empty: none
    bool keepBest = true;                 // with a check: the best epoch's weights at the end
    std::optional<std::uint64_t> seed;    // a new network's initial weights; none: the clock

    bool operator==(const TRunSettings&) const = default;
};

// Why a run stopped after an epoch.
enum class TRunStop {
    None,       // it goes on
    Perfect,    // every element right, and not told to keep going
    Target,     // the share of right answers reached targetAccuracy
    Patience,   // patience epochs without improvement
    EpochLimit, // maxEpochs epochs run
};

// What a run made of one epoch.
struct TRunEpoch {
    std::uint64_t epoch = 0;      // from 1
    std::uint32_t elements = 0;   // elements trained
    std::uint32_t correct = 0;    // of them, answered right
    double totalError = 0.0;      // TPatternEpochReport::totalError
    bool checked = false;         // a held-out check ran after the epoch
    std::uint64_t heldOutRight = 0;
    std::uint64_t heldOutTotal = 0;
    bool best = false;            // the best epoch so far on the check (its weights are kept)
    TRunStop stop = TRunStop::None;
};
