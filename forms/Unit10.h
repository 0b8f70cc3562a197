#pragma once
// TForm10, "Инициализация": loads a time series from a file, builds the
// series network and the training windows, and starts series training.

#include "framework/Controls.h"
#include "framework/Dialogs.h"
#include "framework/Form.h"
#include "project/Globals.h"

#include <cstdint>

class QLineEdit;
class QPushButton;

class TForm10 : public TForm, private TProjectListener {
    Q_OBJECT
public:
    TForm10();

    // Handler of "ОК": the full load. The file and both fields are checked
    // first; a series that cannot be loaded is explained to the user and
    // changes nothing.
    void Button1Click();
    // The main menu's "Обновить": reads the values of a series file again
    // for the network, window size and training length of the last full
    // load, checked like a full load.
    void ReloadSeries();

    TLabel* Label1;
    QLineEdit* Edit1; // window size
    TLabel* Label2;
    QLineEdit* Edit2; // training length
    QPushButton* Button1;
    TOpenDialog OpenDialog1;

    // The window size of the last full load, the project's; 0 before the first.
    const std::uint32_t& windowSize = Project.State().windowSize;

private:
    // An opened project's series settings are shown in the fields.
    void ProjectChanged(TProjectChange change) override;
};

extern TForm10* Form10;
