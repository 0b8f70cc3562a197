#include "framework/Application.h"
#include "framework/Controls.h"
#include "framework/Seams.h"

#include <QMenu>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

// A shown top-level widget to put controls on.
std::unique_ptr<QWidget> ShownWindow(int w = 300, int h = 200)
{
    auto window = std::make_unique<QWidget>();
    window->resize(w, h);
    window->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    return window;
}

TEST(Image, ReportsMouseEventsInBitmapCoordinates)
{
    auto window = ShownWindow();
    auto* image = new TImage(window.get(), 20, 30, 100, 80);
    image->show();
    QSignalSpy down(image, &TImage::mouseDown);
    QSignalSpy move(image, &TImage::mouseMove);
    QSignalSpy up(image, &TImage::mouseUp);
    QSignalSpy clicked(image, &TImage::clicked);

    QTest::mouseMove(image, QPoint(5, 6));
    ASSERT_GE(move.count(), 1); // moves come without a pressed button too
    EXPECT_EQ(move.last().at(0).toInt(), 5);
    EXPECT_EQ(move.last().at(1).toInt(), 6);

    QTest::mousePress(image, Qt::RightButton, {}, QPoint(10, 12));
    ASSERT_EQ(down.count(), 1);
    EXPECT_EQ(down[0].at(0).value<Qt::MouseButton>(), Qt::RightButton);
    EXPECT_EQ(down[0].at(1).toInt(), 10);
    EXPECT_EQ(down[0].at(2).toInt(), 12);
    QTest::mouseRelease(image, Qt::RightButton, {}, QPoint(10, 12));
    ASSERT_EQ(up.count(), 1);
    EXPECT_EQ(up[0].at(0).value<Qt::MouseButton>(), Qt::RightButton);
    EXPECT_EQ(clicked.count(), 0);

    QTest::mouseClick(image, Qt::LeftButton, {}, QPoint(99, 79));
    EXPECT_EQ(clicked.count(), 1);
    EXPECT_EQ(up.last().at(1).toInt(), 99);
    EXPECT_EQ(up.last().at(2).toInt(), 79);
}

TEST(Image, PaintingShowsTheBitmap)
{
    auto window = ShownWindow();
    auto* image = new TImage(window.get(), 0, 0, 40, 30);
    image->show();
    TCanvas& canvas = image->Canvas();
    canvas.SetPenColor(clBlack);
    canvas.SetBrushColor(clBlue);
    canvas.Rectangle(5, 5, 20, 25);
    canvas.SetPixel(39, 29, clRed);
    const QImage shown = image->grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shown.size(), image->Bitmap().size());
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x)
            ASSERT_EQ(shown.pixel(x, y), image->Bitmap().pixel(x, y)) << x << "," << y;
}

TEST(Image, RightButtonReleaseOpensThePopupMenuAfterReportingTheRelease)
{
    auto window = ShownWindow();
    auto* image = new TImage(window.get(), 0, 0, 100, 100);
    image->show();
    QMenu menu;
    menu.addAction(QStringLiteral("Очистить"));
    image->SetPopupMenu(&menu);
    bool menuOpenAtRelease = true;
    QObject::connect(image, &TImage::mouseUp, image, [&] { menuOpenAtRelease = menu.isVisible(); });

    QTest::mouseClick(image, Qt::LeftButton, {}, QPoint(50, 50));
    EXPECT_FALSE(menu.isVisible());
    QTest::mousePress(image, Qt::RightButton, {}, QPoint(50, 50));
    EXPECT_FALSE(menu.isVisible());
    QTest::mouseRelease(image, Qt::RightButton, {}, QPoint(50, 50));
    EXPECT_FALSE(menuOpenAtRelease);
    EXPECT_TRUE(menu.isVisible());
    menu.hide();
}

TEST(Image, ErrorInAMouseHandlerIsShownAndTheStrokeGoesOn)
{
    auto window = ShownWindow();
    auto* image = new TImage(window.get(), 0, 0, 100, 100);
    image->show();
    QStringList boxes;
    Seams::messageBox = [&](const QString&, const QString& text) { boxes << text; };
    int moves = 0;
    Handle(image, &TImage::mouseDown, image, [](Qt::MouseButton, int, int) {
        throw std::runtime_error("press failed");
    });
    Handle(image, &TImage::mouseMove, image, [&](int, int) { ++moves; });
    QTest::mousePress(image, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(boxes, QStringList{QStringLiteral("press failed")});
    QTest::mouseMove(image, QPoint(20, 20));
    QTest::mouseRelease(image, Qt::LeftButton, {}, QPoint(20, 20));
    EXPECT_GE(moves, 1);
}

TEST(Shape, ReportsPressesWithTheButton)
{
    auto window = ShownWindow();
    auto* shape = new TShape(window.get(), TShape::Kind::Rectangle, 16, 0, 33, 33);
    shape->show();
    QSignalSpy down(shape, &TShape::mouseDown);
    QTest::mousePress(shape, Qt::MiddleButton, {}, QPoint(3, 4));
    ASSERT_EQ(down.count(), 1);
    EXPECT_EQ(down[0].at(0).value<Qt::MouseButton>(), Qt::MiddleButton);
    EXPECT_EQ(down[0].at(1).toInt(), 3);
    EXPECT_EQ(down[0].at(2).toInt(), 4);
    QTest::mouseRelease(shape, Qt::MiddleButton, {}, QPoint(3, 4));
}

TEST(Shape, EllipseLeavesTheCornersUnpainted)
{
    auto window = ShownWindow();
    window->setStyleSheet(QStringLiteral("background: rgb(0, 128, 0)"));
    auto* ellipse = new TShape(window.get(), TShape::Kind::Ellipse, 0, 0, 65, 33);
    auto* square = new TShape(window.get(), TShape::Kind::Rectangle, 70, 0, 33, 33);
    ellipse->show();
    square->show();
    const QImage e = window->grab(ellipse->geometry()).toImage();
    const QImage s = window->grab(square->geometry()).toImage();
    EXPECT_EQ(e.pixelColor(0, 0), QColor(0, 128, 0));
    EXPECT_EQ(e.pixelColor(32, 16), QColor(Qt::white));
    EXPECT_EQ(s.pixelColor(0, 0), QColor(Qt::black));
    EXPECT_EQ(s.pixelColor(16, 16), QColor(Qt::white));
}

TEST(Label, SizeFollowsTheCaption)
{
    QWidget parent;
    TLabel label(&parent, 72, 16, QStringLiteral("1"));
    EXPECT_EQ(label.pos(), QPoint(72, 16));
    const int narrow = label.width();
    label.SetCaption(QStringLiteral("Нейронов:12345"));
    EXPECT_EQ(label.Caption(), QStringLiteral("Нейронов:12345"));
    EXPECT_GT(label.width(), narrow);
    EXPECT_EQ(label.pos(), QPoint(72, 16));
    label.SetCaption(QString());
    EXPECT_LT(label.width(), narrow + 1);
}

TEST(StringGrid, CellsByColumnAndRow)
{
    QWidget parent;
    TStringGrid grid(&parent, 0, 0, 153, 145, 2, 5, 1, 15);
    EXPECT_EQ(grid.RowCount(), 5);
    EXPECT_EQ(grid.columnCount(), 2);
    EXPECT_EQ(grid.FixedRows(), 1);
    EXPECT_EQ(grid.rowHeight(3), 15);
    // The selection starts under the header.
    EXPECT_EQ(grid.currentRow(), 1);
    EXPECT_EQ(grid.currentColumn(), 0);
    grid.SetCell(0, 0, QStringLiteral("Номер"));
    grid.SetCell(1, 0, QStringLiteral("Имя"));
    grid.SetCell(1, 4, QStringLiteral("круг"));
    EXPECT_EQ(grid.Cell(1, 0), QStringLiteral("Имя"));
    EXPECT_EQ(grid.Cell(1, 4), QStringLiteral("круг"));
    EXPECT_EQ(grid.Cell(0, 4), QString());
    // Outside the grid nothing is read or written.
    grid.SetCell(2, 0, QStringLiteral("x"));
    grid.SetCell(0, 5, QStringLiteral("x"));
    grid.SetCell(-1, 0, QStringLiteral("x"));
    EXPECT_EQ(grid.Cell(2, 0), QString());
    EXPECT_EQ(grid.Cell(0, 5), QString());
    EXPECT_EQ(grid.Cell(0, -1), QString());
    EXPECT_EQ(grid.RowCount(), 5);
}

TEST(StringGrid, RowCountChangesKeepTheRemainingTexts)
{
    QWidget parent;
    TStringGrid grid(&parent, 0, 0, 153, 145, 2, 5, 1, 15);
    for (int r = 0; r < 5; ++r)
        grid.SetCell(1, r, QString::number(r * 10));
    grid.SetRowCount(3);
    EXPECT_EQ(grid.Cell(1, 2), QStringLiteral("20"));
    EXPECT_EQ(grid.Cell(1, 3), QString());
    EXPECT_EQ(grid.FixedRows(), 1);
    grid.SetRowCount(6);
    EXPECT_EQ(grid.RowCount(), 6);
    EXPECT_EQ(grid.Cell(1, 5), QString());
    grid.SetCell(1, 5, QStringLiteral("new"));
    EXPECT_EQ(grid.Cell(1, 5), QStringLiteral("new"));
}

TEST(StringGrid, OneRowGridLosesItsHeaderAndItsRowBecomesSelectable)
{
    auto window = ShownWindow();
    auto* grid = new TStringGrid(window.get(), 0, 0, 153, 145, 2, 5, 1, 15);
    grid->show();
    QSignalSpy selected(grid, &TStringGrid::cellSelected);
    grid->setCurrentCell(0, 1);
    EXPECT_EQ(selected.count(), 0); // the header is never reported
    grid->setCurrentCell(2, 0);
    ASSERT_EQ(selected.count(), 1);
    EXPECT_EQ(selected[0].at(0).toInt(), 0);
    EXPECT_EQ(selected[0].at(1).toInt(), 2);

    grid->SetCell(1, 0, QStringLiteral("Имя"));
    grid->SetRowCount(1);
    EXPECT_EQ(grid->FixedRows(), 0);
    EXPECT_EQ(grid->Cell(1, 0), QStringLiteral("Имя"));
    grid->SetRowCount(3);
    EXPECT_EQ(grid->FixedRows(), 0);
    grid->setCurrentCell(0, 1);
    ASSERT_GE(selected.count(), 2);
    EXPECT_EQ(selected.last().at(1).toInt(), 0);
    EXPECT_TRUE(grid->item(0, 1)->flags() & Qt::ItemIsSelectable);
}

} // namespace
