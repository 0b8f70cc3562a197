#pragma once
// The history of training that "Ход обучения" shows: it follows the epochs
// of the learning window and of the series window through the project and
// keeps their figures (the learning curve in bounded memory), the answers
// of the last pattern epoch and their confusion matrix, the check on a
// held-out file done on demand, and for a series the held-out errors of the
// network beside the naive and autoregressive yardsticks. It writes the
// figures as CSV. Plain C++: the window only draws what it holds.
//
// A new network, a new series or an opened project starts a new history.

#include "images/PatternRing.h"
#include "project/Confusion.h"
#include "project/EpochHistory.h"
#include "project/Project.h"
#include "project/SeriesHeldOut.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class TTrainingHistory : private TProjectListener, private TTrainingListener {
public:
    explicit TTrainingHistory(TProject& project);

    // The figures each history point carries.
    enum PatternValue { Correct = 0, TotalError = 1, Elements = 2 };
    enum SeriesValue { MaxError = 0, MinError = 1 };
    enum HeldOutValue { OneStep = 0, ClosedLoop = 1 };
    // The figures of a training run's held-out check of an epoch: the share
    // right in elements of the training sequence (drawn on the scale of the
    // right answers), the elements right and those checked.
    enum CheckValue { CheckShown = 0, CheckRight = 1, CheckTotal = 2 };

    // The curve shown: that of the window that trained last.
    enum class TSource { Patterns, Series };

    // The last pattern epoch: each element's class and answer and its
    // AnswerMargin, in epoch order; the network's output count then, and the
    // mark of the epoch's first element.
    struct TLastEpoch {
        std::vector<TElementAnswer> answers;
        std::vector<float> margins;
        std::uint32_t classes = 0;
        TSequenceMark mark;
    };

    // The held-out file checked last: its elements of the project's classes,
    // those answered right, the matrix; the file's elements with their
    // answers and margins, from the element after its cursor; and the
    // elements of classes the project lacks, with those classes.
    struct TFileCheck {
        std::string file; // the file's name as shown
        std::uint64_t total = 0;
        std::uint64_t right = 0;
        TConfusion confusion;
        PatternRing sequence;
        std::vector<TElementAnswer> answers;
        std::vector<float> margins;
        std::uint64_t apart = 0;
        std::string apartNames; // "name — elements", comma separated
    };

    // Who is told, after the fact, that something new arrived: an epoch, a
    // check, held-out figures, the yardsticks, or a new history begun. One
    // at a time; an empty function tells no one.
    void Subscribe(std::function<void()> changed) { changed_ = std::move(changed); }

    TSource Source() const { return source_; }
    const TEpochHistory& Patterns() const { return patterns_; } // Correct, TotalError, Elements
    const TEpochHistory& Series() const { return series_; }     // MaxError, MinError, in the file's units
    const TEpochHistory& HeldOut() const { return heldOut_; }   // OneStep, ClosedLoop, in the file's units
    const TEpochHistory& Checks() const { return checks_; }     // CheckValue, by pattern epoch
    // Epochs since the history began.
    std::uint64_t PatternEpochs() const { return patternEpochs_; }
    std::uint64_t SeriesEpochs() const { return seriesEpochs_; }

    const TLastEpoch& LastEpoch() const { return last_; }
    // The confusion matrix of the last pattern epoch; none (0 classes) for a
    // network of more than MaxConfusionClasses outputs.
    const TConfusion& TrainingConfusion() const;

    // The held-out file checked last; null before one.
    const TFileCheck* FileCheck() const { return checked_ ? &check_ : nullptr; }
    // Checks the network on the sequence file at `path` (with its names file
    // beside it) on a copy of the network: the network and the training
    // sequence stay as they are. The check is kept under the name `shown`.
    // Empty on success, otherwise why the file cannot be checked, as a
    // clause that follows "…: ", and the check kept before stays.
    std::string CheckOnFile(const std::string& path, const std::string& shown);

    // The elements a set of answers is of, in the answers' order: those of
    // the last epoch from its first element, or those of the file checked.
    // None when the sequence changed since.
    std::optional<std::vector<const TAbsImage*>> AnsweredElements(bool training) const;

    // For a series: the network's held-out errors now, as of the last epoch,
    // unless that epoch already has them, and the yardsticks once they are
    // ready. Whoever shows them calls this: the held-out errors are computed
    // once for each state of the weights (the series window's picture shares
    // them), the yardsticks are made aside.
    void CatchUp();
    // The series' yardsticks; null until they are ready.
    const TSeriesBaselines* Baselines() const { return baselinesReady_ ? &baselines_ : nullptr; }
    // The epoch of the lowest closed-loop error so far (0 before one) and
    // that error (NaN before one).
    std::uint64_t BestEpoch() const { return bestEpoch_; }
    double BestClosedLoop() const { return bestClosedLoop_; }

    // The CSV texts: the history of the curve shown, and the confusion
    // matrices of the last epoch and of the file checked.
    std::string HistoryCsv() const;
    std::string ConfusionCsv() const;

private:
    void ProjectChanged(TProjectChange change) override;
    void PatternEpochTrained(const TPatternEpochReport& report) override;
    void HeldOutChecked(const TRunEpoch& epoch) override;
    void SeriesEpochTrained(const TSeriesEpochReport& report) override;

    // Forgets every figure: a new history begins.
    void Start();
    void Changed();
    void EvaluateHeldOut();
    void AdvanceBaselines();
    std::string PatternCsv() const;
    std::string SeriesCsv() const;

    TProject& project_;
    std::function<void()> changed_;
    TSource source_ = TSource::Patterns;
    TEpochHistory patterns_;
    TEpochHistory series_;
    TEpochHistory heldOut_;
    TEpochHistory checks_;
    std::uint64_t patternEpochs_ = 0;
    std::uint64_t seriesEpochs_ = 0;
    TLastEpoch last_;
    // Counted from the last epoch's answers when first asked for.
    mutable TConfusion trainingConfusion_;
    mutable bool confusionReady_ = false;
    bool checked_ = false;
    TFileCheck check_;
    TSeriesBaselines baselines_;
    bool baselinesReady_ = false;
    std::uint64_t bestEpoch_ = 0;
    double bestClosedLoop_ = 0.0;
};
