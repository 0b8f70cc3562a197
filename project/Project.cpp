#include "project/Project.h"

#include "engine/Random.h"

#include "project/SeriesMath.h"

#include <algorithm>
#include <cmath>
#include <utility>

void TProjectState::Swap(TProjectState& other) noexcept
{
    using std::swap;
    swap(net, other.net);
    sequence.Swap(other.sequence);
    swap(classNames, other.classNames);
    swap(retinaWidth, other.retinaWidth);
    swap(retinaHeight, other.retinaHeight);
    swap(series.count, other.series.count);
    swap(series.values, other.series.values);
    swap(seriesMin, other.seriesMin);
    swap(seriesMax, other.seriesMax);
    swap(windowSize, other.windowSize);
    swap(trainLength, other.trainLength);
    swap(fromFirstWindow, other.fromFirstWindow);
    swap(generator, other.generator);
}

TProjectListener::TProjectListener(TProject& project)
    : project_(project)
{
    project_.listeners_.push_back(this);
}

TProjectListener::~TProjectListener()
{
    auto& list = project_.listeners_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

void TProject::Notify(TProjectChange change)
{
    // A listener may come or go while the others are told: walk a copy, and
    // tell only those still listening.
    const std::vector<TProjectListener*> now = listeners_;
    for (TProjectListener* listener : now)
        if (std::find(listeners_.begin(), listeners_.end(), listener) != listeners_.end())
            listener->ProjectChanged(change);
}

TTrainingListener::TTrainingListener(TProject& project)
    : project_(project)
{
    project_.trainingListeners_.push_back(this);
}

TTrainingListener::~TTrainingListener()
{
    auto& list = project_.trainingListeners_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

void TProject::ReportEpoch(const TEpochReport& report)
{
    // By index and without a copy: nothing is allocated per epoch, and a
    // listener that goes while the others are told only shortens the walk.
    for (std::size_t i = 0; i < trainingListeners_.size(); ++i)
        trainingListeners_[i]->EpochTrained(report);
}

std::uint32_t RetinaSide(std::uint32_t elementSize)
{
    return static_cast<std::uint32_t>(std::sqrt(static_cast<double>(elementSize)));
}

std::string ProjectSizesRefusal(const TProjectSizes& sizes)
{
    const auto check = [](std::int32_t value, std::int32_t limit, const char* what) -> std::string {
        if (value >= 1 && value <= limit)
            return {};
        return std::string(what) + " должно быть от 1 до " + std::to_string(limit) + ", а не " +
               std::to_string(value) + ".";
    };
    for (std::string refusal : {check(sizes.elementSize, MaxElementSize, "Число клеток элемента"),
                                check(sizes.classCount, MaxClassCount, "Число классов"),
                                check(sizes.hiddenCount, MaxHiddenCount, "Число нейронов скрытого слоя")})
        if (!refusal.empty())
            return refusal;
    const auto inputs = static_cast<std::uint64_t>(sizes.elementSize);
    const auto hidden = static_cast<std::uint64_t>(sizes.hiddenCount);
    const auto outputs = static_cast<std::uint64_t>(sizes.classCount);
    const std::uint64_t weights = (inputs + 1) * hidden + (hidden + 1) * outputs;
    if (weights > MaxWeightCount)
        return "Сеть слишком велика: " + std::to_string(weights) + " весов, допустимо не более " +
               std::to_string(MaxWeightCount) + ".";
    return {};
}

void TProject::NewProject(const TProjectSizes& sizes)
{
    const auto inputs = static_cast<std::uint32_t>(sizes.elementSize);
    const auto classes = static_cast<std::uint32_t>(sizes.classCount);
    const auto hidden = static_cast<std::uint32_t>(sizes.hiddenCount);
    auto network = std::make_unique<TNeuralNet>(2, std::vector<std::uint32_t>{inputs, hidden, classes}, 0.68f,
                                                0.0f, 0.0f, 1.0f, 1.0f);
    std::vector<std::string> names;
    names.reserve(classes);
    for (std::uint32_t k = 0; k < classes; ++k)
        names.push_back(std::to_string(k)); // each class is named by its number until renamed

    sequence.Clear();
    sequence.SetDimension(inputs);
    const std::uint32_t side = RetinaSide(inputs);
    retinaWidth = static_cast<std::int32_t>(side);
    retinaHeight = static_cast<std::int32_t>(side);
    retina.Resize(side, side);
    classNames = std::move(names);
    net = std::move(network);

    Notify(TProjectChange::Sequence);
    Notify(TProjectChange::ClassNamesLaidOut);
    Notify(TProjectChange::Network);
}

const std::string& TProject::ClassName(std::size_t k) const
{
    static const std::string none;
    return k < classNames.size() ? classNames[k] : none;
}

void TProject::RenameClass(std::size_t k, const std::string& name)
{
    if (k < classNames.size())
        classNames[k] = name;
}

void TProject::SetLoadedClassNames(std::vector<std::string> names)
{
    classNames = std::move(names);
    Notify(TProjectChange::ClassNamesLoaded);
}

void TProject::ConfirmClassNames()
{
    Notify(TProjectChange::ClassList);
}

void TProject::ReplaceSequence(PatternRing& loaded)
{
    sequence.Swap(loaded);
    Notify(TProjectChange::Sequence);
}

void TProject::LoadSeries(TSeriesLoad& load, std::uint32_t newWindowSize, std::uint32_t newTrainLength)
{
    const auto count = static_cast<std::uint32_t>(std::max(load.count, 0));
    std::unique_ptr<float[]> values = std::move(load.values);
    ScaleSeries(values.get(), count, load.range);
    PatternRing windows;
    windows.SetDimension(newWindowSize);
    CutSeriesWindows(values.get(), count, newWindowSize, windows);
    auto network = std::make_unique<TNeuralNet>(2, std::vector<std::uint32_t>{newWindowSize, 2, 1}, 0.68f, 0.0f,
                                                0.0f, 1.0f, 1.0f);

    windowSize = newWindowSize;
    trainLength = newTrainLength;
    sequence.Swap(windows);
    net = std::move(network);
    series.values = std::move(values);
    series.count = load.count;
    seriesMin = load.range.min;
    seriesMax = load.range.max;
    Notify(TProjectChange::SeriesLoaded);
}

void TProject::ReloadSeries(TSeriesLoad& load)
{
    std::unique_ptr<float[]> values = std::move(load.values);
    ScaleSeries(values.get(), static_cast<std::size_t>(std::max(load.count, 0)), load.range);
    series.values = std::move(values);
    series.count = load.count;
    seriesMin = load.range.min;
    seriesMax = load.range.max;
    Notify(TProjectChange::SeriesReloaded);
}

bool TProject::SeriesNetworkInPlace() const
{
    return windowSize > 0 && net && !net->layers.empty() && net->layers[0].inputCount == windowSize &&
           net->outputCount == 1;
}

void TProject::Adopt(TProjectState& opened)
{
    Swap(opened);
    if (generator)
        SetRandomState(*generator);
    // The retina the windows sample onto takes the opened project's size.
    retina.Resize(static_cast<std::uint32_t>(std::max(retinaWidth, 0)),
                  static_cast<std::uint32_t>(std::max(retinaHeight, 0)));
    Notify(TProjectChange::Opened);
}
