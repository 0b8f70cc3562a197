#pragma once
// What a saved project consists of (TProjectState) and the largest project
// the program builds. The project (Project.h) owns one such state; the
// project file (ProjectFile.h) writes and reads one. Neither needs the
// other to know what a project holds.

#include "engine/NeuralNet.h"
#include "images/ClassNames.h"
#include "images/Images.h"
#include "images/PatternRing.h"
#include "project/RunSettings.h"
#include "project/SeriesMath.h"

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
    // How the samples of the sequence were cut onto the retina, and so how
    // new figures are cut for this project.
    TFigureFit fit = TFigureFit::Stretch;
    // The seed the network's initial weights were drawn from; none when it
    // is not known (files saved before it was kept).
    std::optional<std::uint64_t> seed;
    // The settings the next training run takes ("Параметры обучения…", or
    // what trelis-cli tune found); the learning window's own by default.
    TRunSettings training;

    // Exchanges everything with `other`.
    void Swap(TProjectState& other) noexcept;
    // Whether a series has been loaded: a window size, and values to go with it.
    bool HasSeries() const { return windowSize > 0 && series.count > 0 && series.values != nullptr; }
};

// The largest project the program builds: an element no larger than the
// canvas, and a network whose weights fit comfortably in memory.
inline constexpr std::int32_t MaxElementSize = 500 * 400;
inline constexpr std::int32_t MaxClassCount = 10000;
static_assert(MaxClassCount == MaxClassNames, "a class-names file holds the names of any project");
inline constexpr std::int32_t MaxHiddenCount = 10000;
inline constexpr std::uint64_t MaxWeightCount = std::uint64_t{1} << 24;
