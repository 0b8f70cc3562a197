#pragma once
// TImForm, the canvas window "Холст": the user draws black-and-white figures
// with a brush and an eraser; ReadCanvas and ExtractObject turn the drawing
// into data for the network.

#include "framework/Controls.h"
#include "framework/Form.h"

#include <cstdint>

class QAction;
class QMenu;
class QSlider;
class QToolButton;

class TImForm : public TForm {
    Q_OBJECT
public:
    // Also gives CanvasImage the canvas size.
    TImForm();

    // Handlers.
    void SpeedButton1Click(); // brush
    void SpeedButton2Click(); // eraser
    void SpeedButton3Click(); // clear
    void N1Click();           // popup: clear
    void N2Click();           // popup: brush
    void N3Click();           // popup: eraser
    void TrackBar1Change();
    void Image1MouseDown(Qt::MouseButton button, int x, int y);
    void Image1MouseMove(int x, int y);
    void Image1MouseUp(Qt::MouseButton button, int x, int y);

    // Copies the drawing into CanvasImage, one cell per pixel: 1 for an
    // exactly black pixel, 0 for any other colour.
    void ReadCanvas();
    // Takes the figure holding cell (x, y) out of CanvasImage: its cells
    // become 0 there and yellow on the canvas, the object members receive its
    // box, and RetinaImage holds the figure cut to that box and scaled to the
    // retina size (SmImForm->SampleObject).
    void ExtractObject(std::uint32_t x, std::uint32_t y);
    // The 8-connected fill behind ExtractObject: moves the figure holding
    // (x, y) from CanvasImage into RetinaImage (which has the canvas size),
    // paints it yellow and widens the box kept in objectLeft, objectTop,
    // maxX and maxY.
    void FillObject(std::uint32_t x, std::uint32_t y);

    TImage* Image1;
    QToolButton* SpeedButton1;
    QToolButton* SpeedButton2;
    QToolButton* SpeedButton3;
    TLabel* Label1;
    QSlider* TrackBar1;
    TBevel* Bevel1;
    QMenu* PopupMenu1;
    QAction *N1, *N2, *N3;

    bool drawing = false;
    std::uint32_t objectLeft = 0;
    std::uint32_t objectTop = 0;
    std::uint32_t objectWidth = 0;
    std::uint32_t objectHeight = 0;

private:
    std::uint32_t maxX = 0; // largest x and y of the object being filled
    std::uint32_t maxY = 0;
};

extern TImForm* ImForm;
