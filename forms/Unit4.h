#pragma once
// TLearnForm, the learning window: trains CurrentNet on the training
// sequence epoch by epoch, by back-propagation or the stochastic algorithm,
// with one bar per pattern and the share of correct answers.

#include "framework/Controls.h"
#include "framework/Form.h"
#include "project/Globals.h"

#include <cstdint>

class QCheckBox;
class QProgressBar;
class QPushButton;
class QTimer;

class TLearnForm : public TForm, private TProjectListener {
    Q_OBJECT
public:
    TLearnForm();

    // Shows the window modally for training by `method`.
    void ShowTraining(TTrainingMethod method);

    // Handlers.
    void FormShow();
    void FormClose();
    void Button1Click(); // "Стоп"
    void Button2Click(); // "Пуск"
    void Button3Click(); // "Шаг"
    void Timer1Timer();

    // One pass over every element of the sequence: trains on each, draws its
    // bar, then shows the share of correct answers and stops the timer after
    // a perfect epoch unless CheckBox1 is ticked. With an empty sequence, or
    // one the network cannot take, it only says so.
    void RunEpoch();

    // The status text shown when there is nothing to train on.
    static const QString EmptySequenceText;
    // The status text shown when the network cannot take the sequence (a
    // message says why).
    static const QString UnfitNetworkText;

    QCheckBox* CheckBox1;
    TLabel* Label1;
    QPushButton* Button2;
    QPushButton* Button1;
    QPushButton* Button3;
    TImage* Image1;
    QProgressBar* ProgressBar1;
    QTimer* Timer1;

    std::int32_t patternIndex = 0;
    std::int32_t correctCount = 0;
    std::uint32_t epochCount = 0;
    float barStep = 0.0f;
    bool stochastic = false;

protected:
    void OnShow() override { FormShow(); }
    void OnClose() override { FormClose(); }

private:
    void ProjectChanged(TProjectChange change) override;
    // Whether there is a sequence and a network to train; says so otherwise.
    bool ReadyToTrain();
    void DrawBar(const TPatternAnswer& answer);
    // The bars, the progress bar, the status line and the counters as
    // before the first epoch.
    void ClearProgress();
};

extern TLearnForm* LearnForm;
