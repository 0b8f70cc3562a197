#pragma once
// TSerLForm, "Запоминаем временной ряд": trains CurrentNet on sliding windows
// of the loaded series and draws the series with the network's reproduction
// and forecast.

#include "framework/Controls.h"
#include "framework/Form.h"
#include "project/Globals.h"

#include <cstdint>
#include <vector>

class QCheckBox;
class QPushButton;
class QTimer;

class TSerLForm : public TForm, private TProjectListener {
    Q_OBJECT
public:
    TSerLForm();

    // Handlers.
    void Button1Click(); // "Пуск"
    void Button2Click(); // "Стоп"
    void FormShow();
    void FormClose();
    void Timer1Timer(); // one training epoch
    void Timer2Timer(); // repaint

    // Sizes the working buffers for CurrentNet and the series, starts training.
    void PrepareBuffers();
    // Sizes the working buffers for CurrentNet and the series only.
    void SizeBuffers();
    // Stops both timers and frees the working buffers.
    void ReleaseBuffers();
    // Sizes the reproduction for the series' count again, after a reload
    // read a different number of values; the other buffers keep theirs.
    void FitBuffersToSeries();
    // Shows the series' range (smallest and largest raw value) in Label2
    // and Label3.
    void ShowSeriesRange();
    // Draws the series, the reproduction and the forecast.
    void DrawSeries();

    // True when a series is loaded and CurrentNet is still the network the
    // buffers were sized for (one output, input count one less than the
    // window buffer). Otherwise the window neither trains nor draws.
    bool SeriesReady() const;
    // The two error texts of the picture, the errors brought back to the
    // units of the file.
    QString MaxErrorText() const;
    QString MinErrorText() const;

    TImage* Image1;
    TLabel* Label2; // smallest value
    TLabel* Label3; // largest value
    QPushButton* Button1;
    QPushButton* Button2;
    QCheckBox* CheckBox1;
    QTimer* Timer1;
    QTimer* Timer2;

    // The series settings are the project's.
    std::uint32_t& trainLength = Project.trainLength;
    float& seriesMin = Project.seriesMin;
    float& seriesMax = Project.seriesMax;
    float minError = 0.0f;
    float maxError = 0.0f;
    float lastError = 0.0f;
    // Present between PrepareBuffers and ReleaseBuffers only (empty outside).
    std::vector<float> windowInputs;
    std::vector<float> targetValue;
    std::vector<float> reproduction;

protected:
    void OnShow() override { FormShow(); }
    void OnClose() override { FormClose(); }

private:
    void ProjectChanged(TProjectChange change) override;
};

extern TSerLForm* SerLForm;
