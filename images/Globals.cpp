#include "images/Globals.h"

// Defined together, in this order, so that they are constructed in this order
// before main and destroyed in the reverse order after it.
TRectImage CanvasImage;
TRectImage RetinaImage;
PatternRing TrainingSequence;
