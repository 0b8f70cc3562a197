#include "project/Inspection.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr std::uint32_t White = 0xffffffffu;
constexpr std::uint32_t Black = 0xff000000u;

std::uint32_t Rgb(std::uint32_t r, std::uint32_t g, std::uint32_t b)
{
    return 0xff000000u | r << 16 | g << 8 | b;
}

} // namespace

TPixels::TPixels(std::uint32_t w, std::uint32_t h, std::uint32_t colour)
    : width(w), height(h), pixels(std::size_t{w} * h, colour)
{
}

void TPixels::Fill(std::int64_t x, std::int64_t y, std::int64_t w, std::int64_t h, std::uint32_t colour)
{
    const std::int64_t x0 = std::max<std::int64_t>(x, 0), x1 = std::min<std::int64_t>(x + w, width);
    const std::int64_t y0 = std::max<std::int64_t>(y, 0), y1 = std::min<std::int64_t>(y + h, height);
    for (std::int64_t row = y0; row < y1; ++row)
        std::fill(pixels.begin() + row * width + x0, pixels.begin() + row * width + std::max(x0, x1), colour);
}

std::vector<std::uint32_t> CellElements(const std::vector<TElementAnswer>& answers, const std::vector<float>& margins,
                                        std::size_t count, std::int32_t t, std::uint32_t a)
{
    count = std::min({count, answers.size(), margins.size()});
    std::vector<std::uint32_t> cell;
    for (std::size_t k = 0; k < count; ++k)
        if (answers[k].trueClass == t && answers[k].answer == a)
            cell.push_back(static_cast<std::uint32_t>(k));
    std::stable_sort(cell.begin(), cell.end(),
                     [&](std::uint32_t x, std::uint32_t y) { return margins[x] > margins[y]; });
    return cell;
}

TGridShape InputShape(std::uint32_t inputs, std::int32_t retinaWidth, std::int32_t retinaHeight)
{
    if (retinaWidth > 0 && retinaHeight > 0 &&
        std::uint64_t{static_cast<std::uint32_t>(retinaWidth)} * static_cast<std::uint32_t>(retinaHeight) == inputs)
        return {static_cast<std::uint32_t>(retinaWidth), static_cast<std::uint32_t>(retinaHeight)};
    if (inputs == 0)
        return {};
    auto width = static_cast<std::uint32_t>(std::sqrt(static_cast<double>(inputs)));
    while (std::uint64_t{width} * width < inputs)
        ++width;
    return {width, (inputs + width - 1) / width};
}

TPixels ElementPicture(const TAbsImage& element, TGridShape shape, std::uint32_t scale)
{
    TPixels picture(shape.width * scale, shape.height * scale);
    const std::size_t cells = std::min<std::size_t>(element.Size, element.Cells.size());
    for (std::size_t i = 0; i < cells && i < std::size_t{shape.width} * shape.height; ++i)
        if (element.Cells[i] != 0)
            picture.Fill(static_cast<std::int64_t>(i % shape.width) * scale,
                         static_cast<std::int64_t>(i / shape.width) * scale, scale, scale, Black);
    return picture;
}

std::uint32_t HiddenNeurons(const TNeuralNet& net)
{
    return net.layers.size() >= 2 ? net.layers.front().neuronCount : 0;
}

TTileGrid FitTiles(std::uint32_t total, TGridShape shape, std::uint32_t width, std::uint32_t height,
                   std::uint32_t largestScale)
{
    TTileGrid grid;
    grid.shape = shape;
    grid.total = total;
    if (total == 0 || shape.width == 0 || shape.height == 0)
        return grid;
    // Columns and rows of tiles at a scale.
    const auto fit = [&](std::uint32_t scale, std::uint64_t& columns, std::uint64_t& rows) {
        columns = (std::uint64_t{width} + TileGap) / (std::uint64_t{shape.width} * scale + TileGap);
        rows = (std::uint64_t{height} + TileGap) / (std::uint64_t{shape.height} * scale + TileGap);
    };
    std::uint64_t columns = 0, rows = 0;
    std::uint32_t scale = std::max(largestScale, 1u);
    for (; scale >= 1; --scale) {
        fit(scale, columns, rows);
        if (columns * rows >= total)
            break;
    }
    if (scale == 0) {
        for (scale = std::min(std::max(largestScale, 1u), 2u); scale >= 1; --scale) {
            fit(scale, columns, rows);
            if (columns * rows > 0)
                break;
        }
        if (scale == 0)
            return grid;
    }
    grid.scale = scale;
    grid.shown = static_cast<std::uint32_t>(std::min<std::uint64_t>(total, columns * rows));
    grid.columns = static_cast<std::uint32_t>(std::min<std::uint64_t>(columns, grid.shown));
    grid.rows = (grid.shown + grid.columns - 1) / grid.columns;
    return grid;
}

std::int64_t TileAt(const TTileGrid& grid, std::int64_t x, std::int64_t y)
{
    if (grid.shown == 0 || x < 0 || y < 0)
        return -1;
    const std::int64_t pitchX = grid.TileWidth() + TileGap, pitchY = grid.TileHeight() + TileGap;
    const std::int64_t column = x / pitchX, row = y / pitchY;
    if (column >= grid.columns || x % pitchX >= grid.TileWidth() || y % pitchY >= grid.TileHeight())
        return -1;
    const std::int64_t k = row * grid.columns + column;
    return k < grid.shown ? k : -1;
}

float TileScale(const TNeuralNet& net, const TTileGrid& grid)
{
    if (HiddenNeurons(net) == 0)
        return 0.0f;
    const TLayer& layer = net.layers.front();
    const std::uint32_t shown = std::min(grid.shown, layer.neuronCount);
    float largest = 0.0f;
    for (std::uint32_t i = 0; i < layer.inputCount; ++i) {
        const float* row = layer.weights[i];
        for (std::uint32_t k = 0; k < shown; ++k)
            largest = std::max(largest, std::fabs(row[k]));
    }
    return std::isfinite(largest) ? largest : 0.0f;
}

std::uint32_t WeightColour(float weight, float scale)
{
    if (!(scale > 0.0f) || !(weight == weight) || weight == 0.0f)
        return White;
    const float share = std::min(std::fabs(weight) / scale, 1.0f);
    // White to a deep red (178, 24, 43) or a deep blue (33, 102, 172).
    const auto mix = [share](std::uint32_t deep) {
        return static_cast<std::uint32_t>(std::lround(255.0f - share * (255.0f - static_cast<float>(deep))));
    };
    return weight > 0.0f ? Rgb(mix(178), mix(24), mix(43)) : Rgb(mix(33), mix(102), mix(172));
}

void DrawTiles(const TNeuralNet& net, const TTileGrid& grid, float scale, TPixels& picture, std::uint32_t x,
               std::uint32_t y)
{
    if (HiddenNeurons(net) == 0 || grid.shown == 0)
        return;
    const TLayer& layer = net.layers.front();
    const std::uint32_t shown = std::min(grid.shown, layer.neuronCount);
    const std::uint64_t cells = std::uint64_t{grid.shape.width} * grid.shape.height;
    const std::int64_t s = grid.scale;
    // Grey between the tiles, and in cells without an input.
    picture.Fill(x, y, grid.Width(), grid.Height(), 0xffa0a0a0u);
    std::vector<std::int64_t> left(shown), top(shown);
    for (std::uint32_t k = 0; k < shown; ++k) {
        left[k] = x + std::int64_t{k % grid.columns} * (grid.TileWidth() + TileGap);
        top[k] = y + std::int64_t{k / grid.columns} * (grid.TileHeight() + TileGap);
        picture.Fill(left[k], top[k], grid.TileWidth(), grid.TileHeight(), 0xffe0e0e0u);
    }
    // Row by row of the weights: each input's weights to the shown neurons.
    for (std::uint32_t i = 0; i < layer.inputCount && i < cells; ++i) {
        const float* row = layer.weights[i];
        const std::int64_t cx = (i % grid.shape.width) * s, cy = (i / grid.shape.width) * s;
        for (std::uint32_t k = 0; k < shown; ++k)
            picture.Fill(left[k] + cx, top[k] + cy, s, s, WeightColour(row[k], scale));
    }
}

void DrawWeightBar(TPixels& picture, std::uint32_t x, std::uint32_t y, std::uint32_t width, std::uint32_t height)
{
    for (std::uint32_t column = 0; column < width; ++column) {
        const float w = width < 2 ? 0.0f : 2.0f * static_cast<float>(column) / static_cast<float>(width - 1) - 1.0f;
        picture.Fill(std::int64_t{x} + column, y, 1, height, WeightColour(w, 1.0f));
    }
}

std::vector<TFavour> FavouredClasses(const TNeuralNet& net, std::uint32_t neuron, std::size_t most)
{
    std::vector<TFavour> favoured;
    if (net.layers.size() != 2 || neuron >= net.layers[0].neuronCount)
        return favoured;
    const TLayer& last = net.layers[1];
    const float* row = last.weights[neuron];
    for (std::uint32_t k = 0; k < last.neuronCount; ++k)
        if (row[k] > 0.0f)
            favoured.push_back({k, row[k]});
    std::stable_sort(favoured.begin(), favoured.end(),
                     [](const TFavour& a, const TFavour& b) { return a.weight > b.weight; });
    if (favoured.size() > most)
        favoured.resize(most);
    return favoured;
}

std::string FileNamePart(const std::string& name)
{
    constexpr std::size_t Longest = 48;
    std::string part;
    for (std::size_t i = 0; i < name.size();) {
        const auto c = static_cast<unsigned char>(name[i]);
        // A whole UTF-8 character: its lead byte and the continuation bytes.
        std::size_t length = 1;
        if (c >= 0xc0)
            while (i + length < name.size() && (static_cast<unsigned char>(name[i + length]) & 0xc0) == 0x80)
                ++length;
        const bool kept = c >= 0xc0 ? length > 1
                                    : (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                                          c == '-' || c == '+' || c == '(' || c == ')' || (c == '.' && !part.empty());
        if (part.size() + (kept ? length : 1) > Longest)
            break;
        if (kept)
            part.append(name, i, length);
        else
            part += '-';
        i += length;
    }
    while (!part.empty() && part.back() == '.')
        part.back() = '-';
    return part.empty() ? "-" : part;
}

std::string WrongAnswerFileName(std::uint64_t place, const std::string& trueName, const std::string& answerName)
{
    std::string number = std::to_string(place);
    if (number.size() < 4)
        number.insert(0, 4 - number.size(), '0');
    return number + '_' + FileNamePart(trueName) + '_' + FileNamePart(answerName) + ".png";
}
