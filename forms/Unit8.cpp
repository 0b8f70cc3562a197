#include "forms/Unit8.h"

THintForm* HintForm = nullptr;

THintForm::THintForm()
    : TForm(QString(), Border::None)
{
    SetBounds(688, 470, 104, 74);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAutoFillBackground(true);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);

    Label1 = new TLabel(this, 0, -16);
    Label1->setFont(DesignerFont(QStringLiteral("Times New Roman"), -96));
    Label1->setStyleSheet(QStringLiteral("color: black"));
    Label1->SetCaption(QStringLiteral("?"));
    Label1->setGeometry(0, -16, 44, 109);
}

void THintForm::FormShow()
{
    // Only the first letters of the guess show beside the figure.
    setFixedWidth(50);
}

void THintForm::ShowGuess(const QPoint& position, const QString& name)
{
    move(position);
    Label1->SetCaption(name);
}
