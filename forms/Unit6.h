#pragma once
// TForm6, "Быстро создать": starts a new pattern-recognition project from
// the element size, the number of classes and the hidden-layer width.

#include "framework/Controls.h"
#include "framework/Form.h"

class QGroupBox;
class QLineEdit;
class QPushButton;

class TForm6 : public TForm {
    Q_OBJECT
public:
    TForm6();

    // Handler of "ОК".
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
