// What the network learned and where it fails, as pictures: trelis-cli
// inspect draws the hidden neurons' weights, and evaluate --errors writes a
// picture of every element answered wrong. The pictures are made by
// project/Inspection.h, as the progress window makes them.
#include "cli/CommandKit.h"
#include "cli/Commands.h"
#include "cli/ImageFile.h"
#include "images/ClassNames.h"
#include "project/AtomicFile.h"
#include "project/Inspection.h"
#include "project/Learning.h"
#include "project/ProjectFile.h"

#include <fstream>
#include <set>
#include <QFont>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <ostream>
#include <system_error>

const char* const InspectHelp =
    "Использование: trelis-cli inspect ПРОЕКТ.trelis --weights КАРТИНКА.png\n"
    "\n"
    "Показывает, чему научилась сеть распознавания: рисует веса входов каждого\n"
    "нейрона скрытого слоя плиткой, разложенной по сетчатке (красный — вес\n"
    "больше 0, синий — меньше, белый — 0; одна шкала для всех плиток, её\n"
    "пределы подписаны под ними), плитки идут по порядку нейронов слева\n"
    "направо и сверху вниз. Для каждого нейрона печатаются классы, выходы\n"
    "которых он усиливает больше всего (наибольшие положительные веса из него).\n"
    "\n"
    "  --weights КАРТИНКА.png   куда записать плитки (обязательно)\n";

namespace {

// The largest picture written, as the largest one read.
constexpr std::uint32_t LargestSide = 4096;
constexpr std::uint32_t Margin = 8;
constexpr std::uint32_t LegendHeight = 44;
constexpr std::uint32_t LargestScale = 8;
// An element answered wrong is drawn this many pixels a cell.
constexpr std::uint32_t ErrorPictureScale = 8;

QImage ToImage(const TPixels& pixels)
{
    return QImage(reinterpret_cast<const uchar*>(pixels.pixels.data()), static_cast<int>(pixels.width),
                  static_cast<int>(pixels.height), static_cast<qsizetype>(pixels.width) * 4, QImage::Format_RGB32)
        .copy();
}

std::string Number(float v)
{
    return Fixed(static_cast<double>(v), std::fabs(v) >= 10.0f ? 1 : 3);
}

// The tiles as square a block as fits in the largest picture.
TTileGrid SquareGrid(std::uint32_t hidden, TGridShape shape)
{
    const auto columns = static_cast<std::uint32_t>(std::ceil(std::sqrt(static_cast<double>(hidden))));
    const std::uint32_t rows = (hidden + columns - 1) / columns;
    const std::uint32_t room = LargestSide - 2 * Margin;
    for (std::uint32_t scale = LargestScale; scale >= 1; --scale) {
        const std::uint64_t width = std::uint64_t{columns} * (shape.width * scale + TileGap) - TileGap;
        const std::uint64_t height = std::uint64_t{rows} * (shape.height * scale + TileGap) - TileGap;
        if (width <= room && height <= room - LegendHeight)
            return FitTiles(hidden, shape, static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height),
                            scale);
    }
    return FitTiles(hidden, shape, room, room - LegendHeight, 1);
}

} // namespace

int InspectCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    const std::string command = args[0];
    TCommandLine line;
    if (const int answered = ParseOrAnswer(args, {{"weights"}}, InspectHelp, 1, line, out, err); answered >= 0)
        return answered;
    const std::string& input = line.positional[0];
    if (Extension(input) != ProjectFileExtension)
        return Refuse(err, command, "аргумент «" + input + "» должен быть проектом .trelis", CliUsage);
    if (!line.Has("weights") || line.values["weights"].empty())
        return Refuse(err, command, "не указана картинка для весов (--weights КАРТИНКА.png)", CliUsage);
    const std::string output = line.values["weights"];
    if (Extension(output) != "png")
        return Refuse(err, command, "картинка весов «" + output + "» должна иметь расширение .png", CliUsage);
    if (const std::string reason = WriteRefusal(output); !reason.empty())
        return Refuse(err, command, "картинку «" + output + "» не записать: " + reason, CliFailed);

    TProjectState project;
    if (const std::string refusal = OpenProjectFile(input, project); !refusal.empty())
        return Refuse(err, command, refusal, CliFailed);
    if (project.HasSeries() && project.net && project.net->layerCount > 0 &&
        project.net->layers.front().inputCount == project.windowSize && project.net->outputCount == 1)
        return Refuse(err, command,
                      "проект «" + input + "» — проект временного ряда: входы его сети — окно ряда, а не клетки "
                      "сетчатки, и классов у него нет",
                      CliFailed);
    const std::uint32_t hidden = project.net ? HiddenNeurons(*project.net) : 0;
    if (hidden == 0)
        return Refuse(err, command, "у сети проекта «" + input + "» нет скрытого слоя", CliFailed);
    const TNeuralNet& net = *project.net;
    const TGridShape shape = InputShape(net.layers.front().inputCount, project.retinaWidth, project.retinaHeight);
    const TTileGrid grid = SquareGrid(hidden, shape);
    if (grid.shown == 0)
        return Refuse(err, command, std::string("плитка нейрона шире ") + std::to_string(LargestSide) + " точек",
                      CliFailed);
    const float scale = TileScale(net, grid);

    // The tiles, and below them the colour bar with its limits.
    const std::uint32_t width = std::max(grid.Width(), 300u) + 2 * Margin;
    TPixels pixels(width, grid.Height() + 2 * Margin + LegendHeight);
    DrawTiles(net, grid, scale, pixels, Margin, Margin);
    const std::uint32_t barTop = grid.Height() + 2 * Margin;
    DrawWeightBar(pixels, Margin, barTop, 200, 10);
    UseGuiToolkit();
    QImage picture = ToImage(pixels);
    {
        QPainter painter(&picture);
        QFont font = painter.font();
        font.setStyleStrategy(QFont::NoAntialias);
        painter.setFont(font);
        painter.setPen(Qt::black);
        const int y = static_cast<int>(barTop) + 12 + painter.fontMetrics().ascent();
        const int x = static_cast<int>(Margin);
        const QString limit = QString::fromStdString(Number(scale));
        painter.drawText(x, y, QStringLiteral("-") + limit);
        painter.drawText(x + 97, y, QStringLiteral("0"));
        const QString top = QStringLiteral("+") + limit;
        painter.drawText(x + 200 - painter.fontMetrics().horizontalAdvance(top), y, top);
        painter.drawText(x + 212, static_cast<int>(barTop) + painter.fontMetrics().ascent(),
                         QStringLiteral("синий: вес < 0, красный: вес > 0"));
    }
    const std::string png = PngBytes(picture);
    if (png.empty())
        return Refuse(err, command, "картинку не удалось закодировать в PNG", CliFailed);
    if (const std::string refusal = SaveFileAtomically(output, png); !refusal.empty())
        return Refuse(err, command, "не удалось записать файл «" + output + "»: " + refusal, CliFailed);

    for (std::uint32_t k = 0; k < hidden; ++k) {
        out << "нейрон " << k + 1 << ":";
        const std::vector<TFavour> favoured = FavouredClasses(net, k, 3);
        for (std::size_t n = 0; n < favoured.size(); ++n)
            out << (n == 0 ? " " : ", ") << "«" << ShownClassName(project.classNames, favoured[n].output) << "» +"
                << Number(favoured[n].weight);
        out << (favoured.empty() ? " не усиливает ни один класс\n" : "\n");
    }
    out << "Веса " << grid.shown << " из " << hidden << " скрытых нейронов записаны: " << output << " (плитки "
        << shape.width << " x " << shape.height << " клеток по " << grid.scale << " точек, шкала ±" << Number(scale)
        << ")\n";
    return CliOk;
}

namespace {

// The list, in the folder, of the pictures evaluate --errors wrote there last:
// they are the only files a later run removes.
const char* const ErrorsListName = ".trelis-errors";

std::set<std::string> ReadLines(const std::string& path)
{
    std::set<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        if (!line.empty())
            lines.insert(line);
    return lines;
}

std::string Lines(const std::set<std::string>& names)
{
    std::string text;
    for (const std::string& name : names)
        text += name + "\n";
    return text;
}

// Why the folder cannot take this run's pictures: it holds files an earlier
// run of evaluate did not write. Empty when it can; `earlier` then lists
// that run's pictures.
std::string ErrorsFolderRefusal(const std::string& folder, std::set<std::string>& earlier)
{
    earlier = ReadLines((std::filesystem::path(folder) / ErrorsListName).string());
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (name == ErrorsListName || name.starts_with(".trelis-") || earlier.count(name) != 0)
            continue;
        return "в папке «" + folder + "» есть файлы, которые записал не evaluate (например, «" + name +
               "»): укажите пустую папку или папку прежних картинок неверных ответов";
    }
    return error ? "папку «" + folder + "» не удалось прочитать" : std::string();
}

} // namespace

int WriteWrongAnswers(const std::string& command, const std::string& folder, const PatternRing& sequence,
                      const TCheckReport& check, const TProjectState& project, std::uint64_t most, std::ostream& out,
                      std::ostream& err)
{
    if (folder.empty())
        return Refuse(err, command, "у параметра «--errors» пустое значение", CliUsage);
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error || !std::filesystem::is_directory(folder))
        return Refuse(err, command, "не удалось создать папку «" + folder + "»", CliFailed);
    const std::string list = (std::filesystem::path(folder) / ErrorsListName).string();
    SettleInterruptedWrites(list); // a run killed part way, before its list is read
    std::set<std::string> earlier;
    if (const std::string refusal = ErrorsFolderRefusal(folder, earlier); !refusal.empty())
        return Refuse(err, command, refusal, CliFailed);
    UseGuiToolkit();
    const TGridShape shape = InputShape(sequence.GetDimension(), project.retinaWidth, project.retinaHeight);
    const std::uint32_t outputs = project.net ? project.net->outputCount : 0;
    std::vector<TFileToWrite> files;
    std::set<std::string> names;
    std::uint64_t wrong = 0;
    // The answers are in the file's order, from the element after the cursor.
    TRingElements::iterator element = sequence.FileOrder().begin();
    for (std::size_t k = 0; k < check.answers.size() && k < sequence.GetCount(); ++k, ++element) {
        const TAbsImage* e = &*element;
        const TElementAnswer& a = check.answers[k];
        if (a.trueClass < 0) // set apart: the project has no class of its name
            continue;
        if (ClassHasOutput(a.trueClass, outputs) && a.answer == static_cast<std::uint32_t>(a.trueClass))
            continue;
        if (++wrong > most)
            continue;
        const std::string name = WrongAnswerFileName(k + 1, ShownClassName(project.classNames, a.trueClass),
                                                     ShownClassName(project.classNames, a.answer));
        names.insert(name);
        // Each picture is drawn as it is written, not all held at once.
        files.push_back({(std::filesystem::path(folder) / name).string(), [e, shape](std::FILE* f) {
                             const std::string png = PngBytes(ToImage(ElementPicture(*e, shape, ErrorPictureScale)));
                             return !png.empty() && std::fwrite(png.data(), 1, png.size(), f) == png.size();
                         }});
    }
    // The pictures, the list that names them and the removal of the earlier
    // run's pictures make one group: a run killed part way leaves the folder
    // all as before or all as after.
    const std::string text = Lines(names);
    files.push_back({list, [&text](std::FILE* f) { return std::fputs(text.c_str(), f) >= 0; }});
    std::vector<std::string> removals;
    for (const std::string& name : earlier)
        if (names.count(name) == 0)
            removals.push_back((std::filesystem::path(folder) / name).string());
    if (const std::string refusal = SaveFilesTogether(files, removals); !refusal.empty())
        return Refuse(err, command, refusal, CliFailed);
    out << "\nКартинок неверных ответов: " << names.size() << ", папка: " << folder << "\n";
    if (wrong > names.size())
        out << "Ещё " << wrong - names.size() << " неверных ответов без картинок (больше --errors-max " << most
            << ")\n";
    return CliOk;
}
