#include "forms/Unit10.h"

#include "forms/Unit1.h"
#include "framework/Application.h"
#include "framework/Convert.h"
#include "project/SeriesLoad.h"

#include <QLineEdit>
#include <QPushButton>

TForm10* Form10 = nullptr;

TForm10::TForm10()
    : TForm(QStringLiteral("Инициализация")),
      TProjectListener(Project),
      OpenDialog1(QStringLiteral("Временной ряд(*.ser)|*.ser"), QStringLiteral("ser"))
{
    SetFormFont(QStringLiteral("MS Sans Serif"), -11);
    SetBounds(400, 300, 149, 60);

    Label1 = new TLabel(this, 0, 5, QStringLiteral("Размер окна"));
    Edit1 = Place(new QLineEdit(QStringLiteral("3"), this), 72, 5, 73, 21);
    Label2 = new TLabel(this, 0, 21, QStringLiteral("Длина ряда"));
    Edit2 = Place(new QLineEdit(QStringLiteral("10"), this), 72, 21, 73, 21);
    Button1 = Place(new QPushButton(QStringLiteral("ОК"), this), 8, 40, 41, 17);

    Handle(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
}

void TForm10::Button1Click()
{
    if (!OpenDialog1.Execute(this))
        return;
    const std::int32_t newWindowSize = StrToInt(Edit1->text());
    const std::int32_t newTrainLength = StrToInt(Edit2->text());
    TSeriesLoad load = CheckFullLoad(LocalPath(OpenDialog1.FileName), newWindowSize, newTrainLength);
    if (load.Refused()) {
        MessageBox(TApplication::Title(), QString::fromStdString(load.refusal));
        return;
    }
    // The series window and the main menu follow the load.
    Project.LoadSeries(load, static_cast<std::uint32_t>(newWindowSize), static_cast<std::uint32_t>(newTrainLength));
    close();
}

void TForm10::ReloadSeries()
{
    if (windowSize == 0)
        return; // nothing has been loaded yet
    if (!Project.SeriesNetworkInPlace()) {
        MessageBox(TApplication::Title(), QString::fromStdString(ReplacedNetworkMessage()));
        return;
    }
    if (!OpenDialog1.Execute(Form1))
        return;
    TSeriesLoad load = CheckReload(LocalPath(OpenDialog1.FileName), windowSize, Project.State().trainLength);
    if (load.Refused()) {
        MessageBox(TApplication::Title(), QString::fromStdString(load.refusal));
        return;
    }
    Project.ReloadSeries(load);
}

void TForm10::ProjectChanged(TProjectChange change)
{
    if (change != TProjectChange::Opened || !Project.State().HasSeries())
        return;
    Edit1->setText(QString::number(Project.State().windowSize));
    Edit2->setText(QString::number(Project.State().trainLength));
}
