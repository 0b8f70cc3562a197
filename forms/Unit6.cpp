#include "forms/Unit6.h"

#include "forms/Unit7.h"
#include "framework/Application.h"
#include "framework/Convert.h"
#include "project/Globals.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>

TForm6* Form6 = nullptr;

TForm6::TForm6()
    : TForm(QStringLiteral("Быстро создать"))
{
    SetFormFont(QStringLiteral("MS Sans Serif"), -11);
    SetBounds(400, 300, 185, 97);

    GroupBox1 = Place(new QGroupBox(QStringLiteral("Последовательность"), this), 0, 0, 185, 73);
    Label1 = new TLabel(GroupBox1, 8, 16, QStringLiteral("Разм. элементов:"));
    Edit1 = Place(new QLineEdit(QStringLiteral("100"), GroupBox1), 104, 16, 73, 21);
    Label2 = new TLabel(GroupBox1, 48, 32, QStringLiteral("Классов:"));
    Edit2 = Place(new QLineEdit(QStringLiteral("10"), GroupBox1), 104, 32, 73, 21);
    Label3 = new TLabel(GroupBox1, 24, 48, QStringLiteral("Ориент. длина:"));
    Edit3 = Place(new QLineEdit(QStringLiteral("25"), GroupBox1), 104, 48, 73, 21);
    Button1 = Place(new QPushButton(QStringLiteral("ОК"), this), 8, 80, 75, 17);

    setTabOrder(Edit1, Edit2);
    setTabOrder(Edit2, Edit3);
    setTabOrder(Edit3, Button1);
    Handle(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
}

EProjectSizeError::EProjectSizeError(const QString& message)
    : std::runtime_error(message.toStdString())
{
}

TProjectSizes ReadProjectSizes(const QString& elementSize, const QString& classCount,
                               const QString& hiddenCount)
{
    TProjectSizes sizes;
    sizes.elementSize = StrToInt(elementSize);
    sizes.classCount = StrToInt(classCount);
    sizes.hiddenCount = StrToInt(hiddenCount);
    if (const std::string refusal = ProjectSizesRefusal(sizes); !refusal.empty())
        throw EProjectSizeError(QString::fromStdString(refusal));
    return sizes;
}

void TForm6::Button1Click()
{
    Project.NewProject(ReadProjectSizes(Edit1->text(), Edit2->text(), Edit3->text()));
    close();
    Form7->Show();
}
