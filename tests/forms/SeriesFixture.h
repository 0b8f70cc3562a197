#pragma once
// The program after start-up with series files at hand, loads and reloads
// played the way the user makes them, and a record of everything a load may
// change, to show that a refused one changed nothing.

#include "FormsFixture.h"

#include "engine/NeuralNet.h"
#include "engine/Random.h"
#include "forms/Globals.h"
#include "forms/Unit1.h"
#include "forms/Unit10.h"
#include "forms/Unit11.h"
#include "images/Globals.h"

#include <QAction>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

// All weights of a network, layer by layer, row by row.
inline std::vector<float> Weights(const TNeuralNet& net)
{
    std::vector<float> all;
    for (const TLayer& layer : net.layers)
        for (std::size_t i = 0; i < layer.weights.Rows(); ++i)
            for (std::size_t j = 0; j < layer.weights.Columns(); ++j)
                all.push_back(layer.weights[i][j]);
    return all;
}

// Everything a load or a reload may change.
struct TSeriesState {
    const TNeuralNet* net = nullptr;
    std::vector<float> weights;
    std::vector<std::uint32_t> layout; // inputs of each layer, then the outputs
    std::int32_t count = 0;
    const float* valuesArray = nullptr;
    std::vector<float> values;
    std::uint32_t sequenceCount = 0;
    std::uint32_t sequenceDimension = 0;
    const TAbsImage* sequenceCursor = nullptr;
    std::uint32_t windowSize = 0;
    std::uint32_t trainLength = 0;
    float seriesMin = 0.0f;
    float seriesMax = 0.0f;
    QString label2, label3;
    std::vector<float> windowInputs, targetValue, reproduction;
    bool training = false;
    bool repainting = false;
    bool reloadEnabled = false;

    bool operator==(const TSeriesState&) const = default;

    static TSeriesState Now()
    {
        TSeriesState s;
        s.net = CurrentNet.get();
        if (CurrentNet) {
            s.weights = Weights(*CurrentNet);
            for (const TLayer& layer : CurrentNet->layers)
                s.layout.push_back(layer.inputCount);
            s.layout.push_back(CurrentNet->outputCount);
        }
        s.count = SeriesBuffer.count;
        s.valuesArray = SeriesBuffer.values.get();
        if (SeriesBuffer.values)
            s.values.assign(SeriesBuffer.values.get(), SeriesBuffer.values.get() + std::max(SeriesBuffer.count, 0));
        s.sequenceCount = TrainingSequence.Count;
        s.sequenceDimension = TrainingSequence.Dimension;
        s.sequenceCursor = TrainingSequence.Current;
        s.windowSize = Form10->windowSize;
        s.trainLength = SerLForm->trainLength;
        s.seriesMin = SerLForm->seriesMin;
        s.seriesMax = SerLForm->seriesMax;
        s.label2 = SerLForm->Label2->Caption();
        s.label3 = SerLForm->Label3->Caption();
        s.windowInputs = SerLForm->windowInputs;
        s.targetValue = SerLForm->targetValue;
        s.reproduction = SerLForm->reproduction;
        s.training = SerLForm->Timer1->isActive();
        s.repainting = SerLForm->Timer2->isActive();
        s.reloadEnabled = Form1->N27->isEnabled();
        return s;
    }
};

class SeriesUser : public Started {
protected:
    void SetUp() override
    {
        // Networks built in a test draw the same weights on every run.
        SetSeedClock([] { return std::time_t{1700000000}; });
        TrainingSequence.Clear();
        TrainingSequence.SetDimension(0);
        Started::SetUp();
        ASSERT_TRUE(folder.isValid());
    }

    void TearDown() override
    {
        Started::TearDown();
        TrainingSequence.Clear();
        TrainingSequence.SetDimension(0);
        SetSeedClock({});
    }

    // A file of the folder holding the text; its full name.
    QString File(const QString& name, const std::string& text)
    {
        const QString path = folder.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text.data(), static_cast<qint64>(text.size()));
        return path;
    }

    // A series file of the values written as the count and the values.
    QString Series(const QString& name, const std::vector<double>& values)
    {
        std::string text = std::to_string(values.size()) + "\n";
        for (const double v : values)
            text += std::to_string(v) + " ";
        return File(name, text);
    }

    // "Из файла" with the window size and training length typed into the
    // dialog and the file chosen; the user presses "ОК" once. True when the
    // dialog closed.
    bool Load(const QString& path, const QString& window, const QString& length)
    {
        bool closed = false;
        user = [&](TForm& form) {
            if (&form != Form10)
                return;
            Form10->Edit1->setText(window);
            Form10->Edit2->setText(length);
            dialogAnswer = path;
            Form10->Button1->click();
            closed = !Form10->isVisible();
        };
        Form1->N24->trigger();
        user = nullptr;
        return closed;
    }

    bool Load(const QString& path, int window, int length)
    {
        return Load(path, QString::number(window), QString::number(length));
    }

    // "Обновить" with the file chosen.
    void Reload(const QString& path)
    {
        dialogAnswer = path;
        Form1->N27Click();
    }

    // The message boxes shown, in order.
    QStringList Boxes() const
    {
        QStringList boxes;
        for (const QString& entry : log)
            if (entry.startsWith(QStringLiteral("box ")))
                boxes << entry.mid(4);
        return boxes;
    }

    // The scaled values of the series now loaded.
    static std::vector<float> SeriesValues()
    {
        return std::vector<float>(SeriesBuffer.values.get(), SeriesBuffer.values.get() + SeriesBuffer.count);
    }

    QTemporaryDir folder;
};
