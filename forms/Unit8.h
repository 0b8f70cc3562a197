#pragma once
// THintForm: a small borderless white window beside a figure on the canvas
// showing the network's guess in large letters.

#include "framework/Controls.h"
#include "framework/Form.h"

class THintForm : public TForm {
    Q_OBJECT
public:
    THintForm();

    // Handler.
    void FormShow();

    // Moves the window to the screen position and shows the guessed class's
    // name in it.
    void ShowGuess(const QPoint& position, const QString& name);

    TLabel* Label1;

protected:
    void OnShow() override { FormShow(); }
};

extern THintForm* HintForm;
