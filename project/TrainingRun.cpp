#include "project/TrainingRun.h"

#include "project/Project.h"

#include <algorithm>
#include <climits>
#include <new>
#include <numeric>

TRunRules::TRunRules(const TRunSettings& settings, bool checking)
    : settings_(settings),
      checking_(checking)
{
}

void TRunRules::After(TRunEpoch& epoch, const TNeuralNet& net)
{
    std::int64_t watched = epoch.correct;
    epoch.best = false;
    if (checking_ && epoch.checked) {
        watched = static_cast<std::int64_t>(epoch.heldOutRight);
        // The first epoch of the best count is kept.
        if (!anyChecked_ || epoch.heldOutRight > bestRight_) {
            anyChecked_ = true;
            bestRight_ = epoch.heldOutRight;
            bestEpoch_ = epoch.epoch;
            epoch.best = true;
            if (settings_.keepBest)
                bestNet_ = std::make_unique<TNeuralNet>(net);
        }
        if (epoch.heldOutRight == bestRight_)
            lastBestEpoch_ = epoch.epoch;
    }
    epoch.stop = TRunStop::None;
    if (epoch.elements > 0 && epoch.correct == epoch.elements && !settings_.keepGoing)
        epoch.stop = TRunStop::Perfect;
    else if (settings_.targetAccuracy &&
             static_cast<double>(epoch.correct) >= *settings_.targetAccuracy * epoch.elements)
        epoch.stop = TRunStop::Target;
    if (epoch.stop != TRunStop::None)
        return;
    if (watched > watchedBest_) {
        watchedBest_ = watched;
        withoutImprovement_ = 0;
    } else if (settings_.patience > 0 && ++withoutImprovement_ >= settings_.patience) {
        epoch.stop = TRunStop::Patience;
        return;
    }
    if (settings_.maxEpochs > 0 && epoch.epoch >= settings_.maxEpochs)
        epoch.stop = TRunStop::EpochLimit;
}

std::string LoadHeldOut(const std::string& path, const TNeuralNet* net, const std::vector<std::string>& names,
                        THeldOutSet& set)
{
    if (const std::string reason = LoadSequenceWithNames(path, set.file); !reason.empty())
        return "не удалось загрузить последовательность из файла «" + path + "»: " + reason;
    if (const std::string reason = CheckRefusal(net, names, set.file, set.classes); !reason.empty())
        return "последовательность «" + path + "» не подходит: " + reason;
    return {};
}

void OwnClassesHeldOut(std::uint32_t classes, THeldOutSet& set)
{
    set.classes.projectClass.resize(classes);
    std::iota(set.classes.projectClass.begin(), set.classes.projectClass.end(), 0);
}

namespace {

// Fills the epoch's figures from its report and the check, then applies the rules.
void CloseEpoch(TRunEpoch& epoch, const TPatternEpochReport& report, const THeldOutSet* heldOut,
                const TNeuralNet& net, TRunRules& rules, TCheckReport* keep)
{
    ++epoch.epoch;
    epoch.elements = report.elements;
    epoch.correct = report.correct;
    epoch.totalError = report.totalError;
    epoch.checked = heldOut != nullptr;
    if (heldOut) {
        TCheckReport check = CheckNetwork(net, heldOut->file, heldOut->classes);
        epoch.heldOutRight = check.right;
        epoch.heldOutTotal = check.total;
        if (keep)
            *keep = std::move(check);
    }
    rules.After(epoch, net);
}

} // namespace

std::string NewProjectForSequence(TProject& project, TSequenceWithNames& loaded, std::uint64_t hidden,
                                  std::optional<std::uint64_t> seed, TFigureFit fit)
{
    if (loaded.sequence.GetCount() == 0)
        return "в последовательности нет элементов";
    std::int64_t classCount = static_cast<std::int64_t>(loaded.names.size());
    for (const TAbsImage& e : loaded.sequence.Elements()) {
        if (e.ClassIndex < 0)
            return "в последовательности есть элементы с отрицательным номером класса";
        classCount = std::max<std::int64_t>(classCount, std::int64_t{e.ClassIndex} + 1);
    }
    TProjectSizes sizes;
    sizes.elementSize = static_cast<std::int32_t>(std::min<std::uint64_t>(loaded.sequence.GetDimension(), INT32_MAX));
    sizes.classCount = static_cast<std::int32_t>(std::min<std::int64_t>(classCount, INT32_MAX));
    sizes.hiddenCount = static_cast<std::int32_t>(std::min<std::uint64_t>(hidden, INT32_MAX));
    if (const std::string refusal = ProjectSizesRefusal(sizes); !refusal.empty())
        return "сеть для этой последовательности построить нельзя: " + refusal;
    try {
        project.NewProject(sizes, seed);
    } catch (const std::bad_alloc&) {
        return "сеть не помещается в памяти";
    }
    for (std::size_t k = loaded.names.size(); k < static_cast<std::size_t>(sizes.classCount); ++k)
        loaded.names.push_back(std::to_string(k));
    project.TakeSequence(loaded);
    project.SetFigureFit(fit);
    return {};
}

TTrainingRun::TTrainingRun(TProject& project, const TRunSettings& settings, const THeldOutSet* heldOut)
    : project_(project),
      settings_(settings),
      heldOut_(heldOut),
      rules_(settings, heldOut != nullptr)
{
}

const TRunEpoch& TTrainingRun::Epoch(const std::function<void(const TPatternAnswer&)>& onAnswer)
{
    const TPatternEpochReport& report = project_.TrainEpoch(settings_.step, onAnswer);
    if (!project_.Net())
        return last_;
    CloseEpoch(last_, report, heldOut_, *project_.Net(), rules_, &check_);
    if (last_.checked)
        project_.ReportCheck(last_);
    return last_;
}

bool TTrainingRun::Finish()
{
    std::unique_ptr<TNeuralNet> best = rules_.TakeBest();
    if (!best || rules_.BestEpoch() == last_.epoch)
        return false;
    project_.PutBackWeights(std::move(best));
    return true;
}

TDetachedRun::TDetachedRun(TNeuralNet& net, PatternRing& ring, const TRunSettings& settings,
                           const THeldOutSet* heldOut)
    : net_(net),
      ring_(ring),
      settings_(settings),
      heldOut_(heldOut),
      rules_(settings, heldOut != nullptr)
{
}

const TRunEpoch& TDetachedRun::Epoch()
{
    const TPatternEpochReport& report = trainer_.RunEpoch(net_, ring_, settings_.step);
    CloseEpoch(last_, report, heldOut_, net_, rules_, nullptr);
    return last_;
}

bool TDetachedRun::Finish()
{
    std::unique_ptr<TNeuralNet> best = rules_.TakeBest();
    if (!best || rules_.BestEpoch() == last_.epoch)
        return false;
    net_ = std::move(*best);
    return true;
}
