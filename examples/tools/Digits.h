#pragma once
// Handwritten digits as a user draws them on the canvas: each digit is a few
// mouse strokes over a unit square, placed into a box on the canvas with a
// slant and a little tremor of the hand, so that no two drawings of a digit
// are quite the same. Every digit is drawn as one connected figure.
//
// Shared by the program that makes the sample project, the program that sets
// up the screenshots, and the tests that recognise fresh drawings.

#include "forms/Unit2.h"
#include "forms/Unit3.h"

#include <QComboBox>
#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QSlider>
#include <QTest>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace digits {

using TStroke = std::vector<QPointF>;

// The strokes of a digit 0..9 over the unit square, x to the right and y
// downwards. Strokes of one digit touch each other.
inline std::vector<TStroke> Strokes(int digit)
{
    switch (digit) {
    case 0: {
        TStroke loop;
        for (int k = 0; k <= 16; ++k) {
            const double t = 2.0 * 3.14159265358979 * k / 16.0;
            loop.emplace_back(0.5 + 0.5 * std::cos(t), 0.5 + 0.5 * std::sin(t));
        }
        return {loop};
    }
    case 1:
        return {{{0.15, 0.3}, {0.6, 0.0}, {0.6, 1.0}}, {{0.2, 1.0}, {1.0, 1.0}}};
    case 2:
        return {{{0.05, 0.25}, {0.3, 0.0}, {0.7, 0.0}, {0.95, 0.2}, {0.9, 0.45}, {0.0, 1.0}, {1.0, 1.0}}};
    case 3:
        return {{{0.05, 0.1}, {0.35, 0.0}, {0.8, 0.05}, {0.9, 0.25}, {0.4, 0.48}, {0.9, 0.65},
                 {0.95, 0.85}, {0.7, 1.0}, {0.3, 1.0}, {0.0, 0.88}}};
    case 4:
        return {{{0.75, 1.0}, {0.75, 0.0}, {0.0, 0.7}, {1.0, 0.7}}};
    case 5:
        return {{{0.95, 0.0}, {0.15, 0.0}, {0.05, 0.45}, {0.6, 0.38}, {0.95, 0.6}, {0.9, 0.9},
                 {0.6, 1.0}, {0.0, 0.92}}};
    case 6:
        return {{{0.85, 0.0}, {0.35, 0.2}, {0.05, 0.6}, {0.15, 0.95}, {0.6, 1.0}, {0.95, 0.8},
                 {0.8, 0.5}, {0.35, 0.48}, {0.08, 0.65}}};
    case 7:
        return {{{0.0, 0.12}, {0.05, 0.0}, {1.0, 0.0}, {0.35, 1.0}}};
    case 8:
        return {{{0.5, 0.48}, {0.12, 0.3}, {0.2, 0.02}, {0.8, 0.02}, {0.88, 0.3}, {0.5, 0.48},
                 {0.05, 0.75}, {0.25, 1.0}, {0.75, 1.0}, {0.95, 0.75}, {0.5, 0.48}}};
    default:
        return {{{0.95, 0.3}, {0.7, 0.5}, {0.25, 0.5}, {0.02, 0.3}, {0.2, 0.0}, {0.75, 0.0},
                 {0.95, 0.3}, {0.85, 0.7}, {0.4, 1.0}}};
    }
}

// How one drawing of a digit looks.
struct THand {
    QRect box;           // where the unit square lands on the canvas
    double slant = 0.0;  // the top leans right by slant * height, the bottom left as much
    double tremor = 0.0; // each point wanders up to this many pixels either way
    std::uint32_t seed = 0;
    int penWidth = 4;    // the canvas's pen width, 1..15
};

// The strokes of the digit in canvas coordinates, as the hand draws them.
inline std::vector<std::vector<QPoint>> Path(int digit, const THand& hand)
{
    std::mt19937 random(hand.seed * 10u + static_cast<std::uint32_t>(digit));
    std::uniform_real_distribution<double> wander(-hand.tremor, hand.tremor);
    const double w = hand.box.width(), h = hand.box.height();
    std::vector<std::vector<QPoint>> path;
    for (const TStroke& stroke : Strokes(digit)) {
        std::vector<QPoint> points;
        for (const QPointF& p : stroke) {
            const double x = hand.box.left() + p.x() * w + hand.slant * (0.5 - p.y()) * h + wander(random);
            const double y = hand.box.top() + p.y() * h + wander(random);
            points.emplace_back(static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y)));
        }
        path.push_back(points);
    }
    return path;
}

// The area of the canvas the digit's strokes can paint with the hand's pen.
inline QRect Reach(int digit, const THand& hand)
{
    QRect reach;
    for (const std::vector<QPoint>& stroke : Path(digit, hand))
        for (const QPoint& p : stroke)
            reach |= QRect(p, QSize(1, 1));
    const int margin = hand.penWidth / 2 + 2;
    return reach.adjusted(-margin, -margin, margin, margin);
}

// Draws on the canvas window with the mouse: the pen width is set on the
// window's slider, then each stroke is pressed, dragged and released.
inline void Draw(int digit, const THand& hand)
{
    ImForm->TrackBar1->setValue(hand.penWidth);
    TImage* canvas = ImForm->Image1;
    for (const std::vector<QPoint>& stroke : Path(digit, hand)) {
        QTest::mousePress(canvas, Qt::LeftButton, {}, stroke.front());
        for (std::size_t i = 1; i < stroke.size(); ++i)
            QTest::mouseMove(canvas, stroke[i]);
        QTest::mouseRelease(canvas, Qt::LeftButton, {}, stroke.back());
    }
}

// Picks the class in the retina view's list, as a click on its item does.
inline void ChooseClass(int index)
{
    SmImForm->ComboBox1->setCurrentIndex(index);
    emit SmImForm->ComboBox1->activated(index);
}

// Of the boxes, the one whose centre lies nearest to the centre of the
// figure taken last off the canvas (the canvas window's object members).
inline std::size_t NearestBox(const std::vector<QRect>& boxes)
{
    const double cx = ImForm->objectLeft + ImForm->objectWidth / 2.0;
    const double cy = ImForm->objectTop + ImForm->objectHeight / 2.0;
    std::size_t best = 0;
    double bestDistance = 1e300;
    for (std::size_t k = 0; k < boxes.size(); ++k) {
        const QPointF c = QRectF(boxes[k]).center();
        const double d = (c.x() - cx) * (c.x() - cx) + (c.y() - cy) * (c.y() - cy);
        if (d < bestDistance) {
            bestDistance = d;
            best = k;
        }
    }
    return best;
}

// Ten digits 0..9 laid out on the canvas in two rows of five, each in a
// cell of 100 x 200 pixels; `hand` gives the size, slant, tremor and pen of
// all of them (its box's position is ignored), and `shift` moves each digit
// inside its cell by a few pixels depending on the digit.
inline std::vector<THand> Row(const THand& hand, int shift = 0)
{
    std::vector<THand> hands;
    for (int d = 0; d < 10; ++d) {
        THand h = hand;
        const int dx = shift * ((d * 7) % 5 - 2), dy = shift * ((d * 3) % 5 - 2);
        const int left = (d % 5) * 100 + (100 - hand.box.width()) / 2 + dx;
        const int top = (d / 5) * 200 + (200 - hand.box.height()) / 2 + dy;
        h.box = QRect(left, top, hand.box.width(), hand.box.height());
        h.seed = hand.seed;
        hands.push_back(h);
    }
    return hands;
}

} // namespace digits
