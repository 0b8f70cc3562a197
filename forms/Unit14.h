#pragma once
// TGalleryForm, "Образцы клетки": the elements behind one cell of a confusion
// matrix of "Ход обучения", worst first, as retina pictures with their place
// in the sequence, their class and the network's answer. An element of the
// training sequence is shown in the retina view on request ("Показать в
// последовательности", or a double click), where ">>" and "Удалить из
// списка" work as always; a held-out file's elements are only shown.

#include "framework/Controls.h"
#include "framework/Form.h"
#include "project/Globals.h"
#include "project/Inspection.h"

#include <cstdint>
#include <optional>
#include <vector>

class QListWidget;
class QPushButton;

// One element of the cell.
struct TGalleryItem {
    std::uint32_t place = 0; // in the sequence or the file, from 1
    std::uint32_t step = 0;  // training: steps from the epoch's first element
    std::int32_t trueClass = 0;
    std::uint32_t answer = 0;
    float margin = 0.0f;     // AnswerMargin
    TPixels picture;
};

class TGalleryForm : public TForm, private TProjectListener {
    Q_OBJECT
public:
    TGalleryForm();

    // Lists the items (worst first) under the title. With the mark of the
    // epoch's first element they are training elements and can be shown in
    // the sequence; without, held-out ones. `total` is the cell's count,
    // which may exceed the items listed.
    void ShowCell(const QString& title, std::vector<TGalleryItem> cell, std::size_t total,
                  std::optional<TSequenceMark> mark);

    // "Показать в последовательности": the selected element becomes the
    // sequence's cursor and the retina view shows it, browsing.
    void Button1Click();

    TLabel* Label1; // what the cell is
    QListWidget* ListBox1;
    QPushButton* Button1;
    TLabel* Label2; // why an element cannot be shown in the sequence

    std::vector<TGalleryItem> items;

private:
    void ProjectChanged(TProjectChange change) override;
    // Button1 and Label2 as the mark and the selection allow.
    void UpdateButton();

    std::optional<TSequenceMark> mark_;
};

extern TGalleryForm* GalleryForm;
