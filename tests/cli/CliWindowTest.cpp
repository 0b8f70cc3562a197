// trelis-cli recognise against the canvas window's "Распознать": digits
// drawn with the mouse on the real canvas, the canvas saved as a PNG file
// and the project as a project file. The command must name the figures the
// answer sheet names, at the same places and in the same size, and write
// its names onto the picture with the same font machinery as the sheet.

#include "tests/forms/CanvasFixture.h"
#include "tests/tools/Digits.h"

#include "cli/Cli.h"
#include "cli/ImageFile.h"
#include "forms/Unit9.h"
#include "framework/Canvas.h"
#include "project/Learning.h"
#include "project/ProjectFile.h"

#include <filesystem>
#include <sstream>
#include <unistd.h>

namespace {

class CliAndWindows : public CanvasUser {
protected:
    testnets::PinnedClock clock{1700000000}; // the same network on every run

    void SetUp() override
    {
        CanvasUser::SetUp();
        dir_ = std::filesystem::temp_directory_path() / ("trelis_cli_window_" + std::to_string(::getpid()));
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override
    {
        std::filesystem::remove_all(dir_);
        CanvasUser::TearDown();
    }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    std::filesystem::path dir_;
};

struct TPrinted {
    int left = 0, top = 0, width = 0, height = 0;
    QString name;
};

// The figures the command printed: "№  left  top  width  height  name".
std::vector<TPrinted> Labels(const std::string& out)
{
    std::vector<TPrinted> labels;
    std::istringstream lines(out);
    std::string line;
    bool table = false;
    while (std::getline(lines, line)) {
        if (line.find("слева") != std::string::npos) {
            table = true;
            continue;
        }
        if (!table || line.rfind("Картинка", 0) == 0)
            continue;
        std::istringstream fields(line);
        int number = 0;
        std::string name;
        TPrinted label;
        fields >> number >> label.left >> label.top >> label.width >> label.height >> name;
        label.name = QString::fromStdString(name);
        labels.push_back(label);
    }
    return labels;
}

int Differences(const QImage& a, const QImage& b)
{
    if (a.size() != b.size())
        return -1;
    int count = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            count += a.pixel(x, y) != b.pixel(x, y);
    return count;
}

} // namespace

TEST_F(CliAndWindows, RecogniseNamesWhatTheAnswerSheetNames)
{
    // The digits sample in a new project, trained until every sample is
    // answered right, saved as a project file.
    NewProject(QStringLiteral("100"), QStringLiteral("10"), QStringLiteral("25"));
    dialogAnswer = QStringLiteral(TRELIS_EXAMPLES_DIR "/digits.llt");
    Form1->N7->trigger(); // "Последовательность" / "Из файла"
    dialogAnswer.reset();
    ASSERT_EQ(TrainingSequence.GetCount(), 50u);
    TEpochTrainer trainer;
    for (int epoch = 0; epoch < 3000; ++epoch)
        if (trainer.Run(*CurrentNet, TrainingSequence, false, [](const TPatternAnswer&) {}) == TrainingSequence.Count)
            break;
    const std::string project = Path("digits.trelis");
    ASSERT_EQ(SaveProjectFile(Project, project), "");

    // Ten fresh digits drawn with the mouse, the canvas saved as it is.
    Form1->N3->trigger(); // "Холст" / "Показать"
    Form1->N4->trigger(); // "Холст" / "Очистить"
    const std::vector<digits::THand> hands = digits::Row({QRect(0, 0, 56, 84), 0.1, 2.5, 77, 4}, 6);
    for (int d = 0; d < 10; ++d)
        digits::Draw(d, hands[d]);
    const QImage drawing = Canvas().copy();
    ASSERT_TRUE(drawing.save(QString::fromStdString(Path("drawing.png"))));

    std::ostringstream out, err;
    const int code = RunCli({"recognise", project, Path("drawing.png"), "--out", Path("marked.png")}, out, err);
    ASSERT_EQ(code, CliOk) << err.str();
    const std::vector<TPrinted> labels = Labels(out.str());
    ASSERT_EQ(labels.size(), 10u) << out.str();

    // "Холст" / "Распознать": the sheet holds those names at those places.
    Form1->N22->trigger();
    ASSERT_TRUE(AnsForm->isVisible());
    QImage sheet = MakeBitmap(500, 400);
    TCanvas writer(sheet);
    for (const TPrinted& label : labels) {
        writer.SetFontName(QStringLiteral("Times New Roman"));
        writer.SetFontSize(label.height);
        writer.SetTransparentText(true);
        writer.TextOut(label.left, label.top, label.name);
    }
    EXPECT_EQ(Differences(AnsForm->Image1->Bitmap(), sheet), 0);
    AnsForm->close();

    // The marked picture: the drawing, the frames, and the names written
    // by the canvas's own TextOut in the names' colour.
    QImage expected = drawing.convertToFormat(QImage::Format_RGB32);
    for (const TPrinted& l : labels) {
        const QRect frame(l.left - 1, l.top - 1, l.width + 3, l.height + 3);
        for (int x = frame.left(); x <= frame.right(); ++x)
            for (const int y : {frame.top(), frame.bottom()})
                if (expected.rect().contains(x, y))
                    expected.setPixel(x, y, FrameColor);
        for (int y = frame.top(); y <= frame.bottom(); ++y)
            for (const int x : {frame.left(), frame.right()})
                if (expected.rect().contains(x, y))
                    expected.setPixel(x, y, FrameColor);
    }
    TCanvas names(expected);
    names.SetFontColor(NameColor);
    for (const TPrinted& label : labels) {
        names.SetFontName(QStringLiteral("Times New Roman"));
        names.SetFontSize(label.height);
        names.SetTransparentText(true);
        names.TextOut(label.left, label.top, label.name);
    }
    const QImage marked(QString::fromStdString(Path("marked.png")));
    ASSERT_FALSE(marked.isNull());
    EXPECT_EQ(Differences(marked.convertToFormat(QImage::Format_RGB32), expected), 0);
}
