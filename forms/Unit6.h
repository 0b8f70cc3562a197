#pragma once
// TForm6, "Быстро создать": starts a new pattern-recognition project from
// the element size, the number of classes and the hidden-layer width.

#include "framework/Controls.h"
#include "framework/Form.h"
#include "project/Project.h"

#include <QString>

#include <cstdint>
#include <stdexcept>

class QGroupBox;
class QLineEdit;
class QPushButton;

class TForm6 : public TForm {
    Q_OBJECT
public:
    TForm6();

    // Handler of "ОК": starts the new project. Nothing changes unless all
    // three numbers are acceptable.
    void Button1Click();

    QGroupBox* GroupBox1;
    TLabel* Label1;
    QLineEdit* Edit1; // element size
    TLabel* Label2;
    QLineEdit* Edit2; // number of classes
    TLabel* Label3;
    QLineEdit* Edit3; // hidden-layer width
    QPushButton* Button1;
};

extern TForm6* Form6;

// A project size the program refuses; the message says which and why.
class EProjectSizeError : public std::runtime_error {
public:
    explicit EProjectSizeError(const QString& message);
};

// Converts the three fields, in the order element size, class count, hidden
// width (the first that is not a whole number raises EConvertError), then
// checks every number from 1 up to its limit and the network's weight count
// (EProjectSizeError otherwise).
TProjectSizes ReadProjectSizes(const QString& elementSize, const QString& classCount,
                               const QString& hiddenCount);
