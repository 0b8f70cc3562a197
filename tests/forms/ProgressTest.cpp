// The learning progress window beside the learning window: what it draws of
// the epochs, the check on a held-out file asked for through its dialog with
// the gallery of a cell, and saving the picture and the figures. What it
// keeps of the epochs is tested in tests/project/TrainingHistoryTest.cpp.

#include "LearningFixture.h"
#include "forms/Unit14.h"

#include "images/ClassNames.h"

#include <cstdio>

namespace {

class ProgressWindow : public LearningUser {
protected:
    void SetUp() override
    {
        LearningUser::SetUp();
        ASSERT_TRUE(dir.isValid());
        // Three one-hot patterns, the third filed under class 0: the detector
        // answers 0, 1, 2, so two are right and the epochs never end.
        Project.ReplaceNetwork(Detector(3));
        Fill({OneHot(3, 0), OneHot(3, 1), OneHot(3, 2)}, {0, 1, 0});
        SetClassNames({"ноль", "один", "два"});
    }

    QString Path(const QString& name) const { return QDir(dir.path()).filePath(name); }

    // "Обучение" / "Обратное распространение", "Пуск" and `epochs` ticks of
    // the timer.
    void Train(int epochs)
    {
        user = [&](TForm&) {
            LearnForm->Button2->click();
            for (int k = 0; k < epochs; ++k)
                LearnForm->Timer1Timer();
            LearnForm->Button1->click();
        };
        Form1->N19->trigger();
        user = nullptr;
    }

    // A sequence file of one-hot elements (`hot` beyond the size: none) and
    // their classes, with a names file beside it unless there are no names.
    QString HeldOut(const QString& name, std::uint32_t size, const std::vector<std::pair<std::uint32_t, int>>& elements,
                    const std::vector<std::string>& names)
    {
        PatternRing ring;
        ring.SetDimension(size);
        for (const auto& [hot, cls] : elements)
            ring.Add(OneHot(size, hot), cls);
        const std::string path = Path(name).toStdString();
        EXPECT_TRUE(ring.SaveToFile(path));
        if (!names.empty()) {
            EXPECT_TRUE(WriteClassNames(ClassNamesFileName(path), names));
        }
        return Path(name);
    }

    QTemporaryDir dir;
};

int CountColour(const QImage& image, QRgb colour)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += image.pixel(x, y) == colour;
    return n;
}

TEST_F(ProgressWindow, OpenedFromEitherMenuItFollowsTheLearningWindowsEpochs)
{
    // Opened from "Обучение" before training, it follows every epoch.
    Form1->N32->trigger();
    EXPECT_TRUE(ProgressForm->isVisible());
    EXPECT_TRUE(ProgressForm->Timer1->isActive());
    Train(5);

    // The repaint shows it: both curves, the matrix, and the last figures.
    ProgressForm->Timer1Timer();
    EXPECT_GT(CountColour(ProgressForm->Image1->Bitmap(), qRgb(0, 0, 200)), 20);
    EXPECT_GT(CountColour(ProgressForm->Image1->Bitmap(), qRgb(210, 0, 0)), 20);
    EXPECT_TRUE(ProgressForm->Label1->Caption().startsWith(QStringLiteral("Эпоха 5: верно 2 из 3")))
        << ProgressForm->Label1->Caption().toStdString();

    // Closed, it keeps counting; "Пуск" starts the learning window's count
    // again, not the curve. Opened from "Временной ряд" it is the same window.
    ProgressForm->close();
    EXPECT_FALSE(ProgressForm->Timer1->isActive());
    Train(2);
    Form1->N33->trigger();
    EXPECT_TRUE(ProgressForm->isVisible());
    EXPECT_TRUE(ProgressForm->Label1->Caption().startsWith(QStringLiteral("Эпоха 7: ")))
        << ProgressForm->Label1->Caption().toStdString();
    EXPECT_EQ(LearnForm->epochCount, 2u);

    // A new project starts a new curve, drawn on the next tick.
    NewProject(QStringLiteral("9"), QStringLiteral("2"), QStringLiteral("3"));
    ProgressForm->Timer1Timer();
    EXPECT_EQ(ProgressForm->Label1->Caption(), QStringLiteral("Эпох ещё не было."));
}

TEST_F(ProgressWindow, AHeldOutFileIsCheckedThroughTheDialogAndItsCellsListTheFilesElements)
{
    Train(1);
    // Hot cell = the detector's answer. The file numbers its classes its own
    // way; they are the project's by name, and "чужой" and the unnamed class
    // 7 are not the project's at all.
    const std::vector<std::string> fileNames{"два", "ноль", "чужой", "один"};
    const int projectClass[] = {2, 0, -1, 1};
    const std::vector<std::pair<std::uint32_t, int>> elements{{0, 1}, {1, 3}, {1, 3}, {2, 0},
                                                              {1, 0}, {2, 1}, {1, 2}, {2, 7}};
    const QString good = HeldOut("good.llt", 3, elements, fileNames);

    // A file that cannot be checked: the reason, and nothing shown.
    const QString missing = Path("missing.llt");
    dialogAnswer = missing;
    ProgressForm->Button1->click();
    ASSERT_EQ(Boxes().size(), 1);
    const QString box = Boxes()[0];
    EXPECT_TRUE(box.startsWith(QStringLiteral("Не удалось проверить сеть на файле «%1»: ").arg(missing)) &&
                box.contains(QStringLiteral("файл не найден")) &&
                box.endsWith(QStringLiteral(". Сеть и обучающая последовательность не изменились.")))
        << box.toStdString();
    EXPECT_EQ(ProgressForm->History().FileCheck(), nullptr);

    log.clear();
    dialogAnswer = good;
    ProgressForm->Button1->click();
    EXPECT_TRUE(Boxes().isEmpty());
    ASSERT_NE(ProgressForm->History().FileCheck(), nullptr);
    EXPECT_TRUE(ProgressForm->Label1->Caption().contains(QStringLiteral("проверка на «good.llt»")))
        << ProgressForm->Label1->Caption().toStdString();
    for (std::size_t t = 0; t < 3; ++t)
        for (std::uint32_t a = 0; a < 3; ++a) {
            // The cell's gallery holds the file's own elements, by their
            // places in it, past the ones set apart.
            std::vector<std::uint32_t> places;
            for (std::size_t k = 0; k < elements.size(); ++k)
                if (elements[k].second < 4 && projectClass[elements[k].second] == static_cast<int>(t) &&
                    elements[k].first == a)
                    places.push_back(static_cast<std::uint32_t>(k + 1));
            QTest::mouseClick(ProgressForm->Image2, Qt::LeftButton, {}, *ProgressForm->CellCentre(false, t, a));
            std::vector<std::uint32_t> shown;
            for (const TGalleryItem& item : GalleryForm->items)
                shown.push_back(item.place);
            std::sort(shown.begin(), shown.end());
            EXPECT_EQ(shown, places) << t << " " << a;
        }
}

TEST_F(ProgressWindow, SavesThePictureAndTheFiguresAndAFailedSaveLeavesNoFile)
{
    Form1->N32->trigger();
    Train(3);
    dialogAnswer = HeldOut("check.llt", 3, {{0, 0}, {2, 2}}, {"ноль", "один", "два"});
    ProgressForm->Button1->click();
    ASSERT_NE(ProgressForm->History().FileCheck(), nullptr);

    // Folders where the files should go.
    QDir(dir.path()).mkdir(QStringLiteral("taken.png"));
    QDir(dir.path()).mkdir(QStringLiteral("taken.csv"));
    const struct {
        QPushButton* button;
        const char* name;
    } saves[] = {{ProgressForm->Button2, "curve.png"},
                 {ProgressForm->Button3, "curve.csv"},
                 {ProgressForm->Button4, "matrix.csv"}};
    for (const auto& s : saves) {
        SCOPED_TRACE(s.name);
        // A folder that does not exist, and a folder in the file's place.
        const QString taken = Path(QStringLiteral("taken.") + QString::fromUtf8(s.name).section('.', 1));
        for (const QString& bad : {Path(QStringLiteral("nowhere/") + s.name), taken}) {
            log.clear();
            const auto entries = QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot;
            const QStringList before = QDir(dir.path()).entryList(entries);
            dialogAnswer = bad;
            s.button->click();
            ASSERT_EQ(Boxes().size(), 1) << bad.toStdString();
            EXPECT_TRUE(Boxes()[0].startsWith(QStringLiteral("Не удалось сохранить"))) << Boxes()[0].toStdString();
            EXPECT_EQ(QDir(dir.path()).entryList(entries), before);
            EXPECT_TRUE(QDir(taken).isEmpty());
        }
        log.clear();
        dialogAnswer = Path(s.name);
        s.button->click();
        EXPECT_TRUE(Boxes().isEmpty());
    }

    const QImage png(Path("curve.png"));
    ASSERT_FALSE(png.isNull());
    EXPECT_EQ(png, ProgressForm->Picture().convertToFormat(png.format()));

    // The tables as the history writes them.
    const auto bytes = [&](const char* name) {
        QFile file(Path(name));
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return file.readAll().toStdString();
    };
    EXPECT_EQ(bytes("curve.csv"), ProgressForm->History().HistoryCsv());
    EXPECT_EQ(bytes("matrix.csv"), ProgressForm->History().ConfusionCsv());
}

} // namespace
