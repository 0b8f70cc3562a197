// trelis-cli import and recognise through RunCli, on pictures the tests
// write themselves with QImage. What the commands make of a picture is
// checked against project/Figures.h run on a grid built straight from the
// cells the picture was drawn from, not from the picture file.
#include "cli/Cli.h"
#include "cli/ImageFile.h"
#include "cli/ImageImport.h"

#include "engine/Random.h"
#include "images/ClassNames.h"
#include "images/PatternRing.h"
#include "project/Figures.h"
#include "project/Learning.h"
#include "project/Project.h"
#include "project/ProjectFile.h"
#include "tests/images/TempFiles.h"

#include <QImage>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <sstream>

namespace {

namespace fs = std::filesystem;

struct TRun {
    int code = -1;
    std::string out;
    std::string err;
};

TRun Cli(const std::vector<std::string>& args, bool terminal = false)
{
    std::ostringstream out, err;
    TCliTerminal t;
    t.progress = terminal;
    TRun r;
    r.code = RunCli(args, out, err, t);
    r.out = out.str();
    r.err = err.str();
    return r;
}

using TRows = std::vector<std::string>;

// A picture of the rows, '#' a black cell and anything else white, each
// cell `scale` x `scale` pixels.
QImage Picture(const TRows& rows, int scale, QImage::Format format = QImage::Format_RGB32)
{
    const int h = static_cast<int>(rows.size());
    const int w = static_cast<int>(rows.front().size());
    QImage image(w * scale, h * scale, QImage::Format_RGB32);
    image.fill(qRgb(255, 255, 255));
    for (int y = 0; y < h * scale; ++y)
        for (int x = 0; x < w * scale; ++x)
            if (rows[static_cast<std::size_t>(y / scale)][static_cast<std::size_t>(x / scale)] == '#')
                image.setPixel(x, y, qRgb(0, 0, 0));
    return image.convertToFormat(format);
}

// The same cells as a canvas grid, one cell a pixel.
TRectImage Grid(const TRows& rows, int scale)
{
    TRectImage grid;
    const auto h = static_cast<std::uint32_t>(rows.size() * scale);
    const auto w = static_cast<std::uint32_t>(rows.front().size() * scale);
    grid.Resize(w, h);
    for (std::uint32_t y = 0; y < h; ++y)
        for (std::uint32_t x = 0; x < w; ++x)
            grid.SetCell(x, y, rows[y / scale][x / scale] == '#' ? 1 : 0);
    return grid;
}

// What the retina view's ">>" leaves on the retina for the first figure of
// the grid.
std::vector<std::int8_t> CanvasCut(const TRows& rows, int scale, std::uint32_t side)
{
    TRectImage canvas = Grid(rows, scale);
    TRectImage retina;
    const std::optional<TCellPos> first = FindFirstSetCell(canvas, canvas.Width, canvas.Height);
    EXPECT_TRUE(first.has_value());
    ExtractFigure(canvas, retina, first->x, first->y, static_cast<std::int32_t>(side),
                  static_cast<std::int32_t>(side));
    return std::vector<std::int8_t>(retina.Cells.begin(), retina.Cells.begin() + side * side);
}

// The elements of a sequence file in file order: class and cells.
std::vector<std::pair<std::int32_t, std::vector<std::int8_t>>> Elements(const std::string& path)
{
    PatternRing ring;
    EXPECT_TRUE(ring.LoadFromFile(path)) << path;
    std::vector<std::pair<std::int32_t, std::vector<std::int8_t>>> elements;
    for (const TAbsImage& e : ring.FileOrder())
        elements.emplace_back(e.ClassIndex, std::vector<std::int8_t>(e.Cells.begin(), e.Cells.begin() + e.Size));
    return elements;
}

// One figure linked through a corner, a hole, a long arm: the crop and the
// rescale both matter.
const TRows Hook = {
    "##.......", //
    "##.......", //
    "..####...", //
    "..#..#...", //
    "..####...", //
    ".....#...", //
    ".....####", //
};

const TRows Bar = {"######"};

const TRows Dot = {"...", ".#.", "..."};

// Writes a plain (ASCII) PGM or PBM of the picture by hand: Qt writes raw ones.
void WritePlain(const std::string& path, const TRows& rows, int scale, bool bitmap)
{
    const QImage image = Picture(rows, scale, QImage::Format_Grayscale8);
    std::ofstream out(path, std::ios::binary);
    out << (bitmap ? "P1\n" : "P2\n") << "# plain\n" << image.width() << " " << image.height() << "\n";
    if (!bitmap)
        out << "255\n";
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const int v = qGray(image.pixel(x, y));
            out << (bitmap ? (v < 128 ? 1 : 0) : v) << (x + 1 < image.width() ? " " : "\n");
        }
    }
}

class ImageCommandsTest : public TempFolderTest {
protected:
    void SetUp() override
    {
        TempFolderTest::SetUp();
        UseGuiToolkit();
    }

    std::string Folder(const std::string& name)
    {
        fs::create_directories(dir_ / name);
        return Path(name);
    }

    static void Save(const QImage& image, const std::string& path, const char* format)
    {
        ASSERT_TRUE(image.save(QString::fromStdString(path), format, 100)) << path;
    }

    // A project of a 4 x 4 retina and a network of random weights that
    // tells figures apart, with three named classes.
    static std::unique_ptr<TNeuralNet> RandomNet(std::time_t seed)
    {
        SetSeedClock([seed] { return seed; });
        auto net = std::make_unique<TNeuralNet>(2, std::vector<std::uint32_t>{16, 6, 3}, 0.68f, 0.0f, 0.0f, 1.0f,
                                                1.0f);
        SetSeedClock({});
        return net;
    }

    void SaveProject(const std::string& path, std::int32_t retinaWidth = 4, std::int32_t retinaHeight = 4,
                     bool withNet = true, std::time_t seed = 1)
    {
        TProjectState state;
        if (withNet)
            state.net = RandomNet(seed);
        state.retinaWidth = retinaWidth;
        state.retinaHeight = retinaHeight;
        state.classNames = {"круг", "крест", "черта"};
        ASSERT_EQ(SaveProjectFile(state, path), "");
    }
};

std::string Joined(const std::vector<std::string>& args)
{
    std::string line;
    for (const std::string& a : args)
        line += a + " ";
    return line;
}

} // namespace

TEST(FigurePixels, DarkerThanMiddleGreyAfterCompositingOverWhite)
{
    struct TCase {
        QRgb pixel;
        bool figure;
    };
    const std::vector<TCase> cases = {
        {qRgb(0, 0, 0), true},          {qRgb(255, 255, 255), false},   {qRgb(127, 127, 127), true},
        {qRgb(128, 128, 128), false},   {qRgb(255, 0, 0), true},        {qRgb(0, 0, 255), true},
        {qRgb(0, 255, 0), false},       {qRgb(255, 255, 0), false},     {qRgba(0, 0, 0, 0), false},
        {qRgba(0, 0, 0, 128), true},    {qRgba(0, 0, 0, 127), false},   {qRgba(255, 255, 255, 255), false},
        {qRgba(100, 100, 100, 255), true},
        // 0.299 * 200 + 0.587 * 100 + 0.114 * 50 = 124.2, and 128.1 with the green one more.
        {qRgb(200, 100, 50), true},     {qRgb(200, 107, 50), false},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(IsFigurePixel(c.pixel), c.figure) << std::hex << c.pixel;
}

TEST_F(ImageCommandsTest, ImportGivesTheRetinaTheCanvasCutGivesInEveryFormat)
{
    struct TCase {
        const char* name;
        TRows rows;
        int scale;
        std::uint32_t side;
        std::function<void(const std::string& path, const QImage& image)> write;
        const char* file;
    };
    const auto qt = [](const char* format, QImage::Format pixels) {
        return [format, pixels](const std::string& path, const QImage& image) {
            ASSERT_TRUE(image.convertToFormat(pixels).save(QString::fromStdString(path), format, 100)) << path;
        };
    };
    const std::vector<TCase> cases = {
        {"png", Hook, 3, 10, qt("PNG", QImage::Format_RGB32), "a.png"},
        {"png grey", Hook, 2, 5, qt("PNG", QImage::Format_Grayscale8), "a.png"},
        {"png 1 bit", Hook, 1, 7, qt("PNG", QImage::Format_Mono), "a.PNG"},
        {"png alpha", Hook, 2, 10,
         [](const std::string& path, const QImage& image) {
             // Transparent background, opaque figure.
             QImage a = image.convertToFormat(QImage::Format_ARGB32);
             for (int y = 0; y < a.height(); ++y)
                 for (int x = 0; x < a.width(); ++x)
                     if (a.pixel(x, y) == qRgb(255, 255, 255))
                         a.setPixel(x, y, qRgba(0, 0, 0, 0));
             ASSERT_TRUE(a.save(QString::fromStdString(path), "PNG"));
         },
         "a.png"},
        {"pgm raw", Hook, 2, 10, qt("PGM", QImage::Format_Grayscale8), "a.pgm"},
        {"pgm plain", Hook, 2, 6,
         [](const std::string& path, const QImage&) { WritePlain(path, Hook, 2, false); }, "a.pgm"},
        {"pbm plain", Hook, 1, 4, [](const std::string& path, const QImage&) { WritePlain(path, Hook, 1, true); },
         "a.pbm"},
        {"ppm raw", Hook, 2, 10, qt("PPM", QImage::Format_RGB32), "a.ppm"},
        {"jpeg", Hook, 4, 10, qt("JPEG", QImage::Format_Grayscale8), "a.jpg"},
        {"jpeg colour", Hook, 4, 8, qt("JPEG", QImage::Format_RGB32), "a.jpeg"},
        {"bmp", Hook, 3, 10, qt("BMP", QImage::Format_RGB32), "a.bmp"},
        {"bmp 1 bit", Hook, 2, 9, qt("BMP", QImage::Format_Mono), "a.bmp"},
        {"bar", Bar, 1, 3, qt("PNG", QImage::Format_RGB32), "a.png"},
        // One cell: a box of no width, cut to nothing, as ">>" cuts it.
        {"dot", Dot, 1, 5, qt("PNG", QImage::Format_RGB32), "a.png"},
        {"large retina", Hook, 3, 40, qt("PNG", QImage::Format_RGB32), "a.png"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(dir_);
        const std::string root = Folder("in/only");
        c.write(root + "/" + c.file, Picture(c.rows, c.scale));
        const TRun r = Cli({"import", Path("in"), "--size", std::to_string(c.side), "-o", Path("s.llt")});
        ASSERT_EQ(r.code, CliOk) << r.err;
        EXPECT_EQ(r.err, "");
        const auto elements = Elements(Path("s.llt"));
        ASSERT_EQ(elements.size(), 1u);
        EXPECT_EQ(elements[0].first, 0);
        EXPECT_EQ(elements[0].second, CanvasCut(c.rows, c.scale, c.side));
    }
}

TEST_F(ImageCommandsTest, ClassesAreTheFoldersInByteOrderAndTheElementsComeInRounds)
{
    // Folder names and how many pictures each holds.
    const std::vector<std::pair<std::string, int>> folders = {
        {"b", 1}, {"a", 2}, {"Б", 1}, {"ё", 1}, {"10", 1}, {"9", 1}, {"two words", 1}};
    for (const auto& [name, count] : folders)
        for (int k = 0; k < count; ++k) {
            // Each class its own bar length, and a second picture a taller one.
            TRows rows(static_cast<std::size_t>(k + 1), std::string(name.size() + 1, '#'));
            Save(Picture(rows, 2), Folder("in/" + name) + "/p" + std::to_string(k) + ".png", "PNG");
        }
    Folder("in/.hidden");
    Save(Picture(Bar, 1), Path("in/.hidden/x.png"), "PNG");
    Save(Picture(Bar, 1), Path("in/loose.png"), "PNG");

    const TRun r = Cli({"import", Path("in"), "--size", "3", "-o", Path("s.llt")}, true);
    ASSERT_EQ(r.code, CliOk) << r.err;
    EXPECT_NE(r.out.find("\rИмпорт ["), std::string::npos);
    EXPECT_NE(r.out.find("Всего: взято 8, пропущено 0"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  2 «a»: взято 2, пропущено 0"), std::string::npos) << r.out;
    // The one name the names file cannot hold as it is.
    EXPECT_EQ(r.err, "trelis-cli import: имя класса «two words» записано в файл имён классов как «two_words».\n");

    const TClassNamesFile names = LoadClassNames(Path("s.nam"));
    ASSERT_TRUE(names.Ok());
    EXPECT_EQ(names.names, (std::vector<std::string>{"10", "9", "a", "b", "two_words", "\xC1", "\xB8"}));

    // Rounds: the first picture of every class, then the second of "a".
    const auto elements = Elements(Path("s.llt"));
    std::vector<std::int32_t> classes;
    for (const auto& e : elements)
        classes.push_back(e.first);
    EXPECT_EQ(classes, (std::vector<std::int32_t>{0, 1, 2, 3, 4, 5, 6, 2}));

    EXPECT_EQ(FileCount(), 8u + 2u + 2u); // pictures, hidden and loose ones, the two written
}

TEST_F(ImageCommandsTest, ClassesFromAProjectNumberTheFoldersAsTheProjectDoes)
{
    // Held-out folders without "крест", and one of a class the project lacks.
    for (const char* name : {"черта", "круг", "звезда"})
        Save(Picture(Bar, 1), Folder(std::string("in/") + name) + "/p.png", "PNG");
    SaveProject(Path("p.trelis"));
    std::vector<std::string> stored;
    for (const char* name : {"круг", "крест", "черта"})
        stored.push_back(Utf8ToCp1251(name));
    ASSERT_TRUE(WriteClassNames(Path("p.nam"), stored));
    stored.push_back(Utf8ToCp1251("звезда"));
    for (const std::string& from : {Path("p.trelis"), Path("p.nam")}) {
        SCOPED_TRACE(from);
        const TRun r = Cli({"import", Path("in"), "--size", "3", "-o", Path("s.llt"), "--classes-from", from});
        ASSERT_EQ(r.code, CliOk) << r.err;
        EXPECT_NE(r.err.find("классов «звезда» нет среди классов"), std::string::npos) << r.err;
        // The folders in byte order: звезда, круг, черта.
        std::vector<std::int32_t> classes;
        for (const auto& e : Elements(Path("s.llt")))
            classes.push_back(e.first);
        EXPECT_EQ(classes, (std::vector<std::int32_t>{3, 0, 2}));
        EXPECT_EQ(LoadClassNames(Path("s.nam")).names, stored);
    }
}

TEST_F(ImageCommandsTest, PredictGivesEveryOutputForEachPictureAndElement)
{
    SaveProject(Path("p.trelis"));
    Save(Picture(Hook, 1), Folder("in") + "/a.png", "PNG");
    Save(Picture(Bar, 2), Path("in/b.bmp"), "BMP");
    Save(Picture({"..."}, 2), Path("in/c-blank.png"), "PNG");
    WriteBytes(Path("in/d.txt"), {'x'});
    const TRun r = Cli({"predict", Path("p.trelis"), Path("in"), "--csv", Path("pictures.csv")});
    ASSERT_EQ(r.code, CliOk) << r.err;
    EXPECT_NE(r.out.find("Ответов: 2, пропущено файлов: 2"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("c-blank.png"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("d.txt"), std::string::npos) << r.err;

    // A sequence of the same two samples: its rows are numbered in file order.
    TProjectState state;
    ASSERT_EQ(OpenProjectFile(Path("p.trelis"), state), "");
    PatternRing ring;
    ring.SetDimension(16);
    std::vector<std::vector<float>> outputs;
    std::vector<std::string> answers;
    for (const TRows& rows : {Hook, Bar}) {
        TRectImage retina;
        ASSERT_TRUE(SamplePicture(Picture(rows, rows == Hook ? 1 : 2), 4, 4, retina));
        std::vector<std::int8_t> scratch;
        answers.push_back(state.classNames[Classify(*state.net, retina, scratch).index]);
        outputs.emplace_back(state.net->outputs, state.net->outputs + 3);
        ring.Add(retina, 0);
    }
    ASSERT_TRUE(ring.SaveToFile(Path("two.llt")));
    ASSERT_EQ(Cli({"predict", Path("p.trelis"), Path("two.llt"), "--csv", Path("elements.csv")}).code, CliOk);
    for (const auto& [file, first] : {std::pair{"pictures.csv", "a.png"}, std::pair{"elements.csv", "0"}}) {
        SCOPED_TRACE(file);
        const auto rows = CsvRows(Path(file));
        ASSERT_EQ(rows.size(), 3u);
        EXPECT_EQ(rows[0], (std::vector<std::string>{"элемент", "ответ", "круг", "крест", "черта"}));
        for (std::size_t k = 0; k < 2; ++k) {
            const std::vector<std::string>& c = rows[k + 1];
            ASSERT_EQ(c.size(), 5u);
            EXPECT_EQ(c[0], k == 0 ? std::string(first) : first == std::string("0") ? "1" : "b.bmp");
            EXPECT_EQ(c[1], answers[k]);
            for (std::size_t o = 0; o < 3; ++o)
                EXPECT_EQ(std::stof(c[2 + o]), outputs[k][o]) << c[2 + o];
        }
    }
}

TEST_F(ImageCommandsTest, PredictQuotesNamesThatHoldCommasQuotesOrLineBreaks)
{
    // In byte order, as predict takes a folder's pictures.
    const std::vector<std::string> names = {"a,b.png", "cr\rx.png", "line\nbreak.png", "plain.png", "x\"y\"\".png"};
    TProjectState state;
    state.net = RandomNet(1);
    state.retinaWidth = state.retinaHeight = 4;
    state.classNames = {names[4], names[1], names[2]};
    ASSERT_EQ(SaveProjectFile(state, Path("p.trelis")), "");
    for (const std::string& name : names)
        Save(Picture(Bar, 2), Folder("in") + "/" + name, "PNG");
    const TRun r = Cli({"predict", Path("p.trelis"), Path("in"), "--csv", Path("p.csv")});
    ASSERT_EQ(r.code, CliOk) << r.err;
    const auto rows = CsvRows(Path("p.csv"));
    ASSERT_EQ(rows.size(), names.size() + 1);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"элемент", "ответ", names[4], names[1], names[2]}));
    for (std::size_t k = 0; k < names.size(); ++k) {
        ASSERT_EQ(rows[k + 1].size(), 5u) << k;
        EXPECT_EQ(rows[k + 1][0], names[k]);
    }
}

TEST_F(ImageCommandsTest, SkippedFilesAreNamedWithTheirReasons)
{
    const std::string cls = Folder("in/x");
    Save(Picture(Hook, 1), cls + "/a.png", "PNG");
    Save(Picture({"....", "...."}, 3), cls + "/b-blank.png", "PNG");
    WriteBytes(cls + "/c-garbage.png", Bytes(300, 0x5A));
    const Bytes whole = [&] {
        Save(Picture(Hook, 5), Path("whole.png"), "PNG");
        return ReadBytes(Path("whole.png"));
    }();
    fs::remove(Path("whole.png"));
    WriteBytes(cls + "/d-cut.png", Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(whole.size() / 2)));
    WriteBytes(cls + "/e-notes.txt", {'h', 'i'});
    WriteBytes(cls + "/.f-hidden.png", Bytes(10, 1));
    {
        std::ofstream huge(cls + "/g-huge.pgm", std::ios::binary);
        huge << "P5\n5000 5000\n255\n" << std::string(64, '\0');
    }
    Save(Picture(Hook, 1), Folder("in/x/sub") + "/h.png", "PNG");
    fs::create_symlink(cls + "/a.png", cls + "/i-link.png");
    fs::create_symlink(cls + "/missing.png", cls + "/j-dangling.png");

    // Whatever reaches the process's own error stream meanwhile (the PNG
    // library's complaint about the cut file must not).
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    const int caught = ::open(Path("stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(caught, STDERR_FILENO);
    const TRun r = Cli({"import", Path("in"), "--size", "5", "-o", Path("s.llt")});
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    ::close(caught);
    EXPECT_EQ(ReadText(Path("stderr.txt")), "");
    fs::remove(Path("stderr.txt"));
    ASSERT_EQ(r.code, CliOk) << r.err;
    EXPECT_NE(r.out.find("  0 «x»: взято 2, пропущено 6"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Всего: взято 2, пропущено 6"), std::string::npos) << r.out;
    const std::vector<std::pair<std::string, std::string>> reasons = {
        {"b-blank.png", "нет ни одной точки фигуры"},
        {"c-garbage.png", "это не изображение PNG, PGM, PBM, PPM, JPEG или BMP"},
        {"d-cut.png", "изображение повреждено или обрывается"},
        {"e-notes.txt", "по расширению это не изображение"},
        {"g-huge.pgm", "изображение 5000 x 5000 точек больше допустимого"},
        {"j-dangling.png", "файл не найден"},
    };
    std::istringstream lines(r.err);
    std::string line;
    std::size_t k = 0;
    while (std::getline(lines, line)) {
        ASSERT_LT(k, reasons.size()) << line;
        SCOPED_TRACE(line);
        EXPECT_EQ(line.rfind("trelis-cli import: пропущен файл «" + cls + "/" + reasons[k].first + "»: ", 0), 0u);
        EXPECT_NE(line.find(reasons[k].second), std::string::npos);
        ++k;
    }
    EXPECT_EQ(k, reasons.size());
    EXPECT_EQ(r.err.find("f-hidden"), std::string::npos);
    EXPECT_EQ(r.err.find("h.png"), std::string::npos);
    EXPECT_EQ(Elements(Path("s.llt")).size(), 2u);
}

TEST_F(ImageCommandsTest, RefusalsOfImportAndRecogniseWriteNothing)
{
    SaveProject(Path("p.trelis"));
    SaveProject(Path("nonet.trelis"), 4, 4, false);
    SaveProject(Path("wide.trelis"), 5, 4);
    SaveProject(Path("noretina.trelis"), 0, 0);
    Save(Picture(Hook, 2), Path("d.png"), "PNG");
    WriteBytes(Path("bad.png"), Bytes(100, 7));
    const std::string marked = Path("m.png");
    Save(Picture(Hook, 1), Folder("in/a") + "/a.png", "PNG");
    Save(Picture({"...."}, 2), Folder("blank/a") + "/a.png", "PNG");
    Folder("flat");
    Save(Picture(Hook, 1), Path("flat/a.png"), "PNG");
    Folder("empty");
    Folder("hidden/.a");
    const std::string in = Path("in");
    const std::string out = Path("s.llt");
    struct TCase {
        std::vector<std::string> args;
        int code;
        std::string reason;
    };
    const std::vector<TCase> cases = {
        {{"import", in, "-o", out}, CliUsage, "не указана сторона сетчатки (--size N)"},
        {{"import", in, "--size", "10"}, CliUsage, "-o ПОСЛЕДОВАТЕЛЬНОСТЬ.llt"},
        {{"import", in, "--size", "0", "-o", out}, CliUsage, "вне допустимых границ (допустимо от 1 до 447)"},
        {{"import", in, "--size", "448", "-o", out}, CliUsage, "вне допустимых границ (допустимо от 1 до 447)"},
        {{"import", in, "--size", "ten", "-o", out}, CliUsage, "не целое"},
        {{"import", in, "--size", "10", "-o", Path("s.txt")}, CliUsage, "расширение .llt"},
        {{"import", "--size", "10", "-o", out}, CliUsage, "нужно аргументов: 1, а дано: 0"},
        {{"import", in, in, "--size", "10", "-o", out}, CliUsage, "нужно аргументов: 1, а дано: 2"},
        {{"import", in, "--size", "10", "-o", out, "--colour"}, CliUsage, "неизвестный параметр «--colour»"},
        {{"import", Path("missing"), "--size", "10", "-o", out}, CliFailed, "«" + Path("missing") + "»: папка не найдена"},
        {{"import", Path("flat/a.png"), "--size", "10", "-o", out}, CliFailed, "это не папка"},
        {{"import", Path("flat"), "--size", "10", "-o", out}, CliFailed, "нет папок классов"},
        {{"import", Path("empty"), "--size", "10", "-o", out}, CliFailed, "нет папок классов"},
        {{"import", Path("hidden"), "--size", "10", "-o", out}, CliFailed, "нет папок классов"},
        {{"import", Path("blank"), "--size", "10", "-o", out}, CliFailed, "не взято ни одного изображения"},
        {{"import", in, "--size", "10", "-o", Path("no/such/s.llt")}, CliFailed, "папка не существует"},
        {{"import", in, "--size", "10", "-o", Path("in")}, CliUsage, "расширение .llt"},
        {{"import", in, "--size", "10", "-o", out, "--classes-from", Path("d.png")}, CliUsage, ".trelis или файл имён"},
        {{"import", in, "--size", "10", "-o", out, "--classes-from", Path("none.nam")}, CliFailed, "файл не найден"},
        {{"predict", Path("wide.trelis"), in, "--csv", Path("p.csv")}, CliFailed, "не подходит к его сетчатке"},
        {{"predict", Path("p.trelis"), Path("missing"), "--csv", Path("p.csv")}, CliFailed, "папка не найдена"},
        {{"predict", Path("p.trelis"), Path("blank/a"), "--csv", Path("p.csv")}, CliFailed, "ни одной картинки"},
        {{"recognise", Path("p.trelis")}, CliUsage, "нужно аргументов: 2, а дано: 1"},
        {{"recognise", Path("d.png"), Path("p.trelis")}, CliUsage, "должен быть проектом .trelis"},
        {{"recognise", Path("p.trelis"), Path("d.png"), "--out", Path("m.jpg")}, CliUsage, "расширение .png"},
        {{"recognise", Path("p.trelis"), Path("d.png"), "--out"}, CliUsage, "нет значения"},
        {{"recognise", Path("missing.trelis"), Path("d.png"), "--out", marked}, CliFailed, "missing.trelis"},
        {{"recognise", Path("nonet.trelis"), Path("d.png"), "--out", marked}, CliFailed, "нет сети"},
        {{"recognise", Path("wide.trelis"), Path("d.png"), "--out", marked}, CliFailed,
         "не подходит к его сетчатке: сетчатка 5 x 4 — это 20 клеток, а входов у сети 16"},
        {{"recognise", Path("noretina.trelis"), Path("d.png"), "--out", marked}, CliFailed,
         "сетчатка 0 x 0 — это 0 клеток"},
        {{"recognise", Path("p.trelis"), Path("none.png"), "--out", marked}, CliFailed,
         "не удалось прочитать изображение «" + Path("none.png") + "»: файл не найден"},
        {{"recognise", Path("p.trelis"), Path("bad.png"), "--out", marked}, CliFailed, "это не изображение"},
        {{"recognise", Path("p.trelis"), dir_.string(), "--out", marked}, CliFailed, "это не обычный файл"},
        {{"recognise", Path("p.trelis"), Path("d.png"), "--out", Path("no/such/m.png")}, CliFailed,
         "папка не существует"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(Joined(c.args));
        const std::size_t files = FileCount();
        const TRun r = Cli(c.args);
        EXPECT_EQ(r.code, c.code);
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(out) || fs::exists(Path("s.nam")) || fs::exists(marked));
        EXPECT_EQ(FileCount(), files);
    }

    // A names file that cannot be written (a folder in its place) keeps the
    // sequence from being written too.
    Folder("s.nam");
    const TRun r = Cli({"import", in, "--size", "10", "-o", out});
    EXPECT_EQ(r.code, CliFailed);
    EXPECT_NE(r.err.find("на этом месте папка"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(ImageCommandsTest, MoreClassFoldersThanClassesAreRefused)
{
    // The command allows MaxClassCount; so many folders would make the test
    // slow, so the limit is lowered here.
    for (const char* name : {"a", "b", "c", "d"})
        Save(Picture(Bar, 1), Folder(std::string("in/") + name) + "/p.png", "PNG");
    std::vector<TImportClass> classes;
    EXPECT_EQ(ListImageFolder(Path("in"), classes, 4), "");
    EXPECT_EQ(classes.size(), 4u);
    EXPECT_EQ(ListImageFolder(Path("in"), classes, 3),
              "в папке «" + Path("in") + "» больше папок классов, чем может быть классов (3)");
}

TEST_F(ImageCommandsTest, RecogniseNamesTheFiguresRecogniseFiguresFinds)
{
    const TRows drawing = {
        "........................", //
        ".##......#......####....", //
        ".##.....###.....#..#....", //
        ".......#####....####....", //
        "................#.......", //
        "..#.......#.....#.......", //
        "...#.....#..............", //
        "....#...#...........##..", //
        ".....#.#............##..", //
        "......#.......#######...", //
        "........................", //
    };
    const int scale = 3;
    // A network whose random weights tell some of the figures apart.
    std::time_t seed = 1;
    for (;; ++seed) {
        ASSERT_LT(seed, 1000);
        TRectImage canvas = Grid(drawing, scale);
        TRectImage retina;
        std::set<std::uint32_t> answers;
        for (const TRecognisedFigure& f :
             RecogniseFigures(canvas, retina, canvas.Width, canvas.Height, 4, 4, *RandomNet(seed)))
            answers.insert(f.classIndex);
        if (answers.size() == 3)
            break;
    }
    SaveProject(Path("p.trelis"), 4, 4, true, seed);
    Save(Picture(drawing, scale), Path("d.png"), "PNG");
    const TRun r = Cli({"recognise", Path("p.trelis"), Path("d.png"), "--out", Path("marked.png")});
    ASSERT_EQ(r.code, CliOk) << r.err;
    EXPECT_EQ(r.err, "");

    // The same cells, the same network, project/Figures.h.
    TProjectState state;
    ASSERT_EQ(OpenProjectFile(Path("p.trelis"), state), "");
    TRectImage canvas = Grid(drawing, scale);
    TRectImage retina;
    const std::vector<TRecognisedFigure> figures =
        RecogniseFigures(canvas, retina, canvas.Width, canvas.Height, 4, 4, *state.net);
    ASSERT_EQ(figures.size(), 5u);
    std::ostringstream expected;
    expected << "Изображение: " << Path("d.png") << ", 72 x 33\nФигур: 5\n№  слева  сверху  ширина  высота  класс\n";
    std::set<std::uint32_t> classes;
    for (std::size_t k = 0; k < figures.size(); ++k) {
        const TFigureBox& b = figures[k].box;
        char row[128];
        std::snprintf(row, sizeof row, "%zu  %5u  %6u  %6u  %6u  ", k + 1, b.left, b.top, b.width, b.height);
        expected << row << state.classNames[figures[k].classIndex] << "\n";
        classes.insert(figures[k].classIndex);
    }
    expected << "Картинка записана: " << Path("marked.png") << "\n";
    EXPECT_EQ(r.out, expected.str());
    EXPECT_EQ(classes.size(), 3u);

    // The picture: the drawing's size, each box framed one pixel outside
    // its cells, a name written inside it.
    QImage marked(QString::fromStdString(Path("marked.png")));
    ASSERT_FALSE(marked.isNull());
    EXPECT_EQ(marked.size(), QSize(72, 33));
    const QImage original = Picture(drawing, scale);
    for (const TRecognisedFigure& f : figures) {
        const int x0 = static_cast<int>(f.box.left) - 1, y0 = static_cast<int>(f.box.top) - 1;
        const int x1 = static_cast<int>(f.box.left + f.box.width) + 1;
        const int y1 = static_cast<int>(f.box.top + f.box.height) + 1;
        // Every pixel of the frame is red, or blue where a name is written over it.
        int red = 0;
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x) {
                if ((x != x0 && x != x1 && y != y0 && y != y1) || !marked.rect().contains(x, y))
                    continue;
                EXPECT_TRUE(marked.pixel(x, y) == FrameColor || marked.pixel(x, y) == NameColor) << x << "," << y;
                red += marked.pixel(x, y) == FrameColor;
            }
        EXPECT_GT(red, x1 - x0);
    }
    int blue = 0, changedElsewhere = 0;
    for (int y = 0; y < marked.height(); ++y)
        for (int x = 0; x < marked.width(); ++x) {
            const QRgb p = marked.pixel(x, y);
            blue += p == NameColor;
            changedElsewhere += p != original.pixel(x, y) && p != NameColor && p != FrameColor;
        }
    EXPECT_GT(blue, 0);
    EXPECT_EQ(changedElsewhere, 0);

    // Without --out nothing is written, and a blank picture has no figure.
    const std::size_t files = FileCount();
    Save(Picture({"..."}, 4), Path("blank.bmp"), "BMP");
    const TRun blank = Cli({"recognise", Path("p.trelis"), Path("blank.bmp")});
    EXPECT_EQ(blank.code, CliOk);
    EXPECT_EQ(blank.out, "Изображение: " + Path("blank.bmp") + ", 12 x 4\nФигур: 0\n");
    EXPECT_EQ(FileCount(), files + 1);
}


TEST_F(ImageCommandsTest, TheAspectFitFromImportThroughTuneToRecognise)
{
    const std::vector<std::pair<std::string, std::vector<TRows>>> classes = {
        {"круг", {{".##.", "#..#", "#..#", ".##."}, {"###", "#.#", "###"}, {".###.", "#...#", "#...#", ".###."}}},
        {"крест", {{"#.#", ".#.", "#.#"}, {"#...#", ".#.#.", "..#..", ".#.#.", "#...#"}, {"#..#", ".##.", "#..#"}}},
        {"черта", {{"####"}, {"#######"}, {"#", "#", "#", "#", "#"}}},
    };
    for (const int scale : {1, 3})
        for (const auto& [name, pictures] : classes)
            for (std::size_t k = 0; k < pictures.size(); ++k)
                Save(Picture(pictures[k], scale), Folder("in" + std::to_string(scale) + "/" + name) + "/" +
                                                      std::to_string(k) + ".png",
                     "PNG");
    for (const char* scale : {"1", "3"})
        ASSERT_EQ(Cli({"import", Path(std::string("in") + scale), "--size", "5", "--fit", "aspect", "-o",
                       Path(std::string("s") + scale + ".llt")})
                      .code,
                  CliOk);
    // Pictures enlarged 3x give the very same elements, strokes as solid as before.
    EXPECT_EQ(Elements(Path("s1.llt")), Elements(Path("s3.llt")));

    // The search gives the same project byte for byte on one thread or two,
    // and the project keeps the fit and the seed.
    for (const char* jobs : {"1", "2"}) {
        const TRun r = Cli({"tune", Path("s1.llt"), "--seed", "7", "--jobs", jobs, "--fit", "aspect", "-o",
                            Path(std::string("t") + jobs + ".trelis")});
        ASSERT_EQ(r.code, CliOk) << r.err;
        EXPECT_NE(r.out.find("Лучшая настройка: скрытых "), std::string::npos) << r.out;
    }
    EXPECT_EQ(ReadText(Path("t1.trelis")), ReadText(Path("t2.trelis")));
    TProjectState tuned;
    ASSERT_EQ(OpenProjectFile(Path("t1.trelis"), tuned), "");
    EXPECT_EQ(tuned.fit, TFigureFit::Aspect);
    ASSERT_TRUE(tuned.seed.has_value());
    EXPECT_GE(*tuned.seed, 7u);
    EXPECT_EQ(tuned.training.seed, tuned.seed);

    // recognise cuts as the project's samples were cut, unless told otherwise.
    Save(Picture(classes[1].second[1], 3), Path("x.png"), "PNG");
    const TRun own = Cli({"recognise", Path("t1.trelis"), Path("x.png")});
    const TRun aspect = Cli({"recognise", Path("t1.trelis"), Path("x.png"), "--fit", "aspect"});
    ASSERT_EQ(own.code, CliOk) << own.err;
    EXPECT_EQ(own.out, aspect.out);
    TRectImage canvas = Grid(classes[1].second[1], 3), retina;
    const auto figures = RecogniseFigures(canvas, retina, canvas.Width, canvas.Height, 5, 5, *tuned.net, {}, {},
                                          TFigureFit::Aspect);
    ASSERT_EQ(figures.size(), 1u);
    EXPECT_NE(own.out.find(tuned.classNames.at(figures[0].classIndex) + "\n"), std::string::npos) << own.out;

    // Refusals come before anything is read or written.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"tune", Path("s1.llt"), "-o", Path("u.trelis"), "--hold-out", "0.2",
                                   "--validation", Path("s3.llt")},
          {"tune", Path("s1.llt"), "-o", Path("u.trelis"), "--fit", "crop"},
          {"import", Path("in1"), "--size", "5", "--fit", "", "-o", Path("u.llt")}}) {
        const TRun r = Cli(args);
        EXPECT_EQ(r.code, CliUsage) << Joined(args) << r.err;
    }
    EXPECT_FALSE(fs::exists(Path("u.trelis")));
    EXPECT_FALSE(fs::exists(Path("u.llt")));
}
