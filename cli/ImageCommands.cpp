// trelis-cli import and recognise: pictures in, a sequence or the named
// figures out. The pictures are read and turned black and white by
// cli/ImageFile.h, a folder is imported by cli/ImageImport.h.
#include "cli/Commands.h"
#include "cli/CommandKit.h"

#include "cli/ImageFile.h"
#include "cli/ImageImport.h"
#include "cli/Options.h"
#include "images/ClassNames.h"
#include "images/PatternRing.h"
#include "project/Figures.h"
#include "project/Learning.h"
#include "project/Project.h"
#include "project/ProjectFile.h"
#include "project/AtomicFile.h"
#include "project/FileReasons.h"
#include "project/Text.h"
#include "project/TextFiles.h"

#include <QString>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <new>
#include <ostream>

const char* const ImportHelp =
    "Использование: trelis-cli import ПАПКА --size N -o ПОСЛЕДОВАТЕЛЬНОСТЬ.llt [--classes-from ИМЕНА]\n"
    "                         [--fit stretch|aspect]\n"
    "\n"
    "Делает последовательность из изображений. В ПАПКЕ по одной папке на класс:\n"
    "имя папки — имя класса, классы идут по порядку имён папок (класс 0 — первая).\n"
    "С --classes-from классы нумеруются, как в проекте: ИМЕНА — проект .trelis\n"
    "или файл имён классов .nam; папка получает номер класса проекта с тем же\n"
    "именем, папки классов, которых в проекте нет, — следующие номера (о них\n"
    "сообщается), а файл имён получает все имена проекта и за ними новые.\n"
    "В папке класса берутся файлы PNG, PGM, PBM, PPM, JPEG и BMP по порядку имён.\n"
    "Изображение делается чёрно-белым: точка — часть фигуры, если её яркость\n"
    "(0,299 R + 0,587 G + 0,114 B после наложения прозрачности на белый фон)\n"
    "меньше 128. Рамка всех точек фигуры вырезается и приводится к сетчатке\n"
    "N x N так же, как кнопка «>>» окна «Вид на сетчатке» приводит фигуру холста.\n"
    "Последовательность и имена классов (файл .nam рядом с ней) записываются так\n"
    "же, как их записывает «Последовательность» / «Сохранить»; элементы идут\n"
    "кругами: первое изображение каждого класса, затем второе и так далее.\n"
    "\n"
    "  --size N                 сторона квадратной сетчатки, от 1 до 447 (обязательно)\n"
    "  -o, --output ФАЙЛ.llt    куда записать последовательность (обязательно)\n"
    "  --classes-from ИМЕНА     нумеровать классы по именам проекта .trelis\n"
    "                           или файла имён .nam\n"
    "  --fit stretch|aspect     stretch (по умолчанию): рамка без последних строки\n"
    "                           и столбца растягивается на всю сетчатку, как «>>»;\n"
    "                           aspect: вся рамка уменьшается или увеличивается\n"
    "                           с сохранением пропорций, длинная сторона — во всю\n"
    "                           сетчатку, по другой оси по центру; клетка ставится,\n"
    "                           если на её площадь попадает точка фигуры. Сеть\n"
    "                           для такой последовательности обучайте с тем же\n"
    "                           --fit (train, tune): проект запомнит его\n"
    "\n"
    "Изображения без единой точки фигуры, нечитаемые и файлы других видов\n"
    "пропускаются с сообщением об ошибке. Печатается, сколько изображений каждого\n"
    "класса взято и сколько файлов пропущено. Скрытые файлы и папки (имя\n"
    "начинается с точки) не рассматриваются.\n";

const char* const RecogniseHelp =
    "Использование: trelis-cli recognise ПРОЕКТ ИЗОБРАЖЕНИЕ [--out КАРТИНКА.png] [--min-size N]\n"
    "                                    [--fit stretch|aspect]\n"
    "\n"
    "Распознаёт сетью проекта все фигуры изображения, как «Холст» / «Распознать».\n"
    "Изображение (PNG, PGM, PBM, PPM, JPEG или BMP) делается чёрно-белым, как в\n"
    "import, и становится холстом своего размера. Фигура — точки, связанные\n"
    "сторонами или углами; фигуры берутся по порядку их первых точек: по строкам\n"
    "сверху вниз, в строке слева направо. Для каждой фигуры печатаются её номер,\n"
    "рамка (левый и верхний край, ширина и высота — наибольшая координата минус\n"
    "наименьшая, как их хранит окно холста) и имя класса. Изображение, на котором\n"
    "больше 100000 фигур (не считая пропущенных по --min-size), не распознаётся.\n"
    "\n"
    "  --min-size N             пропускать фигуры меньше чем из N точек (крупинки,\n"
    "                           шум скана): они не распознаются, не печатаются\n"
    "                           и не считаются; по умолчанию 1 — берутся все\n"
    "  --out КАРТИНКА.png       записать изображение, на котором рамка каждой\n"
    "                           фигуры обведена красным, а имя класса написано\n"
    "                           синим, как в окне ответа: шрифт Times New Roman\n"
    "                           высотой в рамку, левый верхний угол текста в\n"
    "                           левом верхнем углу рамки\n"
    "  --fit stretch|aspect     как вырезать фигуры на сетчатку (см. import);\n"
    "                           по умолчанию — как вырезаны образцы проекта\n";

namespace {

// ---------------------------------------------------------------- import

// The largest retina side: a square element no larger than a project takes.
const std::uint32_t MaxRetinaSide = RetinaSide(static_cast<std::uint32_t>(MaxElementSize));

std::string ImportProgress(std::uint64_t done, std::uint64_t total)
{
    constexpr std::uint64_t width = 30;
    const std::uint64_t filled = done * width / std::max<std::uint64_t>(total, 1);
    return "\rИмпорт [" + std::string(filled, '#') + std::string(width - filled, '.') + "] " + std::to_string(done) +
           "/" + std::to_string(total);
}

// A class name as the names file gives it back: Windows-1251, white space
// as '_' (WriteClassNames), read again as UTF-8.
std::string StoredName(const std::string& name, std::size_t k)
{
    return Cp1251ToUtf8(StorableClassName(Utf8ToCp1251(name), k));
}

// The class names of a project file or of a names file. Empty on success,
// otherwise the refusal naming the file.
std::string ReadProjectNames(const std::string& path, std::vector<std::string>& names)
{
    if (Extension(path) == ProjectFileExtension) {
        TProjectState state;
        if (std::string refusal = OpenProjectFile(path, state); !refusal.empty())
            return refusal;
        names = std::move(state.classNames);
        return {};
    }
    const TClassNamesFile file = LoadClassNames(path);
    if (!file.Ok())
        return "не удалось прочитать имена классов из файла «" + path + "»" +
               (file.error == TClassNamesError::CannotOpen ? ": " + FileOpenReason(file.openError) : std::string());
    names.clear();
    for (const std::string& word : file.names)
        names.push_back(file.encoding == TTextEncoding::Utf8 ? word : Cp1251ToUtf8(word));
    return {};
}

// Imports the classes, skipped files told on the error stream and a
// progress bar on a terminal; false when the sequence does not fit in memory.
bool ImportWithProgress(std::vector<TImportClass>& classes, std::uint32_t side, PatternRing& ring,
                        const std::vector<std::int32_t>& numbers, TFigureFit fit, const TCliTerminal& terminal,
                        std::ostream& out, std::ostream& err)
{
    TImportReport report;
    bool barShown = false;
    report.skipped = [&](const std::string& path, const std::string& reason) {
        if (barShown) {
            out << "\r\033[K" << std::flush;
            barShown = false;
        }
        err << "trelis-cli import: пропущен файл «" << path << "»: " << reason << ".\n";
    };
    std::uint64_t step = 1;
    report.progress = [&](std::uint64_t done, std::uint64_t total) {
        step = std::max<std::uint64_t>(total / 100, 1);
        if (terminal.progress && (done % step == 0 || done == total)) {
            out << ImportProgress(done, total) << std::flush;
            barShown = true;
        }
    };
    bool fitted = true;
    try {
        ImportImages(classes, side, ring, report, numbers, fit);
    } catch (const std::bad_alloc&) {
        fitted = false;
    }
    if (barShown)
        out << "\r\033[K";
    return fitted;
}

// How many pictures of each class were taken and skipped, and in all.
void PrintImportCounts(const std::vector<TImportClass>& classes, const std::vector<std::int32_t>& numbers,
                       std::ostream& out)
{
    std::uint64_t imported = 0, skipped = 0;
    for (std::size_t k = 0; k < classes.size(); ++k) {
        out << "  " << numbers[k] << " «" << classes[k].name << "»: взято " << classes[k].imported
            << ", пропущено " << classes[k].skipped << "\n";
        imported += classes[k].imported;
        skipped += classes[k].skipped;
    }
    out << "Всего: взято " << imported << ", пропущено " << skipped << "\n";
}

// The folders numbered after a project's classes, and the names a names file
// cannot hold as they are.
void WarnOfNames(const std::vector<TImportClass>& classes, const std::vector<std::int32_t>& numbers,
                 const std::vector<std::string>& added, const std::string& from, std::size_t known, std::ostream& err)
{
    const char* const command = "import";
    if (!added.empty()) {
        err << "trelis-cli " << command << ": классов";
        for (std::size_t k = 0; k < added.size(); ++k)
            err << (k == 0 ? " «" : ", «") << added[k] << "»";
        err << " нет среди классов «" << from << "»: они получили номера с "
            << known << ".\n";
    }
    for (std::size_t k = 0; k < classes.size(); ++k) {
        const std::string stored = StoredName(classes[k].name, static_cast<std::size_t>(numbers[k]));
        if (stored != classes[k].name)
            err << "trelis-cli " << command << ": имя класса «" << classes[k].name
                << "» записано в файл имён классов как «" << stored << "».\n";
    }
}

} // namespace

int ImportCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                  const TCliTerminal& terminal)
{
    const std::string command = args[0];
    TCommandLine line;
    if (const int answered =
            ParseOrAnswer(args, {{"output"}, {"size"}, {"classes-from"}, {"fit"}}, ImportHelp, 1, line, out, err);
        answered >= 0)
        return answered;
    if (!line.Has("output"))
        return Refuse(err, command, "не указан файл последовательности для записи (-o ПОСЛЕДОВАТЕЛЬНОСТЬ.llt)",
                      CliUsage);
    const std::string output = line.values["output"];
    if (Extension(output) != "llt")
        return Refuse(err, command, "файл последовательности «" + output + "» должен иметь расширение .llt",
                      CliUsage);
    if (!line.Has("size"))
        return Refuse(err, command, "не указана сторона сетчатки (--size N)", CliUsage);
    std::uint64_t side = 0;
    if (const std::string refusal = ParseWhole("size", line.values["size"], 1, MaxRetinaSide, side);
        !refusal.empty())
        return Refuse(err, command, refusal, CliUsage);
    TFigureFit fit = TFigureFit::Stretch;
    if (const std::string refusal = ParseFit(line, fit); !refusal.empty())
        return Refuse(err, command, refusal, CliUsage);

    // The names that number the classes, when given.
    std::vector<std::string> projectNames;
    const bool numbered = line.Has("classes-from");
    if (numbered) {
        const std::string& from = line.values["classes-from"];
        if (Extension(from) != "nam" && Extension(from) != ProjectFileExtension)
            return Refuse(err, command, "для --classes-from нужен проект .trelis или файл имён классов .nam, а не «" +
                                            from + "»",
                          CliUsage);
        if (const std::string refusal = ReadProjectNames(from, projectNames); !refusal.empty())
            return Refuse(err, command, refusal, CliFailed);
    }

    const std::string& folder = line.positional[0];
    std::vector<TImportClass> classes;
    if (const std::string refusal = ListImageFolder(folder, classes); !refusal.empty())
        return Refuse(err, command, refusal, CliFailed);
    std::vector<std::string> names;
    std::vector<std::string> added;
    std::vector<std::int32_t> numbers;
    if (numbered) {
        numbers = NumberByNames(classes, projectNames, names, added);
        if (names.size() > MaxClassNames)
            return Refuse(err, command,
                          "с новыми папками классов больше, чем может быть классов (" + std::to_string(MaxClassNames) +
                              ")",
                          CliFailed);
    } else {
        for (std::size_t k = 0; k < classes.size(); ++k) {
            numbers.push_back(static_cast<std::int32_t>(k));
            names.push_back(classes[k].name);
        }
    }

    UseGuiToolkit();
    out << "Импорт: папка «" << folder << "», классов " << classes.size() << ", сетчатка " << side << " x " << side
        << "\n";
    PatternRing ring;
    if (!ImportWithProgress(classes, static_cast<std::uint32_t>(side), ring, numbers, fit, terminal, out, err))
        return Refuse(err, command, "последовательность не помещается в памяти; ничего не записано", CliFailed);

    PrintImportCounts(classes, numbers, out);
    if (ring.GetCount() == 0)
        return Refuse(err, command, "не взято ни одного изображения; последовательность не записана", CliFailed);

    WarnOfNames(classes, numbers, added, line.values["classes-from"], projectNames.size(), err);
    if (const std::string refusal = SaveSequenceWithNames(output, ring, names); !refusal.empty())
        return Refuse(err, command, refusal, CliFailed);
    out << "Последовательность записана: " << output << " (элементов " << ring.GetCount() << ", размер элемента "
        << ring.GetDimension() << "), имена классов: " << ClassNamesFileName(output) << "\n";
    if (fit == TFigureFit::Aspect)
        out << "Фигуры вырезаны с сохранением пропорций: обучайте сеть с --fit aspect (train, tune).\n";
    return CliOk;
}

// ---------------------------------------------------------------- recognise

namespace {

// The most figures recognise names: a listing of about 5 MB; a drawing on
// the canvas has at most 50,000 separate figures.
constexpr std::size_t MaxRecognisedFigures = 100000;

} // namespace

namespace {

// Why pictures cannot be put to the project's network: it has no network,
// or its retina does not have as many cells as the network inputs. Empty
// when they can.
std::string RetinaRefusal(const TProjectState& state, const std::string& projectPath)
{
    if (!state.net || state.net->layerCount == 0 || state.net->outputCount == 0)
        return "в проекте «" + projectPath + "» нет сети";
    const std::uint32_t inputs = NetworkInputCount(*state.net);
    const std::int64_t retinaCells = std::int64_t{state.retinaWidth} * state.retinaHeight;
    if (state.retinaWidth > 0 && state.retinaHeight > 0 && retinaCells == std::int64_t{inputs})
        return {};
    return "сеть проекта «" + projectPath + "» не подходит к его сетчатке: сетчатка " +
           std::to_string(state.retinaWidth) + " x " + std::to_string(state.retinaHeight) + " — это " +
           Counted(static_cast<std::uint64_t>(std::max<std::int64_t>(retinaCells, 0)), "клетка", "клетки", "клеток") +
           ", а входов у сети " + std::to_string(inputs) +
           ". Создайте проект с таким размером элемента («Файл» → «Новый проект»)";
}

// The figures found, one line each: number, box and class.
void PrintFigures(const std::vector<TRecognisedFigure>& figures, const std::vector<std::string>& names,
                  std::ostream& out)
{
    out << "Фигур: " << figures.size() << "\n";
    if (figures.empty())
        return;
    const std::size_t numberWidth = std::max<std::size_t>(std::to_string(figures.size()).size(), 1);
    out << PadLeft("№", numberWidth) << "  слева  сверху  ширина  высота  класс\n";
    for (std::size_t k = 0; k < figures.size(); ++k) {
        const TFigureBox& box = figures[k].box;
        out << PadLeft(std::to_string(k + 1), numberWidth) << "  " << PadLeft(std::to_string(box.left), 5) << "  "
            << PadLeft(std::to_string(box.top), 6) << "  " << PadLeft(std::to_string(box.width), 6) << "  "
            << PadLeft(std::to_string(box.height), 6) << "  " << names[k] << "\n";
    }
}

} // namespace

int RecogniseCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    const std::string command = args[0];
    TCommandLine line;
    if (const int answered = ParseOrAnswer(args, {{"out"}, {"min-size"}, {"fit"}}, RecogniseHelp, 2, line, out, err);
        answered >= 0)
        return answered;
    std::uint64_t minSize = 1;
    if (line.Has("min-size"))
        if (const std::string refusal =
                ParseWhole("min-size", line.values["min-size"], 1, std::numeric_limits<std::uint32_t>::max(), minSize);
            !refusal.empty())
            return Refuse(err, command, refusal, CliUsage);
    const std::string& projectPath = line.positional[0];
    const std::string& imagePath = line.positional[1];
    if (Extension(projectPath) != ProjectFileExtension)
        return Refuse(err, command, "первый аргумент «" + projectPath + "» должен быть проектом .trelis", CliUsage);
    const bool marking = line.Has("out");
    const std::string marked = marking ? line.values["out"] : std::string();
    if (marking && Extension(marked) != "png")
        return Refuse(err, command, "картинка «" + marked + "» для --out должна иметь расширение .png", CliUsage);

    TProjectState state;
    if (const std::string refusal = OpenProjectFile(projectPath, state); !refusal.empty())
        return Refuse(err, command, refusal, CliFailed);
    if (const std::string refusal = RetinaRefusal(state, projectPath); !refusal.empty())
        return Refuse(err, command, refusal, CliFailed);
    TFigureFit fit = state.fit;
    if (const std::string refusal = ParseFit(line, fit); !refusal.empty())
        return Refuse(err, command, refusal, CliUsage);

    UseGuiToolkit();
    TImageFile picture = ReadImageFile(imagePath);
    if (!picture.Ok())
        return Refuse(err, command,
                      "не удалось прочитать изображение «" + imagePath + "»: " + ImageReadReason(picture), CliFailed);
    const auto width = static_cast<std::uint32_t>(picture.image.width());
    const auto height = static_cast<std::uint32_t>(picture.image.height());
    std::vector<TRecognisedFigure> figures;
    try {
        TRectImage canvas;
        TRectImage retina;
        ReadFigureCells(picture.image, canvas);
        figures = RecogniseFigures(canvas, retina, width, height, state.retinaWidth, state.retinaHeight, *state.net,
                                   {}, TFigureFilter{minSize, MaxRecognisedFigures + 1}, fit);
    } catch (const std::bad_alloc&) {
        return Refuse(err, command, "изображение «" + imagePath + "» не помещается в памяти", CliFailed);
    }

    if (figures.size() > MaxRecognisedFigures)
        return Refuse(err, command,
                      "на изображении «" + imagePath + "» больше " + std::to_string(MaxRecognisedFigures) +
                          " фигур" + (minSize > 1 ? " из " + std::to_string(minSize) + " и более точек" : "") +
                          "; мелкие можно пропустить с --min-size N",
                      CliFailed);
    std::vector<std::string> names;
    for (const TRecognisedFigure& figure : figures) names.push_back(ShownClassName(state.classNames, figure.classIndex));
    out << "Изображение: " << imagePath << ", " << width << " x " << height << "\n";
    PrintFigures(figures, names, out);

    if (marking) {
        std::string png;
        try {
            std::vector<QString> labels;
            for (const std::string& name : names)
                labels.push_back(QString::fromStdString(name));
            MarkFigures(picture.image, figures, labels);
            png = PngBytes(picture.image);
        } catch (const std::bad_alloc&) {
            png.clear();
        }
        if (png.empty())
            return Refuse(err, command, "картинку «" + marked + "» не удалось составить: не хватает памяти",
                          CliFailed);
        if (const std::string refusal = SaveFileAtomically(marked, png); !refusal.empty())
            return Refuse(err, command, "не удалось записать файл «" + marked + "»: " + refusal, CliFailed);
        out << "Картинка записана: " << marked << "\n";
    }
    return CliOk;
}

// ---------------------------------------------------------------- predict

const char* const PredictHelp =
    "Использование: trelis-cli predict ПРОЕКТ ПАПКА|ПОСЛЕДОВАТЕЛЬНОСТЬ.llt --csv ФАЙЛ [--fit stretch|aspect]\n"
    "\n"
    "Отвечает сетью проекта на каждую картинку ПАПКИ или на каждый элемент\n"
    "последовательности и записывает в CSV по строке на каждую: картинку (имя\n"
    "файла) или элемент (номер от 0 в порядке файла), класс, который назвала\n"
    "сеть (первый наибольший выход), и выход сети для каждого класса.\n"
    "Картинки (PNG, PGM, PBM, PPM, JPEG, BMP) берутся прямо из ПАПКИ по порядку\n"
    "имён, делаются чёрно-белыми, и рамка всех точек фигуры приводится к\n"
    "сетчатке проекта, как в import; картинки без точек фигуры и нечитаемые\n"
    "файлы пропускаются с сообщением. Элементы последовательности должны быть\n"
    "того же размера, что и вход сети.\n"
    "\n"
    "  --csv ФАЙЛ               куда записать ответы (обязательно)\n"
    "  --fit stretch|aspect     как вырезать картинки папки на сетчатку (см.\n"
    "                           import); по умолчанию — как вырезаны образцы проекта\n";

namespace {

// The table predict writes: a row for each picture or element, with the
// class the network names and every output.
class TAnswerTable {
public:
    TAnswerTable(TNeuralNet& net, const std::vector<std::string>& names)
        : net_(net),
          names_(names)
    {
        csv_ = "элемент,ответ";
        for (std::uint32_t c = 0; c < net.outputCount; ++c)
            csv_ += ',' + CsvField(ShownClassName(names_, c));
        csv_ += '\n';
    }

    void Add(const std::string& what, const TAbsImage& image)
    {
        const TWinner winner = Classify(net_, image, scratch_);
        csv_ += CsvField(what) + ',' + CsvField(ShownClassName(names_, winner.index));
        for (std::uint32_t c = 0; c < net_.outputCount; ++c)
            csv_ += ',' + CsvNumber(net_.outputs[c]);
        csv_ += '\n';
        ++rows_;
    }

    const std::string& Csv() const { return csv_; }
    std::uint64_t Rows() const { return rows_; }

private:
    TNeuralNet& net_;
    const std::vector<std::string>& names_;
    std::vector<std::int8_t> scratch_;
    std::string csv_;
    std::uint64_t rows_ = 0;
};

// Every element of the sequence file, in the file's order, into the table.
// Empty on success, otherwise the refusal.
std::string AnswerSequence(const std::string& input, TAnswerTable& table, const TNeuralNet& net)
{
    TSequenceWithNames read;
    if (const std::string reason = LoadSequenceWithNames(input, read); !reason.empty())
        return "не удалось загрузить последовательность из файла «" + input + "»: " + reason;
    if (read.sequence.GetDimension() != NetworkInputCount(net))
        return "размер элемента в файле «" + input + "» (" + std::to_string(read.sequence.GetDimension()) +
               ") не совпадает с числом входов сети (" + std::to_string(NetworkInputCount(net)) + ")";
    // The element after the cursor is the first one written.
    std::uint32_t k = 0;
    for (const TAbsImage& e : read.sequence.FileOrder())
        table.Add(std::to_string(k++), e);
    return {};
}

} // namespace

int PredictCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    const std::string command = args[0];
    TCommandLine line;
    if (const int answered = ParseOrAnswer(args, {{"csv"}, {"fit"}}, PredictHelp, 2, line, out, err); answered >= 0)
        return answered;
    const std::string& projectPath = line.positional[0];
    const std::string& input = line.positional[1];
    if (Extension(projectPath) != ProjectFileExtension)
        return Refuse(err, command, "первый аргумент «" + projectPath + "» должен быть проектом .trelis", CliUsage);
    if (!line.Has("csv") || line.values["csv"].empty())
        return Refuse(err, command, "не указан файл CSV для записи (--csv ФАЙЛ)", CliUsage);
    const std::string& csvPath = line.values["csv"];
    if (const std::string reason = WriteRefusal(csvPath); !reason.empty())
        return Refuse(err, command, "файл «" + csvPath + "» не записать: " + reason, CliFailed);

    TProjectState state;
    if (const std::string refusal = OpenProjectFile(projectPath, state); !refusal.empty())
        return Refuse(err, command, refusal, CliFailed);
    const bool fromSequence = Extension(input) == "llt";
    if (const std::string refusal = fromSequence ? (state.net && state.net->outputCount > 0
                                                        ? std::string()
                                                        : "в проекте «" + projectPath + "» нет сети")
                                                 : RetinaRefusal(state, projectPath);
        !refusal.empty())
        return Refuse(err, command, refusal, CliFailed);
    TFigureFit fit = state.fit;
    if (const std::string refusal = ParseFit(line, fit); !refusal.empty())
        return Refuse(err, command, refusal, CliUsage);
    TNeuralNet& net = *state.net;

    TAnswerTable table(net, state.classNames);
    std::uint64_t skipped = 0;
    if (fromSequence) {
        if (const std::string refusal = AnswerSequence(input, table, net); !refusal.empty())
            return Refuse(err, command, refusal, CliFailed);
    } else {
        std::vector<std::string> files;
        if (const std::string refusal = ListPictures(input, files); !refusal.empty())
            return Refuse(err, command, refusal, CliFailed);
        UseGuiToolkit();
        TRectImage retina;
        const auto skip = [&](const std::string& path, const std::string& reason) {
            err << "trelis-cli " << command << ": пропущен файл «" << path << "»: " << reason << ".\n";
            ++skipped;
        };
        for (const std::string& path : files) {
            if (const std::string reason = SamplePictureFile(path, static_cast<std::uint32_t>(state.retinaWidth),
                                                             static_cast<std::uint32_t>(state.retinaHeight), retina, fit);
                !reason.empty())
                skip(path, reason);
            else
                table.Add(std::filesystem::path(path).filename().string(), retina);
        }
    }

    if (table.Rows() == 0 && !fromSequence)
        return Refuse(err, command,
                      "в папке «" + input + "» не прочитано ни одной картинки с фигурой; файл «" + csvPath +
                          "» не записан",
                      CliFailed);
    if (const std::string reason = SaveFileAtomically(csvPath, table.Csv()); !reason.empty())
        return Refuse(err, command, "не удалось записать файл «" + csvPath + "»: " + reason, CliFailed);
    out << "Ответов: " << table.Rows();
    if (skipped > 0)
        out << ", пропущено файлов: " << skipped;
    out << "; записаны в " << csvPath << "\n";
    return CliOk;
}
