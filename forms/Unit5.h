#pragma once
// TForm5, "Сведения о проекте": the sizes of the training sequence, the
// retina and the network, with the memory they take, recomputed at each
// showing.

#include "framework/Controls.h"
#include "framework/Form.h"

class QGroupBox;
class QPushButton;

class TForm5 : public TForm {
    Q_OBJECT
public:
    TForm5();

    // Handlers.
    void FormShow();
    void Button1Click(); // "ОК"

    QGroupBox* GroupBox1; // "Последовательность"
    QGroupBox* GroupBox2; // "Сеть"
    QGroupBox* GroupBox3; // "Сетчатка"
    TLabel *Label1, *Label2, *Label3, *Label4, *Label5, *Label6, *Label7, *Label8, *Label9, *Label10;
    QPushButton* Button1;

protected:
    void OnShow() override { FormShow(); }
};

extern TForm5* Form5;
