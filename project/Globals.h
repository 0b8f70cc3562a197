#pragma once
// The program's global names for the parts of the one project. Each is a view
// of a member of Project; they exist before main, in this order.

#include "project/Project.h"

extern TProject Project;

// The one current network. Whoever replaces it destroys the old network
// first: CurrentNet.reset(), then store the new one.
extern std::unique_ptr<TNeuralNet>& CurrentNet;
extern TRectImage& CanvasImage;       // the drawing canvas, one cell per pixel
extern TRectImage& RetinaImage;       // the figure cut out and scaled to the retina
extern PatternRing& TrainingSequence; // the current training sequence
extern TSeriesBuffer& SeriesBuffer;   // the loaded time series, scaled to 0..1
