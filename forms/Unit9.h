#pragma once
// TAnsForm, "То, что получилось": the answer sheet on which every figure of
// the canvas is labelled with the name of the class the network chooses.

#include "framework/Controls.h"
#include "framework/Form.h"

class TAnsForm : public TForm {
    Q_OBJECT
public:
    TAnsForm();

    // Handlers.
    void FormShow();
    void FormDeactivate();
    void Image1Click();

    // Recognises every figure still black on the canvas and writes the names.
    void DrawAnswer();

    TImage* Image1;

protected:
    void OnShow() override { FormShow(); }
    void OnDeactivate() override { FormDeactivate(); }
};

extern TAnsForm* AnsForm;
