#pragma once
// TRunSettingsForm, "Параметры обучения": the settings the next training run
// of the learning window takes (the project's run settings): the learning
// rate and momentum, the epoch limit, the seed of the network's initial
// weights, a held-out sequence checked after each epoch with whether the
// best epoch's weights are kept, and "Продолжать принудительно".

#include "framework/Controls.h"
#include "framework/Dialogs.h"
#include "framework/Form.h"
#include "project/RunSettings.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <stdexcept>

class QCheckBox;
class QLineEdit;
class QPushButton;

class TRunSettingsForm : public TForm {
    Q_OBJECT
public:
    TRunSettingsForm();

    // Handlers.
    void FormShow();      // the fields from the project's run settings
    void Button1Click();  // "ОК": checks the fields, then sets them
    void Button2Click();  // "Отмена"
    void Button3Click();  // "…": chooses the held-out sequence

    // The seed field's text when the weights come from the clock.
    static const QString ClockSeedText;

    TLabel* Label1;
    QLineEdit* Edit1; // learning rate
    TLabel* Label2;
    QLineEdit* Edit2; // momentum
    TLabel* Label3;
    QLineEdit* Edit3; // epoch limit, 0: none
    TLabel* Label4;
    QLineEdit* Edit4; // seed, or ClockSeedText
    TLabel* Label5;
    QLineEdit* Edit5; // held-out sequence, empty: none
    QPushButton* Button3;
    QCheckBox* CheckBox1; // keep the best epoch's weights
    QCheckBox* CheckBox2; // keep going past a perfect epoch
    QPushButton* Button1;
    QPushButton* Button2;

    TOpenDialog OpenDialog1; // the held-out sequence

protected:
    void OnShow() override { FormShow(); }
};

extern TRunSettingsForm* RunSettingsForm;

// A run setting the program refuses; the message says which and why.
class ERunSettingsError : public std::runtime_error {
public:
    explicit ERunSettingsError(const QString& message);
};

// The settings of the fields over `base`, in the order of the fields: a text
// that is not a number raises EConvertError ("'<text>' is not a valid
// integer value", or "... floating point value"), a number out of its range
// ERunSettingsError. The seed is none for an empty text or ClockSeedText.
struct TRunSettingsFields {
    QString rate, momentum, maxEpochs, seed, heldOut;
    bool keepBest = true;
    bool keepGoing = false;
};
TRunSettings ReadRunSettings(const TRunSettings& base, const TRunSettingsFields& fields);
