#pragma once
// The objects every window shares. They are constructed before main, in the
// order below, all empty.

#include "images/Images.h"
#include "images/PatternRing.h"

extern TRectImage CanvasImage;       // the drawing canvas, one cell per pixel
extern TRectImage RetinaImage;       // the figure cut out and scaled to the retina
extern PatternRing TrainingSequence; // the current training sequence
