#include "project/Project.h"

#include "engine/Random.h"

#include "project/ProjectFile.h"
#include "project/SeriesMath.h"
#include "project/TextFiles.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <mutex>
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
    swap(fit, other.fit);
    swap(seed, other.seed);
    swap(training, other.training);
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

TProjectFigures ProjectFigures(const TProjectState& state)
{
    TProjectFigures f;
    f.dimension = state.sequence.GetDimension();
    f.length = state.sequence.GetCount();
    f.sequenceMemory = (f.dimension + 4) * f.length;
    f.retinaWidth = state.retinaWidth;
    f.retinaHeight = state.retinaHeight;
    if (state.net) {
        for (const TLayer& layer : state.net->layers) {
            f.neurons += layer.neuronCount;
            f.connections += std::int64_t{layer.inputCount} * layer.neuronCount;
            f.outputs = layer.neuronCount;
        }
        f.layers = state.net->layerCount;
    }
    f.networkMemory = 4 * f.connections;
    return f;
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

void TProject::Changed()
{
    if (unsaved_)
        return;
    unsaved_ = true;
    Notify(TProjectChange::SaveState);
}

void TProject::StartWithPlaceholder()
{
    state_.net = std::make_unique<TNeuralNet>(1, std::vector<std::uint32_t>{1, 1}, 0.68f, 0.0f, 1.0f, 0.0f, 1.0f);
    state_.series.count = 0;
    state_.series.values = std::make_unique<float[]>(1);
    ++weights_;
    Notify(TProjectChange::Network);
}

std::unique_ptr<TNeuralNet> NewPatternNetwork(const std::vector<std::uint32_t>& sizes, std::uint64_t seed)
{
    // The layers seed the one generator from the seeding clock: pinned to
    // the seed while they are built, one network at a time.
    static std::mutex building;
    const std::lock_guard<std::mutex> lock(building);
    SetSeedClock([seed] { return static_cast<std::time_t>(seed); });
    try {
        auto network = std::make_unique<TNeuralNet>(static_cast<std::uint32_t>(sizes.size() - 1), sizes, 0.68f,
                                                    0.0f, 0.0f, 1.0f, 1.0f);
        SetSeedClock({});
        return network;
    } catch (...) {
        SetSeedClock({});
        throw;
    }
}

void TProject::NewProject(const TProjectSizes& sizes, std::optional<std::uint64_t> seed)
{
    const auto inputs = static_cast<std::uint32_t>(sizes.elementSize);
    const auto classes = static_cast<std::uint32_t>(sizes.classCount);
    const auto hidden = static_cast<std::uint32_t>(sizes.hiddenCount);
    const std::uint64_t drawn = seed ? *seed : static_cast<std::uint64_t>(SeedClockNow());
    auto network = NewPatternNetwork({inputs, hidden, classes}, drawn);
    std::vector<std::string> names;
    names.reserve(classes);
    for (std::uint32_t k = 0; k < classes; ++k)
        names.push_back(std::to_string(k)); // each class is named by its number until renamed

    state_.sequence.Clear();
    state_.sequence.SetDimension(inputs);
    SequenceEdited();
    const std::uint32_t side = RetinaSide(inputs);
    state_.retinaWidth = static_cast<std::int32_t>(side);
    state_.retinaHeight = static_cast<std::int32_t>(side);
    retina.Resize(side, side);
    state_.classNames = std::move(names);
    state_.net = std::move(network);
    state_.seed = drawn;
    const bool fitChanged = state_.fit != TFigureFit::Stretch;
    state_.fit = TFigureFit::Stretch;
    const bool settingsChanged = !(state_.training == TRunSettings{});
    state_.training = {};
    ++weights_;

    Notify(TProjectChange::Sequence);
    if (fitChanged)
        Notify(TProjectChange::FigureFit);
    if (settingsChanged)
        Notify(TProjectChange::RunSettings);
    Notify(TProjectChange::ClassNamesLaidOut);
    Notify(TProjectChange::Network);
    // A new project has no file yet.
    fileName_.clear();
    unsaved_ = true;
    Notify(TProjectChange::SaveState);
}

void TProject::ReplaceNetwork(std::unique_ptr<TNeuralNet> net, std::optional<std::uint64_t> seed)
{
    state_.net = std::move(net);
    if (seed)
        state_.seed = seed;
    ++weights_;
    Notify(TProjectChange::Network);
    Changed();
}

void TProject::ReseedNetwork(std::uint64_t seed)
{
    if (!state_.net || state_.net->layerCount == 0)
        return;
    std::vector<std::uint32_t> sizes{state_.net->layers[0].inputCount};
    for (const TLayer& layer : state_.net->layers)
        sizes.push_back(layer.neuronCount);
    std::unique_ptr<TNeuralNet> net = NewPatternNetwork(sizes, seed);
    // A series network scales its float inputs and targets: that stays.
    net->inputOffset = state_.net->inputOffset;
    net->targetOffset = state_.net->targetOffset;
    net->inputScale = state_.net->inputScale;
    net->targetScale = state_.net->targetScale;
    ReplaceNetwork(std::move(net), seed);
}

void TProject::PutBackWeights(std::unique_ptr<TNeuralNet> net)
{
    state_.net = std::move(net);
    ++weights_;
    Notify(TProjectChange::BestWeights);
    Changed();
}

template <class T>
void TProject::SetSaved(T& member, const T& value, TProjectChange change)
{
    if (member == value)
        return;
    member = value;
    Notify(change);
    Changed();
}

void TProject::SetFigureFit(TFigureFit fit)
{
    SetSaved(state_.fit, fit, TProjectChange::FigureFit);
}

void TProject::SetRunSettings(const TRunSettings& settings)
{
    SetSaved(state_.training, settings, TProjectChange::RunSettings);
}

void TProject::ReportCheck(const TRunEpoch& epoch)
{
    for (std::size_t i = 0; i < trainingListeners_.size(); ++i)
        trainingListeners_[i]->HeldOutChecked(epoch);
}

const std::string& TProject::ClassName(std::size_t k) const
{
    static const std::string none;
    return k < state_.classNames.size() ? state_.classNames[k] : none;
}

void TProject::AddSample(const TAbsImage& image, std::int32_t classIndex)
{
    state_.sequence.Add(image, classIndex);
    SequenceEdited();
    Notify(TProjectChange::SampleAdded);
    Changed();
}

void TProject::RemoveCurrentSample()
{
    if (state_.sequence.GetCount() == 0)
        return;
    state_.sequence.RemoveCurrent();
    SequenceEdited();
    Notify(TProjectChange::SampleRemoved);
    Changed();
}

const TAbsImage* TProject::StepCursor()
{
    return state_.sequence.StepCursor();
}

TSequenceMark TProject::CursorMark() const
{
    TSequenceMark mark;
    mark.edition_ = sequenceEdition_;
    mark.element_ = state_.sequence.CurrentElement();
    return mark;
}

const TAbsImage* TProject::Marked(const TSequenceMark& mark, std::uint32_t steps) const
{
    const PatternRing& ring = state_.sequence;
    if (mark.edition_ != sequenceEdition_ || mark.element_ == nullptr || ring.GetCount() == 0)
        return nullptr;
    return &*std::next(ring.ElementsFrom(*mark.element_).begin(), steps % ring.GetCount());
}

const TAbsImage* TProject::MarkedElement(const TSequenceMark& mark, std::uint32_t steps) const
{
    return Marked(mark, steps);
}

bool TProject::MoveCursorTo(const TSequenceMark& mark, std::uint32_t steps)
{
    const TAbsImage* const e = Marked(mark, steps);
    if (e == nullptr)
        return false;
    state_.sequence.MoveCursorTo(*e);
    return true;
}

void TProject::ReplaceSequence(PatternRing& loaded)
{
    state_.sequence.Swap(loaded);
    SequenceEdited();
    Notify(TProjectChange::Sequence);
    Changed();
}

void TProject::TakeSequence(TSequenceWithNames& loaded)
{
    ReplaceSequence(loaded.sequence);
    SetLoadedClassNames(std::move(loaded.names));
}

void TProject::RenameClass(std::size_t k, const std::string& name)
{
    if (k >= MaxClassNames || (k < state_.classNames.size() && state_.classNames[k] == name))
        return;
    if (k >= state_.classNames.size())
        state_.classNames.resize(k + 1);
    state_.classNames[k] = name;
    Changed();
}

void TProject::SetLoadedClassNames(std::vector<std::string> names)
{
    state_.classNames = std::move(names);
    Notify(TProjectChange::ClassNamesLoaded);
    Changed();
}

void TProject::ConfirmClassNames(std::vector<std::string> names)
{
    if (names.size() > MaxClassNames)
        names.resize(MaxClassNames);
    if (names != state_.classNames) {
        state_.classNames = std::move(names);
        Changed();
    }
    Notify(TProjectChange::ClassList);
}

TWinner TProject::Classify(const TAbsImage& image)
{
    return state_.net ? ::Classify(*state_.net, image, scratch_) : TWinner{};
}

std::vector<TRecognisedFigure> TProject::RecogniseCanvas(std::uint32_t width, std::uint32_t height,
                                                         const TRunSink& onRun)
{
    if (!state_.net)
        return {};
    return RecogniseFigures(canvas, retina, width, height, state_.retinaWidth, state_.retinaHeight, *state_.net,
                            onRun, {}, state_.fit);
}

const TPatternEpochReport& TProject::TrainEpoch(const TTrainingSettings& settings,
                                                const std::function<void(const TPatternAnswer&)>& onAnswer)
{
    if (!state_.net || !SequenceRefusal(*state_.net, state_.sequence).empty())
        return trainer_.Skip(); // nothing the network can be trained on
    const TPatternEpochReport& report =
        onAnswer ? trainer_.RunEpoch(*state_.net, state_.sequence, settings, onAnswer)
                 : trainer_.RunEpoch(*state_.net, state_.sequence, settings);
    if (report.elements > 0) {
        ++weights_;
        Changed();
    }
    // By index: a listener that goes while the others are told only
    // shortens the walk.
    for (std::size_t i = 0; i < trainingListeners_.size(); ++i)
        trainingListeners_[i]->PatternEpochTrained(report);
    return report;
}

void TProject::LoadSeries(TSeriesLoad& load, std::uint32_t newWindowSize, std::uint32_t newTrainLength,
                          std::optional<std::uint64_t> seed)
{
    const auto count = static_cast<std::uint32_t>(std::max(load.count, 0));
    std::unique_ptr<float[]> values = std::move(load.values);
    ScaleSeries(values.get(), count, load.range);
    PatternRing windows;
    windows.SetDimension(newWindowSize);
    CutSeriesWindows(values.get(), count, newWindowSize, windows);
    const std::uint64_t drawn = seed ? *seed : static_cast<std::uint64_t>(SeedClockNow());
    auto network = NewPatternNetwork({newWindowSize, 2, 1}, drawn);

    state_.windowSize = newWindowSize;
    state_.trainLength = newTrainLength;
    state_.sequence.Swap(windows);
    SequenceEdited();
    state_.net = std::move(network);
    state_.seed = drawn;
    state_.series.values = std::move(values);
    state_.series.count = load.count;
    state_.seriesMin = load.range.min;
    state_.seriesMax = load.range.max;
    ++weights_;
    series_.Reset();
    Notify(TProjectChange::SeriesLoaded);
    Changed();
}

void TProject::ReloadSeries(TSeriesLoad& load)
{
    std::unique_ptr<float[]> values = std::move(load.values);
    ScaleSeries(values.get(), static_cast<std::size_t>(std::max(load.count, 0)), load.range);
    state_.series.values = std::move(values);
    state_.series.count = load.count;
    state_.seriesMin = load.range.min;
    state_.seriesMax = load.range.max;
    ++weights_; // the forecast is of other values now
    series_.Reset();
    Notify(TProjectChange::SeriesReloaded);
    Changed();
}

bool TProject::SeriesNetworkInPlace() const
{
    const TNeuralNet* net = state_.net.get();
    return state_.windowSize > 0 && net != nullptr && !net->layers.empty() &&
           net->layers[0].inputCount == state_.windowSize && net->outputCount == 1;
}

bool TProject::SeriesReady() const
{
    if (!state_.HasSeries() || !SeriesNetworkInPlace())
        return false;
    const auto count = static_cast<std::uint32_t>(state_.series.count);
    return count >= 2 && state_.windowSize < count && state_.trainLength <= count;
}

void TProject::SetFromFirstWindow(bool fromFirstWindow)
{
    if (state_.fromFirstWindow == fromFirstWindow)
        return;
    state_.fromFirstWindow = fromFirstWindow;
    Notify(TProjectChange::SeriesSettings);
    Changed();
}

TSeriesView TProject::SeriesView() const
{
    TSeriesView view;
    view.values = state_.series.values.get();
    view.count = static_cast<std::uint32_t>(std::max(state_.series.count, 0));
    view.windowSize = state_.windowSize;
    view.trainLength = state_.trainLength;
    view.unit = static_cast<double>(state_.seriesMax) - static_cast<double>(state_.seriesMin);
    view.offset = state_.seriesMin;
    return view;
}

const TSeriesEpochReport& TProject::TrainSeriesEpoch()
{
    if (!SeriesReady())
        return series_.LastEpoch();
    const TSeriesEpochReport& report = series_.TrainEpoch(*state_.net, SeriesView());
    if (report.windows > 0) {
        ++weights_;
        Changed();
    }
    for (std::size_t i = 0; i < trainingListeners_.size(); ++i)
        trainingListeners_[i]->SeriesEpochTrained(report);
    return report;
}

const TSeriesForecast& TProject::SeriesForecast()
{
    static const TSeriesForecast none;
    return SeriesReady() ? series_.Forecast(*state_.net, SeriesView(), state_.fromFirstWindow, weights_) : none;
}

std::vector<double> TProject::SeriesFuture(std::uint32_t horizon)
{
    const TSeriesView view = SeriesView();
    std::vector<float> inputs(view.windowSize + 1);
    std::vector<float> scaled(horizon);
    ForecastPastEnd(*state_.net, view.values, view.count, view.windowSize, horizon, inputs.data(), scaled.data());
    std::vector<double> future(horizon);
    for (std::uint32_t h = 0; h < horizon; ++h)
        future[h] = view.ValueInUnits(scaled[h]);
    return future;
}

const TSeriesBaselines* TProject::SeriesBaselines(bool wait)
{
    return SeriesReady() ? series_.Baselines(SeriesView(), wait) : nullptr;
}

std::string TProject::Save(const std::string& path, const std::vector<TFileToWrite>& alongside)
{
    state_.generator = RandomState();
    std::string refusal = SaveProjectFile(state_, path, alongside);
    if (!refusal.empty())
        return refusal;
    fileName_ = path;
    unsaved_ = false;
    Notify(TProjectChange::SaveState);
    return {};
}

std::string TProject::Open(const std::string& path)
{
    TProjectState opened;
    std::string refusal = OpenProjectFile(path, opened);
    if (!refusal.empty())
        return refusal;
    Adopt(opened);
    fileName_ = path;
    Notify(TProjectChange::SaveState);
    return {};
}

void TProject::Reset()
{
    TProjectState fresh;
    state_.Swap(fresh);
    SequenceEdited();
    canvas.Resize(0, 0);
    retina.Resize(0, 0);
    trainer_ = {};
    series_.Reset();
    ++weights_;
    fileName_.clear();
    unsaved_ = false;
}

void TProject::Adopt(TProjectState& opened)
{
    state_.Swap(opened);
    SequenceEdited();
    if (state_.generator)
        SetRandomState(*state_.generator);
    // The retina the windows sample onto takes the opened project's size.
    retina.Resize(static_cast<std::uint32_t>(std::max(state_.retinaWidth, 0)),
                  static_cast<std::uint32_t>(std::max(state_.retinaHeight, 0)));
    ++weights_;
    series_.Reset();
    unsaved_ = false;
    Notify(TProjectChange::Opened);
}
