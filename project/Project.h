#pragma once
// The project: the one owner of everything a user's work consists of (the
// current network, the training sequence, the class names, the retina size
// and the time series with its settings), and of the two working images the
// canvas and the retina view share. Plain C++: the windows follow its
// changes through TProjectListener and never reach into each other's state.
//
// The program's long-standing global names are views of the one project:
// CurrentNet, TrainingSequence, CanvasImage, RetinaImage and SeriesBuffer
// (project/Globals.h) refer to the members below.

#include "engine/NeuralNet.h"
#include "images/ClassNames.h"
#include "images/Images.h"
#include "images/PatternRing.h"
#include "project/Confusion.h"
#include "project/SeriesLoad.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>


// What a saved project consists of: the state a project file holds.
struct TProjectState {
    std::unique_ptr<TNeuralNet> net;    // the current network
    PatternRing sequence;               // the training sequence, cursor included
    std::vector<std::string> classNames; // name of class k at index k, UTF-8
    std::int32_t retinaWidth = 0;       // retina columns; 0 before the first new project
    std::int32_t retinaHeight = 0;      // retina rows
    TSeriesBuffer series;               // the series, scaled to 0..1
    float seriesMin = 0.0f;             // smallest raw value of the series
    float seriesMax = 0.0f;             // largest raw value of the series
    std::uint32_t windowSize = 0;       // window size of the last full series load; 0 before one
    std::uint32_t trainLength = 0;      // leading values the series network trains on
    bool fromFirstWindow = false;       // the series picture's forecast runs from the first window alone
    // The random generator's state when the project was saved, so that
    // stochastic training goes on as if it had never stopped; none in files
    // saved without it.
    std::optional<std::uint64_t> generator;

    // Exchanges everything with `other`.
    void Swap(TProjectState& other) noexcept;
    // Whether a series has been loaded: a window size, and values to go with it.
    bool HasSeries() const { return windowSize > 0 && series.count > 0 && series.values != nullptr; }
};

// What changed in the project. Listeners are told after the change is made.
enum class TProjectChange {
    Network,          // CurrentNet was replaced
    Sequence,         // the training sequence was replaced, emptied or loaded
    ClassNamesLaidOut,// a new project laid out default class names
    ClassNamesLoaded, // the class names came with a sequence file
    ClassList,        // the class names were confirmed for choosing a sample's class
    SeriesLoaded,     // a full series load: new series, network and settings
    SeriesReloaded,   // "Обновить": new values for the same network and settings
    Opened,           // a whole project was opened from a file
};

class TProject;

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

// What a training window tells of each epoch it has trained.
struct TEpochReport {
    enum class TSource {
        Patterns, // the learning window: an epoch over the training sequence
        Series,   // the series window: an epoch over the series' training windows
    };
    TSource source = TSource::Patterns;

    // Patterns: the elements trained, those answered right, the sum over
    // them of |output - target| of every output as the step left it, and
    // each element's true class and answer in epoch order (`elements`
    // entries, valid during the call only).
    std::uint32_t elements = 0;
    std::uint32_t correct = 0;
    double totalError = 0.0;
    const TElementAnswer* answers = nullptr;

    // Series: the largest and the smallest window error of the epoch, in
    // the units of the series file.
    double maxError = 0.0;
    double minError = 0.0;
};

// Anything that follows the training epochs, from its construction to its
// destruction. Told after each epoch a window has trained while it listens;
// the report is the window's and lives only during the call.
class TTrainingListener {
public:
    explicit TTrainingListener(TProject& project);
    virtual ~TTrainingListener();
    TTrainingListener(const TTrainingListener&) = delete;
    TTrainingListener& operator=(const TTrainingListener&) = delete;

    virtual void EpochTrained(const TEpochReport& report) = 0;

private:
    TProject& project_;
};

// The side of the square retina for an element size: trunc(sqrt(size)).
std::uint32_t RetinaSide(std::uint32_t elementSize);

// The three numbers of a new pattern-recognition project.
struct TProjectSizes {
    std::int32_t elementSize = 0; // cells per sequence element, the network's inputs
    std::int32_t classCount = 0;  // classes, the network's outputs
    std::int32_t hiddenCount = 0; // neurons of the hidden layer
};

// The largest project the program builds: an element no larger than the
// canvas, and a network whose weights fit comfortably in memory.
inline constexpr std::int32_t MaxElementSize = 500 * 400;
inline constexpr std::int32_t MaxClassCount = 10000;
static_assert(MaxClassCount == MaxClassNames, "a class-names file holds the names of any project");
inline constexpr std::int32_t MaxHiddenCount = 10000;
inline constexpr std::uint64_t MaxWeightCount = std::uint64_t{1} << 24;

// Why a project of these sizes cannot be built, as the user reads it: each
// number must lie between 1 and its limit and the network's weights must
// not exceed MaxWeightCount. Empty when the sizes are acceptable.
std::string ProjectSizesRefusal(const TProjectSizes& sizes);

class TProject : public TProjectState {
public:
    TProject() = default;
    TProject(const TProject&) = delete;
    TProject& operator=(const TProject&) = delete;

    TRectImage canvas; // the drawing, one cell per pixel, as last read
    TRectImage retina; // the figure cut out and scaled to the retina

    // A new pattern-recognition project: the sequence emptied with the
    // element size as its Dimension, a square retina of side
    // trunc(sqrt(elementSize)), the classes named by their numbers and a
    // fresh network of elementSize inputs, hiddenCount hidden neurons and
    // classCount outputs. The sizes must be acceptable (ProjectSizesRefusal).
    // The network is built first: when it does not fit in memory
    // (std::bad_alloc) nothing changes.
    void NewProject(const TProjectSizes& sizes);

    // The name of class k; empty when there is no such class.
    const std::string& ClassName(std::size_t k) const;
    // Renames class k; a class the project does not have is left alone.
    void RenameClass(std::size_t k, const std::string& name);
    // Replaces every class name, as a sequence file brings them.
    void SetLoadedClassNames(std::vector<std::string> names);
    // Confirms the class names for choosing a sample's class.
    void ConfirmClassNames();

    // Replaces the training sequence by `loaded` (swapped in).
    void ReplaceSequence(PatternRing& loaded);

    // A full series load of a checked series (CheckFullLoad): its values
    // scaled to 0..1, the training windows cut into the sequence, and a new
    // network of windowSize inputs, 2 hidden neurons and 1 output.
    // Everything is built before anything is replaced: when memory runs out
    // (std::bad_alloc) the project stays as it was. Takes the values out of
    // `load`.
    void LoadSeries(TSeriesLoad& load, std::uint32_t windowSize, std::uint32_t trainLength);
    // A reload of a checked series (CheckReload): its values, scaled to
    // 0..1, replace the series; the network and the settings stay.
    void ReloadSeries(TSeriesLoad& load);
    // Whether CurrentNet is still the network of the last full series load
    // (windowSize inputs, one output).
    bool SeriesNetworkInPlace() const;

    // Takes over a whole opened project (swapped in; `opened` then holds the
    // old one), sets the random generator to the state saved with it, if
    // any, and tells every listener.
    void Adopt(TProjectState& opened);

    // Tells every listener of a change.
    void Notify(TProjectChange change);

    // Whether anything follows the training epochs: a training window
    // gathers an epoch's report only then.
    bool TrainingWatched() const { return !trainingListeners_.empty(); }
    // Tells every training listener of an epoch; allocates nothing.
    void ReportEpoch(const TEpochReport& report);

private:
    friend class TProjectListener;
    friend class TTrainingListener;
    std::vector<TProjectListener*> listeners_;
    std::vector<TTrainingListener*> trainingListeners_;
};
