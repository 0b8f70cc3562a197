#pragma once
// TImForm, the canvas window "Холст": the user draws black-and-white figures
// with a brush and an eraser; ReadCanvas and ExtractObject turn the drawing
// into data for the network.

#include "framework/Controls.h"
#include "framework/Form.h"
#include "project/Figures.h"

#include <cstdint>
#include <vector>

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
    // project's retina size.
    void ExtractObject(std::uint32_t x, std::uint32_t y);
    // Recognition: takes every figure still in CanvasImage off the canvas in
    // turn (each turns yellow), as ExtractObject does, and returns each
    // figure's box with the class the project's network chose; the object
    // members then describe the last figure.
    std::vector<TRecognisedFigure> TakeFigures();

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
    // Keeps the box of the figure taken last and repaints its area.
    void FigureTaken(const TFigureBox& box);
};

extern TImForm* ImForm;
