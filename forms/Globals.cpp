#include "forms/Globals.h"

std::unique_ptr<TNeuralNet> CurrentNet;
TSeriesBuffer SeriesBuffer;

QString HomePageCommand()
{
    return QStringLiteral("start ") + QString::fromUtf8(HomePageUrl);
}
