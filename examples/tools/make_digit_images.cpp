// Makes the picture folders of examples/digit-images for `trelis-cli import`
// and `trelis-cli recognise`: handwritten digits (the strokes, slant and
// tremor of examples/tools/Digits.h), drawn with a round pen in dark grey ink,
// antialiased, on white, each in a picture of its own, saved as 8-bit grey
// PNG files:
//
//   <folder>/train/<digit>/<digit>-NN.png   20 hands for training
//   <folder>/test/<digit>/<digit>-NN.png    10 other hands for testing
//   <folder>/digits.png                      several digits on one sheet
//
// Every picture comes from fixed seeds, so running it again makes the same
// files. The digits of the sheet are checked to be one figure each after
// the black-and-white turn of trelis-cli (and so are taken apart by
// "recognise"). Not run by the tests.
//
//   make_digit_images <folder>

#include "Digits.h"

#include "cli/ImageFile.h"
#include "project/Figures.h"

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPen>

#include <cstdio>
#include <random>

namespace {

[[noreturn]] void Fail(const std::string& what)
{
    std::fprintf(stderr, "make_digit_images: %s\n", what.c_str());
    std::exit(1);
}

// A hand drawn at random from `seed`: the digit's box inside a picture of
// `width` x `height`, slant, tremor and pen.
digits::THand RandomHand(std::uint32_t seed, int width, int height)
{
    std::mt19937 random(seed);
    const auto uniform = [&random](double low, double high) {
        return std::uniform_real_distribution<double>(low, high)(random);
    };
    digits::THand hand;
    const int w = static_cast<int>(uniform(0.45, 0.65) * width);
    const int h = static_cast<int>(uniform(0.6, 0.75) * height);
    const int left = static_cast<int>(uniform(0.15 * width, width - w - 0.15 * width));
    const int top = static_cast<int>(uniform(0.1 * height, height - h - 0.1 * height));
    hand.box = QRect(left, top, w, h);
    hand.slant = uniform(-0.1, 0.25);
    hand.tremor = uniform(0.5, 2.0);
    hand.seed = seed;
    hand.penWidth = static_cast<int>(uniform(3.0, 5.5));
    return hand;
}

// The digit's strokes drawn on the picture with a round pen, antialiased.
void DrawDigit(QImage& picture, int digit, const digits::THand& hand)
{
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(30, 30, 40), hand.penWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    for (const std::vector<QPoint>& stroke : digits::Path(digit, hand)) {
        QPainterPath path(stroke.front());
        for (std::size_t i = 1; i < stroke.size(); ++i)
            path.lineTo(stroke[i]);
        painter.drawPath(path);
    }
}

QImage Sheet(int width, int height)
{
    QImage picture(width, height, QImage::Format_RGB32);
    picture.fill(Qt::white);
    return picture;
}

void Save(const QImage& picture, const QString& path)
{
    if (!picture.convertToFormat(QImage::Format_Grayscale8).save(path, "PNG", 0)) // 0: the strongest compression
        Fail("cannot write " + path.toStdString());
}

// The figures of a picture after the black-and-white turn of trelis-cli.
std::uint32_t FigureCount(const QImage& picture)
{
    TRectImage grid, taken;
    ReadFigureCells(picture, grid);
    taken.Resize(grid.Width, grid.Height);
    std::uint32_t count = 0;
    TCellPos from;
    while (const std::optional<TCellPos> cell = FindFirstSetCell(grid, grid.Width, grid.Height, from)) {
        FillObject(grid, taken, cell->x, cell->y);
        from = TCellPos{cell->x + 1, cell->y};
        ++count;
    }
    return count;
}

void MakeSet(const QString& folder, std::uint32_t firstSeed, int hands)
{
    constexpr int width = 40, height = 56;
    for (int d = 0; d < 10; ++d) {
        const QString digitFolder = folder + QStringLiteral("/%1").arg(d);
        if (!QDir().mkpath(digitFolder))
            Fail("cannot make " + digitFolder.toStdString());
        for (int k = 0; k < hands; ++k) {
            QImage picture = Sheet(width, height);
            DrawDigit(picture, d, RandomHand(firstSeed + static_cast<std::uint32_t>(k), width, height));
            if (FigureCount(picture) != 1)
                Fail("digit " + std::to_string(d) + " of hand " + std::to_string(k) + " falls apart");
            Save(picture, digitFolder + QStringLiteral("/%1-%2.png").arg(d).arg(k + 1, 2, 10, QLatin1Char('0')));
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_digit_images <folder>\n");
        return 2;
    }
    const TGuiToolkitScope toolkit;
    UseGuiToolkit();
    const QString folder = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    MakeSet(folder + QStringLiteral("/train"), 1000, 20);
    MakeSet(folder + QStringLiteral("/test"), 2000, 10);

    // A sheet of digits in a row, as on a form: each of its own hand.
    const int shown[] = {3, 1, 4, 1, 5, 9, 2, 6};
    constexpr int cell = 44, height = 64;
    QImage sheet = Sheet(cell * static_cast<int>(std::size(shown)) + 16, height + 16);
    for (std::size_t k = 0; k < std::size(shown); ++k) {
        digits::THand hand = RandomHand(3000 + static_cast<std::uint32_t>(k), cell, height);
        hand.box.translate(8 + static_cast<int>(k) * cell, 8);
        DrawDigit(sheet, shown[k], hand);
    }
    if (FigureCount(sheet) != std::size(shown))
        Fail("the digits of the sheet are not one figure each");
    Save(sheet, folder + QStringLiteral("/digits.png"));
    std::printf("make_digit_images: 200 training and 100 test pictures and digits.png in %s\n",
                qPrintable(folder));
    return 0;
}
