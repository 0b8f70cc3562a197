#pragma once
// TProgressForm, "Ход обучения": follows the epochs of the learning window
// and of the series window through the project and shows the learning curve,
// the confusion matrix of the last epoch (and of a held-out file checked on
// demand), and for a series the held-out errors of the network beside the
// naive and autoregressive yardsticks. Saves the picture as PNG and the
// figures as CSV. A click on a cell of a matrix lists its elements (the
// gallery, forms/Unit14.h); a panel beside shows each hidden neuron's input
// weights on the retina.

#include "forms/ProgressPlot.h"
#include "framework/Controls.h"
#include "framework/Dialogs.h"
#include "framework/Form.h"
#include "project/Checking.h"
#include "project/Confusion.h"
#include "project/EpochHistory.h"
#include "project/Globals.h"
#include "project/Inspection.h"
#include "project/SeriesHeldOut.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class QPushButton;
class QTimer;

class TProgressForm : public TForm, private TProjectListener, private TTrainingListener {
    Q_OBJECT
public:
    TProgressForm();

    // The figures each history point carries.
    enum PatternValue { Correct = 0, TotalError = 1, Elements = 2 };
    enum SeriesValue { MaxError = 0, MinError = 1 };
    enum HeldOutValue { OneStep = 0, ClosedLoop = 1 };
    // The figures of a training run's held-out check of an epoch: the share
    // right in elements of the training sequence (drawn on the scale of the
    // right answers), the elements right and those checked.
    enum CheckValue { CheckShown = 0, CheckRight = 1, CheckTotal = 2 };

    // Handlers.
    void FormShow();
    void FormClose();
    void Button1Click(); // "Проверить на файле…"
    void Button2Click(); // "Сохранить рисунок…"
    void Button3Click(); // "Сохранить кривую…"
    void Button4Click(); // "Сохранить матрицу…"
    void Timer1Timer();  // repaints when there is something new
    // A click on a cell of either matrix lists the cell's elements.
    void Image2MouseDown(Qt::MouseButton button, int x, int y);
    // Over a tile of a hidden neuron: the classes it favours.
    void Image3MouseMove(int x, int y);
    // The middle of a cell of the training (or the held-out) matrix in
    // Image2; none while that cell is not drawn.
    std::optional<QPoint> CellCentre(bool training, std::size_t trueClass, std::size_t answer);

    // Draws both pictures and the status line now.
    void Repaint();
    // For a series: the network's held-out errors now, as of the last
    // epoch, unless that epoch already has them. They are computed while the
    // window shows, once for each state of the weights (the series window's
    // picture shares them).
    void CatchUpHeldOut();

    // The confusion matrix of the last epoch of the learning window.
    const TConfusion& TrainingConfusion();
    // The picture as saved: both bitmaps, one above the other.
    QImage Picture() const;
    // The CSV texts of the history and of the confusion matrices.
    std::string HistoryCsv() const;
    std::string ConfusionCsv();

    // The curve shown: that of the window that trained last.
    enum class TSource { Patterns, Series };
    TSource source = TSource::Patterns;
    TEpochHistory patternHistory; // Correct, TotalError, Elements
    TEpochHistory seriesHistory;  // MaxError, MinError, in the file's units
    TEpochHistory heldOutHistory; // OneStep, ClosedLoop, in the file's units
    TEpochHistory checkHistory;   // CheckShown, CheckRight, CheckTotal, by pattern epoch
    std::uint64_t patternEpochs = 0; // epochs since the curve began
    std::uint64_t seriesEpochs = 0;

    // The last epoch of the learning window: each element's class and answer,
    // and the network's output count then.
    std::vector<TElementAnswer> lastAnswers;
    std::uint32_t lastClasses = 0;
    // Each element's AnswerMargin in that epoch, and the mark of its first
    // element.
    std::vector<float> lastMargins;
    TSequenceMark epochMark;

    // The held-out file checked last (none while `checked` is false): its
    // elements of the project's classes, those answered right, the matrix,
    // and the elements of classes the project lacks with those classes.
    bool checked = false;
    std::uint64_t checkTotal = 0;
    std::uint64_t checkRight = 0;
    TConfusion checkConfusion;
    // The held-out file's elements, their answers and margins.
    PatternRing checkSequence;
    std::vector<TElementAnswer> checkAnswers;
    std::vector<float> checkMargins;
    QString checkFile;
    std::uint64_t checkApart = 0;
    QString checkApartNames;

    // The series' yardsticks (once `baselinesReady`; they are made aside
    // while the window shows) and the best closed-loop epoch.
    TSeriesBaselines baselines;
    bool baselinesReady = false;
    std::uint64_t bestEpoch = 0;
    double bestClosedLoop = 0.0;

    TLabel* Label1;
    TImage* Image1; // the learning curve
    TImage* Image2; // confusion matrices, or the series' held-out errors
    TImage* Image3; // the hidden neurons' weights
    TLabel* Label2; // the tile under the mouse
    QPushButton* Button1;
    QPushButton* Button2;
    QPushButton* Button3;
    QPushButton* Button4;
    QTimer* Timer1;

    TOpenDialog OpenDialog1; // the held-out sequence
    TSaveDialog SaveDialog1; // the picture
    TSaveDialog SaveDialog2; // the history
    TSaveDialog SaveDialog3; // the confusion matrices


protected:
    void OnShow() override { FormShow(); }
    void OnClose() override { FormClose(); }

private:
    void ProjectChanged(TProjectChange change) override;
    void PatternEpochTrained(const TPatternEpochReport& report) override;
    void HeldOutChecked(const TRunEpoch& epoch) override;
    void SeriesEpochTrained(const TSeriesEpochReport& report) override;
    // Takes the series' yardsticks once they are ready.
    void AdvanceBaselines();

    // Forgets every figure: a new curve begins.
    void StartCurve();
    void EvaluateHeldOut();
    bool SeriesInPlace() const;
    // The curve of the pattern epochs (and of their held-out checks).
    void DrawPatternCurve();
    void DrawPatterns();
    void DrawSeries();
    void DrawNeurons();
    // Keeps the held-out file's elements and answers for the gallery.
    void KeepChecked(PatternRing& sequence, const TCheckReport& report);
    // Lists the elements of a cell of the training (or the held-out) matrix.
    void OpenCell(bool training, std::size_t trueClass, std::size_t answer);
    // Where the training (or the held-out) matrix lies in Image2; no cells
    // while it is not drawn.
    TConfusionLayout MatrixLayout(bool training);
    void ShowStatus();
    // Writes the bytes through the save dialog; says so on failure.
    void Save(TSaveDialog& dialog, const std::string& bytes, const QString& what);

    bool dirty_ = false;
    bool confusionReady_ = false;
    TConfusion trainingConfusion_;
    TTileGrid tiles_;    // as last drawn
    QPoint tilesAt_;     // the grid's top-left corner in Image3
};

extern TProgressForm* ProgressForm;
