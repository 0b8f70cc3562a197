#include "framework/Controls.h"

#include <QHeaderView>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPaintEvent>

#include <algorithm>

TImage::TImage(QWidget* parent, int x, int y, int width, int height)
    : QWidget(parent),
      bitmap_(MakeBitmap(width, height)),
      canvas_(bitmap_, [this](const QRect& area) { Changed(area); })
{
    setGeometry(x, y, width, height);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    setContextMenuPolicy(Qt::PreventContextMenu);
}

void TImage::Changed(const QRect& area)
{
    // Many small changes in one handler (a figure painted pixel by pixel)
    // become one repaint of the rectangle around them.
    const bool scheduled = !dirty_.isNull();
    dirty_ |= area;
    if (!scheduled)
        QMetaObject::invokeMethod(this, [this] {
            update(dirty_);
            dirty_ = QRect();
        }, Qt::QueuedConnection);
}

void TImage::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    const QRect area = event->rect();
    painter.fillRect(area, palette().window());
    painter.drawImage(area.topLeft(), bitmap_, area);
}

void TImage::mousePressEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    emit mouseDown(event->button(), p.x(), p.y());
}

void TImage::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    emit mouseMove(p.x(), p.y());
}

void TImage::mouseReleaseEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    emit mouseUp(event->button(), p.x(), p.y());
    if (event->button() == Qt::LeftButton && rect().contains(p))
        emit clicked();
    if (event->button() == Qt::RightButton && popupMenu_)
        popupMenu_->popup(event->globalPosition().toPoint());
}

TShape::TShape(QWidget* parent, Kind kind, int x, int y, int width, int height)
    : QWidget(parent), kind_(kind)
{
    setGeometry(x, y, width, height);
}

void TShape::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(Qt::white);
    const QRect bounds = rect().adjusted(0, 0, -1, -1);
    if (kind_ == Kind::Ellipse) {
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.drawEllipse(bounds);
    } else {
        painter.drawRect(bounds);
    }
}

void TShape::mousePressEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    emit mouseDown(event->button(), p.x(), p.y());
}

TLabel::TLabel(QWidget* parent, int x, int y, const QString& caption)
    : QLabel(parent)
{
    move(x, y);
    setMargin(0);
    SetCaption(caption);
}

void TLabel::SetCaption(const QString& caption)
{
    setText(caption);
    adjustSize();
}

TBevel::TBevel(QWidget* parent, Shape shape, int x, int y, int width, int height)
    : QWidget(parent), shape_(shape)
{
    setGeometry(x, y, width, height);
}

void TBevel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const int y = shape_ == Shape::TopLine ? 0 : height() - 2;
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawLine(0, y, width() - 1, y);
    painter.setPen(palette().color(QPalette::Light));
    painter.drawLine(0, y + 1, width() - 1, y + 1);
}

TStringGrid::TStringGrid(QWidget* parent, int x, int y, int width, int height, int columns,
                         int rows, int fixedRows, int rowHeight)
    : QTableWidget(std::max(rows, 0), std::max(columns, 0), parent),
      fixedRows_(std::clamp(fixedRows, 0, std::max(rows - 1, 0)))
{
    setGeometry(x, y, width, height);
    horizontalHeader()->hide();
    verticalHeader()->hide();
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setDefaultSectionSize(rowHeight);
    horizontalHeader()->setDefaultSectionSize(64);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    for (int r = 0; r < rowCount(); ++r)
        StyleRow(r);
    // The first cell under the header is current at start, without a report.
    if (rowCount() > fixedRows_ && columnCount() > 0)
        setCurrentCell(fixedRows_, 0);
    connect(this, &QTableWidget::currentCellChanged, this,
            [this](int row, int column, int, int) {
                if (!resizing_ && row >= fixedRows_ && column >= 0)
                    emit cellSelected(column, row);
            });
}

void TStringGrid::mousePressEvent(QMouseEvent* event)
{
    const QModelIndex before = currentIndex();
    QTableWidget::mousePressEvent(event);
    // A press on the cell that already was current changes nothing for the
    // view, but it is a selection all the same.
    const QModelIndex pressed = indexAt(event->position().toPoint());
    if (pressed.isValid() && pressed == before && pressed == currentIndex() && pressed.row() >= fixedRows_)
        emit cellSelected(pressed.column(), pressed.row());
}

QString TStringGrid::Cell(int column, int row) const
{
    const QTableWidgetItem* cell = item(row, column);
    return cell ? cell->text() : QString();
}

void TStringGrid::SetCell(int column, int row, const QString& text)
{
    if (row < 0 || row >= rowCount() || column < 0 || column >= columnCount())
        return;
    QTableWidgetItem* cell = item(row, column);
    if (!cell) {
        setItem(row, column, new QTableWidgetItem(text));
        StyleRow(row);
    } else {
        cell->setText(text);
    }
}

void TStringGrid::SetRowCount(int rows)
{
    rows = std::max(rows, 0);
    const int before = rowCount();
    resizing_ = true;
    setRowCount(rows);
    resizing_ = false;
    if (rows <= fixedRows_) {
        // A grid must keep one row that is not a header: it gives up the header.
        fixedRows_ = std::max(rows - 1, 0);
        for (int r = 0; r < rowCount(); ++r)
            StyleRow(r);
    }
    for (int r = before; r < rows; ++r)
        StyleRow(r);
}

void TStringGrid::StyleRow(int row)
{
    const bool header = row < fixedRows_;
    for (int c = 0; c < columnCount(); ++c) {
        QTableWidgetItem* cell = item(row, c);
        if (!cell) {
            cell = new QTableWidgetItem;
            setItem(row, c, cell);
        }
        cell->setFlags(header ? Qt::ItemIsEnabled : Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        cell->setBackground(header ? palette().button() : QBrush());
    }
}
