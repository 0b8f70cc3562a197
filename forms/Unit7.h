#pragma once
// TForm7, "Имена классов": the grid of class numbers and names, where the
// user names the project's classes.

#include "framework/Controls.h"
#include "framework/Form.h"
#include "project/Globals.h"

#include <cstdint>

class QLineEdit;
class QPushButton;

class TForm7 : public TForm, private TProjectListener {
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

private:
    void ProjectChanged(TProjectChange change) override;
    // Rows 1 .. n: the class numbers and the project's n class names. A new
    // layout writes the header into row 0; otherwise the grid first shrinks
    // to one row, which takes away its header, and row 0 keeps its texts.
    void ShowClassNames(bool newLayout);
};

extern TForm7* Form7;
