// "Сведения о проекте": the figures of the sequence, the retina and the
// network, read afresh at every showing.

#include "LearningFixture.h"

namespace {

using ProjectInfo = LearningUser;

struct Figures {
    QStringList sequence, network, retina;
};

// Opens the dialog from the menu, as the user does, reads its labels
// and closes it with "ОК".
Figures Show(std::function<void(TForm&)>& user, bool& closedByOk)
{
    Figures f;
    closedByOk = false;
    user = [&](TForm&) {
        f.sequence = {Form5->Label2->Caption(), Form5->Label1->Caption(), Form5->Label9->Caption()};
        f.network = {Form5->Label3->Caption(), Form5->Label4->Caption(), Form5->Label5->Caption(),
                     Form5->Label8->Caption(), Form5->Label10->Caption()};
        f.retina = {Form5->Label6->Caption(), Form5->Label7->Caption()};
        Form5->Button1->click();
        closedByOk = !Form5->isVisible();
    };
    Form1->N14Click();
    return f;
}

} // namespace

TEST_F(ProjectInfo, AnEmptySequenceAndATwoLayerNetwork)
{
    TProjectState state;
    state.sequence.SetDimension(12);
    state.net = std::make_unique<TNeuralNet>(2, std::vector<std::uint32_t>{3, 2, 1}, 0.68f, 0.0f, 0.0f, 1.0f, 1.0f);
    state.retinaWidth = 10;
    state.retinaHeight = 7;
    Project.Adopt(state);
    bool closed = false;
    const Figures f = Show(user, closed);
    EXPECT_TRUE(closed);
    EXPECT_EQ(f.sequence, (QStringList{"Размерность:12", "Длина:0", "Память:0b"}));
    EXPECT_EQ(f.network, (QStringList{"Нейронов:3", "Слоев:2", "Выходов:1", "Связей:8", "Память:32b"}));
    // The X is the Cyrillic letter Ха, the Y the Latin letter.
    EXPECT_EQ(f.retina, (QStringList{QString::fromUtf8("\xD0\xA5=10"), "Y=7"}));

    // Large sizes are shown without wrapping round.
    PatternRing ring;
    ring.SetDimension(4000000000u);
    ring.Add(TAbsImage(1), 0);
    ring.Add(TAbsImage(1), 0);
    Project.ReplaceSequence(ring);
    EXPECT_EQ(Show(user, closed).sequence, (QStringList{"Размерность:4000000000", "Длина:2", "Память:8000000008b"}));
}

TEST_F(ProjectInfo, ASeriesSizedProjectAndFiguresThatFollowChanges)
{
    // A series of 10 values loaded with a window of 3: 7 windows of 3
    // values and a network of 3 inputs, 2 hidden neurons and 1 output.
    QTemporaryDir dir;
    const QString series = dir.filePath(QStringLiteral("ten.ser"));
    {
        QFile file(series);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("10\n0.5 1 1.5 2 2.5 3 2.5 2 1.5 1\n");
    }
    dialogAnswer = series;
    user = [](TForm&) {
        Form10->Edit1->setText(QStringLiteral("3"));
        Form10->Edit2->setText(QStringLiteral("5"));
        Form10->Button1->click();
    };
    Form1->N24Click();
    ASSERT_EQ(TrainingSequence.GetCount(), 7u) << log.join(QStringLiteral("; ")).toStdString();

    bool closed = false;
    Figures f = Show(user, closed);
    EXPECT_EQ(f.sequence, (QStringList{"Размерность:3", "Длина:7", "Память:49b"}));
    EXPECT_EQ(f.network, (QStringList{"Нейронов:3", "Слоев:2", "Выходов:1", "Связей:8", "Память:32b"}));

    // The placeholder network of start-up: one input, one neuron.
    Project.ReplaceNetwork(std::make_unique<TNeuralNet>(1, std::vector<std::uint32_t>{1, 1}, 0.68f, 0.0f, 1.0f,
                                              0.0f, 1.0f));
    Project.RemoveCurrentSample();
    f = Show(user, closed);
    EXPECT_EQ(f.sequence, (QStringList{"Размерность:3", "Длина:6", "Память:42b"}));
    EXPECT_EQ(f.network, (QStringList{"Нейронов:1", "Слоев:1", "Выходов:1", "Связей:1", "Память:4b"}));

    // A network of the default project size: bias weights are not counted.
    Project.ReplaceNetwork(std::make_unique<TNeuralNet>(2, std::vector<std::uint32_t>{100, 25, 10}, 0.68f, 0.0f,
                                              0.0f, 1.0f, 1.0f));
    f = Show(user, closed);
    EXPECT_EQ(f.network,
              (QStringList{"Нейронов:35", "Слоев:2", "Выходов:10", "Связей:2750", "Память:11000b"}));
}
