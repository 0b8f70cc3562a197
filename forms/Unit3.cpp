#include "forms/Unit3.h"

#include "forms/CanvasAlgorithms.h"
#include "forms/Unit2.h"
#include "forms/Unit8.h"
#include "framework/Application.h"
#include "framework/Convert.h"
#include "project/Learning.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <climits>
#include <optional>
#include <vector>

TSmImForm* SmImForm = nullptr;

TSmImForm::TSmImForm()
    : TForm(QStringLiteral("Вид на сетчатке")),
      TProjectListener(Project)
{
    SetFormFont(QStringLiteral("MS Sans Serif"), -11);
    SetBounds(641, 201, 152, 213);

    Image1 = new TImage(this, 0, 0, 150, 150);
    Button2 = Place(new QPushButton(QStringLiteral("Добавить в список"), this), 0, 155, 153, 17);
    Button3 = Place(new QPushButton(QStringLiteral("Удалить из списка"), this), 0, 172, 153, 17);
    Button1 = Place(new QPushButton(QStringLiteral(">>"), this), 0, 195, 33, 17);
    Button1->setToolTip(QStringLiteral("Следующее изображение"));
    Label1 = new TLabel(this, 40, 196);
    ComboBox1 = new QComboBox(this);
    ComboBox1->setEditable(true);
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    // What the user types stays as typed; no completion from the class names.
    ComboBox1->setCompleter(nullptr);
    ComboBox1->setGeometry(72, 192, 73, ComboBox1->sizeHint().height());
    Label2 = new TLabel(this, 147, 192, QStringLiteral("1"));
    Label2->setFont(DesignerFont(QStringLiteral("Small Fonts"), -8));
    Label2->setStyleSheet(QStringLiteral("color: black"));
    Label2->setGeometry(147, 192, 14, 10);

    setTabOrder(Button1, ComboBox1);
    setTabOrder(ComboBox1, Button2);
    setTabOrder(Button2, Button3);

    Handle(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    Handle(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
    Handle(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
    // Changes the user makes: choosing an item or typing.
    Handle(ComboBox1, &QComboBox::activated, this, [this] { ComboBox1Change(); });
    Handle(ComboBox1->lineEdit(), &QLineEdit::textEdited, this, [this] {
        ComboBox1TextEdited();
        ComboBox1Change();
    });
    // Once the user is done typing, a text that names no class is cleared:
    // with no class selected the box shows no text.
    Handle(ComboBox1->lineEdit(), &QLineEdit::editingFinished, this, [this] {
        if (ComboBox1->currentIndex() < 0)
            ComboBox1->setEditText(QString());
    });

    RetinaImage.Resize(500, 400);
}

void TSmImForm::OpenView(bool browseSequence)
{
    showSequence = browseSequence;
    SetButtons(TRetinaEvent::Opened);
    Show();
}

void TSmImForm::OpenAtCursor()
{
    OpenView(true);
    ClearRetinaView();
    if (const TAbsImage* element = TrainingSequence.CurrentElement())
        ShowElement(*element);
}

void TSmImForm::ProjectChanged(TProjectChange change)
{
    if (change == TProjectChange::ClassList || change == TProjectChange::Opened)
        FillClassList();
    if (change == TProjectChange::Opened) {
        // Nothing of the old project stays on show.
        ClearRetinaView();
        Label1->SetCaption(QString());
        Label2->SetCaption(QStringLiteral("1"));
        SelectClass(-1);
        SetButtons(TRetinaEvent::Shown);
        HintForm->close();
    }
}

void TSmImForm::FillClassList()
{
    // The box keeps showing its text, which need not name a class any more.
    const QString shown = ComboBox1->currentText();
    ComboBox1->clear();
    for (const std::string& name : Project.ClassNames())
        ComboBox1->addItem(QString::fromStdString(name));
    ComboBox1->setCurrentIndex(-1);
    ComboBox1->setEditText(shown);
}

void TSmImForm::SetButtons(TRetinaEvent event)
{
    const TRetinaButtons now = ButtonsAfter(event, {Button1->isEnabled(), Button2->isEnabled()});
    Button1->setEnabled(now.next);
    Button2->setEnabled(now.add);
}

void TSmImForm::SelectClass(std::int32_t index)
{
    if (index >= 0 && index < ComboBox1->count()) {
        ComboBox1->setCurrentIndex(index);
    } else {
        ComboBox1->setCurrentIndex(-1);
        ComboBox1->setEditText(QString());
    }
}

void TSmImForm::Button1Click()
{
    SetButtons(TRetinaEvent::Shown);
    ClearRetinaView();
    if (showSequence)
        ShowNextElement();
    else
        ShowNextObject();
}

void TSmImForm::ShowNextElement()
{
    if (!TrainingSequence.CurrentElement()) {
        // Nothing left to browse: an empty retina and no class.
        const std::size_t n = std::min<std::size_t>(RetinaImage.Size, RetinaImage.Cells.size());
        std::fill_n(RetinaImage.Cells.begin(), n, std::int8_t{0});
        Label1->SetCaption(QString());
        SelectClass(-1);
        DrawRetina();
        return;
    }
    ShowElement(*Project.StepCursor());
}

void TSmImForm::ShowElement(const TAbsImage& element)
{
    CopyElementCells(element, RetinaImage);
    const TWinner winner = Project.Classify(element);
    Label1->SetCaption(IntToStr(winner.index));
    SelectClass(element.ClassIndex);
    DrawRetina();
}

void TSmImForm::ShowNextObject()
{
    // The hint comes up beside this window without taking the focus from it.
    HintForm->show();
    HintForm->raise();
    const std::optional<TCellPos> first =
        FindFirstSetCell(CanvasImage, CanvasImage.GetWidth(), CanvasImage.GetHeight());
    if (!first) {
        SetButtons(TRetinaEvent::NothingLeft);
        HintForm->close();
        return;
    }
    ImForm->ExtractObject(first->x, first->y);
    DrawRetina();
    const TWinner winner = Project.Classify(RetinaImage);
    Label1->SetCaption(PercentText(winner.value));
    SelectClass(static_cast<std::int32_t>(std::min<std::uint32_t>(winner.index, INT32_MAX)));
    HintForm->ShowGuess(ImForm->pos() + QPoint(static_cast<int>(first->x), static_cast<int>(first->y) + 30),
                        ComboBox1->currentText());
}

void TSmImForm::Button2Click()
{
    // The main menu follows: the sequence commands are enabled.
    Project.AddSample(RetinaImage, ComboBox1->currentIndex());
}

void TSmImForm::Button3Click()
{
    Project.RemoveCurrentSample();
    Button1Click();
}

void TSmImForm::ComboBox1TextEdited()
{
    QLineEdit* edit = ComboBox1->lineEdit();
    const QString typed = edit->text();
    const int cursor = edit->cursorPosition();
    const int index = ComboBox1->findText(typed, Qt::MatchFixedString | Qt::MatchCaseSensitive);
    if (index == ComboBox1->currentIndex())
        return;
    ComboBox1->setCurrentIndex(index);
    // Choosing no item would empty the field; the user's text stays.
    ComboBox1->setEditText(typed);
    edit->setCursorPosition(cursor);
}

void TSmImForm::ComboBox1Change()
{
    const int index = ComboBox1->currentIndex();
    if (index >= 0)
        ComboBox1->setEditText(ComboBox1->itemText(index));
    Label1->SetCaption(IntToStr(index));
    SetButtons(TRetinaEvent::ClassChanged);
}

void TSmImForm::ClearRetinaView()
{
    TCanvas& canvas = Image1->Canvas();
    canvas.SetPenColor(clWhite);
    canvas.SetBrushColor(clWhite);
    canvas.Rectangle(0, 0, Image1->width(), Image1->height());
}

void TSmImForm::SampleObject(std::uint32_t left, std::uint32_t top, std::uint32_t width, std::uint32_t height)
{
    SampleFigure(RetinaImage, TFigureBox{left, top, width, height}, retinaWidth, retinaHeight, Project.State().fit);
}

void TSmImForm::DrawRetina()
{
    ClearRetinaView();
    TCanvas& canvas = Image1->Canvas();
    canvas.SetPenColor(clBlack);
    canvas.SetBrushColor(clBlack);
    for (const QRect& square : RetinaSquares(RetinaImage))
        canvas.Rectangle(square.left(), square.top(), square.left() + square.width(),
                         square.top() + square.height());
    canvas.SetPenColor(clWhite);
    canvas.SetBrushColor(clWhite);
    const std::optional<int> bias = BufferByte(RetinaImage, TrainingSequence.GetDimension());
    Label2->SetCaption(bias ? IntToStr(*bias) : QString());
}
