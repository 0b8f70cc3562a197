#pragma once
// TSmImForm, the retina view "Вид на сетчатке": shows figures as the network
// sees them, files them into the training sequence and browses it. Its class
// list holds the project's class names as last confirmed.

#include "framework/Controls.h"
#include "framework/Form.h"
#include "project/Globals.h"

#include <cstdint>

class QComboBox;
class QPushButton;
enum class TRetinaEvent;

class TSmImForm : public TForm, private TProjectListener {
    Q_OBJECT
public:
    // Also gives RetinaImage the canvas size.
    TSmImForm();

    // Opens the view for taking figures off the canvas (false) or for
    // browsing the sequence (true): ">>" enabled, "Добавить в список"
    // disabled, then shown.
    void OpenView(bool browseSequence);
    // Opens the view for browsing the sequence with the element under the
    // cursor on show, as ">>" shows the element it moves to.
    void OpenAtCursor();

    // Handlers.
    void Button1Click(); // ">>"
    void Button2Click(); // "Добавить в список"
    void Button3Click(); // "Удалить из списка"
    void ComboBox1Change();

    // Paints the whole view white.
    void ClearRetinaView();
    // Crops RetinaImage to the object's box and rescales it to the retina
    // size, with the bias byte after the cells (see SampleFigure).
    void SampleObject(std::uint32_t left, std::uint32_t top, std::uint32_t width, std::uint32_t height);
    // Draws RetinaImage into the view, one black square per set cell, and
    // shows in Label2 the byte at index Dimension of its buffer (the bias
    // byte when the retina holds Dimension cells; empty when the buffer is
    // shorter). A retina without cells leaves the view white.
    void DrawRetina();

    TImage* Image1;
    QPushButton* Button2;
    QPushButton* Button3;
    QPushButton* Button1;
    TLabel* Label1;
    QComboBox* ComboBox1;
    TLabel* Label2;

    // The retina size is the project's.
    const std::int32_t& retinaWidth = Project.State().retinaWidth;
    const std::int32_t& retinaHeight = Project.State().retinaHeight;
    bool showSequence = false;

private:
    void ProjectChanged(TProjectChange change) override;
    // Fills the class list with the project's class names; the text shown
    // stays.
    void FillClassList();
    void ShowNextElement();  // ">>" while browsing the sequence
    void ShowElement(const TAbsImage& element);
    void ShowNextObject();   // ">>" taking figures off the canvas
    void SetButtons(TRetinaEvent event);
    // The user typed into ComboBox1: the class whose name is the text
    // becomes the selected one (none when no name matches).
    void ComboBox1TextEdited();
    // Selects class `index` in ComboBox1 without counting as a user change;
    // an index without an item selects nothing.
    void SelectClass(std::int32_t index);
};

extern TSmImForm* SmImForm;
