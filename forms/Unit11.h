#pragma once
// TSerLForm, "Запоминаем временной ряд": trains CurrentNet on sliding windows
// of the loaded series and draws the series with the network's reproduction
// and forecast.

#include "framework/Controls.h"
#include "framework/Form.h"

#include <cstdint>
#include <vector>

class QCheckBox;
class QPushButton;
class QTimer;

class TSerLForm : public TForm {
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
    // Stops both timers and frees the working buffers.
    void ReleaseBuffers();
    // Sizes the reproduction for the series' count again, after a reload
    // read a different number of values; the other buffers keep theirs.
    void FitBuffersToSeries();
    // Finds the series' range, shows it and scales the values to 0..1.
    void NormaliseSeries();
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

    std::uint32_t trainLength = 0;
    float seriesMin = 0.0f;
    float seriesMax = 0.0f;
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
};

extern TSerLForm* SerLForm;
