#include "forms/Unit9.h"

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

void TAnsForm::FormShow() {}
void TAnsForm::FormDeactivate() {}
void TAnsForm::Image1Click() {}
void TAnsForm::DrawAnswer() {}
