// trelis-cli's pictures of what the network learned and where it fails, on
// the digits sample: evaluate --errors and inspect --weights.
#include "cli/Cli.h"

#include "project/Inspection.h"
#include "project/ProjectFile.h"
#include "project/TextFiles.h"
#include "tests/images/TempFiles.h"

#include <QImage>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>

namespace {

const std::string Examples = TRELIS_EXAMPLES_DIR;

int Cli(const std::vector<std::string>& args, std::string* out = nullptr)
{
    std::ostringstream o, e;
    const int code = RunCli(args, o, e);
    if (out)
        *out = o.str() + e.str();
    return code;
}

class InspectTest : public TempFolderTest {};

TEST_F(InspectTest, EvaluateDrawsEveryWrongAnswerAndInspectTheHiddenNeurons)
{
    ASSERT_EQ(Cli({"train", Examples + "/digits.llt", "-o", Path("p.trelis"), "--seed", "3", "--max-epochs", "4"}), 0);
    std::string out;
    // The held-out digits, with class 0 under a name the project lacks: its
    // elements are set apart, unchecked and not pictured.
    TSequenceWithNames check;
    ASSERT_EQ(LoadSequenceWithNames(Examples + "/digits_check.llt", check), "");
    check.names[0] = "чужой";
    const std::string checkFile = Path("check.llt");
    ASSERT_EQ(SaveSequenceWithNames(checkFile, check.sequence, check.names), "");
    ASSERT_EQ(Cli({"evaluate", Path("p.trelis"), checkFile, "--errors", Path("new/errors")}, &out), 0) << out;

    // The wrong answers as the test finds them, by their file names.
    TProjectState project;
    ASSERT_EQ(OpenProjectFile(Path("p.trelis"), project), "");
    std::set<std::string> expected;
    std::uint32_t k = 0;
    for (const TAbsImage& element : check.sequence.FileOrder()) {
        const TAbsImage* e = &element;
        ++k;
        project.net->ForwardBytes(e->Cells.data());
        const std::uint32_t answer = project.net->WinningOutput().index;
        if (e->ClassIndex == 0 || answer == static_cast<std::uint32_t>(e->ClassIndex))
            continue;
        const std::string name = std::string(k < 10 ? "000" : "00") + std::to_string(k) + "_" +
                                 project.classNames[static_cast<std::size_t>(e->ClassIndex)] + "_" +
                                 project.classNames[answer] + ".png";
        expected.insert(name);
        // The retina eight times enlarged: black for a set cell.
        const QImage picture(QString::fromStdString(Path(std::string("new/errors/") + name)));
        ASSERT_EQ(picture.size(), QSize(80, 80)) << name;
        for (std::size_t i = 0; i < 100; ++i)
            EXPECT_EQ(picture.pixel(i % 10 * 8 + 4, i / 10 * 8 + 4), e->Cells[i] ? 0xff000000u : 0xffffffffu) << i;
    }
    const auto pictures = [this] {
        std::set<std::string> written;
        for (const auto& entry : std::filesystem::directory_iterator(Path("new/errors")))
            if (!entry.path().filename().string().starts_with("."))
                written.insert(entry.path().filename().string());
        return written;
    };
    EXPECT_EQ(pictures(), expected);
    EXPECT_GT(expected.size(), 3u);
    EXPECT_NE(out.find(std::string("Картинок неверных ответов: ") + std::to_string(expected.size())), std::string::npos) << out;

    // A second run into the same folder leaves exactly its own pictures, at
    // most --errors-max of them; a folder holding other files is refused.
    ASSERT_EQ(Cli({"evaluate", Path("p.trelis"), checkFile, "--errors", Path("new/errors"), "--errors-max", "2"}, &out),
              0)
        << out;
    const std::set<std::string> second = pictures();
    EXPECT_EQ(second.size(), 2u);
    EXPECT_TRUE(std::includes(expected.begin(), expected.end(), second.begin(), second.end()));
    EXPECT_NE(out.find("Ещё " + std::to_string(expected.size() - 2) + " неверных ответов без картинок"),
              std::string::npos)
        << out;
    std::ofstream(Path("new/errors/notes.txt")) << "mine";
    EXPECT_EQ(Cli({"evaluate", Path("p.trelis"), checkFile, "--errors", Path("new/errors")}, &out), CliFailed);
    EXPECT_NE(out.find("«notes.txt»"), std::string::npos) << out;
    EXPECT_EQ(pictures().size(), 3u); // the two pictures and the user's file, untouched

    // The tiles: 25 neurons in 5 rows of 5, 8 pixels a cell, on one scale.
    ASSERT_EQ(Cli({"inspect", Path("p.trelis"), "--weights", Path("w.png")}, &out), 0) << out;
    const QImage tiles(QString::fromStdString(Path("w.png")));
    ASSERT_FALSE(tiles.isNull());
    const TLayer& hidden = project.net->layers[0];
    float scale = 0.0f;
    for (std::uint32_t i = 0; i < 100; ++i)
        for (std::uint32_t k = 0; k < 25; ++k)
            scale = std::max(scale, std::abs(hidden.weights[i][k]));
    for (std::uint32_t k = 0; k < 25; k += 6)
        for (std::uint32_t i = 0; i < 100; i += 7)
            EXPECT_EQ(tiles.pixel(static_cast<int>(8 + k % 5 * (80 + TileGap) + i % 10 * 8 + 4),
                                  static_cast<int>(8 + k / 5 * (80 + TileGap) + i / 10 * 8 + 4)),
                      WeightColour(hidden.weights[i][k], scale))
                << k << " " << i;
    EXPECT_NE(out.find("нейрон 25:"), std::string::npos) << out;

    // Refused: what is not asked for right, and a network without a hidden layer.
    project.net = std::make_unique<TNeuralNet>(1, std::vector<std::uint32_t>{100, 10}, 0.5f, 0, 0, 1, 1);
    ASSERT_EQ(SaveProjectFile(project, Path("flat.trelis")), "");
    const struct {
        std::vector<std::string> args;
        int code;
        const char* reason;
    } refusals[] = {
        {{"inspect", Path("p.trelis")}, CliUsage, "--weights"},
        {{"inspect", Path("p.trelis"), "--weights", Path("w.bmp")}, CliUsage, "должна иметь расширение .png"},
        {{"inspect", Path("flat.trelis"), "--weights", Path("f.png")}, CliFailed, "нет скрытого слоя"},
        {{"evaluate", Path("p.trelis"), checkFile, "--errors", ""}, CliUsage, "пустое"},
        {{"evaluate", Path("p.trelis"), checkFile, "--errors", Path("w.png")}, CliFailed, "папку"},
    };
    for (const auto& r : refusals) {
        EXPECT_EQ(Cli(r.args, &out), r.code) << r.args.back();
        EXPECT_NE(out.find(r.reason), std::string::npos) << out;
    }
    EXPECT_FALSE(std::filesystem::exists(Path("f.png")));
}

} // namespace
