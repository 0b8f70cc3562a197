#pragma once
// The project: the one owner of everything a user's work consists of (the
// current network, the training sequence, the class names, the retina size
// and the time series with its settings), and of the two working images the
// canvas and the retina view share. Plain C++. Its state is read through
// const access; every change goes through an operation here, which tells the
// listeners. The work done with it (training epochs, the series forecast,
// saving and opening) runs here too, once for the windows and trelis-cli.
//
// The program's long-standing global names are views of the one project:
// CurrentNet, TrainingSequence, CanvasImage, RetinaImage and SeriesBuffer
// (project/Globals.h).

#include "engine/NeuralNet.h"
#include "images/ClassNames.h"
#include "images/Images.h"
#include "images/PatternRing.h"
#include "project/Confusion.h"
#include "project/Figures.h"
#include "project/AtomicFile.h"
#include "project/Learning.h"
#include "project/ProjectState.h"
#include "project/RunSettings.h"
#include "project/SeriesLoad.h"
#include "project/SeriesTraining.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct TSequenceWithNames;

// What changed in the project. Listeners are told after the change is made.
enum class TProjectChange {
    Network,           // the network was replaced
    Sequence,          // the training sequence was replaced, emptied or loaded
    SampleAdded,       // a sample was added to the training sequence
    SampleRemoved,     // the sample under the cursor was removed
    ClassNamesLaidOut, // a new project laid out default class names
    ClassNamesLoaded,  // the class names came with a sequence file
    ClassList,         // the class names were confirmed for choosing a sample's class
    SeriesLoaded,      // a full series load: new series, network and settings
    SeriesReloaded,    // "Обновить": new values for the same network and settings
    SeriesSettings,    // the series picture's "По первому окну" was set
    BestWeights,       // a run put back the weights of its best epoch (the same network, earlier weights)
    FigureFit,         // how figures are cut onto the retina changed
    RunSettings,       // the settings of the next training run changed
    Opened,            // a whole project was opened from a file
    SaveState,         // the project's file or whether it has unsaved changes changed
};

class TProject;

// A place in the training sequence that stays put while the cursor moves:
// the element the cursor stood on when the mark was taken. It holds until
// the sequence's elements change (one added or removed, the sequence
// replaced); a mark of an empty sequence, or a default one, never holds.
class TSequenceMark {
private:
    friend class TProject;
    std::uint64_t edition_ = 0;
    const TAbsImage* element_ = nullptr;
};

// A window (or anything else) that follows the project's changes; it is told
// of every change from its construction to its destruction.
class TProjectListener {
public:
    explicit TProjectListener(TProject& project);
    virtual ~TProjectListener();
    TProjectListener(const TProjectListener&) = delete;
    TProjectListener& operator=(const TProjectListener&) = delete;

    // Called after each change.
    virtual void ProjectChanged(TProjectChange change) = 0;

private:
    TProject& project_;
};

// Anything that follows the training epochs, from its construction to its
// destruction. Told after each epoch trained through the project; the
// report lives until the next epoch of its kind.
class TTrainingListener {
public:
    explicit TTrainingListener(TProject& project);
    virtual ~TTrainingListener();
    TTrainingListener(const TTrainingListener&) = delete;
    TTrainingListener& operator=(const TTrainingListener&) = delete;

    virtual void PatternEpochTrained(const TPatternEpochReport&) {}
    // After a training run's held-out check of an epoch (TTrainingRun).
    virtual void HeldOutChecked(const TRunEpoch&) {}
    virtual void SeriesEpochTrained(const TSeriesEpochReport&) {}

private:
    TProject& project_;
};

// A network of the program's kind for patterns (logistic layers of the
// given sizes, inputs first), its initial weights drawn from `seed`: the
// same seed gives the same weights, bit for bit. Safe to call from several
// threads.
std::unique_ptr<TNeuralNet> NewPatternNetwork(const std::vector<std::uint32_t>& sizes, std::uint64_t seed);

// The sizes of a project as "Сведения о проекте" and trelis-cli info show
// them; memory in bytes, bias weights not counted as connections.
struct TProjectFigures {
    std::int64_t dimension = 0;      // bytes per sequence element
    std::int64_t length = 0;         // sequence elements
    std::int64_t sequenceMemory = 0; // (dimension + 4) * length
    std::int64_t retinaWidth = 0;
    std::int64_t retinaHeight = 0;
    std::int64_t neurons = 0;     // over all layers
    std::int64_t layers = 0;
    std::int64_t outputs = 0;     // of the last layer
    std::int64_t connections = 0; // inputs x neurons over all layers
    std::int64_t networkMemory = 0; // 4 bytes per connection
};
TProjectFigures ProjectFigures(const TProjectState& state);

// The side of the square retina for an element size: trunc(sqrt(size)).
std::uint32_t RetinaSide(std::uint32_t elementSize);

// The three numbers of a new pattern-recognition project.
struct TProjectSizes {
    std::int32_t elementSize = 0; // cells per sequence element, the network's inputs
    std::int32_t classCount = 0;  // classes, the network's outputs
    std::int32_t hiddenCount = 0; // neurons of the hidden layer
};

// Why a project of these sizes cannot be built, as the user reads it: each
// number must lie between 1 and its limit (ProjectState.h) and the
// network's weights must not exceed MaxWeightCount. Empty when the sizes are acceptable.
std::string ProjectSizesRefusal(const TProjectSizes& sizes);

class TProject {
public:
    TProject() = default;
    TProject(const TProject&) = delete;
    TProject& operator=(const TProject&) = delete;

    // ---- Reading ---------------------------------------------------------

    const TProjectState& State() const { return state_; }
    // The current network; null before the first.
    const TNeuralNet* Net() const { return state_.net.get(); }
    const PatternRing& Sequence() const { return state_.sequence; }
    const std::vector<std::string>& ClassNames() const { return state_.classNames; }
    // The name of class k; empty when there is no such class.
    const std::string& ClassName(std::size_t k) const;

    // The two working images: the drawing as last read, one cell per pixel,
    // and the figure cut out and scaled to the retina. They are the
    // canvas's and the retina view's scratch, not part of the saved work.
    TRectImage canvas;
    TRectImage retina;

    // ---- Patterns --------------------------------------------------------

    // The state the program starts in: a placeholder network of one input
    // and one output until the first project, and a series of no values.
    // Nothing counts as unsaved.
    void StartWithPlaceholder();

    // A new pattern-recognition project: the sequence emptied with the
    // element size as its Dimension, a square retina of side
    // trunc(sqrt(elementSize)), the classes named by their numbers and a
    // fresh network of elementSize inputs, hiddenCount hidden neurons and
    // classCount outputs. The sizes must be acceptable (ProjectSizesRefusal).
    // The new project has no file yet.
    // The network is built first: when it does not fit in memory
    // (std::bad_alloc) nothing changes. Its initial weights come from
    // `seed`, or from the clock when there is none; the project keeps it.
    // The fit and the training settings start as the program's defaults.
    void NewProject(const TProjectSizes& sizes, std::optional<std::uint64_t> seed = std::nullopt);
    // A new network of the same layer sizes as the current one, its initial
    // weights drawn from `seed`; the sequence and the names stay. Nothing
    // happens when there is no network.
    void ReseedNetwork(std::uint64_t seed);
    // A training run puts back the weights of its best epoch: a network of
    // the same shape as the current one, which it replaces; listeners are
    // told of BestWeights, not of a new network, so that what follows the
    // run (its curve) goes on.
    void PutBackWeights(std::unique_ptr<TNeuralNet> net);
    // How figures are cut onto the retina from now on (the samples already
    // in the sequence stay as they are).
    void SetFigureFit(TFigureFit fit);
    // The settings the next training run of the windows takes.
    const TRunSettings& RunSettings() const { return state_.training; }
    void SetRunSettings(const TRunSettings& settings);
    // Replaces the network; `seed`, when given, is the seed its initial
    // weights came from (otherwise the project's seed stays as it was).
    void ReplaceNetwork(std::unique_ptr<TNeuralNet> net, std::optional<std::uint64_t> seed = std::nullopt);

    // Files a copy of the image (its cells and the bias byte) under the class
    // right after the cursor; the copy becomes the cursor.
    void AddSample(const TAbsImage& image, std::int32_t classIndex);
    // Removes the sample under the cursor; nothing on an empty sequence.
    void RemoveCurrentSample();
    // Moves the cursor one element on; returns the element it rests on,
    // null when the sequence is empty.
    const TAbsImage* StepCursor();
    // A mark of the element under the cursor now (see TSequenceMark). An
    // epoch leaves the cursor where it began, so a mark taken when an epoch
    // is reported is that of the epoch's first element.
    TSequenceMark CursorMark() const;
    // The element `steps` after the marked one round the ring; null when the
    // mark no longer holds.
    const TAbsImage* MarkedElement(const TSequenceMark& mark, std::uint32_t steps = 0) const;
    // Moves the cursor to the element `steps` after the marked one. False,
    // and the cursor stays, when the mark no longer holds.
    bool MoveCursorTo(const TSequenceMark& mark, std::uint32_t steps = 0);
    // Replaces the training sequence by `loaded` (swapped in).
    void ReplaceSequence(PatternRing& loaded);
    // A sequence file with its names replaces the sequence and the names.
    void TakeSequence(TSequenceWithNames& loaded);

    // Renames class k; the list of names grows to hold it.
    void RenameClass(std::size_t k, const std::string& name);
    // Replaces every class name, as a sequence file brings them.
    void SetLoadedClassNames(std::vector<std::string> names);
    // The names the user confirmed ("ОК" of the class-names window) become
    // the class names, for choosing a sample's class.
    void ConfirmClassNames(std::vector<std::string> names);

    // The network's answer to an image: its cells as the network's input
    // (NetworkInput). The network's weights do not change.
    TWinner Classify(const TAbsImage& image);
    // Recognition: every figure of the width x height area of the canvas
    // image, taken off it in turn and sampled onto the retina image as
    // RecogniseFigures does, with the class the network chose for it.
    std::vector<TRecognisedFigure> RecogniseCanvas(std::uint32_t width, std::uint32_t height,
                                                   const TRunSink& onRun = {});

    // One epoch of training the network on the whole sequence (see
    // TPatternTrainer::RunEpoch); onAnswer, when given, is called after each
    // element. A network that cannot take the sequence (SequenceRefusal), or
    // none, trains nothing. Every training listener is told.
    const TPatternEpochReport& TrainEpoch(const TTrainingSettings& settings,
                                          const std::function<void(const TPatternAnswer&)>& onAnswer = {});
    // Tells every training listener of a run's held-out check.
    void ReportCheck(const TRunEpoch& epoch);

    // ---- Series ----------------------------------------------------------

    // A full series load of a checked series (CheckFullLoad): its values
    // scaled to 0..1, the training windows cut into the sequence, and a new
    // network of windowSize inputs, 2 hidden neurons and 1 output.
    // Everything is built before anything is replaced: when memory runs out
    // (std::bad_alloc) the project stays as it was. Takes the values out of
    // `load`.
    // The network's initial weights come from `seed`, or from the clock.
    void LoadSeries(TSeriesLoad& load, std::uint32_t windowSize, std::uint32_t trainLength,
                    std::optional<std::uint64_t> seed = std::nullopt);
    // A reload of a checked series (CheckReload): its values, scaled to
    // 0..1, replace the series; the network and the settings stay.
    void ReloadSeries(TSeriesLoad& load);
    // Whether the network is still the one of the last full series load
    // (windowSize inputs, one output).
    bool SeriesNetworkInPlace() const;
    // Whether the series can be trained and drawn: loaded, its network in
    // place, at least two values, a window shorter than the series and a
    // training length within it.
    bool SeriesReady() const;
    // "По первому окну" of the series picture.
    void SetFromFirstWindow(bool fromFirstWindow);

    // One training epoch over the series' windows; nothing when the series
    // is not ready. Every training listener is told.
    const TSeriesEpochReport& TrainSeriesEpoch();
    // The reproduction, forecast and held-out errors for the weights now,
    // computed once and shared by everyone who shows them; empty when the
    // series is not ready.
    const TSeriesForecast& SeriesForecast();
    // The network's forecast of `horizon` points past the end of the series
    // (ForecastPastEnd), in the file's units; the series must be ready.
    std::vector<double> SeriesFuture(std::uint32_t horizon);
    // The yardsticks of the series, made once for each series on a thread of
    // their own from the first call on; null until they are ready, unless
    // `wait` says to wait for them; null when the series is not ready.
    const TSeriesBaselines* SeriesBaselines(bool wait = false);
    // The series as the series trainer reads it.
    TSeriesView SeriesView() const;

    // ---- Files -----------------------------------------------------------

    // Saves the whole project, with the random generator's state now, to the
    // project file `path`, together with the files `alongside` (all new or
    // all old). Empty on success, otherwise the message.
    std::string Save(const std::string& path, const std::vector<TFileToWrite>& alongside = {});
    // Opens the project file: the whole project is replaced by it. Empty on
    // success, otherwise the message, and the project stays as it was.
    std::string Open(const std::string& path);
    // Takes over a whole opened project (swapped in; `opened` then holds the
    // old one), sets the random generator to the state saved with it, if
    // any, and tells every listener.
    void Adopt(TProjectState& opened);
    // The project file last saved or opened; empty before one.
    const std::string& FileName() const { return fileName_; }
    // Whether something changed since the project was last saved or opened.
    bool Unsaved() const { return unsaved_; }

    // Forgets everything, as before start-up, without telling anyone: for a
    // project nobody follows yet (or any more).
    void Reset();

    // Tells every listener of a change.
    void Notify(TProjectChange change);

private:
    friend class TProjectListener;
    friend class TTrainingListener;

    // Something of the saved work changed.
    void Changed();
    // A member of the saved work takes a new value: listeners are told of
    // `change`, and the work counts as unsaved; nothing when it is the same.
    template <class T>
    void SetSaved(T& member, const T& value, TProjectChange change);
    // The sequence's elements changed: every mark lapses.
    void SequenceEdited() { ++sequenceEdition_; }
    // The ring's element `steps` after the marked one; null when the mark no
    // longer holds.
    const TAbsImage* Marked(const TSequenceMark& mark, std::uint32_t steps) const;

    TProjectState state_;
    TPatternTrainer trainer_;
    TSeriesTrainer series_;
    std::uint64_t weights_ = 0; // counts every change of the network's weights
    std::uint64_t sequenceEdition_ = 1; // counts every change of the sequence's elements
    std::vector<std::int8_t> scratch_;
    std::string fileName_;
    bool unsaved_ = false;
    std::vector<TProjectListener*> listeners_;
    std::vector<TTrainingListener*> trainingListeners_;
};
