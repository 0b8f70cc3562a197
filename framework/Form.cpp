#include "framework/Form.h"

#include "framework/Application.h"
#include "framework/Seams.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QShowEvent>

#include <algorithm>

namespace {

std::vector<TForm*>& Registry()
{
    static std::vector<TForm*> forms;
    return forms;
}

TForm* mainForm = nullptr;

} // namespace

QFont DesignerFont(const QString& name, int height)
{
    QFont font(name);
    if (height < 0)
        font.setPixelSize(-height);
    else if (height > 0)
        font.setPixelSize(height);
    return font;
}

TForm::TForm(const QString& caption, Border border)
    : QWidget(nullptr)
{
    Qt::WindowFlags flags = Qt::Tool;
    if (border == Border::None)
        flags |= Qt::FramelessWindowHint;
    else
        flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;
    setWindowFlags(flags);
    setWindowTitle(caption);
    if (Registry().empty())
        mainForm = this;
    Registry().push_back(this);
}

TForm::~TForm()
{
    auto& forms = Registry();
    forms.erase(std::remove(forms.begin(), forms.end(), this), forms.end());
    if (mainForm == this)
        mainForm = nullptr;
}

const std::vector<TForm*>& TForm::Forms()
{
    return Registry();
}

TForm* TForm::MainForm()
{
    return mainForm;
}

void TForm::SetBounds(int left, int top, int clientWidth, int clientHeight)
{
    setFixedSize(clientWidth, clientHeight);
    move(left, top);
}

void TForm::SetFormFont(const QString& name, int height)
{
    setFont(DesignerFont(name, height));
}

void TForm::Show()
{
    show();
    raise();
    activateWindow();
}

void TForm::ShowModal()
{
    if (isVisible())
        hide(); // the modality of a visible window cannot change
    setWindowModality(Qt::ApplicationModal);
    Show();
    if (Seams::modal) {
        Seams::modal(*this);
        if (isVisible())
            close();
    } else if (isVisible()) {
        QEventLoop loop;
        connect(this, &TForm::hidden, &loop, &QEventLoop::quit);
        loop.exec(QEventLoop::DialogExec);
    }
    if (isVisible())
        hide();
    setWindowModality(Qt::NonModal);
}

void TForm::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        RunHandler([this] { OnShow(); });
}

void TForm::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    if (!event->spontaneous())
        emit hidden();
}

void TForm::closeEvent(QCloseEvent* event)
{
    bool allowed = false;
    RunHandler([&] { allowed = OnCloseQuery(); });
    if (!allowed) {
        event->ignore();
        return;
    }
    RunHandler([this] { OnClose(); });
    event->accept();
    if (this == mainForm)
        QCoreApplication::quit();
}

void TForm::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && !isActiveWindow() && isVisible())
        RunHandler([this] { OnDeactivate(); });
}
