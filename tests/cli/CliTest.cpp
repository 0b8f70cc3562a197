// trelis-cli through RunCli: the figures it prints, the files it writes and
// the ones it refuses to write.
#include "cli/Cli.h"

#include "engine/Random.h"
#include "images/ClassNames.h"
#include "images/PatternRing.h"
#include "project/Learning.h"
#include "project/Project.h"
#include "project/ProjectFile.h"
#include "project/SeriesHeldOut.h"
#include "project/SeriesLoad.h"
#include "tests/images/TempFiles.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iomanip>
#include <sstream>

#include <sys/stat.h>

namespace {

struct TRun {
    int code = -1;
    std::string out;
    std::string err;
};

TRun Cli(const std::vector<std::string>& args)
{
    std::ostringstream out, err;
    TRun r;
    r.code = RunCli(args, out, err);
    r.out = out.str();
    r.err = err.str();
    return r;
}

constexpr std::uint32_t Side = 4;
constexpr std::uint32_t Dimension = Side * Side;

// A 4 x 4 element: the cells of `rows`, '#' set.
TAbsImage Element(const char* rows)
{
    TAbsImage image(Dimension);
    for (std::uint32_t i = 0; i < Dimension; ++i)
        image.Cells[i] = rows[i] == '#' ? 1 : 0;
    return image;
}

struct TSample {
    const char* cells;
    std::int32_t classIndex;
};

// Bars of three directions, a few of each; the last two are the same picture
// in two classes, so that no epoch is ever perfect.
const std::vector<TSample> Training = {
    {"####............", 0}, {"....####........", 0}, {"........####....", 0},
    {"#...#...#...#...", 1}, {".#...#...#...#..", 1}, {"..#...#...#...#.", 1},
    {"#....#....#....#", 2}, {"...#..#..#..#...", 2}, {"............####", 0},
    {"............####", 2},
};

// Pictures the network has not seen, one of them of a class it never wins.
const std::vector<TSample> TestSamples = {
    {"###.............", 0}, {".###............", 0}, {"#...#...#.......", 1}, {"...#...#...#...#", 1},
    {"#....#....#.....", 2}, {".#....#....#....", 2}, {"................", 1},
};

class CliTest : public TempFolderTest {
protected:
    void WriteSequence(const std::string& name, const std::vector<TSample>& samples, bool withNames = true)
    {
        PatternRing ring;
        ring.SetDimension(Dimension);
        for (const TSample& s : samples)
            ring.Add(Element(s.cells), s.classIndex);
        ASSERT_TRUE(ring.SaveToFile(Path(name)));
        if (withNames) {
            ASSERT_TRUE(WriteClassNames(ClassNamesFileName(Path(name)), {"строка", "столбец", "диагональ"}));
        }
    }

    static void Open(const std::string& path, TProjectState& state)
    {
        const std::string refusal = OpenProjectFile(path, state);
        ASSERT_EQ(refusal, "");
    }

    // A project of a network of 16 inputs and `outputs` random outputs, the
    // classes named by their numbers, and the sequence given.
    void SaveRandomProject(const std::string& name, std::uint32_t outputs, PatternRing* sequence = nullptr)
    {
        TProjectState state;
        state.net = std::make_unique<TNeuralNet>(2, std::vector<std::uint32_t>{16, 4, outputs}, 0.68f, 0.0f, 0.0f,
                                                 1.0f, 1.0f);
        for (std::uint32_t k = 0; k < outputs; ++k)
            state.classNames.push_back(std::to_string(k));
        if (sequence != nullptr)
            state.sequence.Swap(*sequence);
        ASSERT_EQ(SaveProjectFile(state, Path(name)), "");
    }
};

// The held-out counts of the epoch lines ("  проверка: верно R из T").
std::vector<std::uint32_t> HeldOutCounts(const std::string& out)
{
    std::vector<std::uint32_t> held;
    const std::string mark = "проверка: верно ";
    for (std::size_t at = out.find(mark); at != std::string::npos; at = out.find(mark, at + 1))
        held.push_back(static_cast<std::uint32_t>(std::stoul(out.substr(at + mark.size()))));
    return held;
}

// Whether the run stopped as patience of `patience` epochs says: the last
// ones no better than the best before them, which was better than all before it.
::testing::AssertionResult PatienceRanOut(const std::vector<std::uint32_t>& counts, std::size_t patience)
{
    if (counts.size() < patience + 1)
        return ::testing::AssertionFailure() << counts.size() << " epochs";
    const auto last = counts.end() - static_cast<std::ptrdiff_t>(patience);
    const std::uint32_t best = *std::max_element(counts.begin(), last);
    if (*std::max_element(last, counts.end()) > best ||
        (last - 1 != counts.begin() && *std::max_element(counts.begin(), last - 1) >= last[-1]))
        return ::testing::AssertionFailure() << "patience did not run out at the end";
    return ::testing::AssertionSuccess();
}

// The "верно C" figure of every epoch line.
std::vector<std::uint32_t> EpochCorrectCounts(const std::string& out)
{
    std::vector<std::uint32_t> counts;
    std::istringstream lines(out);
    std::string line;
    const std::string mark = ": верно ";
    while (std::getline(lines, line))
        if (line.rfind("Эпоха ", 0) == 0)
            counts.push_back(static_cast<std::uint32_t>(std::stoul(line.substr(line.find(mark) + mark.size()))));
    return counts;
}

} // namespace

TEST_F(CliTest, RefusesBadCommandLinesAndFilesWithoutWritingAnything)
{
    WriteSequence("train.llt", Training);
    WriteBytes(Path("short.llt"), {16, 0, 0, 0, 5, 0, 0, 0, 1, 2, 3});
    WriteBytes(Path("broken.trelis"), {'{', '"'});
    WriteBytes(Path("bad.ser"), {'3', ' ', '1', ' ', 'x', ' ', '2'});
    WriteSequence("empty.llt", {});
    WriteSequence("huge.llt", {{"#...............", 20000}});
    WriteSequence("nameless.llt", TestSamples, false);
    WriteSequence("foreign.llt", TestSamples);
    ASSERT_TRUE(WriteClassNames(Path("foreign.nam"), {"a", "b", "c"}));
    std::ofstream(Path("s.ser")) << "6\n1 2 3 4 5 6\n";
    ASSERT_EQ(Cli({"forecast", Path("s.ser"), "--window", "2", "--train-length", "4", "--epochs", "0", "--csv",
                   Path("s.csv"), "-o", Path("series.trelis")})
                  .code,
              CliOk);
    PatternRing small;
    small.SetDimension(9);
    small.Add(TAbsImage(9), 0);
    ASSERT_TRUE(small.SaveToFile(Path("wide.llt")));
    SaveRandomProject("unfit.trelis", 3, &small);
    SaveRandomProject("p.trelis", 3);
    const std::string train = Path("train.llt");
    const std::string out = Path("out.trelis");
    const std::string csv = Path("out.csv");
    struct TCase {
        std::vector<std::string> args;
        int code;
        std::string reason; // a part of the message on the error stream
    };
    const std::vector<TCase> cases = {
        {{}, CliUsage, "Использование"},
        {{"teach"}, CliUsage, "неизвестная команда"},
        {{"train", train}, CliUsage, "-o ПРОЕКТ"},
        {{"train", train, "-o", out, "--hidden", "0"}, CliUsage, "вне допустимых границ"},
        {{"train", train, "-o", out, "--hidden", "10001"}, CliUsage, "вне допустимых границ"},
        {{"train", train, "-o", out, "--hidden", "2x"}, CliUsage, "не целое"},
        {{"train", train, "-o", out, "--max-epochs", "-3"}, CliUsage, "не целое"},
        {{"train", train, "-o", out, "--max-epochs=0"}, CliUsage, "вне допустимых границ"},
        {{"train", train, "-o", out, "--seed", "99999999999999999999"}, CliUsage, "вне допустимых границ"},
        {{"train", train, "-o", out, "--target-accuracy", "1.5"}, CliUsage, "доля от 0 до 1"},
        {{"train", train, "-o", out, "--target-accuracy", "0,5"}, CliUsage, "не число"},
        {{"train", train, "-o", out, "--patience", "0"}, CliUsage, "вне допустимых границ"},
        {{"train", train, "-o", out, "--method", "newton"}, CliUsage, "неизвестный метод"},
        {{"train", train, "-o", out, "--epochs", "5"}, CliUsage, "неизвестный параметр «--epochs»"},
        {{"train", train, "-o", out, "--seed"}, CliUsage, "нет значения"},
        {{"train", train, "-o", Path("out.txt")}, CliUsage, ".trelis"},
        {{"train", Path("missing.llt"), "-o", out}, CliFailed, "файл не найден"},
        {{"train", Path("short.llt"), "-o", out}, CliFailed, "обрывается"},
        {{"train", Path("broken.trelis"), "-o", out}, CliFailed, "broken.trelis"},
        {{"train", Path("bad.ser"), "-o", out}, CliUsage, "неизвестный вид файла"},
        {{"train", Path("empty.llt"), "-o", out}, CliFailed, "нет элементов"},
        {{"train", Path("huge.llt"), "-o", out}, CliFailed, "Число классов должно быть от 1 до 10000, а не 20001"},
        {{"train", train, "-o", Path("no/such/folder/out.trelis")}, CliFailed, "папки «" + Path("no/such/folder") + "» нет"},
        {{"train", train, "-o", out, "--rate", "0"}, CliUsage, "вне допустимых границ"},
        {{"train", train, "-o", out, "--rate", "-1"}, CliUsage, "не число"},
        {{"train", train, "-o", out, "--momentum", "1"}, CliUsage, "вне допустимых границ (допустимо от 0 до 0.99)"},
        {{"train", train, "-o", out, "--method", "stochastic", "--rate", "0.5"}, CliUsage, "обратное распространение"},
        {{"train", train, "-o", out, "--keep-going=yes"}, CliUsage, "не бывает значения"},
        {{"train", Path("series.trelis"), "-o", out}, CliFailed, "проект временного ряда"},
        {{"train", Path("unfit.trelis"), "-o", out}, CliFailed, "не совпадает с числом входов сети (16)"},
        {{"train", train, "-o", out, "--validation", Path("nameless.llt")}, CliFailed, "нет файла имён классов"},
        {{"forecast", Path("p.trelis"), "--csv", Path("f.csv")}, CliFailed, "нет временного ряда"},
        {{"forecast", Path("series.trelis"), "--window", "2", "--csv", Path("f.csv")}, CliUsage, "берутся из проекта"},
        {{"evaluate", Path("p.trelis"), Path("nameless.llt")}, CliFailed, "нет файла имён классов"},
        {{"evaluate", Path("p.trelis"), Path("foreign.llt")}, CliFailed, "ни одно имя класса"},
        {{"evaluate", Path("p.trelis"), Path("wide.llt"), "--csv", Path("w.csv")}, CliFailed,
         "не совпадает с числом входов сети (16)"},
        {{"forecast", Path("s.ser"), "--train-length", "4", "--csv", csv}, CliUsage, "--window"},
        {{"forecast", Path("s.ser"), "--window", "2", "--csv", csv}, CliUsage, "--train-length"},
        {{"forecast", Path("s.ser"), "--window", "2", "--train-length", "4"}, CliUsage, "--csv"},
        {{"forecast", Path("s.ser"), "--window", "x", "--train-length", "4", "--csv", csv}, CliUsage, "window"},
        {{"forecast", Path("s.ser"), "--window", "0", "--train-length", "4", "--csv", csv}, CliFailed,
         "Размер окна должен быть больше нуля"},
        {{"forecast", Path("s.ser"), "--window", "2", "--train-length", "9", "--csv", csv}, CliFailed,
         "больше числа значений"},
        {{"forecast", Path("s.ser"), "--window", "2", "--train-length", "4", "--csv", Path("no/dir.csv")}, CliFailed,
         "папки «" + Path("no") + "» нет"},
        {{"forecast", Path("none.ser"), "--window", "2", "--train-length", "4", "--csv", csv}, CliFailed, "none.ser"},
        {{"predict", Path("p.trelis"), train}, CliUsage, "--csv"},
        {{"predict", Path("p.trelis"), Path("wide.llt"), "--csv", Path("p.csv")}, CliFailed, "(16)"},
        {{"info"}, CliUsage, "нужно аргументов: 1"},
        {{"info", Path("bad.ser")}, CliFailed, "не число"},
        {{"info", Path("short.llt")}, CliFailed, "обрывается"},
        {{"evaluate", Path("missing.trelis"), train}, CliFailed, "missing.trelis"},
        {{"evaluate", out, train, "--csv"}, CliUsage, "нет значения"},
        {{"evaluate", Path("p.trelis"), Path("foreign.llt"), "--errors="}, CliUsage, "«--errors» пустое значение"},
        {{"export", Path("p.trelis"), "-o", Path("nope/sub/x.onnx")}, CliFailed, "папки «" + Path("nope/sub") + "» нет"},
        {{"inspect", Path("p.trelis"), "--weights", Path("w.jpg")}, CliUsage, "«" + Path("w.jpg") + "» должна иметь"},
        {{"inspect", Path("p.trelis"), "--weights", Path("nope/w.png")}, CliFailed, "папки «" + Path("nope") + "» нет"},
        {{"inspect", Path("series.trelis"), "--weights", Path("w.png")}, CliFailed, "проект временного ряда"},
    };
    for (const TCase& c : cases) {
        std::string line;
        for (const std::string& a : c.args)
            line += a + " ";
        SCOPED_TRACE(line);
        const std::size_t files = FileCount();
        const TRun r = Cli(c.args);
        EXPECT_EQ(r.code, c.code);
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
        EXPECT_EQ(r.out.find("Эпоха"), std::string::npos); // refused before any training
        EXPECT_FALSE(std::filesystem::exists(out) || std::filesystem::exists(csv));
        EXPECT_EQ(FileCount(), files); // no temporary file left behind either
    }
}

TEST_F(CliTest, HelpOfTheProgramAndOfEveryCommand)
{
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--help"}, {"info", "--help"}, {"train", "--help"}, {"evaluate", "--help"},
          {"export", "--help"}, {"forecast", "--help"}, {"predict", "--help"}, {"import", "--help"},
          {"recognise", "--help"}}) {
        const TRun r = Cli(args);
        EXPECT_EQ(r.code, CliOk) << args[0];
        EXPECT_EQ(r.out.rfind(args.size() == 1 ? "Использование: trelis-cli" : "Использование: trelis-cli " + args[0], 0),
                  0u)
            << args[0];
        EXPECT_EQ(r.err, "");
    }
    const TRun version = Cli({"--version"});
    EXPECT_EQ(version.code, CliOk);
    EXPECT_EQ(version.out.rfind("trelis-cli ", 0), 0u) << version.out;
}

TEST_F(CliTest, InfoShowsTheFiguresOfEachKindOfFile)
{
    WriteSequence("train.llt", Training);
    SaveRandomProject("p.trelis", 3);
    std::ofstream(Path("s.ser")) << "5\n3 -2.5 7 0 1\n";
    // Names in the single-byte Cyrillic code page: "Да" and "Нет".
    WriteSequence("cp.llt", {{"#...............", 1}}, false);
    WriteBytes(Path("cp.nam"), {0xC4, 0xE0, '\r', '\n', 0xCD, 0xE5, 0xF2, '\r', '\n'});
    struct TCase {
        std::string file;
        std::vector<std::string> lines;
    };
    const std::vector<TCase> cases = {
        // A project's figures are those of "Сведения о проекте" (ProjectInfoTest).
        {"p.trelis", {"  Связей: 76\n", "  2: 2\n"}},
        {"train.llt",
         {"  Размерность: 16\n", "  Длина: 10\n", "  Память: 200 b\n", "  X=4\n", "Классы: 3\n",
          "  строка: 4 элемента\n", "  столбец: 3 элемента\n", "  диагональ: 3 элемента\n"}},
        {"cp.llt", {"Классы: 2\n", "  Да: 0 элементов\n", "  Нет: 1 элемент\n"}},
        {"s.ser", {"  Значений: 5\n", "  Наименьшее: -2.5\n", "  Наибольшее: 7\n"}},
    };
    for (const TCase& c : cases) {
        const TRun r = Cli({"info", Path(c.file)});
        EXPECT_EQ(r.code, CliOk) << c.file << r.err;
        for (const std::string& line : c.lines)
            EXPECT_NE(r.out.find(line), std::string::npos) << c.file << ": " << line << "\n" << r.out;
    }
    // A names file with fewer names than the sequence's classes is named.
    WriteSequence("mixed.llt", TestSamples);
    ASSERT_TRUE(WriteClassNames(Path("mixed.nam"), {"0", "1"}));
    const TRun mixed = Cli({"info", Path("mixed.llt")});
    EXPECT_EQ(mixed.code, CliOk);
    EXPECT_NE(mixed.err.find("«" + Path("mixed.nam") + "», похоже, не от этой последовательности: имён в нём 2, а "
                                                        "классов в последовательности 3"),
              std::string::npos)
        << mixed.err;
}

TEST_F(CliTest, TrainingFromASequenceDependsOnlyOnTheSeed)
{
    WriteSequence("train.llt", Training);
    for (const char* method : {"backprop", "stochastic"}) {
        SCOPED_TRACE(method);
        const auto train = [&](const std::string& out, const char* seed) {
            const TRun r = Cli({"train", Path("train.llt"), "-o", Path(out), "--seed", seed, "--max-epochs", "3",
                                "--method", method});
            EXPECT_EQ(r.code, CliOk) << r.err;
        };
        train("a.trelis", "7");
        train("b.trelis", "7");
        train("c.trelis", "8");
        EXPECT_EQ(ReadBytes(Path("a.trelis")), ReadBytes(Path("b.trelis")));
        EXPECT_NE(ReadBytes(Path("a.trelis")), ReadBytes(Path("c.trelis")));
    }
    // The learning window's rate and momentum are the defaults; others train otherwise.
    const auto trained = [&](const std::string& out, std::vector<std::string> options) {
        std::vector<std::string> args = {"train", Path("train.llt"), "-o", Path(out), "--seed", "7", "--max-epochs", "3"};
        args.insert(args.end(), options.begin(), options.end());
        EXPECT_EQ(Cli(args).code, CliOk);
        return ReadBytes(Path(out));
    };
    const auto base = trained("base.trelis", {});
    EXPECT_EQ(trained("d.trelis", {"--rate", "0.1", "--momentum", "0"}), base);
    EXPECT_NE(trained("e.trelis", {"--rate", "0.3"}), base);
    EXPECT_NE(trained("f.trelis", {"--momentum", "0.5"}), base);
}

TEST_F(CliTest, AnInterruptedRunGoesOnBitForBit)
{
    WriteSequence("train.llt", Training);
    struct TCase {
        const char* method;
        const char* first;
        const char* rest;
        const char* whole;
    };
    for (const TCase& c : {TCase{"backprop", "20", "5", "25"}, TCase{"stochastic", "3", "2", "5"}}) {
        SCOPED_TRACE(c.method);
        const std::vector<std::string> common = {"--seed", "11", "--method", c.method};
        auto args = [&](std::vector<std::string> a) {
            a.insert(a.end(), common.begin(), common.end());
            return a;
        };
        ASSERT_EQ(Cli(args({"train", Path("train.llt"), "-o", Path("part.trelis"), "--max-epochs", c.first})).code,
                  CliOk);
        ASSERT_EQ(Cli(args({"train", Path("part.trelis"), "-o", Path("resumed.trelis"), "--max-epochs", c.rest})).code,
                  CliOk);
        const TRun whole = Cli(args({"train", Path("train.llt"), "-o", Path("whole.trelis"), "--max-epochs", c.whole}));
        ASSERT_EQ(whole.code, CliOk);
        // The pair never agrees, so every run goes to its epoch limit.
        EXPECT_EQ(EpochCorrectCounts(whole.out).size(), std::stoul(c.whole));
        EXPECT_EQ(ReadBytes(Path("resumed.trelis")), ReadBytes(Path("whole.trelis")));
        EXPECT_NE(ReadBytes(Path("part.trelis")), ReadBytes(Path("whole.trelis")));
    }
}

TEST_F(CliTest, StopsAtAPerfectEpochTheTargetAccuracyOrWhenPatienceRunsOut)
{
    WriteSequence("train.llt", Training);
    // Without the contradicting pair the sequence can be learnt.
    WriteSequence("learnable.llt", std::vector<TSample>(Training.begin(), Training.end() - 1));
    struct TCase {
        std::vector<std::string> options;
        std::string reason;
        const char* input = "train.llt";
    };
    const std::vector<TCase> cases = {
        {{"--target-accuracy", "0.5"}, "доля верных ответов"},
        {{"--patience", "2"}, "2 эпохи подряд без улучшения"},
        {{"--max-epochs", "4"}, "наибольшее число эпох"},
        {{"--hidden", "6"}, "все элементы распознаны верно", "learnable.llt"},
        // Past the first perfect epoch, to the epoch limit.
        {{"--hidden", "6", "--keep-going", "--max-epochs", "400"}, "наибольшее число эпох (400)", "learnable.llt"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.reason);
        std::vector<std::string> args = {"train", Path(c.input), "-o", Path("p.trelis"), "--seed", "5"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const TRun r = Cli(args);
        ASSERT_EQ(r.code, CliOk) << r.err;
        EXPECT_NE(r.out.find(c.reason), std::string::npos) << r.out;
        const std::vector<std::uint32_t> counts = EpochCorrectCounts(r.out);
        ASSERT_FALSE(counts.empty());
        if (c.reason == "доля верных ответов") {
            // Only the last epoch reaches half of the ten elements.
            EXPECT_GE(counts.back(), 5u);
            EXPECT_TRUE(std::all_of(counts.begin(), counts.end() - 1, [](std::uint32_t n) { return n < 5; }));
        } else if (c.reason.find("без улучшения") != std::string::npos) {
            EXPECT_TRUE(PatienceRanOut(counts, 2));
        } else if (c.reason == "все элементы распознаны верно") {
            // Only the last epoch is perfect, and the project keeps the names.
            EXPECT_EQ(counts.back(), Training.size() - 1);
            EXPECT_TRUE(std::all_of(counts.begin(), counts.end() - 1,
                                    [](std::uint32_t n) { return n < Training.size() - 1; }));
            TProjectState saved;
            Open(Path("p.trelis"), saved);
            EXPECT_EQ(saved.classNames, (std::vector<std::string>{"строка", "столбец", "диагональ"}));
        } else if (c.input == std::string("learnable.llt")) {
            // Going on, a perfect epoch did not stop the run.
            EXPECT_EQ(counts.size(), 400u);
            EXPECT_EQ(*std::max_element(counts.begin(), counts.end() - 1), Training.size() - 1);
        } else {
            EXPECT_EQ(counts.size(), 4u);
        }
    }
}

TEST_F(CliTest, CtrlCOrASignalToEndStopsAfterTheEpochAndSavesWhatWasTrained)
{
    WriteSequence("train.llt", Training);
    std::ofstream(Path("s.ser")) << "8\n1 3 2 5 4 6 5 7\n";
    const std::vector<std::pair<int, std::vector<std::string>>> runs = {
        {SIGINT, {"train", Path("train.llt"), "-o", Path("p.trelis"), "--max-epochs", "900", "--seed", "3"}},
        {SIGTERM,
         {"forecast", Path("s.ser"), "--window", "2", "--train-length", "6", "--epochs", "900", "--seed", "3", "--csv",
          Path("s.csv"), "-o", Path("s.trelis")}},
    };
    for (const auto& [signal, args] : runs) {
        SCOPED_TRACE(args[0]);
        const TStopSignals stop;
        std::raise(signal); // as good as during the first epoch
        const TRun r = Cli(args);
        EXPECT_EQ(r.code, CliOk) << r.err;
        EXPECT_NE(r.out.find("прервано (Ctrl+C или сигнал завершения) после эпохи 1."), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("Проект записан"), std::string::npos) << r.out;
    }
    // What was saved is the first epoch's training.
    ASSERT_EQ(Cli({"train", Path("train.llt"), "-o", Path("one.trelis"), "--max-epochs", "1", "--seed", "3"}).code,
              CliOk);
    EXPECT_EQ(ReadBytes(Path("p.trelis")), ReadBytes(Path("one.trelis")));
}

TEST_F(CliTest, ValidationReportsTheHeldOutAnswersAndKeepsTheFirstBestEpoch)
{
    WriteSequence("train.llt", Training);
    // The held-out file numbers the classes its own way: they meet by name.
    PatternRing ring;
    ring.SetDimension(Dimension);
    const std::int32_t renumbered[] = {1, 2, 0};
    for (const TSample& s : TestSamples)
        ring.Add(Element(s.cells), renumbered[s.classIndex]);
    ASSERT_TRUE(ring.SaveToFile(Path("test.llt")));
    ASSERT_TRUE(WriteClassNames(Path("test.nam"), {"диагональ", "строка", "столбец"}));
    const std::vector<std::string> base = {"train", Path("train.llt"), "--seed", "5", "--max-epochs", "12"};
    std::vector<std::string> plain = base, checked = base, patient = base;
    plain.insert(plain.end(), {"-o", Path("plain.trelis")});
    checked.insert(checked.end(), {"-o", Path("checked.trelis"), "--validation", Path("test.llt")});
    patient.insert(patient.end(), {"-o", Path("patient.trelis"), "--validation", Path("test.llt"), "--patience", "2"});
    const TRun a = Cli(plain), b = Cli(checked), c = Cli(patient);
    ASSERT_EQ(a.code, CliOk) << a.err;
    ASSERT_EQ(b.code, CliOk) << b.err;
    ASSERT_EQ(c.code, CliOk) << c.err;
    // The checks do not change the training.
    EXPECT_EQ(EpochCorrectCounts(a.out), EpochCorrectCounts(b.out));
    const std::vector<std::uint32_t> held = HeldOutCounts(b.out);
    ASSERT_EQ(held.size(), EpochCorrectCounts(b.out).size());
    // The weights of the first epoch of the best count are saved, and
    // answer the held-out file as that epoch did.
    const auto first = std::max_element(held.begin(), held.end()); // the first of equal ones
    EXPECT_NE(b.out.find("Записаны веса эпохи " + std::to_string(first - held.begin() + 1) + ":"), std::string::npos)
        << b.out;
    const TRun e = Cli({"evaluate", Path("checked.trelis"), Path("test.llt")});
    ASSERT_EQ(e.code, CliOk) << e.err;
    EXPECT_NE(e.out.find("верно: " + std::to_string(*first) + ","), std::string::npos) << e.out;
    // Patience counts the held-out answers: the run stops once two epochs
    // in a row bring no better count than the best before them.
    const std::vector<std::uint32_t> patientHeld = HeldOutCounts(c.out);
    EXPECT_NE(c.out.find("2 эпохи подряд без улучшения на проверке"), std::string::npos) << c.out;
    EXPECT_TRUE(PatienceRanOut(patientHeld, 2));
    EXPECT_TRUE(std::equal(patientHeld.begin(), patientHeld.end(), held.begin()));
}

TEST_F(CliTest, EvaluateCountsEveryAnswerAndMeetsTheClassesByName)
{
    WriteSequence("train.llt", Training);
    WriteSequence("test.llt", TestSamples);
    ASSERT_EQ(Cli({"train", Path("train.llt"), "-o", Path("p.trelis"), "--seed", "2", "--max-epochs", "6"}).code,
              CliOk);
    const TRun r = Cli({"evaluate", Path("p.trelis"), Path("test.llt"), "--csv", Path("m.csv")});
    ASSERT_EQ(r.code, CliOk) << r.err;

    // The answers counted here: the greatest output of the network on each
    // test picture followed by the bias input.
    TProjectState state;
    Open(Path("p.trelis"), state);
    std::vector<std::vector<int>> expected(3, std::vector<int>(3, 0));
    int right = 0;
    for (const TSample& s : TestSamples) {
        TAbsImage e = Element(s.cells);
        e.Cells.push_back(1);
        state.net->ForwardBytes(e.Cells.data());
        const auto answer = static_cast<std::size_t>(
            std::max_element(state.net->outputs, state.net->outputs + 3) - state.net->outputs);
        ++expected[static_cast<std::size_t>(s.classIndex)][answer];
        right += answer == static_cast<std::size_t>(s.classIndex);
    }

    // The matrix in long form: a row for each pair that occurs.
    const std::vector<std::string> names = {"строка", "столбец", "диагональ"};
    const auto csv = CsvRows(Path("m.csv"));
    EXPECT_EQ(csv[0], (std::vector<std::string>{"истина", "ответ", "число"}));
    std::vector<std::vector<int>> matrix(3, std::vector<int>(3, 0));
    const auto index = [&](const std::string& name) {
        return static_cast<std::size_t>(std::find(names.begin(), names.end(), name) - names.begin());
    };
    for (std::size_t k = 1; k < csv.size(); ++k) {
        ASSERT_TRUE(csv[k].size() == 3 && index(csv[k][0]) < 3 && index(csv[k][1]) < 3 && std::stoi(csv[k][2]) > 0);
        matrix[index(csv[k][0])][index(csv[k][1])] += std::stoi(csv[k][2]);
    }
    EXPECT_EQ(matrix, expected);
    EXPECT_NE(r.out.find("Элементов: 7, верно: " + std::to_string(right) + ","), std::string::npos) << r.out;

    // Each class's line: elements, recall (its elements answered right) and
    // precision (answers naming it that are right), "—" for no answers.
    const auto share = [](int part, int whole) {
        if (whole == 0)
            return std::string("—");
        char text[32];
        std::snprintf(text, sizeof text, "%.4f", static_cast<double>(part) / whole);
        return std::string(text);
    };
    for (std::size_t c = 0; c < 3; ++c) {
        int elements = 0, answers = 0;
        for (std::size_t j = 0; j < 3; ++j) {
            elements += expected[c][j];
            answers += expected[j][c];
        }
        std::istringstream lines(r.out);
        std::vector<std::string> found;
        for (std::string l; std::getline(lines, l);)
            if (l.rfind(names[c] + " ", 0) == 0) {
                std::istringstream words(l);
                for (std::string w; words >> w;)
                    found.push_back(w);
                break;
            }
        EXPECT_EQ(found, (std::vector<std::string>{names[c], std::to_string(elements),
                                                   share(expected[c][c], elements),
                                                   share(expected[c][c], answers)}))
            << r.out;
    }

    // The same pictures in a file that lacks the class "строка", numbers the
    // others its own way and has a class the project does not know: the
    // same scores for the classes they share, the others named apart.
    PatternRing renumbered;
    renumbered.SetDimension(Dimension);
    for (const TSample& s : TestSamples)
        if (s.classIndex > 0)
            renumbered.Add(Element(s.cells), 2 - s.classIndex);
    renumbered.Add(Element("#..#............"), 2);
    ASSERT_TRUE(renumbered.SaveToFile(Path("other.llt")));
    ASSERT_TRUE(WriteClassNames(Path("other.nam"), {"диагональ", "столбец", "круг"}));
    const TRun o = Cli({"evaluate", Path("p.trelis"), Path("other.llt"), "--csv", Path("o.csv")});
    ASSERT_EQ(o.code, CliOk) << o.err;
    const int otherRight = right - expected[0][0];
    const int otherTotal = 7 - expected[0][0] - expected[0][1] - expected[0][2];
    EXPECT_NE(o.out.find("Элементов: " + std::to_string(otherTotal) + ", верно: " + std::to_string(otherRight) + ","),
              std::string::npos)
        << o.out;
    EXPECT_NE(o.out.find("Элементы классов, которых нет в проекте, не проверялись (1 элемент): круг — 1"),
              std::string::npos)
        << o.out;
    for (const std::size_t c : {1, 2}) {
        const auto line = [&](const std::string& out) {
            const std::size_t at = out.find("\n" + names[c] + " ");
            return at == std::string::npos ? std::string() : out.substr(at, out.find('\n', at + 1) - at);
        };
        // Recall is of the class's own elements, the same in both files.
        EXPECT_EQ(line(o.out).substr(0, line(o.out).rfind(' ')), line(r.out).substr(0, line(r.out).rfind(' ')));
    }
}

TEST_F(CliTest, EvaluateOfAVeryManyClassNetworkSummarisesWithoutItsMatrix)
{
    // 10,000 outputs: a whole matrix would be 800 MB, its text 500 MB.
    SaveRandomProject("many.trelis", MaxClassCount);
    PatternRing ring;
    ring.SetDimension(Dimension);
    for (std::int32_t k = 0; k < 4; ++k)
        ring.Add(Element(TestSamples[static_cast<std::size_t>(k)].cells), k);
    ASSERT_TRUE(ring.SaveToFile(Path("four.llt")));
    ASSERT_TRUE(WriteClassNames(Path("four.nam"), {"0", "1", "2", "3"}));
    const TRun r = Cli({"evaluate", Path("many.trelis"), Path("four.llt"), "--csv", Path("m.csv")});
    ASSERT_EQ(r.code, CliOk) << r.err;
    EXPECT_LT(r.out.size(), 4000u) << r.out;
    EXPECT_NE(r.out.find("Классов у сети: 10000, из них в последовательности: 4"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Матрица ошибок ("), std::string::npos);
    // The largest confusions are the answers that were wrong; the CSV holds
    // every answer.
    const std::string tail = r.out.substr(r.out.find("Самые частые"));
    std::size_t listed = 0;
    for (std::size_t at = tail.find("\n  "); at != std::string::npos; at = tail.find("\n  ", at + 1))
        listed += tail.find(" → ", at) < tail.find('\n', at + 1);
    std::size_t answers = 0, wrong = 0;
    for (const auto& row : CsvRows(Path("m.csv"))) {
        if (row[0] == "истина")
            continue;
        answers += std::stoul(row[2]);
        wrong += row[0] != row[1];
    }
    EXPECT_EQ(answers, 4u);
    EXPECT_EQ(listed, wrong) << r.out;
}

TEST_F(CliTest, ForecastWritesItsTableAndItsProjectTogetherOrNeither)
{
    std::ofstream(Path("s.ser")) << "8\n1 2 3 4 5 6 7 8\n";
    ASSERT_EQ(::mkfifo(Path("pipe.trelis").c_str(), 0600), 0);
    const std::vector<std::string> args = {"forecast", Path("s.ser"), "--window", "2", "--train-length", "6",
                                           "--epochs", "2", "--csv", Path("f.csv")};
    std::vector<std::string> withProject = args;
    withProject.insert(withProject.end(), {"-o", Path("pipe.trelis")});
    const TRun refused = Cli(withProject);
    EXPECT_EQ(refused.code, CliFailed);
    EXPECT_NE(refused.err.find("не обычный файл"), std::string::npos) << refused.err;
    EXPECT_FALSE(std::filesystem::exists(Path("f.csv")));
    withProject.back() = Path("s.trelis");
    ASSERT_EQ(Cli(withProject).code, CliOk);
    EXPECT_TRUE(std::filesystem::exists(Path("f.csv")) && std::filesystem::exists(Path("s.trelis")));
}

TEST_F(CliTest, ForecastWritesEveryPointTheHeldOutFiguresAndTheFuture)
{
    // 60 values of a wave; window 4, trained on the first 40.
    std::vector<float> file;
    {
        std::ofstream out(Path("wave.ser"));
        out << std::setprecision(9) << 60 << "\n";
        for (int i = 0; i < 60; ++i) {
            file.push_back(static_cast<float>(100.0 + 30.0 * std::sin(i * 0.45) + (i % 7) * 0.5));
            out << file.back() << "\n";
        }
    }
    const TRun r = Cli({"forecast", Path("wave.ser"), "--window", "4", "--train-length", "40", "--epochs", "30",
                        "--seed", "5", "--csv", Path("f.csv"), "--horizon", "3", "-o", Path("wave.trelis")});
    ASSERT_EQ(r.code, CliOk) << r.err;
    // Rows of the file: number, value, reproduction, part.
    const auto table = CsvRows(Path("f.csv"));
    ASSERT_EQ(table.size(), 1u + 60u + 3u);
    EXPECT_EQ(table[0], (std::vector<std::string>{"номер", "значение", "воспроизведение", "часть"}));
    for (std::uint32_t i = 0; i < 63; ++i) {
        const std::vector<std::string>& row = table[i + 1];
        ASSERT_EQ(row.size(), 4u);
        EXPECT_EQ(row[0], std::to_string(i));
        EXPECT_EQ(row[3], i < 40 ? "обучение" : i < 60 ? "проверка" : "прогноз");
        // The first window is the series itself; the rest lies in its range.
        if (i < 60) {
            EXPECT_FLOAT_EQ(std::stof(row[1]), file[i]);
        } else {
            EXPECT_EQ(row[1], "");
        }
        if (i < 4) {
            EXPECT_EQ(row[2], row[1]);
        }
        EXPECT_GE(std::stof(row[2]), 70.0f);
        EXPECT_LE(std::stof(row[2]), 133.5f);
    }
    for (const char* line : {"(20 значений)", "сеть", "наивный прогноз", "авторегрессия"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
    // The window errors too are in the file's units, where the series
    // spans about 60: an untrained network misses by more than 1.
    const std::string mark = "ошибка окна от ";
    const std::string first = r.out.substr(r.out.find(mark) + mark.size());
    EXPECT_GT(std::stod(first.substr(first.find(" до ") + std::string(" до ").size())), 1.0) << r.out;

    // The saved project goes on from the same weights: without training it
    // gives the same reproduction and future.
    const TRun again = Cli({"forecast", Path("wave.trelis"), "--epochs", "0", "--csv", Path("g.csv"), "--horizon", "3"});
    ASSERT_EQ(again.code, CliOk) << again.err;
    const auto reread = CsvRows(Path("g.csv"));
    ASSERT_EQ(reread.size(), table.size());
    for (std::size_t i = 1; i < table.size(); ++i) {
        EXPECT_NEAR(std::stod(reread[i][2]), std::stod(table[i][2]), 1e-3) << i;
        EXPECT_EQ(reread[i][3], table[i][3]);
    }
    // The future: the network on the last four values, then on windows
    // that take its own earlier answers.
    TProjectState state;
    Open(Path("wave.trelis"), state);
    const double unit = static_cast<double>(state.seriesMax) - state.seriesMin;
    std::vector<float> window(state.series.values.get() + 56, state.series.values.get() + 60);
    for (std::size_t h = 0; h < 3; ++h) {
        std::vector<float> inputs = window;
        inputs.push_back(1.0f);
        state.net->Forward(inputs.data());
        EXPECT_NEAR(std::stod(table[61 + h][2]), state.net->outputs[0] * unit + state.seriesMin, 1e-3) << h;
        window.erase(window.begin());
        window.push_back(state.net->outputs[0]);
    }
}

TEST_F(CliTest, ExportWritesTheProjectsNetworkOrExitsWithTheRefusalsCode)
{
    WriteSequence("train.llt", Training);
    ASSERT_EQ(Cli({"train", Path("train.llt"), "-o", Path("p.trelis"), "--max-epochs", "2"}).code, CliOk);
    TProjectState placeholder;
    placeholder.net = std::make_unique<TNeuralNet>(1, std::vector<std::uint32_t>{1, 1}, 0.68f, 0.0f, 1.0f, 0.0f, 1.0f);
    ASSERT_EQ(SaveProjectFile(placeholder, Path("start.trelis")), "");
    struct TCase {
        std::vector<std::string> args;
        int code;
        const char* file; // written, or not when the command is refused
    };
    const std::vector<TCase> cases = {
        {{"export", Path("p.trelis"), "-o", Path("n.onnx")}, CliOk, "n.onnx"},
        {{"export", Path("p.trelis"), "--output=" + Path("n.net")}, CliOk, "n.net"},
        {{"export", Path("p.trelis"), "-o", Path("n.H")}, CliOk, "n.H"},
        {{"export", Path("p.trelis"), "-o", Path("n.txt")}, CliUsage, "n.txt"},
        {{"export", Path("p.trelis")}, CliUsage, "n.onnx"},
        {{"export", Path("train.llt"), "-o", Path("m.onnx")}, CliUsage, "m.onnx"},
        {{"export", Path("start.trelis"), "-o", Path("m.onnx")}, CliFailed, "m.onnx"},
        {{"export", Path("missing.trelis"), "-o", Path("m.onnx")}, CliFailed, "m.onnx"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.args.back());
        const bool existed = std::filesystem::exists(Path(c.file));
        const TRun r = Cli(c.args);
        EXPECT_EQ(r.code, c.code) << r.err;
        EXPECT_EQ(std::filesystem::exists(Path(c.file)), c.code == CliOk || existed);
        EXPECT_EQ(r.err.empty(), c.code == CliOk) << r.err;
    }
}
