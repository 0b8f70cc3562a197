#pragma once
// The program's global names for the parts of the one project. Each is a
// read-only view of the project's state (changes go through the project's
// operations), apart from the two working images; they exist before main,
// in this order.

#include "project/Project.h"

#include <cstddef>

extern TProject Project;

// The one current network, read only: whoever needs a new one asks the
// project (NewProject, LoadSeries, Open, ReplaceNetwork).
class TNetView {
public:
    explicit TNetView(const TProject& project)
        : project_(project)
    {
    }
    const TNeuralNet* get() const { return project_.Net(); }
    const TNeuralNet* operator->() const { return project_.Net(); }
    const TNeuralNet& operator*() const { return *project_.Net(); }
    explicit operator bool() const { return project_.Net() != nullptr; }
    bool operator==(std::nullptr_t) const { return project_.Net() == nullptr; }

private:
    const TProject& project_;
};

extern const TNetView CurrentNet;
extern TRectImage& CanvasImage;             // the drawing canvas, one cell per pixel
extern TRectImage& RetinaImage;             // the figure cut out and scaled to the retina
extern const PatternRing& TrainingSequence; // the current training sequence
extern const TSeriesBuffer& SeriesBuffer;   // the loaded time series, scaled to 0..1
