// Loading a series from the initialisation dialog and reloading it with
// "Обновить": what a load builds, what a reload keeps, and every refusal,
// each of which must leave the previous series exactly as it was.

#include "SeriesFixture.h"

#include "forms/SeriesLoad.h"
#include "forms/SeriesMath.h"

#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace {

using SeriesLoading = SeriesUser;

const std::vector<double> TenValues{5, 1, 4, 2, 8, 3, 9, 0, 7, 6};

TEST_F(SeriesLoading, TenValuesWithWindowThreeBuildTheNetworkTheWindowsAndStartTraining)
{
    const QString path = Series("ten.ser", TenValues);
    ASSERT_TRUE(Load(path, 3, 10));
    EXPECT_TRUE(Boxes().isEmpty()) << Boxes().join("\n").toStdString();
    EXPECT_EQ(log, (QStringList{"modal Form10", "open dialog"}));
    EXPECT_EQ(lastDialog, &Form10->OpenDialog1);

    // The network: 3 inputs, 2 hidden neurons, 1 output, values unscaled.
    ASSERT_NE(CurrentNet, nullptr);
    ASSERT_EQ(CurrentNet->layers.size(), 2u);
    EXPECT_EQ(CurrentNet->layers[0].inputCount, 3u);
    EXPECT_EQ(CurrentNet->layers[0].neuronCount, 2u);
    EXPECT_EQ(CurrentNet->layers[1].inputCount, 2u);
    EXPECT_EQ(CurrentNet->layers[1].neuronCount, 1u);
    EXPECT_EQ(CurrentNet->outputCount, 1u);
    EXPECT_EQ(CurrentNet->inputScale, 1.0f);
    EXPECT_EQ(CurrentNet->targetScale, 1.0f);
    EXPECT_EQ(CurrentNet->inputOffset, 0.0f);
    EXPECT_EQ(CurrentNet->targetOffset, 0.0f);

    // The training sequence: one element per window.
    EXPECT_EQ(TrainingSequence.Count, 7u);
    EXPECT_EQ(TrainingSequence.Dimension, 3u);
    const TAbsImage* element = TrainingSequence.Current;
    for (int k = 0; k < 7; ++k) {
        element = element->Next;
        EXPECT_EQ(element->Size, 4u);
        ASSERT_EQ(element->Cells.size(), 5u);
        EXPECT_EQ(element->Cells[3], 1);
        EXPECT_EQ(element->Cells[4], 1);
    }
    // The window before the maximum 9 (at index 6) has class 1, the window
    // starting at it a 1 in its first cell.
    element = TrainingSequence.Current->Next->Next->Next->Next; // window 3
    EXPECT_EQ(element->ClassIndex, 1);
    EXPECT_EQ(element->Next->Next->Next->Cells[0], 1); // window 6

    // The series, scaled; the fields; the timers; the reload command.
    ASSERT_EQ(SeriesBuffer.count, 10);
    const std::vector<float> values = SeriesValues();
    for (std::size_t i = 0; i < TenValues.size(); ++i)
        EXPECT_FLOAT_EQ(values[i], static_cast<float>(TenValues[i] / 9.0)) << i;
    EXPECT_EQ(Form10->windowSize, 3u);
    EXPECT_EQ(SerLForm->trainLength, 10u);
    EXPECT_EQ(SerLForm->windowInputs.size(), 4u);
    EXPECT_EQ(SerLForm->targetValue.size(), 1u);
    EXPECT_EQ(SerLForm->reproduction.size(), 10u);
    EXPECT_TRUE(SerLForm->Timer1->isActive());
    EXPECT_FALSE(SerLForm->Timer2->isActive());
    EXPECT_TRUE(Form1->N27->isEnabled());
    EXPECT_TRUE(SerLForm->SeriesReady());
}

TEST_F(SeriesLoading, TwoFourSixScaleToZeroHalfAndOneWithTheRangeOnTheLabels)
{
    ASSERT_TRUE(Load(File("246.ser", "3\n2 4 6\n"), 1, 3));
    EXPECT_EQ(SeriesValues(), (std::vector<float>{0.0f, 0.5f, 1.0f}));
    EXPECT_EQ(SerLForm->seriesMin, 2.0f);
    EXPECT_EQ(SerLForm->seriesMax, 6.0f);
    EXPECT_EQ(SerLForm->Label2->Caption(), "2");
    EXPECT_EQ(SerLForm->Label3->Caption(), "6");
    // The smallest value is named at the top, the largest at the bottom.
    EXPECT_LT(SerLForm->Label2->y(), SerLForm->Label3->y());

    ASSERT_TRUE(Load(File("frac.ser", "4 -1.25 0.5 3.75 -0.5"), 2, 4));
    EXPECT_EQ(SerLForm->Label2->Caption(), "-1.25");
    EXPECT_EQ(SerLForm->Label3->Caption(), "3.75");
}

TEST_F(SeriesLoading, OctalAndHexadecimalCountsReachTheSeries)
{
    ASSERT_TRUE(Load(File("octal.ser", "010\n1 2 3 4 5 6 7 8 9 10"), 2, 8));
    EXPECT_EQ(SeriesBuffer.count, 8);
    EXPECT_EQ(TrainingSequence.Count, 6u);
    std::string hex = "0x10\n";
    for (int i = 0; i < 16; ++i)
        hex += std::to_string(i % 5) + "\n";
    ASSERT_TRUE(Load(File("hex.ser", hex), 4, 16));
    EXPECT_EQ(SeriesBuffer.count, 16);
    EXPECT_EQ(SerLForm->reproduction.size(), 16u);
}

TEST_F(SeriesLoading, ASecondLoadReplacesTheNetworkTheWindowsAndTheBuffersAndStopsTheRepaint)
{
    ASSERT_TRUE(Load(Series("ten.ser", TenValues), 3, 10));
    SerLForm->FormShow(); // the series window was shown meanwhile
    ASSERT_TRUE(SerLForm->Timer2->isActive());
    std::vector<double> twenty;
    for (int i = 0; i < 20; ++i)
        twenty.push_back((i * 7) % 11);
    ASSERT_TRUE(Load(Series("twenty.ser", twenty), 5, 12));
    EXPECT_EQ(CurrentNet->layers[0].inputCount, 5u);
    EXPECT_EQ(TrainingSequence.Count, 15u);
    EXPECT_EQ(TrainingSequence.Dimension, 5u);
    EXPECT_EQ(SerLForm->windowInputs.size(), 6u);
    EXPECT_EQ(SerLForm->reproduction.size(), 20u);
    EXPECT_EQ(SerLForm->trainLength, 12u);
    EXPECT_TRUE(SerLForm->Timer1->isActive());
    EXPECT_FALSE(SerLForm->Timer2->isActive());
}

TEST_F(SeriesLoading, ACancelledFileDialogChangesNothingAndLeavesTheDialogOpen)
{
    ASSERT_TRUE(Load(Series("ten.ser", TenValues), 3, 10));
    SerLForm->Button2Click();
    const TSeriesState before = TSeriesState::Now();
    log.clear();
    bool stayedOpen = false;
    user = [&](TForm&) {
        Form10->Edit1->setText("4");
        dialogAnswer.reset();
        Form10->Button1->click();
        stayedOpen = Form10->isVisible();
    };
    Form1->N24->trigger();
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(log, (QStringList{"modal Form10", "open dialog"}));
    EXPECT_TRUE(TSeriesState::Now() == before);
}

TEST_F(SeriesLoading, AFieldThatIsNotAnIntegerIsTheConversionErrorAndChangesNothing)
{
    ASSERT_TRUE(Load(Series("ten.ser", TenValues), 3, 10));
    const QString other = Series("other.ser", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
    const TSeriesState before = TSeriesState::Now();
    for (const auto& [window, length, text] : std::vector<std::tuple<QString, QString, QString>>{
             {"abc", "10", "'abc' is not a valid integer value"},
             {"3", "1O", "'1O' is not a valid integer value"},
             {"", "10", "'' is not a valid integer value"},
             {"3.5", "10", "'3.5' is not a valid integer value"}}) {
        log.clear();
        EXPECT_FALSE(Load(other, window, length));
        EXPECT_EQ(Boxes(), QStringList{text});
        EXPECT_TRUE(TSeriesState::Now() == before) << text.toStdString();
    }
}

struct Refusal {
    const char* name;      // file name; the file is not written when text is null
    const char* text;      // the file's text
    const char* window;
    const char* length;
    std::vector<const char*> said; // parts of the message
};

const std::vector<Refusal>& Refusals()
{
    static const std::vector<Refusal> cases{
        {"missing.ser", nullptr, "3", "10", {"Не удаётся открыть", "missing.ser"}},
        {"empty.ser", "", "3", "10", {"пуст", "empty.ser"}},
        {"blank.ser", " \n\t\n", "3", "10", {"пуст"}},
        {"words.ser", "ten\n1 2 3", "3", "10", {"целое число значений", "строка 1"}},
        {"float.ser", "10.0\n1 2 3 4 5 6 7 8 9 10", "3", "10", {"целое число значений"}},
        {"zero.ser", "0\n1 2 3", "3", "10", {"равно 0"}},
        {"negative.ser", "-4\n1 2 3 4", "3", "10", {"равно -4"}},
        {"huge.ser", "3000000000\n1 2", "3", "10", {"слишком велико"}},
        {"short.ser", "12\n1 2 3 4 5", "3", "5", {"объявлено значений: 12", "только 5"}},
        {"giant.ser", "2000000000\n1 2 3 4 5", "3", "5", {"2000000000", "только 5"}},
        {"letter.ser", "4\n1 2\nx 4", "3", "4", {"номер 3", "строка 3"}},
        {"comma.ser", "4\n1,5 2 3 4", "3", "4", {"номер 1", "строка 2"}},
        {"ten.ser", "10\n5 1 4 2 8 3 9 0 7 6", "0", "10", {"Размер окна должен быть больше нуля", "задан 0"}},
        {"ten.ser", "10\n5 1 4 2 8 3 9 0 7 6", "-2", "10", {"Размер окна должен быть больше нуля", "-2"}},
        {"ten.ser", "10\n5 1 4 2 8 3 9 0 7 6", "10", "11", {"Размер окна (10)", "меньше числа значений", "(10)"}},
        {"ten.ser", "10\n5 1 4 2 8 3 9 0 7 6", "12", "20", {"Размер окна (12)", "(10)"}},
        {"ten.ser", "10\n5 1 4 2 8 3 9 0 7 6", "3", "3", {"Длина ряда для обучения (3)", "больше размера окна (3)"}},
        {"ten.ser", "10\n5 1 4 2 8 3 9 0 7 6", "3", "-1", {"Длина ряда для обучения (-1)"}},
        {"ten.ser", "10\n5 1 4 2 8 3 9 0 7 6", "3", "11", {"Длина ряда для обучения (11)", "больше числа значений", "(10)"}},
        {"one.ser", "1\n5", "1", "2", {"только одно значение"}},
        {"flat.ser", "4\n2 2 2.0 2e0", "1", "4", {"равны 2"}},
    };
    return cases;
}

// Every refusal is shown once, in a message that says what is wrong, and
// none changes anything: before the first load, and after one with training
// running or stopped.
TEST_F(SeriesLoading, EveryRefusedLoadSaysWhyAndChangesNothing)
{
    for (const bool firstLoad : {true, false}) {
        for (const bool trainingStopped : {false, true}) {
            if (!firstLoad) {
                ASSERT_TRUE(Load(Series("good.ser", TenValues), 2, 8));
                if (trainingStopped)
                    SerLForm->Button2Click();
            } else if (trainingStopped) {
                continue;
            }
            for (const Refusal& r : Refusals()) {
                const QString path = r.text ? File(r.name, r.text) : folder.filePath(r.name);
                const TSeriesState before = TSeriesState::Now();
                log.clear();
                EXPECT_FALSE(Load(path, r.window, r.length)) << r.name << " " << r.window << " " << r.length;
                const QStringList boxes = Boxes();
                ASSERT_EQ(boxes.size(), 1) << r.name << ": " << log.join(" | ").toStdString();
                for (const char* part : r.said)
                    EXPECT_TRUE(boxes[0].contains(QString::fromUtf8(part)))
                        << r.name << ": '" << part << "' not in: " << boxes[0].toStdString();
                EXPECT_TRUE(TSeriesState::Now() == before) << r.name << " " << r.window << " " << r.length;
            }
            if (firstLoad) {
                EXPECT_FALSE(Form1->N27->isEnabled());
                EXPECT_EQ(CurrentNet->layers.size(), 1u); // still the placeholder
            }
        }
    }
}

TEST_F(SeriesLoading, WindowsThatWouldNotFitInMemoryAreRefused)
{
    ASSERT_TRUE(Load(Series("good.ser", TenValues), 3, 10));
    // 100,000 values with a window of 50,000: 50,000 windows of 50,000 cells.
    std::string text = "100000\n";
    for (int i = 0; i < 100000; ++i)
        text += i % 3 == 0 ? "1\n" : "0\n";
    const QString path = File("wide.ser", text);
    const TSeriesState before = TSeriesState::Now();
    log.clear();
    EXPECT_FALSE(Load(path, 50000, 60000));
    ASSERT_EQ(Boxes().size(), 1);
    EXPECT_TRUE(Boxes()[0].contains("слишком велик")) << Boxes()[0].toStdString();
    EXPECT_TRUE(TSeriesState::Now() == before);
    // A narrow window on the same values loads.
    log.clear();
    EXPECT_TRUE(Load(path, 10, 60000));
    EXPECT_TRUE(Boxes().isEmpty());
    EXPECT_EQ(TrainingSequence.Count, 99990u);
}

TEST_F(SeriesLoading, ReloadKeepsTheNetworkWithItsWeightsAndTrainsOnTheNewValuesAgain)
{
    ASSERT_TRUE(Load(Series("ten.ser", TenValues), 3, 10));
    for (int tick = 0; tick < 50; ++tick)
        SerLForm->Timer1Timer();
    SerLForm->Button2Click();
    const TNeuralNet* net = CurrentNet.get();
    const std::vector<float> weights = Weights(*CurrentNet);
    const TAbsImage* cursor = TrainingSequence.Current;
    log.clear();

    Reload(Series("ten.ser", {10, 30, 20, 40, 30, 50, 40, 60, 50, 70}));
    EXPECT_EQ(log, QStringList{"open dialog"}); // no initialisation dialog
    EXPECT_EQ(lastDialog, &Form10->OpenDialog1);
    EXPECT_EQ(CurrentNet.get(), net);
    EXPECT_EQ(Weights(*CurrentNet), weights);
    EXPECT_EQ(TrainingSequence.Current, cursor);
    EXPECT_EQ(TrainingSequence.Count, 7u);
    EXPECT_EQ(Form10->windowSize, 3u);
    EXPECT_EQ(SerLForm->trainLength, 10u);
    EXPECT_EQ(SerLForm->Label2->Caption(), "10");
    EXPECT_EQ(SerLForm->Label3->Caption(), "70");
    EXPECT_EQ(SeriesValues()[1], 1.0f / 3.0f);
    EXPECT_TRUE(SerLForm->Timer1->isActive()); // also after "Стоп"

    // The next epoch trains the kept network on the new values.
    TNeuralNet expected = *CurrentNet;
    std::vector<float> inputs(4);
    float target = 0.0f;
    TrainSeriesEpoch(expected, SeriesValues().data(), 10, 3, inputs.data(), &target, 0.0f);
    SerLForm->Timer1Timer();
    EXPECT_EQ(Weights(*CurrentNet), Weights(expected));
}

TEST_F(SeriesLoading, AReloadedFileOfAnotherLengthResizesOnlyWhatFollowsTheCount)
{
    ASSERT_TRUE(Load(Series("ten.ser", TenValues), 3, 10));
    const TNeuralNet* net = CurrentNet.get();
    const std::vector<float> weights = Weights(*CurrentNet);
    std::vector<double> grown = TenValues;
    for (int i = 0; i < 5; ++i)
        grown.push_back(i * 2);
    Reload(Series("ten.ser", grown));
    EXPECT_TRUE(Boxes().isEmpty());
    EXPECT_EQ(SeriesBuffer.count, 15);
    EXPECT_EQ(SerLForm->reproduction.size(), 15u);
    EXPECT_EQ(SerLForm->windowInputs.size(), 4u);
    EXPECT_EQ(CurrentNet.get(), net);
    EXPECT_EQ(Weights(*CurrentNet), weights);
    EXPECT_EQ(SerLForm->trainLength, 10u);
    EXPECT_TRUE(SerLForm->SeriesReady());
    // The whole longer series is trained on and drawn, its last five values
    // as the part to forecast.
    SerLForm->Timer1Timer();
    SerLForm->DrawSeries();
    int red = 0;
    const QImage& picture = SerLForm->Image1->Bitmap();
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            red += picture.pixel(x, y) == clRed;
    EXPECT_GT(red, 0);

    // Shrunk again, down to the training length: fine.
    Reload(Series("ten.ser", TenValues));
    EXPECT_EQ(SerLForm->reproduction.size(), 10u);
    EXPECT_TRUE(SerLForm->SeriesReady());
}

TEST_F(SeriesLoading, EveryRefusedReloadSaysWhyAndChangesNothing)
{
    ASSERT_TRUE(Load(Series("ten.ser", TenValues), 3, 6));
    for (int tick = 0; tick < 5; ++tick)
        SerLForm->Timer1Timer();
    struct Case {
        const char* name;
        const char* text;
        std::vector<const char*> said;
    };
    const std::vector<Case> cases{
        {"missing.ser", nullptr, {"Не удаётся открыть"}},
        {"letter.ser", "4\n1 2\nx 4", {"номер 3"}},
        {"short.ser", "8\n1 2 3", {"объявлено значений: 8", "только 3"}},
        {"flat.ser", "7\n1 1 1 1 1 1 1", {"равны 1"}},
        {"five.ser", "5\n1 2 3 4 5", {"Длина ряда для обучения (6)", "(5)", "«Из файла»"}},
        {"three.ser", "3\n1 2 3", {"Размер окна (3)", "(3)", "«Из файла»"}},
        {"one.ser", "1 7", {"только одно значение"}},
    };
    for (const bool stopped : {false, true}) {
        if (stopped)
            SerLForm->Button2Click();
        for (const Case& c : cases) {
            const QString path = c.text ? File(c.name, c.text) : folder.filePath(c.name);
            const TSeriesState before = TSeriesState::Now();
            log.clear();
            Reload(path);
            ASSERT_EQ(Boxes().size(), 1) << c.name;
            for (const char* part : c.said)
                EXPECT_TRUE(Boxes()[0].contains(QString::fromUtf8(part)))
                    << c.name << ": '" << part << "' not in: " << Boxes()[0].toStdString();
            EXPECT_TRUE(TSeriesState::Now() == before) << c.name;
        }
    }
}

TEST_F(SeriesLoading, ReloadAfterTheNetworkWasReplacedExplainsWithoutAskingForAFile)
{
    const QString path = Series("ten.ser", TenValues);
    ASSERT_TRUE(Load(path, 3, 10));
    // A new project replaces the network by one for patterns.
    CurrentNet.reset();
    CurrentNet = std::make_unique<TNeuralNet>(2, std::vector<std::uint32_t>{25, 8, 4}, 0.68f, 0.0f, 0.0f, 1.0f, 1.0f);
    const TSeriesState before = TSeriesState::Now();
    log.clear();
    Reload(path);
    EXPECT_EQ(log, QStringList{"box " + ReplacedNetworkMessage()});
    EXPECT_TRUE(TSeriesState::Now() == before);
}

TEST_F(SeriesLoading, ReloadBeforeAnyLoadOrWithTheDialogCancelledDoesNothing)
{
    EXPECT_FALSE(Form1->N27->isEnabled());
    TSeriesState before = TSeriesState::Now();
    Reload(Series("ten.ser", TenValues));
    EXPECT_TRUE(log.isEmpty());
    EXPECT_TRUE(TSeriesState::Now() == before);

    ASSERT_TRUE(Load(Series("ten.ser", TenValues), 3, 10));
    SerLForm->Button2Click();
    before = TSeriesState::Now();
    log.clear();
    dialogAnswer.reset();
    Form1->N27->trigger();
    EXPECT_EQ(log, QStringList{"open dialog"});
    EXPECT_TRUE(TSeriesState::Now() == before);
    EXPECT_FALSE(SerLForm->Timer1->isActive());
}

} // namespace
