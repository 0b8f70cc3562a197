#pragma once
// TProgressForm, "Ход обучения": draws the history of training
// (project/TrainingHistory.h) it keeps from the start: the learning curve of
// the learning window or of the series window, the confusion matrix of the
// last epoch (and of a held-out file checked on demand), and for a series the
// held-out errors of the network beside the naive and autoregressive
// yardsticks. Saves the picture as PNG and the figures as CSV. A click on a
// cell of a matrix lists its elements (the gallery, forms/Unit14.h); a panel
// beside shows each hidden neuron's input weights on the retina.

#include "forms/ProgressPlot.h"
#include "framework/Controls.h"
#include "framework/Dialogs.h"
#include "framework/Form.h"
#include "project/Inspection.h"
#include "project/TrainingHistory.h"

#include <optional>
#include <string>

class QPushButton;
class QTimer;

class TProgressForm : public TForm {
    Q_OBJECT
public:
    TProgressForm();

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
    // The picture as saved: both bitmaps, one above the other.
    QImage Picture() const;

    // What the window shows: the history of the training it follows from
    // its construction on, shown or not.
    const TTrainingHistory& History() const { return history_; }

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
    // The curve of the pattern epochs (and of their held-out checks).
    void DrawPatternCurve();
    void DrawPatterns();
    void DrawSeries();
    void DrawNeurons();
    // Lists the elements of a cell of the training (or the held-out) matrix.
    void OpenCell(bool training, std::size_t trueClass, std::size_t answer);
    // Where the training (or the held-out) matrix lies in Image2; no cells
    // while it is not drawn.
    TConfusionLayout MatrixLayout(bool training);
    void ShowStatus();
    // Writes the bytes through the save dialog; says so on failure.
    void Save(TSaveDialog& dialog, const std::string& bytes, const QString& what);

    TTrainingHistory history_;
    bool dirty_ = true;
    TTileGrid tiles_;    // as last drawn
    QPoint tilesAt_;     // the grid's top-left corner in Image3
};

extern TProgressForm* ProgressForm;
