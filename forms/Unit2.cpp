#include "forms/Unit2.h"

#include "forms/CanvasAlgorithms.h"
#include "framework/Application.h"
#include "project/Globals.h"

#include <QAction>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSlider>
#include <QToolButton>

#include <algorithm>

TImForm* ImForm = nullptr;

namespace {

enum class Tool { Brush, Eraser, Clear };

// The small pictures on the tool buttons.
QIcon Glyph(Tool tool)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 1));
    switch (tool) {
    case Tool::Brush:
        p.setBrush(Qt::black);
        p.drawEllipse(QRectF(3.5, 3.5, 9, 9));
        break;
    case Tool::Eraser:
        p.setBrush(Qt::white);
        p.drawRect(QRectF(2.5, 5.5, 11, 6));
        p.setBrush(Qt::lightGray);
        p.drawRect(QRectF(2.5, 5.5, 4, 6));
        break;
    case Tool::Clear:
        p.setBrush(Qt::white);
        p.drawPolygon(QPolygonF({QPointF(3.5, 1.5), QPointF(9.5, 1.5), QPointF(12.5, 4.5),
                                 QPointF(12.5, 14.5), QPointF(3.5, 14.5)}));
        p.drawPolyline(QPolygonF({QPointF(9.5, 1.5), QPointF(9.5, 4.5), QPointF(12.5, 4.5)}));
        break;
    }
    return QIcon(pixmap);
}

QToolButton* SpeedButton(QWidget* parent, int x, const QString& hint, Tool tool)
{
    auto* button = Place(new QToolButton(parent), x, 3, 25, 25);
    button->setToolTip(hint);
    button->setIcon(Glyph(tool));
    button->setAutoRaise(true);
    return button;
}

} // namespace

TImForm::TImForm()
    : TForm(QStringLiteral("Холст"))
{
    SetFormFont(QStringLiteral("MS Sans Serif"), -11);
    SetBounds(0, 106, 502, 436);

    Bevel1 = new TBevel(this, TBevel::Shape::BottomLine, 2, 24, 500, 8);
    Image1 = new TImage(this, 2, 35, 500, 400);
    SpeedButton1 = SpeedButton(this, 8, QStringLiteral("Кисть"), Tool::Brush);
    SpeedButton2 = SpeedButton(this, 32, QStringLiteral("Резинка"), Tool::Eraser);
    SpeedButton3 = SpeedButton(this, 256, QStringLiteral("Очистить"), Tool::Clear);
    Label1 = new TLabel(this, 320, 8, QStringLiteral("Кисть"));
    TrackBar1 = Place(new QSlider(Qt::Horizontal, this), 352, 8, 145, 17);
    TrackBar1->setRange(1, 15);
    TrackBar1->setValue(4);
    TrackBar1->setTickInterval(1);
    TrackBar1->setTickPosition(QSlider::TicksBelow);

    PopupMenu1 = new QMenu(this);
    N1 = PopupMenu1->addAction(QStringLiteral("Очистить"));
    N2 = PopupMenu1->addAction(QStringLiteral("Кисть"));
    N3 = PopupMenu1->addAction(QStringLiteral("Резинка"));
    N1->setObjectName(QStringLiteral("N1"));
    N2->setObjectName(QStringLiteral("N2"));
    N3->setObjectName(QStringLiteral("N3"));
    Image1->SetPopupMenu(PopupMenu1);

    Handle(SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });
    Handle(SpeedButton2, &QToolButton::clicked, this, [this] { SpeedButton2Click(); });
    Handle(SpeedButton3, &QToolButton::clicked, this, [this] { SpeedButton3Click(); });
    Handle(N1, &QAction::triggered, this, [this] { N1Click(); });
    Handle(N2, &QAction::triggered, this, [this] { N2Click(); });
    Handle(N3, &QAction::triggered, this, [this] { N3Click(); });
    Handle(TrackBar1, &QSlider::valueChanged, this, [this] { TrackBar1Change(); });
    Handle(Image1, &TImage::mouseDown, this,
           [this](Qt::MouseButton b, int x, int y) { Image1MouseDown(b, x, y); });
    Handle(Image1, &TImage::mouseMove, this, [this](int x, int y) { Image1MouseMove(x, y); });
    Handle(Image1, &TImage::mouseUp, this,
           [this](Qt::MouseButton b, int x, int y) { Image1MouseUp(b, x, y); });

    Image1->Canvas().SetPenWidth(TrackBar1->value());
    drawing = false;
    CanvasImage.Resize(500, 400);
    N1Click();
}

void TImForm::SpeedButton1Click()
{
    TCanvas& canvas = Image1->Canvas();
    canvas.SetPenColor(clBlack);
    canvas.SetBrushColor(clBlack);
}

void TImForm::SpeedButton2Click()
{
    TCanvas& canvas = Image1->Canvas();
    canvas.SetPenColor(clWhite);
    canvas.SetBrushColor(clWhite);
}

void TImForm::SpeedButton3Click()
{
    N1Click();
}

void TImForm::N1Click()
{
    TCanvas& canvas = Image1->Canvas();
    canvas.SetPenColor(clWhite);
    canvas.SetBrushColor(clWhite);
    canvas.Rectangle(0, 0, Image1->width(), Image1->height());
    // Clearing always leaves the brush selected.
    canvas.SetPenColor(clBlack);
    canvas.SetBrushColor(clBlack);
}

void TImForm::N2Click()
{
    SpeedButton1Click();
}

void TImForm::N3Click()
{
    SpeedButton2Click();
}

void TImForm::TrackBar1Change()
{
    Image1->Canvas().SetPenWidth(TrackBar1->value());
}

void TImForm::Image1MouseDown(Qt::MouseButton, int x, int y)
{
    drawing = true;
    Image1->Canvas().MoveTo(x, y);
}

void TImForm::Image1MouseMove(int x, int y)
{
    if (drawing)
        Image1->Canvas().LineTo(x, y);
}

void TImForm::Image1MouseUp(Qt::MouseButton, int, int)
{
    drawing = false;
}

void TImForm::ReadCanvas()
{
    ReadBitmapCells(Image1->Bitmap(), static_cast<std::uint32_t>(Image1->width()),
                    static_cast<std::uint32_t>(Image1->height()), CanvasImage);
}

void TImForm::ExtractObject(std::uint32_t x, std::uint32_t y)
{
    const TFigureBox box = ExtractFigure(CanvasImage, RetinaImage, x, y, Project.State().retinaWidth,
                                         Project.State().retinaHeight, YellowRuns(Image1->Canvas().Image()),
                                         Project.State().fit);
    FigureTaken(box);
}

std::vector<TRecognisedFigure> TImForm::TakeFigures()
{
    const std::vector<TRecognisedFigure> figures =
        Project.RecogniseCanvas(static_cast<std::uint32_t>(Image1->width()),
                                static_cast<std::uint32_t>(Image1->height()), YellowRuns(Image1->Canvas().Image()));
    for (const TRecognisedFigure& figure : figures)
        FigureTaken(figure.box);
    return figures;
}

void TImForm::FigureTaken(const TFigureBox& box)
{
    objectLeft = box.left;
    objectTop = box.top;
    objectWidth = box.width;
    objectHeight = box.height;
    // The yellow marks went straight into the bitmap: repaint their area.
    Image1->update(QRect(static_cast<int>(box.left), static_cast<int>(box.top), static_cast<int>(box.width) + 1,
                         static_cast<int>(box.height) + 1));
}
