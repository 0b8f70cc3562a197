// Where the network fails and what it learned, on the digits sample: the
// elements behind each cell of the progress window's matrices, shown in the
// sequence on request, and the tiles of the hidden neurons' weights.

#include "LearningFixture.h"

#include "forms/Unit13.h"
#include "forms/Unit14.h"
#include "forms/Unit3.h"
#include "forms/Unit4.h"
#include "project/TextFiles.h"

#include <QComboBox>
#include <QListWidget>

#include <algorithm>
#include <map>
#include <tuple>

namespace {

const std::string Examples = TRELIS_EXAMPLES_DIR;

class Gallery : public LearningUser {
protected:
    void SetUp() override
    {
        LearningUser::SetUp();
        testnets::PinnedClock clock(1700000000);
        Project.NewProject({100, 10, 25});
        TSequenceWithNames digits;
        ASSERT_EQ(LoadSequenceWithNames(Examples + "/digits.llt", digits), "");
        Project.TakeSequence(digits);
        Project.ConfirmClassNames(Project.ClassNames()); // the class-names window's "ОК"
        Form1->N32->trigger(); // "Ход обучения"
    }

    // "Шаг" `epochs` times in the learning window; before the last epoch
    // `before` runs.
    void Step(int epochs, const std::function<void()>& before = {})
    {
        user = [&](TForm&) {
            for (int k = 0; k < epochs; ++k) {
                if (k + 1 == epochs && before)
                    before();
                LearnForm->Button3->click();
            }
        };
        Form1->N19->trigger();
        user = nullptr;
    }
};

// An element's answer as the test reads it from the outputs: the cell, the
// margin of the winning output over the true class's, its order among the
// answers and its place.
struct TAnswer {
    float margin;
    std::uint32_t order;
    std::uint32_t place;
};
using TCells = std::map<std::pair<int, std::uint32_t>, std::vector<TAnswer>>;

void Read(const TNeuralNet& net, const TAbsImage& e, std::uint32_t order, std::uint32_t place, TCells& cells)
{
    const std::uint32_t winner = net.WinningOutput().index;
    const float margin = net.outputs[winner] - net.outputs[e.ClassIndex];
    cells[{e.ClassIndex, winner}].push_back({margin, order, place});
}

TEST_F(Gallery, EveryOffDiagonalCellListsTheElementsItCountsAndATrainingOneIsShownInTheSequence)
{
    // The third epoch run on a copy first: each element's answer, and its
    // place as the sequence is saved (the epoch's first element comes last).
    TCells training;
    std::vector<const TAbsImage*> order;
    Step(3, [&] {
        order = EpochOrder();
        TNeuralNet copy(*CurrentNet);
        for (std::uint32_t i = 0; i < order.size(); ++i) {
            std::vector<std::int8_t> target(10, 0);
            target[static_cast<std::size_t>(order[i]->ClassIndex)] = 1;
            copy.TrainBytes(order[i]->Cells.data(), target.data(), 0.1f, 0.0f);
            Read(copy, *order[i], i, i == 0 ? 50 : i, training);
        }
    });
    // The held-out digits, answered by a copy in the file's order.
    TCells heldOut;
    TSequenceWithNames check;
    ASSERT_EQ(LoadSequenceWithNames(Examples + "/digits_check.llt", check), "");
    TNeuralNet copy(*CurrentNet);
    std::uint32_t k = 0;
    for (const TAbsImage& e : check.sequence.FileOrder()) {
        copy.ForwardBytes(e.Cells.data());
        Read(copy, e, k, k + 1, heldOut);
        ++k;
    }
    dialogAnswer = QString::fromStdString(Examples + "/digits_check.llt");
    ProgressForm->Button1->click();

    std::size_t wrong = 0;
    for (const bool inTraining : {true, false}) {
        TCells& cells = inTraining ? training : heldOut;
        const TConfusion& m = inTraining ? ProgressForm->History().TrainingConfusion()
                                          : ProgressForm->History().FileCheck()->confusion;
        for (int t = 0; t < 10; ++t)
            for (std::uint32_t a = 0; a < 10; ++a) {
                if (t == static_cast<int>(a))
                    continue;
                SCOPED_TRACE(testing::Message() << (inTraining ? "training " : "held out ") << t << " " << a);
                std::vector<TAnswer>& expected = cells[{t, a}];
                std::stable_sort(expected.begin(), expected.end(),
                                 [](const TAnswer& x, const TAnswer& y) { return x.margin > y.margin; });
                const std::optional<QPoint> centre = ProgressForm->CellCentre(inTraining, t, a);
                ASSERT_TRUE(centre);
                QTest::mouseClick(ProgressForm->Image2, Qt::LeftButton, {}, *centre);
                ASSERT_EQ(GalleryForm->items.size(), m.Count(static_cast<std::size_t>(t), a));
                ASSERT_EQ(GalleryForm->items.size(), expected.size());
                for (std::size_t n = 0; n < expected.size(); ++n) {
                    EXPECT_EQ(GalleryForm->items[n].place, expected[n].place) << n;
                    EXPECT_EQ(GalleryForm->items[n].margin, expected[n].margin) << n;
                }
                EXPECT_EQ(GalleryForm->Button1->isEnabled(), inTraining && !expected.empty());
                wrong += expected.size();
            }
    }
    EXPECT_GT(wrong, 10u);

    // "Показать в последовательности" on the last element of the fullest
    // training cell: the cursor and the retina view are on it, and "Удалить
    // из списка" takes it out; the gallery can show no more.
    const auto fullest = std::max_element(training.begin(), training.end(), [](const auto& x, const auto& y) {
        return (x.first.first != static_cast<int>(x.first.second)) * x.second.size() <
               (y.first.first != static_cast<int>(y.first.second)) * y.second.size();
    });
    QTest::mouseClick(ProgressForm->Image2, Qt::LeftButton, {},
                      *ProgressForm->CellCentre(true, fullest->first.first, fullest->first.second));
    GalleryForm->ListBox1->setCurrentRow(GalleryForm->ListBox1->count() - 1);
    GalleryForm->Button1->click();
    const TAbsImage* shown = order[fullest->second.back().order];
    EXPECT_EQ(TrainingSequence.CurrentElement(), shown);
    EXPECT_TRUE(SmImForm->isVisible());
    EXPECT_TRUE(SmImForm->showSequence);
    EXPECT_EQ(SmImForm->ComboBox1->currentIndex(), shown->ClassIndex);
    EXPECT_TRUE(std::equal(RetinaImage.Cells.begin(), RetinaImage.Cells.begin() + 100, shown->Cells.begin()));
    SmImForm->Button3->click();
    EXPECT_EQ(TrainingSequence.GetCount(), 49u);
    EXPECT_FALSE(GalleryForm->Button1->isEnabled());
}

TEST_F(Gallery, TheWeightTilesFollowTheTrainingAndATileNamesTheClassesItsNeuronFavours)
{
    Step(1);
    ProgressForm->Timer1Timer();
    const QImage before = ProgressForm->Image3->Bitmap();
    Step(3);
    ProgressForm->Timer1Timer();
    EXPECT_NE(ProgressForm->Image3->Bitmap(), before);

    // Over the first tile: the class with the largest weight from neuron 1.
    const float* out = CurrentNet->layers[1].weights[0];
    const int favoured = static_cast<int>(std::max_element(out, out + 10) - out);
    for (int d = 0; d < 60 && !ProgressForm->Label2->Caption().startsWith(QStringLiteral("Нейрон 1 ")); ++d)
        ProgressForm->Image3MouseMove(d, d);
    EXPECT_TRUE(ProgressForm->Label2->Caption().contains(QStringLiteral(":\n«%1» +").arg(favoured)))
        << ProgressForm->Label2->Caption().toStdString();
}

} // namespace
