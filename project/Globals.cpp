#include "project/Globals.h"

TProject Project;

const TNetView CurrentNet(Project);
TRectImage& CanvasImage = Project.canvas;
TRectImage& RetinaImage = Project.retina;
const PatternRing& TrainingSequence = Project.Sequence();
const TSeriesBuffer& SeriesBuffer = Project.State().series;
