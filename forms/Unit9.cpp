#include "forms/Unit9.h"

#include "forms/Globals.h"
#include "forms/Unit2.h"
#include "framework/Application.h"

TAnsForm* AnsForm = nullptr;

TAnsForm::TAnsForm()
    : TForm(QStringLiteral("То, что получилось"))
{
    SetFormFont(QStringLiteral("MS Sans Serif"), -11);
    SetBounds(1, 142, 500, 400);

    Image1 = new TImage(this, 0, 0, 500, 400);
    Handle(Image1, &TImage::clicked, this, [this] { Image1Click(); });
}

void TAnsForm::FormShow()
{
    DrawAnswer();
}

void TAnsForm::FormDeactivate()
{
    close();
}

void TAnsForm::Image1Click()
{
    close();
}

void TAnsForm::DrawAnswer()
{
    TCanvas& sheet = Image1->Canvas();
    sheet.SetPenColor(clWhite);
    sheet.SetBrushColor(clWhite);
    sheet.Rectangle(0, 0, Image1->width(), Image1->height());

    for (const TRecognisedFigure& figure : ImForm->TakeFigures()) {
        const QString name = QString::fromStdString(Project.ClassName(figure.classIndex));
        sheet.SetFontSize(static_cast<int>(figure.box.height));
        sheet.SetTransparentText(true);
        sheet.SetFontName(QStringLiteral("Times New Roman"));
        sheet.TextOut(static_cast<int>(figure.box.left), static_cast<int>(figure.box.top), name);
    }
}
