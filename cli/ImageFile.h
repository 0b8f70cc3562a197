#pragma once
// Picture files for trelis-cli: reading a PNG, PGM/PBM/PPM, JPEG or BMP file
// with Qt's image readers (QtGui, no windows), turning it black and white
// into a grid of cells, and writing the names of recognised figures onto a
// picture the way the answer window writes them.
//
// Black and white: every pixel is first put over white by its alpha, channel
// by channel C' = (C * A + 255 * (255 - A)) / 255 (8-bit straight alpha, as
// Qt gives the pixel in QImage::Format_ARGB32; an image without alpha has
// A = 255), then its luminance Y = 0.299 R' + 0.587 G' + 0.114 B' (ITU-R
// BT.601) is taken; the pixel is figure (cell 1) when Y < 128, background
// (cell 0) otherwise. The comparison is made in whole numbers, without
// rounding: 299 R' + 587 G' + 114 B' < 128000 with each C' kept as a
// fraction over 255. A grey pixel of level v is figure when v <= 127, and a
// picture the canvas window saved reads back exactly as the canvas reads it
// (black is figure; white, and the yellow of taken figures, are not).

#include "images/Images.h"
#include "images/RegularFile.h"
#include "project/Figures.h"

#include <QImage>
#include <QRgb>
#include <QString>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The largest picture read: 4096 x 4096 pixels. A file whose header
// announces more is refused before its pixels are decoded.
inline constexpr std::uint64_t MaxImagePixels = std::uint64_t{4096} * 4096;
// The largest picture file read.
inline constexpr std::uint64_t MaxImageFileSize = std::uint64_t{256} << 20;
// Qt's own limit on the memory one decoded picture may take, in MiB: a
// picture of MaxImagePixels at 16 bits a channel, with room to spare. It
// stops a file whose header does not tell its size before decoding.
inline constexpr int ImageAllocationLimitMiB = static_cast<int>(MaxImagePixels * 8 / (1 << 20)) + 16;

// Makes sure a QGuiApplication exists for Qt's image and font machinery.
// When the process has none, one is made on the "offscreen" platform (no
// display is needed or used, whatever QT_QPA_PLATFORM says), with the font
// substitutions of the workbench ("Times New Roman" is Liberation Serif)
// and the process's C locale kept as it was; it lives until the process
// ends, or until a TGuiToolkitScope ends. Also sets Qt's allocation limit
// for pictures. Cheap after the first call.
void UseGuiToolkit();

// Takes down, when it ends, the QGuiApplication that UseGuiToolkit made
// meanwhile (if any), in order, while the rest of the toolkit still stands:
// one lives in the program's main and in the test programs' main.
class TGuiToolkitScope {
public:
    TGuiToolkitScope() = default;
    ~TGuiToolkitScope();
    TGuiToolkitScope(const TGuiToolkitScope&) = delete;
    TGuiToolkitScope& operator=(const TGuiToolkitScope&) = delete;
};

// Why a picture file could not be read.
enum class TImageReadError {
    None,          // read
    CannotOpen,    // see openError
    TooLargeFile,  // more than MaxImageFileSize bytes
    ReadFailed,    // the file could not be read to its end
    NotAnImage,    // not a PNG, PGM/PBM/PPM, JPEG or BMP picture
    TooManyPixels, // more than MaxImagePixels pixels (size tells how many)
    Damaged,       // the picture's data is damaged or cut short
    OutOfMemory,   // the picture does not fit in memory
};

struct TImageFile {
    TImageReadError error = TImageReadError::None;
    TFileOpenError openError = TFileOpenError::None; // with CannotOpen
    QImage image;       // the picture, turned as its EXIF orientation says; null unless read
    std::string format; // the format found in the file's bytes: "png", "pgm", "jpeg", ...
    std::uint64_t width = 0, height = 0; // with TooManyPixels: the size the header announces

    bool Ok() const { return error == TImageReadError::None; }
};

// Reads a picture file: only a regular file (images/RegularFile.h) of at
// most MaxImageFileSize bytes, whose bytes are a PNG, PGM/PBM/PPM (plain or
// raw), JPEG or BMP picture of at most MaxImagePixels pixels, whatever its
// name says. Needs UseGuiToolkit() first.
TImageFile ReadImageFile(const std::string& path);

// Why the picture could not be read, in Russian: a clause that follows "…: ".
std::string ImageReadReason(const TImageFile& file);

// The extensions of the picture files a folder import takes, lower case,
// without the dot: png, pgm, pbm, ppm, pnm, jpg, jpeg, bmp.
bool IsImageFileName(const std::string& name);

// Whether a pixel (straight alpha, QImage::Format_ARGB32) is figure by the
// rule above.
bool IsFigurePixel(QRgb pixel);

// The picture as cells: `grid` becomes image.width() x image.height() cells,
// 1 where the pixel is figure and 0 elsewhere, without a bias byte. Returns
// how many cells are 1.
std::uint64_t ReadFigureCells(const QImage& image, TRectImage& grid);

// The box of every cell holding 1 in the grid, as TFigureBox keeps it (its
// smallest column and row, largest minus smallest); none when no cell is 1.
std::optional<TFigureBox> FigureCellsBox(const TRectImage& grid);

// The picture marked with the recognised figures: `picture` is turned into
// 32-bit colour (alpha kept) and gets, first, a frame of FrameColor one
// pixel outside every figure's cells (columns left - 1 and left + width + 1,
// rows top - 1 and top + height + 1, as far as the picture reaches), then
// each figure's name, names[k] for figure k, written as the answer window
// writes it (forms/Unit9.cpp, TCanvas::TextOut): font "Times New Roman" of
// box height points on a 96-dots-per-inch bitmap (0 points: the toolkit's
// default size), no antialiasing, transparent background, the text's top-left
// corner at the box's top-left, in NameColor. The picture keeps its own dots
// per inch. Needs UseGuiToolkit() first.
inline constexpr QRgb FrameColor = qRgb(255, 0, 0); // red
inline constexpr QRgb NameColor = qRgb(0, 0, 255);  // blue
void MarkFigures(QImage& picture, const std::vector<TRecognisedFigure>& figures,
                 const std::vector<QString>& names);

// The picture as PNG bytes; empty when it cannot be encoded.
std::string PngBytes(const QImage& picture);
