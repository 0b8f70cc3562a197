#pragma once
// A top-level window of the program. Forms are created once at start-up and
// live to the end; menu commands only show, hide or close them. The first
// form created is the main form: closing it ends the program.

#include <QWidget>

#include <vector>

class TForm : public QWidget {
    Q_OBJECT
public:
    enum class Border {
        Tool, // small caption with a close box, not resizable
        None  // no frame at all
    };

    explicit TForm(const QString& caption, Border border = Border::Tool);
    ~TForm() override;

    // Frame position on the screen and the fixed size of the client area.
    void SetBounds(int left, int top, int clientWidth, int clientHeight);
    // The designer's font: a name and a height, negative for the character
    // height in pixels (-11 is 8 points at 96 dots per inch).
    void SetFormFont(const QString& name, int height);

    // Shows the form (not modal) and brings it to the front.
    void Show();
    // Shows the form application-modal and returns when it has been closed
    // or hidden. Seams::modal, when set, runs in place of the modal loop.
    void ShowModal();

    // Every form alive, in order of creation.
    static const std::vector<TForm*>& Forms();
    // The first form created, while it lives.
    static TForm* MainForm();

signals:
    // The form has become hidden (closed, or hidden by the program).
    void hidden();

protected:
    // Handlers of the concrete forms; run through RunHandler.
    virtual void OnShow() {}       // each time the form becomes visible
    // Asked before the form closes by its close box or by close(); false
    // keeps it open. An error it raises keeps the form open too.
    virtual bool OnCloseQuery() { return true; }
    virtual void OnClose() {}      // closed by its close box or by close()
    virtual void OnDeactivate() {} // another window became active

    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
};

// A font for a form or a control: see TForm::SetFormFont.
QFont DesignerFont(const QString& name, int height);
