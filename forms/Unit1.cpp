#include "forms/Unit1.h"

#include "forms/Globals.h"
#include "forms/Unit10.h"
#include "forms/Unit11.h"
#include "forms/Unit12.h"
#include "forms/Unit13.h"
#include "forms/Unit15.h"
#include "forms/Unit16.h"
#include "forms/Unit2.h"
#include "forms/Unit3.h"
#include "forms/Unit4.h"
#include "forms/Unit5.h"
#include "forms/Unit6.h"
#include "forms/Unit7.h"
#include "forms/Unit9.h"
#include "framework/Application.h"
#include "framework/Convert.h"
#include "framework/Shell.h"
#include "project/Globals.h"
#include "project/NetworkExport.h"
#include "project/ProjectFile.h"
#include "project/TextFiles.h"

#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>

TForm1* Form1 = nullptr;

namespace {

const QString SequenceFilter = QStringLiteral("Обучающая последовательность|*.llt");
const QString SequenceExt = QStringLiteral("llt");

QAction* TopMenu(QMenuBar* bar, const char* name, const QString& caption)
{
    auto* menu = new QMenu(caption, bar);
    QAction* item = bar->addMenu(menu);
    item->setObjectName(QString::fromLatin1(name));
    return item;
}

QAction* Command(QAction* parent, const char* name, const QString& caption)
{
    QAction* item = parent->menu()->addAction(caption);
    item->setObjectName(QString::fromLatin1(name));
    return item;
}

} // namespace

TForm1::TForm1()
    : TForm(QStringLiteral("Trelis")),
      TProjectListener(Project),
      OpenDialog1(QString::fromUtf8(ProjectFileFilter), QString::fromUtf8(ProjectFileExtension)),
      SaveDialog1(QString::fromUtf8(ProjectFileFilter), QString::fromUtf8(ProjectFileExtension)),
      SaveDialog2(SequenceFilter, SequenceExt),
      OpenDialog2(SequenceFilter, SequenceExt),
      SaveDialog3(QString::fromUtf8(NetworkExportFilter), QString::fromUtf8(NetworkExportExtension))
{
    Project.StartWithPlaceholder();

    SetFormFont(QStringLiteral("MS Sans Serif"), -11);
    MainMenu1 = new QMenuBar(this);
    MainMenu1->setNativeMenuBar(false);
    // Narrow items, so that all seven menus fit in the strip.
    MainMenu1->setStyleSheet(QStringLiteral("QMenuBar { spacing: 0px; } QMenuBar::item { padding: 2px 5px; }"));

    BuildMenus();

    // Enabled at start: all but the sequence commands, the learning menu and
    // the series reload.
    N8->setEnabled(false);
    N10->setEnabled(false);
    N18->setEnabled(false);
    N27->setEnabled(false);
    // The placeholder network is not worth exporting.
    N34->setEnabled(NetworkExportRefusal(Project.State()).empty());

    ConnectCommands();

    // The client area shows only the menu bar and two pixel rows under it.
    const int menuHeight = MainMenu1->sizeHint().height();
    MainMenu1->setGeometry(0, 0, 467, menuHeight);
    Bevel1 = new TBevel(this, TBevel::Shape::TopLine, 0, menuHeight, 465, 9);
    SetBounds(-1, -1, 467, menuHeight + 2);
}

void TForm1::BuildMenus()
{
    N1 = TopMenu(MainMenu1, "N1", QStringLiteral("Файл"));
    N15 = Command(N1, "N15", QStringLiteral("Новый проект"));
    N16 = Command(N1, "N16", QStringLiteral("Открыть проект"));
    N20 = Command(N1, "N20", QStringLiteral("Сохранить проект"));
    N34 = Command(N1, "N34", QStringLiteral("Экспорт сети…"));

    N2 = TopMenu(MainMenu1, "N2", QStringLiteral("Холст"));
    N3 = Command(N2, "N3", QStringLiteral("Показать"));
    N4 = Command(N2, "N4", QStringLiteral("Очистить"));
    N11 = Command(N2, "N11", QStringLiteral("Кисть"));
    N12 = Command(N2, "N12", QStringLiteral("Резинка"));
    N22 = Command(N2, "N22", QStringLiteral("Распознать"));

    N5 = TopMenu(MainMenu1, "N5", QStringLiteral("Последовательность"));
    N6 = Command(N5, "N6", QStringLiteral("С холста"));
    N7 = Command(N5, "N7", QStringLiteral("Из файла"));
    N8 = Command(N5, "N8", QStringLiteral("Сохранить"));
    N9 = Command(N5, "N9", QStringLiteral("Формат "));
    N10 = Command(N5, "N10", QStringLiteral("Показать"));

    N13 = TopMenu(MainMenu1, "N13", QStringLiteral("Проект"));
    N14 = Command(N13, "N14", QStringLiteral("Сведения"));
    N17 = Command(N13, "N17", QStringLiteral("Имена классов"));
    N35 = Command(N13, "N35", QStringLiteral("Сохранять пропорции фигур"));
    N35->setCheckable(true);
    ShowFigureFit();

    N18 = TopMenu(MainMenu1, "N18", QStringLiteral("Обучение"));
    N19 = Command(N18, "N19", QStringLiteral("Обратное распространение"));
    // A radio-style item that is never checked.
    N21 = Command(N18, "N21", QStringLiteral("Стохастический алгоритм"));
    N32 = Command(N18, "N32", QStringLiteral("Ход обучения"));
    N36 = Command(N18, "N36", QStringLiteral("Параметры обучения…"));
    N37 = Command(N18, "N37", QStringLiteral("Подбор параметров…"));

    N23 = TopMenu(MainMenu1, "N23", QStringLiteral("Временной ряд"));
    N24 = Command(N23, "N24", QStringLiteral("Из файла"));
    N25 = Command(N23, "N25", QStringLiteral("Прогноз"));
    N26 = Command(N23, "N26", QStringLiteral("Обучение"));
    N27 = Command(N23, "N27", QStringLiteral("Обновить"));
    N33 = Command(N23, "N33", QStringLiteral("Ход обучения"));

    N28 = TopMenu(MainMenu1, "N28", QStringLiteral("Помощь"));
    N29 = Command(N28, "N29", QStringLiteral("Помощь"));
    N30 = Command(N28, "N30", QStringLiteral("О программе"));
    N31 = Command(N28, "N31", QStringLiteral("Домик"));
}

void TForm1::ConnectCommands()
{
    const struct {
        QAction* item;
        void (TForm1::*handler)();
    } handlers[] = {
        {N15, &TForm1::N15Click}, {N16, &TForm1::N16Click}, {N20, &TForm1::N20Click}, {N3, &TForm1::N3Click},
        {N4, &TForm1::N4Click},   {N11, &TForm1::N11Click}, {N12, &TForm1::N12Click},
        {N22, &TForm1::N22Click}, {N6, &TForm1::N6Click},   {N7, &TForm1::N7Click},
        {N8, &TForm1::N8Click},   {N10, &TForm1::N10Click}, {N14, &TForm1::N14Click},
        {N17, &TForm1::N17Click}, {N19, &TForm1::N19Click}, {N21, &TForm1::N21Click},
        {N24, &TForm1::N24Click}, {N26, &TForm1::N26Click}, {N27, &TForm1::N27Click},
        {N29, &TForm1::N29Click}, {N30, &TForm1::N30Click}, {N31, &TForm1::N31Click},
        {N32, &TForm1::N32Click}, {N33, &TForm1::N32Click}, {N34, &TForm1::N34Click},
        {N35, &TForm1::N35Click}, {N36, &TForm1::N36Click}, {N37, &TForm1::N37Click},
    };
    for (const auto& h : handlers)
        Handle(h.item, &QAction::triggered, this, [this, f = h.handler] { (this->*f)(); });
}

void TForm1::EnableSequenceCommands(bool enabled)
{
    N8->setEnabled(enabled);
    N18->setEnabled(enabled);
    N10->setEnabled(enabled);
    N20->setEnabled(enabled);
}

void TForm1::ProjectChanged(TProjectChange change)
{
    // Every change may bring or take the network worth exporting; the
    // project may also change while the menu is still being built.
    if (N34 != nullptr)
        N34->setEnabled(NetworkExportRefusal(Project.State()).empty());
    switch (change) {
    case TProjectChange::SaveState:
        setWindowTitle(Caption());
        break;
    case TProjectChange::FigureFit:
        ShowFigureFit();
        break;
    case TProjectChange::SampleAdded:
        EnableSequenceCommands(true);
        break;
    case TProjectChange::SeriesLoaded:
        N27->setEnabled(true);
        // A series is worth saving as a project.
        N20->setEnabled(true);
        break;
    case TProjectChange::Opened:
        // The menu as the opened project's parts imply: the sequence
        // commands with a sequence to work on, "Обновить" with a series.
        EnableSequenceCommands(TrainingSequence.GetCount() > 0);
        N20->setEnabled(true);
        N27->setEnabled(Project.State().HasSeries());
        ShowFigureFit();
        break;
    default:
        break;
    }
}

void TForm1::ShowFigureFit()
{
    if (N35 != nullptr)
        N35->setChecked(Project.State().fit == TFigureFit::Aspect);
}

QString TForm1::Caption() const
{
    const QString title = TApplication::Title();
    if (Project.FileName().empty())
        return title;
    return title + QStringLiteral(" — ") + QFileInfo(ShownPath(Project.FileName())).fileName() +
           (Project.Unsaved() ? QStringLiteral("*") : QString());
}

bool TForm1::SaveChangesFirst()
{
    if (!Project.Unsaved())
        return true;
    switch (Ask(TApplication::Title(), QStringLiteral("Сохранить изменения в проекте?"))) {
    case Seams::TAnswer::Yes:
        return SaveProject();
    case Seams::TAnswer::No:
        return true;
    case Seams::TAnswer::Cancel:
        break;
    }
    return false;
}

void TForm1::N15Click()
{
    if (!SaveChangesFirst())
        return;
    SmImForm->close();
    EnableSequenceCommands(false);
    Form6->ShowModal();
}

void TForm1::N16Click()
{
    if (SaveChangesFirst() && OpenDialog1.Execute(this))
        OpenProject(OpenDialog1.FileName);
}

void TForm1::OpenProject(const QString& fileName)
{
    const std::string refusal = Project.Open(LocalPath(fileName));
    if (!refusal.empty())
        MessageBox(TApplication::Title(), QString::fromStdString(refusal));
}

void TForm1::N20Click()
{
    SaveProject();
}

bool TForm1::SaveProject()
{
    if (!SaveDialog1.Execute(this))
        return false;
    const std::string refusal = Project.Save(LocalPath(SaveDialog1.FileName));
    if (!refusal.empty())
        MessageBox(TApplication::Title(), QString::fromStdString(refusal));
    return refusal.empty();
}

void TForm1::N34Click()
{
    if (!SaveDialog3.Execute(this))
        return;
    const TExportResult result = ExportNetwork(Project.State(), LocalPath(SaveDialog3.FileName));
    if (!result.Ok())
        MessageBox(TApplication::Title(), QString::fromStdString(result.reason));
}

void TForm1::N3Click()
{
    ImForm->Show();
}

void TForm1::N4Click()
{
    ImForm->N1Click();
}

void TForm1::N11Click()
{
    ImForm->SpeedButton1Click();
}

void TForm1::N12Click()
{
    ImForm->SpeedButton2Click();
}

void TForm1::N22Click()
{
    ImForm->ReadCanvas();
    AnsForm->Show();
}

void TForm1::N6Click()
{
    ImForm->ReadCanvas();
    SmImForm->ClearRetinaView();
    SmImForm->OpenView(false);
}

void TForm1::N7Click()
{
    if (!OpenDialog2.Execute(this))
        return;
    TSequenceWithNames read;
    const std::string reason = LoadSequenceWithNames(LocalPath(OpenDialog2.FileName), read);
    EnableSequenceCommands(true);
    if (!reason.empty()) {
        // The sequence stays as it was, and so do the names of its classes.
        MessageBox(TApplication::Title(),
                   QStringLiteral("Не удалось загрузить последовательность из файла «%1»: %2. "
                                  "Последовательность осталась прежней.")
                       .arg(OpenDialog2.FileName, QString::fromStdString(reason)));
        return;
    }
    Project.TakeSequence(read);
    Form7->Button1Click();
    if (!read.namesRead)
        MessageBox(TApplication::Title(),
                   QStringLiteral("Последовательность загружена, но файл имён классов «%1» не найден "
                                  "или его нельзя прочитать: у классов нет имён.")
                       .arg(ShownPath(read.namesPath)));
    else if (!read.namesMismatch.empty())
        MessageBox(TApplication::Title(),
                   QStringLiteral("Последовательность загружена, но %1: у остальных классов нет имён.")
                       .arg(QString::fromStdString(read.namesMismatch)));
}

void TForm1::N8Click()
{
    if (!SaveDialog2.Execute(this))
        return;
    const std::string refusal =
        SaveSequenceWithNames(LocalPath(SaveDialog2.FileName), TrainingSequence, Project.ClassNames());
    if (!refusal.empty())
        MessageBox(TApplication::Title(),
                   QStringLiteral("Последовательность не сохранена: ") + QString::fromStdString(refusal));
}

void TForm1::N10Click()
{
    SmImForm->OpenView(true);
}

void TForm1::N14Click()
{
    Form5->ShowModal();
}

void TForm1::N17Click()
{
    Form7->Show();
}

void TForm1::N19Click()
{
    LearnForm->ShowTraining(TTrainingMethod::BackPropagation);
}

void TForm1::N21Click()
{
    LearnForm->ShowTraining(TTrainingMethod::Stochastic);
}

void TForm1::N24Click()
{
    // A full load replaces the network and the sequence.
    if (!SaveChangesFirst())
        return;
    Form10->ShowModal();
}

void TForm1::N26Click()
{
    SerLForm->ShowModal();
}

void TForm1::N27Click()
{
    Form10->ReloadSeries();
}

void TForm1::N32Click()
{
    ProgressForm->Show();
}

void TForm1::N29Click()
{
    RunShellCommand(QString::fromUtf8(HelpCommand));
}

void TForm1::N30Click()
{
    Form12->ShowModal();
}

void TForm1::N31Click()
{
    RunShellCommand(QString::fromUtf8(HelpCommand));
}

void TForm1::N35Click()
{
    // The item has already changed its check; the samples already cut stay
    // as they are, so the user confirms a change once there are some.
    const TFigureFit fit = N35->isChecked() ? TFigureFit::Aspect : TFigureFit::Stretch;
    if (fit != Project.State().fit && TrainingSequence.GetCount() > 0 &&
        Ask(TApplication::Title(), QStringLiteral("В последовательности уже есть образцы, вырезанные по-другому. "
                                                  "Изменить способ вырезания фигур?")) != Seams::TAnswer::Yes) {
        ShowFigureFit();
        return;
    }
    Project.SetFigureFit(fit);
    ShowFigureFit();
}

void TForm1::N36Click()
{
    RunSettingsForm->ShowModal();
}

void TForm1::N37Click()
{
    TuneForm->ShowModal();
}
