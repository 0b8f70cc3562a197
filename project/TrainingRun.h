#pragma once
// One training run on the patterns, for every front end: the learning
// window's "Пуск", trelis-cli train and every run of trelis-cli tune go
// through here. A run trains epoch after epoch, checks the network on a
// held-out sequence after each one when it has one, keeps the weights of the
// best epoch on that check, and tells after each epoch whether one of its
// stop rules (TRunSettings) says to stop.

#include "engine/NeuralNet.h"
#include "project/Checking.h"
#include "project/Learning.h"
#include "project/RunSettings.h"
#include "project/TextFiles.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class TProject;

// The stop rules and the best weights, whatever trains the epochs.
class TRunRules {
public:
    TRunRules(const TRunSettings& settings, bool checking);

    // Called after each epoch with its figures (epoch number, counts and
    // check already filled in) and the network as the epoch left it: marks
    // the best epoch on the check (keeping a copy of its weights when they
    // are to be kept) and sets epoch.stop.
    void After(TRunEpoch& epoch, const TNeuralNet& net);

    // The weights of the best epoch on the check; null when there is no
    // check, keepBest is off, or they were taken already.
    std::unique_ptr<TNeuralNet> TakeBest() { return std::move(bestNet_); }
    std::uint64_t BestEpoch() const { return bestEpoch_; }
    std::uint64_t BestRight() const { return bestRight_; }
    // The last epoch that reached the best count (the best epoch itself
    // unless a later one equalled it).
    std::uint64_t LastBestEpoch() const { return lastBestEpoch_; }

private:
    TRunSettings settings_;
    bool checking_ = false;
    std::int64_t watchedBest_ = -1; // the count patience watches
    std::uint64_t withoutImprovement_ = 0;
    std::uint64_t bestEpoch_ = 0;
    std::uint64_t lastBestEpoch_ = 0;
    std::uint64_t bestRight_ = 0;
    bool anyChecked_ = false;
    std::unique_ptr<TNeuralNet> bestNet_;
};

// A held-out sequence whose classes are matched to a project's by name.
struct THeldOutSet {
    TSequenceWithNames file;
    TClassMap classes;
};

// Loads the sequence at `path` with its names for checking the network of
// classes `names` on it. Empty on success, otherwise the refusal, naming
// the file.
std::string LoadHeldOut(const std::string& path, const TNeuralNet* net, const std::vector<std::string>& names,
                        THeldOutSet& set);

// The same elements as a held-out set of the project's own classes (a part
// split off the training sequence): every class is its own.
void OwnClassesHeldOut(std::uint32_t classes, THeldOutSet& set);

// Makes `project` a new project for a loaded sequence: as many inputs as
// its element size, `hidden` hidden neurons, as many outputs as it has
// classes (named or filed under), the initial weights from `seed` or the
// clock; the sequence and its names are taken over (classes without a name
// are named by their numbers), and the fit is recorded. Empty on success,
// otherwise the refusal.
std::string NewProjectForSequence(TProject& project, TSequenceWithNames& loaded, std::uint64_t hidden,
                                  std::optional<std::uint64_t> seed, TFigureFit fit);

// A run on the project's network and sequence: each epoch is the project's
// (TProject::TrainEpoch, every training listener is told), then the check.
class TTrainingRun {
public:
    // `heldOut`, when given, must outlive the run.
    TTrainingRun(TProject& project, const TRunSettings& settings, const THeldOutSet* heldOut = nullptr);

    // One epoch; onAnswer, when given, is told after each element.
    const TRunEpoch& Epoch(const std::function<void(const TPatternAnswer&)>& onAnswer = {});

    // Ends the run: with a check and keepBest, the best epoch's weights
    // become the project's network. True when they did (they differ from
    // the last epoch's).
    bool Finish();

    const TRunEpoch& Last() const { return last_; }
    const TRunRules& Rules() const { return rules_; }
    // The last held-out check in full; empty before one.
    const TCheckReport& LastCheck() const { return check_; }

private:
    TProject& project_;
    TRunSettings settings_;
    const THeldOutSet* heldOut_ = nullptr;
    TRunRules rules_;
    TRunEpoch last_;
    TCheckReport check_;
};

// A run on a network and a sequence of one's own, with no project and no
// listener: the same rules, for searches that train many networks at once
// (each on its own thread). The ring's cursor goes round each epoch and is
// left where it was.
class TDetachedRun {
public:
    TDetachedRun(TNeuralNet& net, PatternRing& ring, const TRunSettings& settings,
                 const THeldOutSet* heldOut = nullptr);
    const TRunEpoch& Epoch();
    // As TTrainingRun::Finish, for the run's own network.
    bool Finish();
    const TRunEpoch& Last() const { return last_; }
    const TRunRules& Rules() const { return rules_; }

private:
    TNeuralNet& net_;
    PatternRing& ring_;
    TRunSettings settings_;
    const THeldOutSet* heldOut_ = nullptr;
    TRunRules rules_;
    TPatternTrainer trainer_;
    TRunEpoch last_;
};
