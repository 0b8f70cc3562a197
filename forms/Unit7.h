#pragma once
// TForm7, "Имена классов": the grid of class numbers and names, the one
// store of the project's class names.

#include "framework/Controls.h"
#include "framework/Form.h"

#include <cstdint>

class QLineEdit;
class QPushButton;

class TForm7 : public TForm {
    Q_OBJECT
public:
    TForm7();

    // Handlers.
    void StringGrid1SelectCell(int column, int row);
    void Edit1Change();
    void Button1Click(); // "ОК"

    TStringGrid* StringGrid1;
    QLineEdit* Edit1;
    QPushButton* Button1;

    std::int32_t CurrentRow = 1; // the grid row whose name Edit1 edits
};

extern TForm7* Form7;
