#pragma once
// What the network learned and where it fails, for the progress window and
// trelis-cli alike: the elements behind a cell of a confusion matrix, worst
// first; elements drawn as retina pictures; each hidden neuron's input
// weights drawn as a tile laid out on the retina, with the classes its
// output weights favour; file names for pictures of wrong answers.
// Plain C++: a picture is an array of 0xffRRGGBB pixels, row by row, as
// QImage's Format_RGB32 reads it.

#include "engine/NeuralNet.h"
#include "images/Images.h"
#include "project/Confusion.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct TPixels {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint32_t> pixels; // width * height, row by row

    // A picture of the size, every pixel `colour`.
    TPixels(std::uint32_t w = 0, std::uint32_t h = 0, std::uint32_t colour = 0xffffffffu);
    std::uint32_t At(std::uint32_t x, std::uint32_t y) const { return pixels[std::size_t{y} * width + x]; }
    // Paints the rectangle, clipped to the picture.
    void Fill(std::int64_t x, std::int64_t y, std::int64_t w, std::int64_t h, std::uint32_t colour);
};

// ---- The elements behind a cell --------------------------------------------

// The positions within `answers` of the elements of true class t answered a,
// worst first: greatest margin (margins[k], see AnswerMargin) first, equal
// margins in their order. Only the first `count` answers are looked at.
std::vector<std::uint32_t> CellElements(const std::vector<TElementAnswer>& answers, const std::vector<float>& margins,
                                        std::size_t count, std::int32_t t, std::uint32_t a);

// ---- Pictures on the retina -------------------------------------------------

// How `inputs` cells lie on the retina, row by row: the project's retina when
// it holds exactly that many, otherwise the narrowest square-like grid that
// holds them.
struct TGridShape {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};
TGridShape InputShape(std::uint32_t inputs, std::int32_t retinaWidth, std::int32_t retinaHeight);

// An element as a picture: each cell of the shape a scale x scale square,
// black where the element's cell is set and white elsewhere (also where the
// element has no such cell).
TPixels ElementPicture(const TAbsImage& element, TGridShape shape, std::uint32_t scale);

// ---- The hidden neurons' weights -------------------------------------------

// The neurons of the network's first layer when another layer follows it
// (the hidden layer of a pattern network); 0 otherwise.
std::uint32_t HiddenNeurons(const TNeuralNet& net);

// Pixels between two tiles.
inline constexpr std::uint32_t TileGap = 3;

// How the tiles of the hidden neurons lie in an area: a tile per neuron,
// `scale` pixels per retina cell, `columns` to a row; the first `shown`
// neurons of `total` fit.
struct TTileGrid {
    TGridShape shape; // of one tile, in cells
    std::uint32_t scale = 0;
    std::uint32_t columns = 0;
    std::uint32_t rows = 0;
    std::uint32_t shown = 0;
    std::uint32_t total = 0;

    std::uint32_t TileWidth() const { return shape.width * scale; }
    std::uint32_t TileHeight() const { return shape.height * scale; }
    // The size the shown tiles cover.
    std::uint32_t Width() const { return columns == 0 ? 0 : columns * (TileWidth() + TileGap) - TileGap; }
    std::uint32_t Height() const { return rows == 0 ? 0 : rows * (TileHeight() + TileGap) - TileGap; }
};

// The grid of `total` tiles of the shape in a width x height area: the
// largest scale up to `largestScale` at which all of them fit; when none
// does, the first tiles that fit at scale 2 (1 when a tile is too large for
// that, none when it is too large at 1).
TTileGrid FitTiles(std::uint32_t total, TGridShape shape, std::uint32_t width, std::uint32_t height,
                   std::uint32_t largestScale);

// The tile under (x, y) of the grid's area; -1 outside the shown tiles.
std::int64_t TileAt(const TTileGrid& grid, std::int64_t x, std::int64_t y);

// One scale for all tiles: the largest magnitude of the shown neurons' input
// weights (bias weights aside); 0 when every one is 0.
float TileScale(const TNeuralNet& net, const TTileGrid& grid);

// A weight's colour: white for 0, deepening to red at +scale and to blue at
// -scale; beyond the scale the deepest. Every weight is white on a scale of 0.
std::uint32_t WeightColour(float weight, float scale);

// Draws the shown tiles with the grid's top-left corner at (x, y): neuron k
// at column k % columns and row k / columns, its input i at cell
// (i % shape.width, i / shape.width) of the tile; grey between the tiles
// and in cells without an input.
void DrawTiles(const TNeuralNet& net, const TTileGrid& grid, float scale, TPixels& picture, std::uint32_t x,
               std::uint32_t y);

// The colours from -scale (left) through 0 to +scale (right) as a bar.
void DrawWeightBar(TPixels& picture, std::uint32_t x, std::uint32_t y, std::uint32_t width, std::uint32_t height);

// A class a hidden neuron drives up, and the weight it does it with.
struct TFavour {
    std::uint32_t output = 0;
    float weight = 0.0f;
};
// The outputs hidden neuron `neuron` favours: its positive weights into the
// last layer, largest first, at most `most`. None unless the layer after the
// hidden one is the last.
std::vector<TFavour> FavouredClasses(const TNeuralNet& net, std::uint32_t neuron, std::size_t most);

// ---- Pictures of wrong answers ---------------------------------------------

// A class name as part of a file name: letters of any alphabet, digits, '-',
// '+', '(', ')' and inner '.' kept, every other character (blanks, '_',
// slashes, control characters) made '-'; at most 48 bytes, cut between
// characters; "-" for an empty name.
std::string FileNamePart(const std::string& name);

// NNNN_TRUE_ANSWER.png: the element's place (at least four digits) and the
// two class names as FileNamePart makes them.
std::string WrongAnswerFileName(std::uint64_t place, const std::string& trueName, const std::string& answerName);
