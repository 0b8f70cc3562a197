// The learning progress window beside the learning window: the curve and
// the confusion matrix of the epochs it is told of, the check on a held-out
// file, and saving the picture and the figures.

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

    const TEpochHistory& h = ProgressForm->patternHistory;
    ASSERT_EQ(h.Count(), 5u);
    EXPECT_EQ(h.Last().epoch, LearnForm->epochCount);
    EXPECT_EQ(h.Last().values[TProgressForm::Correct], LearnForm->correctCount);
    EXPECT_EQ(h.Last().values[TProgressForm::Elements], 3.0);
    EXPECT_GT(h.Last().values[TProgressForm::TotalError], 0.0);

    // The matrix of the last epoch: the detector's known answers.
    const TConfusion& m = ProgressForm->TrainingConfusion();
    ASSERT_EQ(m.Classes(), 3u);
    const std::vector<std::vector<std::uint64_t>> expected{{1, 0, 1}, {0, 1, 0}, {0, 0, 0}};
    for (std::size_t t = 0; t < 3; ++t)
        for (std::size_t a = 0; a < 3; ++a)
            EXPECT_EQ(m.Count(t, a), expected[t][a]) << t << " " << a;
    EXPECT_DOUBLE_EQ(m.Recall(0), 0.5);
    EXPECT_DOUBLE_EQ(m.Accuracy(), 2.0 / 3.0);

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
    EXPECT_EQ(ProgressForm->patternHistory.Last().epoch, 7u);
    EXPECT_EQ(LearnForm->epochCount, 2u);

    // A new project starts a new curve.
    NewProject(QStringLiteral("9"), QStringLiteral("2"), QStringLiteral("3"));
    EXPECT_TRUE(ProgressForm->patternHistory.Empty());
    EXPECT_EQ(ProgressForm->TrainingConfusion().Total(), 0u);
}

TEST_F(ProgressWindow, AHeldOutFileIsCheckedOnACopyAndUnfitFilesAreRefused)
{
    Train(1);
    const std::vector<float> weights = Weights(*CurrentNet);
    const std::vector<float> outputs(CurrentNet->outputs, CurrentNet->outputs + 3);
    const std::vector<const TAbsImage*> order = EpochOrder();
    const std::vector<std::string> names = Project.ClassNames();

    // Hot cell = the detector's answer: the matrix is known in advance. The
    // file numbers its classes its own way; they are the project's by name,
    // and "чужой" and the unnamed class 7 are not the project's at all.
    const std::vector<std::string> fileNames{"два", "ноль", "чужой", "один"};
    const int projectClass[] = {2, 0, -1, 1};
    const std::vector<std::pair<std::uint32_t, int>> elements{{0, 1}, {1, 3}, {1, 3}, {2, 0},
                                                              {1, 0}, {2, 1}, {1, 2}, {2, 7}};
    const struct {
        QString file;
        const char* refusal; // empty: accepted
    } cases[] = {
        {HeldOut("good.llt", 3, elements, fileNames), ""},
        {HeldOut("wide.llt", 4, {{0, 0}}, {"a"}), "размер элемента в файле (4) не совпадает с числом входов сети (3)"},
        {Path("missing.llt"), "файл не найден"},
        {HeldOut("nameless.llt", 3, {{0, 0}}, {}), "нет файла имён классов"},
        {HeldOut("foreign.llt", 3, {{0, 0}}, {"zero", "one"}), "ни одно имя класса"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file.toStdString());
        log.clear();
        ProgressForm->checked = false;
        dialogAnswer = c.file;
        ProgressForm->Button1->click();
        EXPECT_EQ(Weights(*CurrentNet), weights);
        EXPECT_EQ(std::vector<float>(CurrentNet->outputs, CurrentNet->outputs + 3), outputs);
        EXPECT_EQ(EpochOrder(), order);
        EXPECT_EQ(TrainingSequence.Count, 3u);
        EXPECT_EQ(Project.ClassNames(), names);
        if (*c.refusal) {
            ASSERT_EQ(Boxes().size(), 1);
            EXPECT_TRUE(Boxes()[0].contains(QString::fromUtf8(c.refusal))) << Boxes()[0].toStdString();
            EXPECT_FALSE(ProgressForm->checked);
            continue;
        }
        EXPECT_TRUE(Boxes().isEmpty());
        ASSERT_TRUE(ProgressForm->checked);
        std::map<std::pair<int, std::uint32_t>, std::uint64_t> count;
        std::uint64_t apart = 0;
        for (const auto& [hot, cls] : elements) {
            if (cls >= 4 || projectClass[cls] < 0)
                ++apart;
            else
                ++count[{projectClass[cls], hot}];
        }
        const TConfusion& m = ProgressForm->checkConfusion;
        EXPECT_EQ(m.Total(), elements.size() - apart);
        EXPECT_EQ(ProgressForm->checkApart, apart);
        EXPECT_EQ(ProgressForm->checkApartNames, QStringLiteral("чужой — 1, класс 7 без имени — 1"));
        for (std::size_t t = 0; t < 3; ++t)
            for (std::uint32_t a = 0; a < 3; ++a) {
                EXPECT_EQ(m.Count(t, a), (count[{static_cast<int>(t), a}])) << t << " " << a;
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
}

TEST_F(ProgressWindow, SavesThePictureAndTheFiguresAndAFailedSaveLeavesNoFile)
{
    Form1->N32->trigger();
    Train(3);
    dialogAnswer = HeldOut("check.llt", 3, {{0, 0}, {2, 2}}, {"ноль", "один", "два"});
    ProgressForm->Button1->click();
    ASSERT_TRUE(ProgressForm->checked);

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

    QFile curve(Path("curve.csv"));
    ASSERT_TRUE(curve.open(QIODevice::ReadOnly));
    const QStringList rows = QString::fromUtf8(curve.readAll()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(rows.size(), 4);
    for (int k = 1; k <= 3; ++k) {
        const TEpochPoint& p = ProgressForm->patternHistory[static_cast<std::size_t>(k - 1)];
        const QStringList cells = rows[k].split(',');
        ASSERT_EQ(cells.size(), 4);
        EXPECT_EQ(cells[0].toULongLong(), p.epoch);
        EXPECT_EQ(cells[1].toDouble(), p.values[TProgressForm::Correct]);
        EXPECT_EQ(cells[2].toDouble(), 3.0);
        EXPECT_EQ(cells[3].toDouble(), p.values[TProgressForm::TotalError]);
    }

    // The matrix: the training rows, then the check's, each with its recall.
    QFile matrix(Path("matrix.csv"));
    ASSERT_TRUE(matrix.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(matrix.readAll()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 1 + 4 + 4);
    EXPECT_EQ(lines[0], QStringLiteral("набор,истина\\ответ,ноль,один,два,полнота"));
    EXPECT_EQ(lines[1], QStringLiteral("обучение,ноль,1,0,1,0.5"));
    EXPECT_EQ(lines[5], QStringLiteral("проверка: check.llt,ноль,1,0,0,1"));
    EXPECT_EQ(lines[7], QStringLiteral("проверка: check.llt,два,0,0,1,1"));
}

} // namespace
