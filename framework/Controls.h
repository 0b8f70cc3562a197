#pragma once
// The controls the windows are made of, beyond the toolkit's stock widgets:
// an image control with a drawing canvas, shapes, labels that size
// themselves to their caption, bevels and a string grid.

#include "framework/Canvas.h"

#include <QImage>
#include <QLabel>
#include <QTableWidget>
#include <QWidget>

class QMenu;

// Places a control at (x, y) in its parent with the given size.
template <class W>
W* Place(W* control, int x, int y, int width, int height)
{
    control->setGeometry(x, y, width, height);
    return control;
}

// An image control: a bitmap of the control's size, white at first, with a
// canvas to draw on. Drawing changes the bitmap and repaints only the changed
// area; painting only copies from the bitmap. Mouse positions are in bitmap
// coordinates. Moves are reported with or without a pressed button.
class TImage : public QWidget {
    Q_OBJECT
public:
    TImage(QWidget* parent, int x, int y, int width, int height);

    TCanvas& Canvas() { return canvas_; }
    const QImage& Bitmap() const { return bitmap_; }

    // The menu opened where the right mouse button is released, after
    // mouseUp has been reported; none by default.
    void SetPopupMenu(QMenu* menu) { popupMenu_ = menu; }
    QMenu* PopupMenu() const { return popupMenu_; }

signals:
    void mouseDown(Qt::MouseButton button, int x, int y);
    void mouseMove(int x, int y);
    void mouseUp(Qt::MouseButton button, int x, int y);
    // A left-button press and release inside the control.
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void Changed(const QRect& area);

    QImage bitmap_;
    TCanvas canvas_;
    QMenu* popupMenu_ = nullptr;
    QRect dirty_; // changed since the last repaint request
};

// A rectangle or an ellipse filling its bounds, black outline on white, that
// reports mouse presses.
class TShape : public QWidget {
    Q_OBJECT
public:
    enum class Kind { Rectangle, Ellipse };

    TShape(QWidget* parent, Kind kind, int x, int y, int width, int height);

    Kind ShapeKind() const { return kind_; }

signals:
    void mouseDown(Qt::MouseButton button, int x, int y);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    Kind kind_;
};

// A label at a fixed top-left corner whose size follows its caption; its
// background is transparent.
class TLabel : public QLabel {
    Q_OBJECT
public:
    TLabel(QWidget* parent, int x, int y, const QString& caption = {});

    QString Caption() const { return text(); }
    void SetCaption(const QString& caption);
};

// An etched line along the top or the bottom edge of its bounds.
class TBevel : public QWidget {
    Q_OBJECT
public:
    enum class Shape { TopLine, BottomLine };

    TBevel(QWidget* parent, Shape shape, int x, int y, int width, int height);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Shape shape_;
};

// A grid of text cells addressed by column and row. The first FixedRows rows
// are a header: grey and never selected. A grid of one row has no header.
// The user cannot edit cells in place. cellSelected reports each cell the
// user selects, by mouse or keyboard, also the cell that is already current;
// a current cell that moves because SetRowCount took its row away is not
// reported.
class TStringGrid : public QTableWidget {
    Q_OBJECT
public:
    TStringGrid(QWidget* parent, int x, int y, int width, int height, int columns, int rows,
                int fixedRows, int rowHeight);

    // The text of a cell; empty outside the grid.
    QString Cell(int column, int row) const;
    // Ignored outside the grid.
    void SetCell(int column, int row, const QString& text);

    int RowCount() const { return rowCount(); }
    // Rows kept keep their texts; new rows are empty.
    void SetRowCount(int rows);
    int FixedRows() const { return fixedRows_; }

signals:
    void cellSelected(int column, int row);

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    void StyleRow(int row);

    int fixedRows_;
    bool resizing_ = false; // SetRowCount is at work: moves of the current cell are its own
};
