#pragma once
// TTuneForm, "Подбор параметров": the search of trelis-cli tune on the
// project's training sequence. A fifth of each class is set aside for the
// check, every setting of the plan is trained from several seeds on a thread
// of its own, and each finished setting is listed as it comes, with the mean
// share answered right on the set-aside part drawn as a curve. The best
// network found can then replace the project's.

#include "framework/Controls.h"
#include "framework/Form.h"
#include "project/EpochHistory.h"
#include "project/Tuning.h"

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

class QPushButton;

class TTuneForm : public TForm {
    Q_OBJECT
public:
    TTuneForm();
    ~TTuneForm() override;

    // Handlers.
    void Button1Click(); // "Пуск": splits the sequence and starts the search
    void Button2Click(); // "Стоп": every run stops after its epoch
    void Button3Click(); // "Взять лучшую сеть"

    // Whether a search is running (its end not yet shown).
    bool Searching() const { return thread_.joinable(); }
    // Waits until the search ends, then shows every row and the end.
    void WaitForSearch();
    // The settings finished, in the plan's order.
    const std::vector<TTuneRow>& Rows() const { return rows_; }
    // The mean share right of each finished setting, as the curve shows it.
    const TEpochHistory& Curve() const { return curve_; }

    TLabel* Label1;            // the plan, then the best setting
    TStringGrid* StringGrid1;  // one row per finished setting
    TImage* Image1;            // the curve
    QPushButton* Button1;
    QPushButton* Button2;
    QPushButton* Button3;

protected:
    bool OnCloseQuery() override;

private:
    struct TSearch;

    // On the window's thread, posted by the search's.
    void RowDone(const TTuneRow& row);
    void SearchDone();
    // Stops the search, if any, and waits for its thread.
    void StopAndJoin();
    void DrawCurve();
    void ShowButtons();

    std::unique_ptr<TSearch> search_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::vector<TTuneRow> rows_;
    TEpochHistory curve_;
};

extern TTuneForm* TuneForm;
