#include "forms/Globals.h"

QString HomePageCommand()
{
    return QStringLiteral("start ") + QString::fromUtf8(HomePageUrl);
}
