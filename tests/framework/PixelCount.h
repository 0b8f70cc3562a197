#pragma once

// Counting pixels of one colour in a canvas bitmap, for the canvas and window tests.

#include "framework/Canvas.h"

#include <QImage>
#include <QRect>

// Number of pixels of the colour inside the rectangle (all of the image by default).
inline int CountColour(const QImage& image, TColor colour, QRect area = {})
{
    if (area.isNull())
        area = image.rect();
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += image.pixel(x, y) == colour;
    return n;
}
