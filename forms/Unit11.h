#pragma once
// TSerLForm, "Запоминаем временной ряд": trains CurrentNet on sliding windows
// of the loaded series and draws the series with the network's reproduction
// and forecast.

#include "framework/Controls.h"
#include "framework/Form.h"
#include "project/Globals.h"

#include <cstdint>

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

    // Starts training: Timer1 runs from a full series load on.
    void PrepareBuffers();
    // Stops both timers.
    void ReleaseBuffers();
    // Shows the series' range (smallest and largest raw value) in Label2
    // and Label3.
    void ShowSeriesRange();
    // Draws the series, the reproduction and the forecast.
    void DrawSeries();

    // True when a series is loaded and CurrentNet is still the series
    // network; otherwise the window neither trains nor draws.
    bool SeriesReady() const { return Project.SeriesReady(); }
    // The two error texts of the picture, the errors of the last epoch
    // brought back to the units of the file.
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
    const std::uint32_t& trainLength = Project.State().trainLength;
    const float& seriesMin = Project.State().seriesMin;
    const float& seriesMax = Project.State().seriesMax;
    // The errors of the last epoch, in the scaled units.
    float minError = 200000000.0f;
    float maxError = 0.0f;
    float lastError = 0.0f;

protected:
    void OnShow() override { FormShow(); }
    void OnClose() override { FormClose(); }

private:
    void ProjectChanged(TProjectChange change) override;
};

extern TSerLForm* SerLForm;
