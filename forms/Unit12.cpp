#include "forms/Unit12.h"

#include "forms/Globals.h"
#include "framework/Application.h"
#include "framework/Shell.h"

TForm12* Form12 = nullptr;

TForm12::TForm12()
    : TForm(QStringLiteral("О программе"))
{
    SetFormFont(QStringLiteral("MS Sans Serif"), -11);
    SetBounds(326, 225, 161, 47);

    // Created back to front.
    Shape2 = new TShape(this, TShape::Kind::Ellipse, 0, 0, 65, 33);
    Shape1 = new TShape(this, TShape::Kind::Rectangle, 16, 0, 33, 33);
    Shape1->setCursor(Qt::IBeamCursor);
    Label1 = new TLabel(this, 72, 0, QStringLiteral("TRL v. 0.3"));
    Label2 = new TLabel(this, 72, 16, QStringLiteral("Проект Trelis"));
    Label3 = new TLabel(this, 40, 34, QStringLiteral("Россия, 2026"));
    Label4 = new TLabel(this, 17, 1);
    Label4->setFont(DesignerFont(QStringLiteral("Small Fonts"), -8));
    Label4->setStyleSheet(QStringLiteral("color: black"));
    Label4->SetCaption(QStringLiteral("Home"));
    // A click on the word is a click on the house.
    Label4->setAttribute(Qt::WA_TransparentForMouseEvents);

    Handle(Shape1, &TShape::mouseDown, this,
           [this](Qt::MouseButton b, int x, int y) { Shape1MouseDown(b, x, y); });
}

void TForm12::Shape1MouseDown(Qt::MouseButton, int, int)
{
    RunShellCommand(QString::fromUtf8(HelpCommand));
}
