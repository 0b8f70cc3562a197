// The run settings of the windows: "Сохранять пропорции фигур" and how ">>"
// cuts, "Параметры обучения…" and the seed of the network's weights, the
// learning window stopped by the run's rules with its held-out check, and
// that check's curve in "Ход обучения".

#include "CanvasFixture.h"
#include "LearningFixture.h"
#include "forms/Unit15.h"

#include "images/ClassNames.h"

namespace {

class RunSettingsUser : public LearningUser {
protected:
    // "Обучение" / "Параметры обучения…" with the fields typed and "ОК"
    // clicked; true when the dialog closed.
    bool SetParameters(const TRunSettingsFields& f)
    {
        bool closed = false;
        user = [&](TForm&) {
            RunSettingsForm->Edit1->setText(f.rate);
            RunSettingsForm->Edit2->setText(f.momentum);
            RunSettingsForm->Edit3->setText(f.maxEpochs);
            RunSettingsForm->Edit4->setText(f.seed);
            RunSettingsForm->Edit5->setText(f.heldOut);
            RunSettingsForm->CheckBox1->setChecked(f.keepBest);
            RunSettingsForm->CheckBox2->setChecked(f.keepGoing);
            RunSettingsForm->Button1->click();
            closed = !RunSettingsForm->isVisible();
        };
        Form1->N36->trigger();
        user = nullptr;
        return closed;
    }

    QString Path(const QString& name) const { return QDir(dir.path()).filePath(name); }

    // A held-out file of the two one-hot patterns, the second filed under
    // `second`, with the names "a" and "b"; its path.
    std::string WriteCheck(std::int32_t second)
    {
        PatternRing check;
        check.SetDimension(2);
        check.Add(OneHot(2, 0), 0);
        check.Add(OneHot(2, 1), second);
        const std::string held = LocalPath(Path("held.llt"));
        EXPECT_TRUE(check.SaveToFile(held));
        EXPECT_TRUE(WriteClassNames(ClassNamesFileName(held), {"a", "b"}));
        return held;
    }

    QTemporaryDir dir;
};

using FigureFitItem = CanvasUser;
using RunParameters = RunSettingsUser;
using LearningRun = RunSettingsUser;

TEST_F(FigureFitItem, FollowsTheProjectAsksOverSamplesAndSetsHowFiguresAreCut)
{
    NewProject("100", "2", "3");
    const struct {
        bool samples;
        Seams::TAnswer answer;
        bool asked;
        TFigureFit fit;
    } cases[] = {
        {false, Seams::TAnswer::No, false, TFigureFit::Aspect},
        {false, Seams::TAnswer::No, false, TFigureFit::Stretch},
        {true, Seams::TAnswer::No, true, TFigureFit::Stretch},
        {true, Seams::TAnswer::Cancel, true, TFigureFit::Stretch},
        {true, Seams::TAnswer::Yes, true, TFigureFit::Aspect},
        {true, Seams::TAnswer::Yes, true, TFigureFit::Stretch},
    };
    for (const auto& c : cases) {
        if (c.samples && TrainingSequence.GetCount() == 0)
            Project.AddSample(RetinaImage, 0);
        questions.clear();
        answer = c.answer;
        Form1->N35->trigger();
        EXPECT_EQ(questions.size(), c.asked ? 1 : 0);
        EXPECT_EQ(Project.State().fit, c.fit);
        EXPECT_EQ(Form1->N35->isChecked(), c.fit == TFigureFit::Aspect);
    }
    EXPECT_EQ(questions.value(0), QStringLiteral("В последовательности уже есть образцы, вырезанные по-другому. "
                                                 "Изменить способ вырезания фигур?"));

    // A wide stroke: stretched it fills the retina, kept in proportion a band.
    std::vector<std::uint32_t> cells;
    for (const TFigureFit fit : {TFigureFit::Stretch, TFigureFit::Aspect}) {
        Project.SetFigureFit(fit);
        ImForm->Show();
        SetPenWidth(9);
        const int y = fit == TFigureFit::Stretch ? 100 : 200;
        Drag({{100, y}, {300, y}});
        FromCanvas();
        Next();
        cells.push_back(RetinaSetCells());
    }
    EXPECT_GE(cells[0], 70u) << cells[1];
    EXPECT_GT(cells[1], 0u);
    EXPECT_LE(cells[1], 30u) << cells[0];

    // An opened project brings its own; a new project cuts stretched again.
    TProjectState opened;
    opened.net = Answering(4, 2, 0);
    opened.fit = TFigureFit::Aspect;
    Project.Adopt(opened);
    EXPECT_TRUE(Form1->N35->isChecked());
    NewProject("100", "2", "3");
    EXPECT_FALSE(Form1->N35->isChecked());
}

TEST_F(RunParameters, TheDialogSetsTheRunSettingsAndRefusesBadNumbers)
{
    Project.NewProject({16, 2, 3}, 5);
    const TRunSettings before = Project.RunSettings();
    const struct {
        TRunSettingsFields fields;
        const char* box; // the error shown; none: accepted
    } refused[] = {
        {{"0,25", "0", "0", "от часов", ""}, "'0,25' is not a valid floating point value"},
        {{"0.1", "1.5", "0", "от часов", ""}, "Момент: нужно число от 0 до 0.99."},
        {{"0", "0", "0", "от часов", ""}, "Скорость обучения: нужно число от 1E-6 до 100."},
        {{"0.1", "0", "x", "от часов", ""}, "'x' is not a valid integer value"},
        {{"0.1", "0", "-1", "от часов", ""}, "Предел эпох: нужно число от 0 до 1000000000."},
        {{"0.1", "0", "0", "-3", ""}, "'-3' is not a valid integer value"},
    };
    for (const auto& c : refused) {
        log.clear();
        EXPECT_FALSE(SetParameters(c.fields)) << c.box;
        EXPECT_EQ(Boxes(), QStringList{QString::fromUtf8(c.box)});
        EXPECT_EQ(Project.RunSettings(), before);
    }

    EXPECT_TRUE(SetParameters({"0.25", "0.5", "40", "", " held.llt ", false, true}));
    const TRunSettings& set = Project.RunSettings();
    EXPECT_EQ(set.step.learningRate, 0.25f);
    EXPECT_EQ(set.step.momentum, 0.5f);
    EXPECT_EQ(set.maxEpochs, 40u);
    EXPECT_FALSE(set.seed);
    EXPECT_EQ(set.heldOutPath, "held.llt");
    EXPECT_FALSE(set.keepBest);
    EXPECT_TRUE(set.keepGoing);
    // The learning window's box follows them.
    EXPECT_TRUE(LearnForm->CheckBox1->isChecked());
    EXPECT_TRUE(questions.isEmpty());

    // Shown again, the fields come from the settings.
    user = [](TForm&) {};
    Form1->N36->trigger();
    EXPECT_EQ(RunSettingsForm->Edit1->text(), QStringLiteral("0.25"));
    EXPECT_EQ(RunSettingsForm->Edit4->text(), TRunSettingsForm::ClockSeedText);
    EXPECT_EQ(RunSettingsForm->Edit5->text(), QStringLiteral("held.llt"));
}

TEST_F(RunParameters, ASeedDrawsTheNetworkAnewTheSameForTheSameSeed)
{
    Project.NewProject({16, 2, 3}, 5);
    const std::vector<float> fromFive = Weights(*CurrentNet);
    const TRunSettingsFields base{"0.1", "0", "0", "", ""};
    const struct {
        const char* seed;
        Seams::TAnswer answer;
        bool asked;
        std::uint64_t netSeed; // the project's seed afterwards
    } cases[] = {
        {"5", Seams::TAnswer::Yes, false, 5},  // the network's own seed: nothing is drawn
        {"7", Seams::TAnswer::No, true, 5},    // not confirmed: nothing changes
        {"7", Seams::TAnswer::Yes, true, 7},
        {"8", Seams::TAnswer::Yes, true, 8},
        {"7", Seams::TAnswer::Yes, true, 7},
    };
    std::map<std::uint64_t, std::vector<float>> drawn{{5, fromFive}};
    for (const auto& c : cases) {
        questions.clear();
        answer = c.answer;
        TRunSettingsFields fields = base;
        fields.seed = QString::fromLatin1(c.seed);
        EXPECT_EQ(SetParameters(fields), c.answer == Seams::TAnswer::Yes) << c.seed;
        EXPECT_EQ(questions.size(), c.asked ? 1 : 0) << c.seed;
        EXPECT_EQ(Project.State().seed, c.netSeed) << c.seed;
        const auto [known, fresh] = drawn.try_emplace(c.netSeed, Weights(*CurrentNet));
        EXPECT_EQ(Weights(*CurrentNet), known->second) << c.seed;
        if (fresh) {
            EXPECT_NE(Weights(*CurrentNet), fromFive) << c.seed;
        }
    }
    EXPECT_EQ(questions.value(0), QStringLiteral("Веса сети будут заданы заново из зерна 7. Продолжить?"));
    EXPECT_EQ(Project.RunSettings().seed, std::optional<std::uint64_t>(7));
}

TEST_F(LearningRun, TheRunsRulesStopTheWindowAndTheBestCheckedWeightsAreKept)
{
    // Trained to answer every pattern the other way round, the detector
    // gets worse and worse on a check that wants the usual answers.
    SetClassNames({"a", "b"});
    const std::string held = WriteCheck(1);

    const struct {
        std::uint64_t maxEpochs;
        std::string heldOut;
        bool keepBest;
        int rightAfter; // on the check, of the network left; -1: not looked at
    } cases[] = {
        {4, "", true, -1},
        {40, held, false, 0},
        {40, held, true, 2},
    };
    for (const auto& c : cases) {
        Project.ReplaceNetwork(Detector(2, {}, 1.0f));
        Fill({OneHot(2, 0), OneHot(2, 1)}, {1, 0});
        TRunSettings settings;
        settings.step.learningRate = 2.0f;
        settings.maxEpochs = c.maxEpochs;
        settings.heldOutPath = c.heldOut;
        settings.keepBest = c.keepBest;
        settings.keepGoing = true; // past the perfect epochs of the reversed answers
        Project.SetRunSettings(settings);
        LearnForm->Show();
        LearnForm->Button2->click();
        for (int tick = 0; tick < 100 && LearnForm->Timer1->isActive(); ++tick) {
            LearnForm->Timer1Timer();
            // The check of every epoch so far reaches the progress window.
            if (tick == 1) {
                EXPECT_EQ(ProgressForm->History().Checks().Count(), c.heldOut.empty() ? 0u : 2u);
            }
        }
        EXPECT_FALSE(LearnForm->Timer1->isActive());
        EXPECT_EQ(LearnForm->epochCount, c.maxEpochs);
        EXPECT_EQ(LearnForm->Label1->Caption(), QStringLiteral("Остановлено: %1").arg(c.maxEpochs));
        EXPECT_EQ(LearnForm->Run(), nullptr);
        THeldOutSet checked;
        ASSERT_EQ(LoadHeldOut(held, CurrentNet.get(), Project.ClassNames(), checked), "");
        if (c.rightAfter >= 0) {
            EXPECT_EQ(CheckNetwork(*CurrentNet, checked.file, checked.classes).right, static_cast<std::uint64_t>(c.rightAfter))
                << c.maxEpochs << c.keepBest;
        }
        LearnForm->close();
    }
}

TEST_F(LearningRun, AHeldOutFileItCannotReadKeepsTheRunFromStarting)
{
    Project.ReplaceNetwork(Detector(2));
    Fill({OneHot(2, 0), OneHot(2, 1)}, {0, 1});
    TRunSettings settings;
    settings.heldOutPath = LocalPath(Path("missing.llt"));
    Project.SetRunSettings(settings);
    LearnForm->Show();
    for (QPushButton* button : {LearnForm->Button2, LearnForm->Button3}) {
        log.clear();
        button->click();
        EXPECT_FALSE(LearnForm->Timer1->isActive());
        EXPECT_EQ(LearnForm->Run(), nullptr);
        ASSERT_EQ(Boxes().size(), 1);
        EXPECT_TRUE(Boxes()[0].startsWith(QStringLiteral("Обучение не начато: не удалось загрузить"))) << Boxes()[0].toStdString();
    }
    EXPECT_EQ(LearnForm->epochCount, 0u);
}

TEST_F(LearningRun, TheProgressWindowDrawsAndListsTheCheckedEpochs)
{
    SetClassNames({"a", "b"});
    const std::string held = WriteCheck(0);
    Project.ReplaceNetwork(Detector(2));
    Fill({OneHot(2, 0), OneHot(2, 1)}, {0, 0});
    TRunSettings settings;
    settings.heldOutPath = held;
    Project.SetRunSettings(settings);

    LearnForm->Show();
    LearnForm->Button3->click();   // "Шаг" alone begins a run
    ASSERT_NE(LearnForm->Run(), nullptr);
    for (int k = 0; k < 2; ++k)
        LearnForm->Button3->click();
    const TEpochHistory& h = ProgressForm->History().Checks();
    ASSERT_EQ(h.Count(), 3u);
    EXPECT_EQ(h.Last().epoch, 3u);
    EXPECT_EQ(h.Last().values[TTrainingHistory::CheckRight], 1.0);
    EXPECT_EQ(h.Last().values[TTrainingHistory::CheckTotal], 2.0);
    // Half right, drawn at half the training elements.
    EXPECT_EQ(h.Last().values[TTrainingHistory::CheckShown], 1.0);

    ProgressForm->Show();
    ProgressForm->Repaint();
    const QImage& curve = ProgressForm->Image1->Bitmap();
    int green = 0;
    for (int y = 0; y < curve.height(); ++y)
        for (int x = 0; x < curve.width(); ++x)
            green += curve.pixel(x, y) == qRgb(0, 150, 0);
    EXPECT_GT(green, 20);
    const std::string csv = ProgressForm->History().HistoryCsv();
    EXPECT_EQ(csv.substr(0, csv.find('\n')), "эпоха,верно,элементов,суммарная ошибка,проверка: верно,проверка: элементов");
    EXPECT_NE(csv.find(",1,2\n"), std::string::npos) << csv;
}

} // namespace
