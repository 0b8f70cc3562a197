// "Открыть проект" and "Сохранить проект" through the menus: a pattern
// project and a series project come back whole and go on as if never
// saved; files that cannot be opened or written change nothing.

#include "SeriesFixture.h"

namespace {

class ProjectFiles : public SeriesUser {
protected:
    void Save(const QString& path)
    {
        dialogAnswer = path;
        Form1->N20->trigger();
        dialogAnswer.reset();
    }

    void Open(const QString& path)
    {
        dialogAnswer = path;
        Form1->N16->trigger();
        dialogAnswer.reset();
    }

    // Epochs of the learning window; the weights they leave.
    static std::vector<float> Trained(int epochs)
    {
        for (int k = 0; k < epochs; ++k)
            LearnForm->RunEpoch();
        return Weights(*CurrentNet);
    }

    // The curves of the series picture: the series and the yellow reproduction.
    static std::vector<float> Curves()
    {
        SerLForm->DrawSeries();
        std::vector<float> curves = SeriesValues();
        const std::vector<float>& reproduction = Project.SeriesForecast().reproduction;
        curves.insert(curves.end(), reproduction.begin(), reproduction.end());
        return curves;
    }
};

TEST_F(ProjectFiles, APatternProjectComesBackWholeAndTrainsOnAsIfNeverSaved)
{
    NewProject("16", "3", "5");
    Form7->StringGrid1->setCurrentCell(2, 1);
    Form7->Edit1->setText(QStringLiteral("квадрат"));
    QTest::mouseClick(Form7->Button1, Qt::LeftButton);
    for (std::uint32_t k = 0; k < 9; ++k) {
        TAbsImage sample(16);
        sample.Cells[k] = 1;
        sample.Cells[15 - k] = 1;
        Project.AddSample(sample, static_cast<std::int32_t>(k % 3));
    }
    Form1->EnableSequenceCommands(true);
    LearnForm->stochastic = false;
    Trained(4);
    const QString path = folder.filePath(QStringLiteral("работа.trelis"));
    Save(path);
    EXPECT_EQ(lastDialog, &Form1->SaveDialog1);
    EXPECT_EQ(lastDialog->Filter, QStringLiteral("Проект Trelis|*.trelis"));
    ASSERT_TRUE(Boxes().isEmpty()) << log.join(" | ").toStdString();
    const std::vector<float> saved = Weights(*CurrentNet);
    const std::vector<float> goneOn = Trained(3);

    // Another project in between, then the saved one again.
    NewProject("25", "2", "4");
    ASSERT_NE(Weights(*CurrentNet), saved);
    Open(path);
    EXPECT_EQ(lastDialog, &Form1->OpenDialog1);
    ASSERT_TRUE(Boxes().isEmpty()) << log.join(" | ").toStdString();
    EXPECT_EQ(Weights(*CurrentNet), saved);
    const QStringList names{QStringLiteral("0"), QStringLiteral("квадрат"), QStringLiteral("2")};
    EXPECT_EQ(GridNames(), names);
    EXPECT_EQ(ClassList(), names);
    EXPECT_EQ(TrainingSequence.GetCount(), 9u);
    EXPECT_EQ(SmImForm->retinaWidth, 4);
    EXPECT_EQ(RetinaImage.GetWidth(), 4u);
    EXPECT_TRUE(Form1->N18->isEnabled());
    EXPECT_TRUE(Form1->N20->isEnabled());
    Form5->FormShow();
    EXPECT_EQ(Form5->Label2->Caption(), QStringLiteral("Размерность:16"));
    EXPECT_EQ(Form5->Label6->Caption(), QStringLiteral("Х=4"));
    EXPECT_EQ(Trained(3), goneOn);
}

TEST_F(ProjectFiles, ASeriesProjectShowsTheSameCurvesAndWaitsForStart)
{
    ASSERT_TRUE(Load(Series(QStringLiteral("ряд.ser"), {3, 1, 4, 1, 5, 9, 2, 6, 5, 3, 5, 8}), 3, 9));
    for (int k = 0; k < 20; ++k)
        SerLForm->Timer1Timer();
    SerLForm->CheckBox1->setChecked(true);
    const std::vector<float> curves = Curves();
    const QString path = folder.filePath(QStringLiteral("ряд.trelis"));
    Save(path);
    ASSERT_TRUE(Boxes().isEmpty()) << log.join(" | ").toStdString();

    ASSERT_TRUE(Load(Series(QStringLiteral("другой.ser"), {1, 2, 3, 4, 5, 6, 7}), 2, 5));
    SerLForm->CheckBox1->setChecked(false);
    Open(path);
    ASSERT_TRUE(Boxes().isEmpty()) << log.join(" | ").toStdString();
    EXPECT_FALSE(SerLForm->Timer1->isActive());
    EXPECT_TRUE(SerLForm->CheckBox1->isChecked());
    EXPECT_EQ(SerLForm->Label2->Caption(), QStringLiteral("1"));
    EXPECT_EQ(SerLForm->Label3->Caption(), QStringLiteral("9"));
    EXPECT_EQ(SerLForm->trainLength, 9u);
    EXPECT_TRUE(Form1->N27->isEnabled());
    EXPECT_EQ(Form10->Edit1->text(), QStringLiteral("3"));
    EXPECT_EQ(Form10->Edit2->text(), QStringLiteral("9"));
    EXPECT_EQ(Curves(), curves);
    SerLForm->Button1Click();
    EXPECT_TRUE(SerLForm->Timer1->isActive());
}

TEST_F(ProjectFiles, AnOpenedProjectLeavesNothingOfTheOldOneOnShow)
{
    // A project of no samples and no series, saved.
    NewProject("16", "3", "5");
    const QString empty = folder.filePath(QStringLiteral("пустой.trelis"));
    dialogAnswer = empty;
    Form1->N20Click(); // the handler itself: the menu greys it after "Новый проект"
    // Then a busy one: a series, samples, epochs, a figure guessed.
    ASSERT_TRUE(Load(Series(QStringLiteral("ряд.ser"), {3, 1, 4, 1, 5, 9, 2, 6}), 3, 8));
    NewProject("16", "3", "5");
    for (std::int32_t k = 0; k < 3; ++k)
        Project.AddSample(TAbsImage(16), k);
    Trained(2);
    ImForm->Image1->Canvas().Rectangle(10, 10, 30, 30);
    Form1->N6Click();
    SmImForm->Button1Click();
    ASSERT_TRUE(HintForm->isVisible());
    ASSERT_FALSE(SmImForm->Label1->Caption().isEmpty());

    Open(empty);
    ASSERT_TRUE(Boxes().isEmpty()) << log.join(" | ").toStdString();
    EXPECT_EQ(std::vector<bool>({Form1->N8->isEnabled(), Form1->N10->isEnabled(), Form1->N18->isEnabled()}),
              std::vector<bool>(3, false));
    EXPECT_TRUE(Form1->N20->isEnabled());
    EXPECT_FALSE(Form1->N27->isEnabled()); // no series to reload
    EXPECT_FALSE(HintForm->isVisible());
    EXPECT_EQ(SmImForm->Label1->Caption(), QString());
    EXPECT_EQ(SmImForm->Label2->Caption(), QStringLiteral("1"));
    EXPECT_EQ(LearnForm->Label1->Caption(), QString());
    EXPECT_EQ(LearnForm->ProgressBar1->value(), 0);
    EXPECT_EQ(LearnForm->epochCount, 0u);
}

TEST_F(ProjectFiles, FilesThatCannotBeOpenedOrWrittenChangeNothing)
{
    ASSERT_TRUE(Load(Series(QStringLiteral("ряд.ser"), {3, 1, 4, 1, 5, 9, 2, 6}), 3, 8));
    const QString good = folder.filePath(QStringLiteral("good.trelis"));
    Save(good);
    QFile file(good);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    file.close();
    const TSeriesState before = TSeriesState::Now();

    const struct {
        const char* name;
        QByteArray content;
        const char* why;
    } refused[] = {
        {"cut.trelis", bytes.left(bytes.size() / 2), "cut.trelis"},
        {"text.trelis", QByteArray("Это не проект"), "text.trelis"},
        {"empty.trelis", QByteArray(), "empty.trelis"},
    };
    for (const auto& r : refused) {
        log.clear();
        Open(File(QString::fromUtf8(r.name), r.content.toStdString()));
        ExpectMessage({r.why}, r.name);
        EXPECT_TRUE(TSeriesState::Now() == before) << r.name;
    }
    // Saving into a folder that does not exist fails with a reason.
    log.clear();
    Save(folder.filePath(QStringLiteral("нет/ряд.trelis")));
    EXPECT_EQ(Boxes().size(), 1);
    EXPECT_TRUE(TSeriesState::Now() == before);
    // Cancelling either dialog does nothing.
    log.clear();
    dialogAnswer.reset();
    Form1->N16->trigger();
    Form1->N20->trigger();
    EXPECT_TRUE(Boxes().isEmpty());
    EXPECT_TRUE(TSeriesState::Now() == before);
}

TEST_F(ProjectFiles, WorkNotSavedIsAskedAboutBeforeItIsLostAndTheTitleNamesTheFile)
{
    using A = Seams::TAnswer;
    const QString path = folder.filePath(QStringLiteral("работа.trelis"));
    const struct {
        const char* name;
        std::function<void()> act;
        QString done; // what the command does once it goes on; empty: the program ends
    } commands[] = {
        {"closing the main window", [] { Form1->close(); }, {}},
        {"Новый проект", [] { Form1->N15->trigger(); }, QStringLiteral("modal Form6")},
        {"Открыть проект", [] { Form1->N16->trigger(); }, QStringLiteral("open dialog")},
        {"a series load", [] { Form1->N24->trigger(); }, QStringLiteral("modal Form10")},
    };
    const struct {
        A reply;
        bool fileChosen; // for "Да": the save dialog's answer
        bool goesOn;
    } replies[] = {{A::Yes, true, true}, {A::Yes, false, false}, {A::No, false, true}, {A::Cancel, false, false}};
    for (const auto& command : commands)
        for (const auto& reply : replies) {
            SCOPED_TRACE(std::string(command.name) + " " + std::to_string(static_cast<int>(reply.reply)) +
                         (reply.fileChosen ? " saved" : ""));
            // A project with a sample not saved in any file.
            answer = A::No;
            NewProject("16", "3", "5");
            Project.AddSample(TAbsImage(16), 0);
            QFile::remove(path);
            questions.clear();
            log.clear();
            answer = reply.reply;
            if (reply.fileChosen)
                dialogAnswer = path;
            command.act();
            dialogAnswer.reset();
            EXPECT_EQ(questions, QStringList{QStringLiteral("Сохранить изменения в проекте?")});
            EXPECT_EQ(QFile::exists(path), reply.fileChosen);
            EXPECT_EQ(command.done.isEmpty() ? !Form1->isVisible() : log.contains(command.done), reply.goesOn)
                << log.join(" | ").toStdString();
            Form1->Show();
        }

    // Saved, the title names the file, marked while there are changes, and
    // nothing is asked.
    answer = A::No;
    NewProject("16", "3", "5");
    EXPECT_EQ(Form1->windowTitle(), QStringLiteral("Trelis"));
    dialogAnswer = path;
    Form1->N20Click(); // the handler itself: the menu greys it after "Новый проект"
    dialogAnswer.reset();
    EXPECT_EQ(Form1->windowTitle(), QStringLiteral("Trelis — работа.trelis"));
    questions.clear();
    for (const auto& command : commands) {
        command.act();
        Form1->Show();
    }
    EXPECT_TRUE(questions.isEmpty()) << questions.join(" | ").toStdString();
    Project.AddSample(TAbsImage(16), 0);
    EXPECT_EQ(Form1->windowTitle(), QStringLiteral("Trelis — работа.trelis*"));
    // A new project has no file yet.
    NewProject("16", "3", "5");
    EXPECT_EQ(Form1->windowTitle(), QStringLiteral("Trelis"));
}

} // namespace
