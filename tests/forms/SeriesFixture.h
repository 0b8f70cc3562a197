#pragma once
// The program after start-up with series files at hand, loads and reloads
// played as the user makes them, and a record of everything a load may
// change, to show that a refused one changed nothing.

#include "FormsFixture.h"

using testnets::Weights;

// Everything a load or a reload may change.
struct TSeriesState {
    const void* net;
    std::vector<float> weights, values;
    const void* valuesArray;
    const void* sequenceCursor;
    std::vector<double> numbers; // counts, sizes, range, timers, menu state
    QStringList labels;

    bool operator==(const TSeriesState&) const = default;

    static TSeriesState Now()
    {
        const std::int32_t n = std::max(SeriesBuffer.count, 0);
        const float* v = SeriesBuffer.values.get();
        return {CurrentNet.get(),
                Weights(*CurrentNet),
                std::vector<float>(v, v + n),
                v,
                TrainingSequence.CurrentElement(),
                {double(SeriesBuffer.count), double(TrainingSequence.GetCount()), double(TrainingSequence.GetDimension()),
                 double(Form10->windowSize), double(SerLForm->trainLength), SerLForm->seriesMin,
                 SerLForm->seriesMax, double(SerLForm->SeriesReady()), double(SerLForm->Timer1->isActive()),
                 double(SerLForm->Timer2->isActive()), double(Form1->N27->isEnabled())},
                {SerLForm->Label2->Caption(), SerLForm->Label3->Caption()}};
    }
};

class SeriesUser : public Started {
protected:
    void SetUp() override
    {
        Started::SetUp();
        ASSERT_TRUE(folder.isValid());
    }

    testnets::PinnedClock clock{1700000000};  // the same weights on every run

    // A file of the scratch folder holding the text; its full name.
    QString File(const QString& name, const std::string& text)
    {
        QFile file(folder.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text.data(), static_cast<qint64>(text.size()));
        return file.fileName();
    }

    QString Series(const QString& name, const std::vector<double>& values)
    {
        std::string text = std::to_string(values.size()) + "\n";
        for (const double v : values)
            text += std::to_string(v) + " ";
        return File(name, text);
    }

    // "Из файла" with the two numbers (see LoadSeries).
    bool Load(const QString& path, int window, int length)
    {
        return LoadSeries(path, QString::number(window), QString::number(length));
    }

    // "Обновить" with the file chosen.
    void Reload(const QString& path)
    {
        dialogAnswer = path;
        Form1->N27Click();
    }

    // Exactly one message, holding every part.
    void ExpectMessage(const std::vector<const char*>& parts, const char* what)
    {
        const QStringList boxes = Boxes();
        ASSERT_EQ(boxes.size(), 1) << what << ": " << log.join(" | ").toStdString();
        for (const char* part : parts)
            EXPECT_TRUE(boxes[0].contains(QString::fromUtf8(part)))
                << what << ": '" << part << "' not in: " << boxes[0].toStdString();
    }

    static std::vector<float> SeriesValues()
    {
        return std::vector<float>(SeriesBuffer.values.get(), SeriesBuffer.values.get() + SeriesBuffer.count);
    }

    QTemporaryDir folder;
};
