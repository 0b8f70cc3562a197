#include "project/Globals.h"

TProject Project;

std::unique_ptr<TNeuralNet>& CurrentNet = Project.net;
TRectImage& CanvasImage = Project.canvas;
TRectImage& RetinaImage = Project.retina;
PatternRing& TrainingSequence = Project.sequence;
TSeriesBuffer& SeriesBuffer = Project.series;
