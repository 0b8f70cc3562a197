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

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <sstream>

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

    std::size_t FileCount() const
    {
        return static_cast<std::size_t>(
            std::distance(std::filesystem::directory_iterator(dir_), std::filesystem::directory_iterator()));
    }

    static void Open(const std::string& path, TProjectState& state)
    {
        const std::string refusal = OpenProjectFile(path, state);
        ASSERT_EQ(refusal, "");
    }
};

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
    const std::string train = Path("train.llt");
    const std::string out = Path("out.trelis");
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
        {{"train", train, "-o", Path("no/such/folder/out.trelis")}, CliFailed, "out.trelis"},
        {{"info"}, CliUsage, "нужно аргументов: 1"},
        {{"info", Path("bad.ser")}, CliFailed, "не число"},
        {{"info", Path("short.llt")}, CliFailed, "обрывается"},
        {{"evaluate", Path("missing.trelis"), train}, CliFailed, "missing.trelis"},
        {{"evaluate", out, train, "--csv"}, CliUsage, "нет значения"},
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
        EXPECT_FALSE(std::filesystem::exists(out));
        EXPECT_EQ(FileCount(), files); // no temporary file left behind either
    }
}

TEST_F(CliTest, HelpOfTheProgramAndOfEveryCommand)
{
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--help"}, {"info", "--help"},
                                                {"train", "--help"}, {"evaluate", "--help"},
                                                {"export", "--help"}}) {
        const TRun r = Cli(args);
        EXPECT_EQ(r.code, CliOk) << args[0];
        EXPECT_NE(r.out.find("Использование: trelis-cli"), std::string::npos) << args[0];
        EXPECT_EQ(r.err, "");
    }
}

TEST_F(CliTest, InfoShowsTheFiguresOfEachKindOfFile)
{
    WriteSequence("train.llt", Training);
    ASSERT_EQ(Cli({"train", Path("train.llt"), "-o", Path("p.trelis"), "--hidden", "5", "--max-epochs", "1"}).code,
              CliOk);
    std::ofstream(Path("s.ser")) << "5\n3 -2.5 7 0 1\n";
    // Names in the single-byte Cyrillic code page: "Да" and "Нет".
    WriteSequence("cp.llt", {{"#...............", 1}}, false);
    WriteBytes(Path("cp.nam"), {0xC4, 0xE0, '\r', '\n', 0xCD, 0xE5, 0xF2, '\r', '\n'});
    struct TCase {
        std::string file;
        std::vector<std::string> lines;
    };
    const std::vector<TCase> cases = {
        // (16 + 4) * 10 bytes; 16*5 + 5*3 connections of 4 bytes each.
        {"p.trelis",
         {"  Размерность: 16\n", "  Длина: 10\n", "  Память: 200 b\n", "  X=4\n", "  Y=4\n", "  Нейронов: 8\n",
          "  Слоев: 2\n", "  Выходов: 3\n", "  Связей: 95\n", "  Память: 380 b\n", "  2: диагональ\n"}},
        {"train.llt",
         {"  Размерность: 16\n", "  Длина: 10\n", "  Память: 200 b\n", "  X=4\n", "Классы: 3\n",
          "  строка: 4 элем.\n", "  столбец: 3 элем.\n", "  диагональ: 3 элем.\n"}},
        {"cp.llt", {"Классы: 2\n", "  Да: 0 элем.\n", "  Нет: 1 элем.\n"}},
        {"s.ser", {"  Значений: 5\n", "  Наименьшее: -2.5\n", "  Наибольшее: 7\n"}},
    };
    for (const TCase& c : cases) {
        const TRun r = Cli({"info", Path(c.file)});
        EXPECT_EQ(r.code, CliOk) << c.file << r.err;
        for (const std::string& line : c.lines)
            EXPECT_NE(r.out.find(line), std::string::npos) << c.file << ": " << line << "\n" << r.out;
    }
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
        {{"--patience", "2"}, "без улучшения"},
        {{"--max-epochs", "4"}, "наибольшее число эпох"},
        {{"--hidden", "6"}, "все элементы распознаны верно", "learnable.llt"},
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
        } else if (c.reason == "без улучшения") {
            // The last two epochs are no better than the best before them.
            ASSERT_GE(counts.size(), 3u);
            const std::uint32_t best = *std::max_element(counts.begin(), counts.end() - 2);
            EXPECT_LE(counts[counts.size() - 1], best);
            EXPECT_LE(counts[counts.size() - 2], best);
            EXPECT_TRUE(counts.size() == 3 || *std::max_element(counts.begin(), counts.end() - 3) <
                                                  counts[counts.size() - 3]);
        } else if (c.reason == "все элементы распознаны верно") {
            // Only the last epoch is perfect, and the project keeps the names.
            EXPECT_EQ(counts.back(), Training.size() - 1);
            EXPECT_TRUE(std::all_of(counts.begin(), counts.end() - 1,
                                    [](std::uint32_t n) { return n < Training.size() - 1; }));
            TProjectState saved;
            Open(Path("p.trelis"), saved);
            EXPECT_EQ(saved.classNames, (std::vector<std::string>{"строка", "столбец", "диагональ"}));
        } else {
            EXPECT_EQ(counts.size(), 4u);
        }
    }
}

TEST_F(CliTest, ValidationReportsTheHeldOutAnswersAndKeepsTheBestEpoch)
{
    WriteSequence("train.llt", Training);
    WriteSequence("test.llt", TestSamples);
    const std::vector<std::string> base = {"train", Path("train.llt"), "--seed", "5", "--max-epochs", "12"};
    std::vector<std::string> plain = base, checked = base;
    plain.insert(plain.end(), {"-o", Path("plain.trelis")});
    checked.insert(checked.end(), {"-o", Path("checked.trelis"), "--validation", Path("test.llt")});
    const TRun a = Cli(plain), b = Cli(checked);
    ASSERT_EQ(a.code, CliOk) << a.err;
    ASSERT_EQ(b.code, CliOk) << b.err;
    // The checks do not change the training.
    EXPECT_EQ(EpochCorrectCounts(a.out), EpochCorrectCounts(b.out));
    // Every epoch's held-out count, as printed.
    std::vector<std::uint32_t> held;
    const std::string mark = "проверка: верно ";
    for (std::size_t at = b.out.find(mark); at != std::string::npos; at = b.out.find(mark, at + 1))
        held.push_back(static_cast<std::uint32_t>(std::stoul(b.out.substr(at + mark.size()))));
    ASSERT_EQ(held.size(), EpochCorrectCounts(b.out).size());
    const std::uint32_t best = *std::max_element(held.begin(), held.end());
    // The saved network answers the held-out file as the best epoch did.
    const TRun e = Cli({"evaluate", Path("checked.trelis"), Path("test.llt")});
    ASSERT_EQ(e.code, CliOk) << e.err;
    EXPECT_NE(e.out.find("верно: " + std::to_string(best) + ","), std::string::npos) << e.out;
    // A held-out file of another element size is refused before training.
    PatternRing wide;
    wide.SetDimension(Dimension + 1);
    wide.Add(TAbsImage(Dimension + 1), 0);
    ASSERT_TRUE(wide.SaveToFile(Path("wide.llt")));
    checked.back() = Path("wide.llt");
    const TRun w = Cli(checked);
    EXPECT_EQ(w.code, CliFailed);
    EXPECT_NE(w.err.find("не совпадает с числом входов"), std::string::npos) << w.err;
}

TEST_F(CliTest, EvaluateCountsEveryAnswer)
{
    WriteSequence("train.llt", Training);
    WriteSequence("test.llt", TestSamples, false);
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

    std::ifstream csv(Path("m.csv"));
    std::string header;
    std::getline(csv, header);
    EXPECT_EQ(header, "истина\\ответ,строка,столбец,диагональ");
    std::vector<std::vector<int>> matrix;
    for (std::string row; std::getline(csv, row);) {
        std::istringstream cells(row);
        std::string cell;
        std::getline(cells, cell, ','); // the class name
        matrix.emplace_back();
        while (std::getline(cells, cell, ','))
            matrix.back().push_back(std::stoi(cell));
    }
    EXPECT_EQ(matrix, expected);
    EXPECT_NE(r.out.find("Элементов: 7, верно: " + std::to_string(right) + ","), std::string::npos) << r.out;

    // Each class's line: elements, recall (its elements answered right) and
    // precision (answers naming it that are right), "—" for no answers.
    const std::vector<std::string> names = {"строка", "столбец", "диагональ"};
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

    // A sequence of another element size is refused, and no table is written.
    TAbsImage wide(9);
    PatternRing other;
    other.SetDimension(9);
    other.Add(wide, 0);
    ASSERT_TRUE(other.SaveToFile(Path("wide.llt")));
    const TRun refused = Cli({"evaluate", Path("p.trelis"), Path("wide.llt"), "--csv", Path("w.csv")});
    EXPECT_EQ(refused.code, CliFailed);
    EXPECT_NE(refused.err.find("не совпадает с числом входов сети (16)"), std::string::npos) << refused.err;
    EXPECT_FALSE(std::filesystem::exists(Path("w.csv")));
}

TEST_F(CliTest, ForecastWritesEveryPointAndTheHeldOutFigures)
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
                        "--seed", "5", "--csv", Path("f.csv")});
    ASSERT_EQ(r.code, CliOk) << r.err;
    std::ifstream csv(Path("f.csv"));
    std::string row;
    std::getline(csv, row);
    EXPECT_EQ(row, "номер,значение,воспроизведение,часть");
    for (std::uint32_t i = 0; i < 60; ++i) {
        ASSERT_TRUE(std::getline(csv, row));
        std::istringstream cells(row);
        std::string index, value, reproduced, part;
        std::getline(cells, index, ',');
        std::getline(cells, value, ',');
        std::getline(cells, reproduced, ',');
        std::getline(cells, part);
        EXPECT_EQ(index, std::to_string(i));
        EXPECT_FLOAT_EQ(std::stof(value), file[i]);
        // The first window is the series itself; the rest lies in its range.
        if (i < 4) {
            EXPECT_EQ(reproduced, value);
        }
        EXPECT_GE(std::stof(reproduced), 70.0f);
        EXPECT_LE(std::stof(reproduced), 133.5f);
        EXPECT_EQ(part, i < 40 ? "обучение" : "проверка");
    }
    for (const char* line : {"(20 знач.)", "сеть", "наивный прогноз", "авторегрессия"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
}

TEST_F(CliTest, ForecastRefusalsWriteNothing)
{
    {
        std::ofstream file(Path("s.ser"));
        file << "5\n1 2 3 4 5\n";
    }
    struct TCase {
        std::vector<std::string> args;
        int code;
        const char* reason;
    };
    const std::string s = Path("s.ser"), csv = Path("out.csv");
    const std::vector<TCase> cases = {
        {{"--train-length", "4", "--csv", csv}, CliUsage, "--window"},
        {{"--window", "2", "--csv", csv}, CliUsage, "--train-length"},
        {{"--window", "2", "--train-length", "4"}, CliUsage, "--csv"},
        {{"--window", "x", "--train-length", "4", "--csv", csv}, CliUsage, "window"},
        {{"--window", "0", "--train-length", "4", "--csv", csv}, CliFailed, "Размер окна должен быть больше нуля"},
        {{"--window", "2", "--train-length", "9", "--csv", csv}, CliFailed, "больше числа значений"},
        {{"--window", "2", "--train-length", "4", "--csv", Path("no/such/dir.csv")}, CliFailed, "dir.csv"},
    };
    for (const TCase& c : cases) {
        std::vector<std::string> args = {"forecast", s};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const TRun r = Cli(args);
        EXPECT_EQ(r.code, c.code) << r.err;
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
        EXPECT_EQ(FileCount(), 1u);
    }
    const TRun missing = Cli({"forecast", Path("none.ser"), "--window", "2", "--train-length", "4", "--csv", csv});
    EXPECT_EQ(missing.code, CliFailed);
    EXPECT_NE(missing.err.find("none.ser"), std::string::npos) << missing.err;
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
