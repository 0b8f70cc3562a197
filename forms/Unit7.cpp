#include "forms/Unit7.h"

#include "framework/Application.h"
#include "framework/Convert.h"

#include <QLineEdit>
#include <QPushButton>

TForm7* Form7 = nullptr;

TForm7::TForm7()
    : TForm(QStringLiteral("Имена классов")),
      TProjectListener(Project)
{
    SetFormFont(QStringLiteral("MS Sans Serif"), -11);
    SetBounds(641, 0, 152, 175);

    StringGrid1 = new TStringGrid(this, 0, 0, 153, 145, 2, 5, 1, 15);
    Edit1 = Place(new QLineEdit(this), 8, 152, 65, 21);
    Button1 = Place(new QPushButton(QStringLiteral("ОК"), this), 88, 152, 49, 17);

    Handle(StringGrid1, &TStringGrid::cellSelected, this,
           [this](int column, int row) { StringGrid1SelectCell(column, row); });
    Handle(Edit1, &QLineEdit::textChanged, this, [this] { Edit1Change(); });
    Handle(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
}

void TForm7::StringGrid1SelectCell(int, int row)
{
    Edit1->setFocus();
    // Row 0 is the header; selecting it edits the first class.
    CurrentRow = row == 0 ? 1 : row;
    Edit1->setText(StringGrid1->Cell(1, CurrentRow));
}

void TForm7::Edit1Change()
{
    // A row the grid no longer has is left alone.
    if (CurrentRow < 1 || CurrentRow >= StringGrid1->RowCount())
        return;
    StringGrid1->SetCell(1, CurrentRow, Edit1->text());
    Project.RenameClass(static_cast<std::size_t>(CurrentRow - 1), Edit1->text().toStdString());
}

void TForm7::Button1Click()
{
    // The grid's rows are the class list, whether or not a project laid
    // them out.
    std::vector<std::string> names;
    for (int r = 1; r < StringGrid1->RowCount(); ++r)
        names.push_back(StringGrid1->Cell(1, r).toStdString());
    Project.ConfirmClassNames(std::move(names));
}

void TForm7::ProjectChanged(TProjectChange change)
{
    switch (change) {
    case TProjectChange::ClassNamesLaidOut:
    case TProjectChange::Opened:
        ShowClassNames(true);
        break;
    case TProjectChange::ClassNamesLoaded:
        ShowClassNames(false);
        break;
    default:
        break;
    }
}

void TForm7::ShowClassNames(bool newLayout)
{
    const std::vector<std::string>& names = Project.ClassNames();
    const int rows = static_cast<int>(names.size()) + 1;
    if (newLayout) {
        StringGrid1->SetRowCount(rows);
        StringGrid1->SetCell(0, 0, QStringLiteral("Номер"));
        StringGrid1->SetCell(1, 0, QStringLiteral("Имя"));
    } else {
        StringGrid1->SetRowCount(1);
        StringGrid1->SetRowCount(rows);
    }
    for (int r = 1; r < rows; ++r) {
        StringGrid1->SetCell(0, r, IntToStr(r - 1));
        StringGrid1->SetCell(1, r, QString::fromStdString(names[static_cast<std::size_t>(r - 1)]));
    }
}
