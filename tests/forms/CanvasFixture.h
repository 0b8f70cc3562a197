#pragma once
// The program after start-up, with helpers that act as the user on the
// canvas, the retina view and the project dialogs: mouse strokes, ">>",
// a new project through the menu.

#include "FormsFixture.h"
#include "tests/framework/PixelCount.h"

#include <QSlider>

class CanvasUser : public Started {
public:
    // A stroke with the mouse on the canvas along the points.
    static void Drag(const std::vector<QPoint>& path, Qt::MouseButton button = Qt::LeftButton)
    {
        TImage* image = ImForm->Image1;
        QTest::mousePress(image, button, {}, path.front());
        for (std::size_t i = 1; i < path.size(); ++i)
            QTest::mouseMove(image, path[i]);
        QTest::mouseRelease(image, button, {}, path.back());
    }

    // Types the text key by key, letters outside ASCII included.
    static void Type(QWidget* widget, const QString& text)
    {
        for (const QChar c : text)
            QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }

    static void SetPenWidth(int width) { ImForm->TrackBar1->setValue(width); }

    static const QImage& Canvas() { return ImForm->Image1->Bitmap(); }
    static const QImage& View() { return SmImForm->Image1->Bitmap(); }

    // Pixels of the colour inside the area (all of the image by default).
    static int Count(const QImage& image, TColor colour, QRect area = {}) { return CountColour(image, colour, area); }

    // The smallest rectangle holding every pixel of the colour in the area.
    static QRect Extent(const QImage& image, TColor colour, QRect area)
    {
        QRect extent;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                if (image.pixel(x, y) == colour)
                    extent |= QRect(x, y, 1, 1);
        return extent;
    }

    // "Последовательность" / "С холста" and "Показать".
    static void FromCanvas() { Form1->N6->trigger(); }
    static void ShowSequence() { Form1->N10->trigger(); }
    // ">>", "Добавить в список", "Удалить из списка".
    static void Next() { QTest::mouseClick(SmImForm->Button1, Qt::LeftButton); }
    static void Add() { QTest::mouseClick(SmImForm->Button2, Qt::LeftButton); }
    static void Remove() { QTest::mouseClick(SmImForm->Button3, Qt::LeftButton); }

    // The retina's cells set to 1.
    static std::uint32_t RetinaSetCells()
    {
        std::uint32_t n = 0;
        for (std::uint32_t y = 0; y < RetinaImage.GetHeight(); ++y)
            for (std::uint32_t x = 0; x < RetinaImage.GetWidth(); ++x)
                n += RetinaImage.GetCell(x, y) == 1;
        return n;
    }

};
