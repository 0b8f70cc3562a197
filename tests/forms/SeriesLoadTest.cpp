// Loading a series with "Из файла" and reloading it with "Обновить": what a
// load builds, what a reload keeps, and every refusal, none of which may
// change anything.

#include "SeriesFixture.h"

namespace {

using SeriesLoading = SeriesUser;

const std::vector<double> TenValues{5, 1, 4, 2, 8, 3, 9, 0, 7, 6};

TEST_F(SeriesLoading, TenValuesWithWindowThreeBuildTheNetworkTheWindowsAndStartTraining)
{
    ASSERT_TRUE(Load(Series("ten.ser", TenValues), 3, 10));
    EXPECT_EQ(log, (QStringList{"modal Form10", "open dialog"}));
    EXPECT_EQ(lastDialog, &Form10->OpenDialog1);
    std::vector<std::uint32_t> layout;
    for (const TLayer& layer : CurrentNet->layers)
        layout.insert(layout.end(), {layer.inputCount, layer.neuronCount});
    EXPECT_EQ(layout, (std::vector<std::uint32_t>{3, 2, 2, 1}));
    EXPECT_EQ((std::vector<float>{CurrentNet->inputScale, CurrentNet->targetScale, CurrentNet->inputOffset,
                                  CurrentNet->targetOffset}),
              (std::vector<float>{1, 1, 0, 0}));
    EXPECT_EQ(TrainingSequence.GetCount(), 7u);
    EXPECT_EQ(TrainingSequence.GetDimension(), 3u);
    EXPECT_EQ(TrainingSequence.CurrentElement()->Cells.size(), 5u);
    ASSERT_EQ(SeriesBuffer.count, 10);
    for (std::size_t i = 0; i < TenValues.size(); ++i)
        EXPECT_FLOAT_EQ(SeriesValues()[i], static_cast<float>(TenValues[i] / 9.0)) << i;
    EXPECT_EQ(Form10->windowSize, 3u);
    EXPECT_EQ(SerLForm->trainLength, 10u);
    EXPECT_TRUE(SerLForm->SeriesReady());
    EXPECT_TRUE(SerLForm->Timer1->isActive());
    EXPECT_FALSE(SerLForm->Timer2->isActive());
    EXPECT_TRUE(Form1->N27->isEnabled());

    // A second load replaces it all, and stops the repaint.
    SerLForm->FormShow();
    ASSERT_TRUE(Load(File("246.ser", "3\n2 4 6\n"), 1, 3));
    EXPECT_EQ(SeriesValues(), (std::vector<float>{0.0f, 0.5f, 1.0f}));
    EXPECT_EQ(SerLForm->Label2->Caption(), "2"); // the smallest value, drawn at the top
    EXPECT_EQ(SerLForm->Label3->Caption(), "6");
    EXPECT_EQ(CurrentNet->layers[0].inputCount, 1u);
    EXPECT_EQ(TrainingSequence.GetCount(), 2u);
    EXPECT_FALSE(SerLForm->Timer2->isActive());

    // Training ticks every millisecond, the picture every half second; a
    // range that is not whole shows the float's 15 significant digits.
    ASSERT_TRUE(Load(File("tenths.ser", "3\n0.1 2.5 1\n"), 1, 3));
    EXPECT_EQ(SerLForm->Label2->Caption(), "0.100000001490116");
    EXPECT_EQ(SerLForm->Label3->Caption(), "2.5");
    EXPECT_EQ(SerLForm->Timer1->interval(), 1);
    EXPECT_EQ(SerLForm->Timer2->interval(), 500);
    EXPECT_EQ(LearnForm->Timer1->interval(), 1);
}

struct Refusal {
    const char* name;
    std::optional<std::string> text; // none: the file does not exist
    const char* window;
    const char* length;
    std::vector<const char*> said;
};

std::string WideSeries()
{
    std::string text = "100000\n";
    for (int i = 0; i < 100000; ++i)
        text += i % 3 ? "0\n" : "1\n";
    return text;
}

TEST_F(SeriesLoading, EveryRefusedLoadSaysWhyAndChangesNothing)
{
    const std::string ten = "10\n5 1 4 2 8 3 9 0 7 6";
    const std::vector<Refusal> refusals{
        {"ten.ser", ten, "abc", "10", {"'abc' is not a valid integer value"}},
        {"ten.ser", ten, "3", "1O", {"'1O' is not a valid integer value"}},
        {"missing.ser", std::nullopt, "3", "10", {"не найден", "missing.ser"}},
        {"folder.ser", std::nullopt, "3", "10", {"не обычный файл"}},
        {"empty.ser", "", "3", "10", {"пуст"}},
        {"words.ser", "ten\n1 2 3", "3", "10", {"целое число значений", "строка 1"}},
        {"float.ser", "10.0\n1 2 3 4 5 6 7 8 9 10", "3", "10", {"целое число значений"}},
        {"zero.ser", "0\n1 2 3", "3", "10", {"равно 0"}},
        {"huge.ser", "3000000000\n1 2", "3", "10", {"слишком велико"}},
        {"short.ser", "12\n1 2 3 4 5", "3", "5", {"объявлено значений: 12", "только 5"}},
        {"letter.ser", "4\n1 2\nx 4", "3", "4", {"номер 3", "строка 3"}},
        {"ten.ser", ten, "0", "10", {"Размер окна должен быть больше нуля", "задан 0"}},
        {"ten.ser", ten, "10", "11", {"Размер окна (10)", "меньше числа значений", "(10)"}},
        {"ten.ser", ten, "3", "3", {"Длина ряда для обучения (3)", "больше размера окна (3)"}},
        {"ten.ser", ten, "3", "11", {"Длина ряда для обучения (11)", "больше числа значений", "(10)"}},
        {"one.ser", "1\n5", "1", "2", {"только одно значение"}},
        {"flat.ser", "4\n2 2 2.0 2e0", "1", "4", {"равны 2"}},
        {"wide.ser", WideSeries(), "50000", "60000", {"Размер окна 50000 слишком велик"}},
    };
    ASSERT_TRUE(QDir(folder.path()).mkdir(QStringLiteral("folder.ser")));
    // Before the first load, and after one with training running or stopped.
    for (const int round : {0, 1, 2}) {
        if (round > 0) {
            ASSERT_TRUE(Load(Series("good.ser", TenValues), 2, 8));
        }
        if (round == 2)
            SerLForm->Button2Click();
        for (const Refusal& r : refusals) {
            const QString path = r.text ? File(r.name, *r.text) : folder.filePath(r.name);
            const TSeriesState before = TSeriesState::Now();
            log.clear();
            EXPECT_FALSE(LoadSeries(path, r.window, r.length)) << r.name; // the dialog stays open
            ExpectMessage(r.said, r.name);
            EXPECT_TRUE(TSeriesState::Now() == before) << r.name << " " << r.window << " " << r.length;
        }
        EXPECT_EQ(Form1->N27->isEnabled(), round > 0);
    }
    // A cancelled file dialog changes nothing and says nothing.
    const TSeriesState before = TSeriesState::Now();
    log.clear();
    EXPECT_FALSE(LoadSeries(QString(), "4", "9"));
    EXPECT_TRUE(Boxes().isEmpty());
    EXPECT_TRUE(TSeriesState::Now() == before);
    // A narrow window on the wide series loads.
    EXPECT_TRUE(Load(folder.filePath("wide.ser"), 10, 60000));
    EXPECT_EQ(TrainingSequence.GetCount(), 99990u);
}

TEST_F(SeriesLoading, ReloadKeepsTheNetworkWithItsWeightsAndTrainsOnTheNewValues)
{
    ASSERT_TRUE(Load(Series("ten.ser", TenValues), 3, 8));
    for (int tick = 0; tick < 50; ++tick)
        SerLForm->Timer1Timer();
    SerLForm->Button2Click();
    const TNeuralNet* net = CurrentNet.get();
    const std::vector<float> weights = Weights(*CurrentNet);
    const TAbsImage* cursor = TrainingSequence.CurrentElement();
    log.clear();
    Reload(Series("ten.ser", {10, 30, 20, 40, 30, 50, 40, 60, 50, 70}));
    EXPECT_EQ(log, QStringList{"open dialog"});
    EXPECT_EQ(CurrentNet.get(), net);
    EXPECT_EQ(Weights(*CurrentNet), weights);
    EXPECT_EQ(TrainingSequence.CurrentElement(), cursor);
    EXPECT_EQ(SerLForm->Label3->Caption(), "70");
    EXPECT_EQ(SeriesValues()[1], 1.0f / 3.0f);
    EXPECT_TRUE(SerLForm->Timer1->isActive()); // also after "Стоп"
    TNeuralNet expected = *CurrentNet;
    std::vector<float> inputs(4);
    float target = 0.0f;
    TrainSeriesEpoch(expected, SeriesValues().data(), 8, 3, inputs.data(), &target, 0.0f);
    SerLForm->Timer1Timer();
    EXPECT_EQ(Weights(*CurrentNet), Weights(expected));

    // A file that grew: the buffers that follow the count follow it, the
    // network and the training length stay, and the whole series is drawn.
    std::vector<double> grown = TenValues;
    grown.insert(grown.end(), {0, 2, 4, 6, 8});
    Reload(Series("ten.ser", grown));
    EXPECT_EQ(Project.SeriesForecast().reproduction.size(), 15u);
    EXPECT_EQ(SerLForm->trainLength, 8u);
    EXPECT_EQ(CurrentNet.get(), net);
    SerLForm->Timer1Timer();
    SerLForm->DrawSeries();
    const QImage& picture = SerLForm->Image1->Bitmap();
    EXPECT_EQ(picture.pixel(SeriesX(10, SeriesStep(15)), 1), clRed); // the smallest value, at point 10
    EXPECT_EQ(Boxes().size(), 0);
}

TEST_F(SeriesLoading, EveryRefusedReloadSaysWhyAndChangesNothing)
{
    const QString ten = Series("ten.ser", TenValues);
    ASSERT_TRUE(Load(ten, 3, 6));
    SerLForm->Timer1Timer();
    const std::vector<Refusal> refusals{
        {"missing.ser", std::nullopt, "", "", {"не найден"}},
        {"short.ser", "8\n1 2 3", "", "", {"объявлено значений: 8", "только 3"}},
        {"flat.ser", "7\n1 1 1 1 1 1 1", "", "", {"равны 1"}},
        {"five.ser", "5\n1 2 3 4 5", "", "", {"Длина ряда для обучения (6)", "(5)", "«Из файла»"}},
        {"three.ser", "3\n1 2 3", "", "", {"Размер окна (3)", "(3)", "«Из файла»"}},
    };
    for (const bool stopped : {false, true}) {
        if (stopped)
            SerLForm->Button2Click();
        for (const Refusal& r : refusals) {
            const QString path = r.text ? File(r.name, *r.text) : folder.filePath(r.name);
            const TSeriesState before = TSeriesState::Now();
            log.clear();
            Reload(path);
            ExpectMessage(r.said, r.name);
            EXPECT_TRUE(TSeriesState::Now() == before) << r.name;
        }
    }
    // Cancelled: nothing at all.
    TSeriesState before = TSeriesState::Now();
    log.clear();
    Reload(QString());
    EXPECT_EQ(log, QStringList{"open dialog"});
    EXPECT_TRUE(TSeriesState::Now() == before);
    // After a new project replaced the network: explained, no file asked for.
    Project.ReplaceNetwork(std::make_unique<TNeuralNet>(2, std::vector<std::uint32_t>{25, 8, 4}, 0.68f, 0.0f, 0.0f, 1.0f, 1.0f));
    before = TSeriesState::Now();
    log.clear();
    Reload(ten);
    EXPECT_EQ(log, QStringList{"box " + QString::fromStdString(ReplacedNetworkMessage())});
    EXPECT_TRUE(TSeriesState::Now() == before);
}

TEST_F(SeriesLoading, ReloadBeforeAnyLoadDoesNothing)
{
    const TSeriesState before = TSeriesState::Now();
    Reload(Series("ten.ser", TenValues));
    EXPECT_TRUE(log.isEmpty());
    EXPECT_TRUE(TSeriesState::Now() == before);
}

} // namespace
