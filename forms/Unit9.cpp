#include "forms/Unit9.h"

#include "forms/CanvasAlgorithms.h"
#include "forms/Globals.h"
#include "project/Learning.h"
#include "forms/Unit2.h"
#include "forms/Unit7.h"
#include "framework/Application.h"
#include "images/Globals.h"

#include <optional>
#include <vector>

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

    const auto width = static_cast<std::uint32_t>(ImForm->Image1->Bitmap().width());
    const auto height = static_cast<std::uint32_t>(ImForm->Image1->Bitmap().height());
    std::vector<std::int8_t> input;
    // Extraction only clears cells, so every cell before the last object
    // found is already 0 and the search goes on from there.
    TCellPos from;
    while (const std::optional<TCellPos> cell = FindFirstSetCell(CanvasImage, width, height, from)) {
        ImForm->ExtractObject(cell->x, cell->y);
        // Whatever the extraction did, the search moves on past this cell.
        from = TCellPos{cell->x + 1, cell->y};
        const TWinner winner = Classify(*CurrentNet, RetinaImage, input);
        const QString name = Form7->StringGrid1->Cell(1, static_cast<int>(winner.index) + 1);
        sheet.SetFontSize(static_cast<int>(ImForm->objectHeight));
        sheet.SetTransparentText(true);
        sheet.SetFontName(QStringLiteral("Times New Roman"));
        sheet.TextOut(static_cast<int>(ImForm->objectLeft), static_cast<int>(ImForm->objectTop), name);
    }
}
