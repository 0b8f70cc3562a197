#pragma once
// TLearnForm, the learning window: trains CurrentNet on the training
// sequence epoch by epoch, by back-propagation or the stochastic algorithm,
// with one bar per pattern and the share of correct answers. The epochs are
// those of one training run (project/TrainingRun.h) with the project's run
// settings, so its stop rules and its held-out check apply here too.

#include "framework/Controls.h"
#include "framework/Form.h"
#include "project/Globals.h"
#include "project/TrainingRun.h"

#include <cstdint>
#include <memory>

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
    // a perfect epoch unless CheckBox1 is ticked, or when another stop rule
    // of the run says so ("Остановлено: " and the epoch count). With an
    // empty sequence, or one the network cannot take, it only says so.
    void RunEpoch();

    // The run the epochs belong to; null before "Пуск" or "Шаг" and after it
    // ended. A run ends when a rule or "Стоп" stops the timer or the window
    // closes: with a held-out check and keepBest, the best epoch's weights
    // then become the project's network.
    const TTrainingRun* Run() const { return run_.get(); }

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
    // The project's run settings with this window's method and CheckBox1.
    TRunSettings Settings() const;
    // A new run, with its held-out sequence loaded when the settings name
    // one; false, and a message says why, when that file is refused.
    bool StartRun();
    // Ends the run (TTrainingRun::Finish) and forgets it.
    void FinishRun();
    // Forgets the run without finishing it: its weights are no longer the
    // project's.
    void DropRun();

    std::unique_ptr<THeldOutSet> heldOut_; // the run's check; outlives it
    std::unique_ptr<TTrainingRun> run_;
};

extern TLearnForm* LearnForm;
