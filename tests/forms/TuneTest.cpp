// "Подбор параметров…": the search on the project's sequence, on a thread of
// its own, listed and drawn row by row, stopped, and its best network handed
// to the project.

#include "LearningFixture.h"
#include "forms/Unit16.h"

namespace {

class TuneWindow : public LearningUser {
protected:
    void SetUp() override
    {
        LearningUser::SetUp();
        // Three classes of 4 x 4 pictures: a bar on row c, and one more cell
        // that differs from picture to picture.
        Project.NewProject({16, 3, 4}, 11);
        std::vector<TAbsImage> images;
        std::vector<std::int32_t> classes;
        for (std::uint32_t k = 0; k < 8; ++k)
            for (std::uint32_t c = 0; c < 3; ++c) {
                TAbsImage image(16);
                for (std::uint32_t x = 0; x < 4; ++x)
                    image.Cells[4 * c + x] = 1;
                image.Cells[(5 * k + 7 * c + 3) % 16] = 1;
                images.push_back(image);
                classes.push_back(static_cast<std::int32_t>(c));
            }
        Fill(images, classes);
        TRunSettings settings;
        settings.seed = 21;
        Project.SetRunSettings(settings);
    }

    // "Обучение" / "Подбор параметров…": "Пуск", then `then` while the window shows.
    void Search(const std::function<void()>& then)
    {
        user = [&](TForm&) {
            TuneForm->Button1->click();
            then();
        };
        Form1->N37->trigger();
        user = nullptr;
    }
};

TEST_F(TuneWindow, ShowsEverySettingAndHandsTheBestNetworkToTheProject)
{
    // The search itself on the same sequence: the window must find the same.
    TTuneSearch search(Project.Sequence(), Project.ClassNames(), 3, 0.2, 21);
    const TTuneResult& expected = search.Run(1, {}, {});
    ASSERT_TRUE(expected.best && search.HasNetwork());
    const std::unique_ptr<TNeuralNet> expectedNet = search.TakeNetwork();

    bool searching = false;
    Search([&] {
        searching = TuneForm->Searching();
        TuneForm->WaitForSearch();
    });
    EXPECT_TRUE(searching);
    EXPECT_FALSE(TuneForm->Searching());
    ASSERT_EQ(TuneForm->Rows().size(), expected.rows.size());
    EXPECT_EQ(TuneForm->StringGrid1->RowCount(), static_cast<int>(expected.rows.size()) + 1);
    for (std::size_t r = 0; r < expected.rows.size(); ++r) {
        EXPECT_EQ(TuneForm->Rows()[r].values, expected.rows[r].values) << r;
        EXPECT_EQ(TuneForm->Rows()[r].mean, expected.rows[r].mean) << r;
        EXPECT_EQ(TuneForm->StringGrid1->Cell(3, static_cast<int>(r) + 1),
                  QString::number(expected.rows[r].mean, 'f', 4));
    }
    EXPECT_EQ(TuneForm->Curve().Count(), expected.rows.size());
    int blue = 0;
    const QImage& curve = TuneForm->Image1->Bitmap();
    for (int y = 0; y < curve.height(); ++y)
        for (int x = 0; x < curve.width(); ++x)
            blue += curve.pixel(x, y) == qRgb(0, 0, 200);
    EXPECT_GT(blue, 30);
    EXPECT_TRUE(TuneForm->Button3->isEnabled());
    EXPECT_FALSE(TuneForm->Button2->isEnabled());

    // Unsaved work: the user is asked first; "Нет" keeps the network.
    const std::vector<float> own = Weights(*CurrentNet);
    for (const Seams::TAnswer a : {Seams::TAnswer::No, Seams::TAnswer::Yes}) {
        answer = a;
        questions.clear();
        TuneForm->Button3->click();
        EXPECT_EQ(questions, QStringList{QStringLiteral("Заменить сеть проекта лучшей сетью подбора?")});
    }
    const TTuneRow& best = expected.rows[*expected.best];
    EXPECT_EQ(Weights(*CurrentNet), Weights(*expectedNet));
    EXPECT_NE(Weights(*CurrentNet), own);
    EXPECT_EQ(Project.State().seed, expected.bestSeed);
    EXPECT_EQ(Project.RunSettings().step.learningRate, best.values.rate);
    EXPECT_EQ(Project.RunSettings().step.momentum, best.values.momentum);
    EXPECT_EQ(Project.RunSettings().seed, expected.bestSeed);
    EXPECT_FALSE(TuneForm->Button3->isEnabled());
}

TEST_F(TuneWindow, StopAndClosingEndTheSearchAndItsThread)
{
    for (const bool close : {false, true}) {
        Search([&] {
            if (close)
                TuneForm->close();
            else
                TuneForm->Button2->click();
            TuneForm->WaitForSearch();
        });
        EXPECT_FALSE(TuneForm->Searching()) << close;
        EXPECT_LE(TuneForm->Rows().size(), 9u) << close;
        EXPECT_TRUE(TuneForm->Button1->isEnabled()) << close;
        EXPECT_FALSE(TuneForm->Button2->isEnabled()) << close;
        EXPECT_FALSE(TuneForm->Label1->Caption().startsWith(QStringLiteral("Подбор:"))) << close;
    }
}

TEST_F(TuneWindow, ASequenceTooSmallToSplitIsRefused)
{
    Fill({OneHot(16, 0), OneHot(16, 1)}, {0, 1});
    Search([] {});
    EXPECT_FALSE(TuneForm->Searching());
    ASSERT_EQ(Boxes().size(), 1);
    EXPECT_TRUE(Boxes()[0].contains(QStringLiteral("хотя бы два элемента в классе")));
}

} // namespace
