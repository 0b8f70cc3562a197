#pragma once
// The search for a network's settings on a training sequence (trelis-cli
// tune and "Подбор параметров…"): a held-out part is split off the sequence
// class by class, every setting of a plan is trained from several seeds with
// early stopping on that part, and the setting of the best mean held-out
// accuracy wins. The plan is made from the sequence's size and the seed
// alone, never from the time things take: the same sequence, seed and
// options give the same runs, each one bit-exact on one thread, and so the
// same result whatever the number of threads.

#include "engine/NeuralNet.h"
#include "images/PatternRing.h"
#include "project/RunSettings.h"
#include "project/TrainingRun.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// One setting the search tries.
struct TTuneSetting {
    std::uint32_t hidden = 25; // neurons of the hidden layer
    float rate = 0.1f;         // back-propagation's learning rate
    float momentum = 0.0f;

    bool operator==(const TTuneSetting&) const = default;
};

struct TTunePlan {
    std::vector<TTuneSetting> settings;
    std::vector<std::uint64_t> seeds; // the initial weights of each setting's runs
    std::uint64_t maxEpochs = 0;      // of one run
    std::uint64_t patience = 0;       // epochs without a better held-out count
};

// The default plan for a training part of `elements` elements of `inputs`
// cells: hidden sizes, rates and momenta, three seeds from `seed` on, and an
// epoch limit that keeps the search's work (multiply-adds) near a fixed
// budget: about a minute on two cores for 6,400 pictures of 784 cells.
TTunePlan PlanTuning(std::uint32_t elements, std::uint32_t inputs, std::uint64_t seed);

// Splits the sequence class by class: of each class's n elements (in the
// order of the file, from the element after the cursor), round(n * fraction)
// chosen by a shuffle from `seed` go to `heldOut`, at least one when n >= 2
// and never all of them; the rest go to `train`, both in the file's order.
// Elements filed under no class stay in `train`.
void SplitHeldOut(const PatternRing& all, double fraction, std::uint64_t seed, PatternRing& train,
                  PatternRing& heldOut);

// A copy of the ring, in its order from the element after the cursor, the
// copy's cursor on the last one (as a file is read).
void CopyRing(const PatternRing& from, PatternRing& to);

// One run of the search.
struct TTuneRun {
    std::size_t setting = 0;
    std::uint64_t seed = 0;
    std::uint64_t right = 0;     // held-out elements answered right at the best epoch
    std::uint64_t total = 0;
    std::uint64_t epochs = 0;    // epochs trained
    std::uint64_t bestEpoch = 0;
    std::uint64_t lastBestEpoch = 0; // the last epoch that equalled the best count
    double seconds = 0.0;
    bool cut = false;            // stopped by the time limit or by the user
};

// A setting with its runs done.
struct TTuneRow {
    std::size_t setting = 0;
    TTuneSetting values;
    std::vector<TTuneRun> runs;
    double mean = 0.0;   // held-out accuracy over the runs
    double spread = 0.0; // its standard deviation
    double epochs = 0.0; // mean epochs trained
    double seconds = 0.0; // summed over the runs
};

struct TTuneResult {
    std::vector<TTuneRow> rows; // in the plan's order, each with at least one run done
    bool cut = false;           // the plan was not run to its end
    std::optional<std::size_t> best;     // index into rows
    std::uint64_t bestSeed = 0;          // the best row's best run
    std::uint64_t bestEpoch = 0;         // its best epoch on the check
    std::uint64_t lastBestEpoch = 0;     // the last epoch that equalled it
    std::unique_ptr<TNeuralNet> bestNet; // its weights at that epoch
};

// The best setting trained again on the whole sequence (the training part
// and the held-out part together), from the best run's seed, for as many
// epochs as that run's best epoch: the network the search hands over when
// its check was a part split off the sequence (pass the last epoch that
// reached the best count: a small sequence is often all right on the check
// from an early epoch on, and more epochs then do no harm). Runs on the
// calling thread;
// `stop` is asked after each epoch.
std::unique_ptr<TNeuralNet> RefitBest(const PatternRing& all, std::uint32_t classes, const TTuneSetting& setting,
                                      std::uint64_t seed, std::uint64_t epochs, const std::function<bool()>& stop);

// Runs the plan: `jobs` threads train the runs (each run is one thread's);
// onRow is told on the calling thread, in the plan's order, as each
// setting's runs are all done. `stop` is polled by the calling thread about
// ten times a second; once it says yes, every run stops after its epoch and
// the result holds what was done (cut). The training part and the held-out
// set must have the same element size; `classes` is the networks' outputs.
TTuneResult RunTuning(const PatternRing& train, const THeldOutSet& heldOut, std::uint32_t classes,
                      const TTunePlan& plan, unsigned jobs, const std::function<void(const TTuneRow&)>& onRow,
                      const std::function<bool()>& stop);

// The whole search on a training sequence, as trelis-cli tune and "Подбор
// параметров…" run it: the check made ready (a part of each class split off
// from the seed, or a file given), the plan, the runs, and the network to
// hand over: the best setting trained again on the whole sequence when the
// check was a split-off part and the search ran to its end (RefitBest),
// otherwise the best run's network at its best epoch.
class TTuneSearch {
public:
    // `all` is copied (for the training part, and whole for the refit);
    // `validation`, when given, must outlive the search.
    TTuneSearch(const PatternRing& all, const std::vector<std::string>& names, std::uint32_t classes,
                double holdOut, std::uint64_t seed, const THeldOutSet* validation = nullptr);

    // Why the search cannot run (too few elements to split a part off);
    // empty when it can.
    const std::string& Refusal() const { return refusal_; }
    const TTunePlan& Plan() const { return plan_; }
    std::uint32_t TrainCount() const { return train_.GetCount(); }
    std::uint32_t CheckCount() const { return check_->file.sequence.GetCount(); }

    // Runs the plan (RunTuning), then makes the network to hand over; stop
    // is asked during the refit too. Safe on a thread of its own.
    const TTuneResult& Run(unsigned jobs, const std::function<void(const TTuneRow&)>& onRow,
                           const std::function<bool()>& stop);
    const TTuneResult& Result() const { return result_; }
    // Whether the network was trained again on the whole sequence, and for
    // how many epochs.
    bool Refitted() const { return refitted_; }
    std::uint64_t RefitEpochs() const { return result_.lastBestEpoch; }
    // The network to hand over; null before Run, after a search that
    // finished no run, or once taken.
    std::unique_ptr<TNeuralNet> TakeNetwork() { return std::move(network_); }
    bool HasNetwork() const { return network_ != nullptr; }

private:
    PatternRing all_; // the whole sequence, for the refit; empty with a validation file
    PatternRing train_;
    THeldOutSet ownCheck_;
    const THeldOutSet* check_ = nullptr;
    std::uint32_t classes_ = 0;
    TTunePlan plan_;
    std::string refusal_;
    TTuneResult result_;
    bool refitted_ = false;
    std::unique_ptr<TNeuralNet> network_;
};
