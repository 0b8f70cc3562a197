#pragma once
// TForm1, the main window: a thin strip at the top of the screen carrying
// the main menu from which every other window and command is reached.

#include "framework/Controls.h"
#include "framework/Dialogs.h"
#include "framework/Form.h"
#include "project/Globals.h"

class QAction;
class QMenuBar;

class TForm1 : public TForm, private TProjectListener {
    Q_OBJECT
public:
    // Also builds the placeholder CurrentNet and the one-element SeriesBuffer
    // values array.
    TForm1();

    // Enables or disables together the four commands that need a training
    // sequence: N8 "Сохранить", N18 "Обучение", N10 "Показать" and N20
    // "Сохранить проект".
    void EnableSequenceCommands(bool enabled);

    // Opens the project file and shows it in every window; a file that
    // cannot be opened is explained and the project stays as it was.
    void OpenProject(const QString& fileName);

    // Before the project is replaced or the program ends: when the project
    // has changes not saved in a project file, asks "Сохранить изменения в
    // проекте?". True when the work may go on: nothing unsaved, "Нет", or
    // "Да" and the project was saved; false after "Отмена" or a save that
    // did not happen.
    bool SaveChangesFirst();
    // Saves the project through SaveDialog1; true when it was written.
    bool SaveProject();
    // The caption: "Trelis", and once the project has a file, its name,
    // marked with '*' while there are unsaved changes.
    QString Caption() const;

    // Menu handlers.
    void N15Click(); // Файл / Новый проект
    void N16Click(); // Файл / Открыть проект
    void N20Click(); // Файл / Сохранить проект
    void N34Click(); // Файл / Экспорт сети…
    void N3Click();  // Холст / Показать
    void N4Click();  // Холст / Очистить
    void N11Click(); // Холст / Кисть
    void N12Click(); // Холст / Резинка
    void N22Click(); // Холст / Распознать
    void N6Click();  // Последовательность / С холста
    void N7Click();  // Последовательность / Из файла
    void N8Click();  // Последовательность / Сохранить
    void N10Click(); // Последовательность / Показать
    void N14Click(); // Проект / Сведения
    void N17Click(); // Проект / Имена классов
    void N19Click(); // Обучение / Обратное распространение
    void N21Click(); // Обучение / Стохастический алгоритм
    void N24Click(); // Временной ряд / Из файла
    void N26Click(); // Временной ряд / Обучение
    void N27Click(); // Временной ряд / Обновить
    void N32Click(); // Обучение / Ход обучения, Временной ряд / Ход обучения
    void N35Click(); // Проект / Сохранять пропорции фигур
    void N36Click(); // Обучение / Параметры обучения…
    void N37Click(); // Обучение / Подбор параметров…
    void N29Click(); // Помощь / Помощь
    void N30Click(); // Помощь / О программе
    void N31Click(); // Помощь / Домик

    QMenuBar* MainMenu1;
    TBevel* Bevel1;
    // Top-level menus.
    QAction *N1, *N2, *N5, *N13, *N18, *N23, *N28;
    // Commands.
    QAction *N15, *N16, *N20;                 // Файл
    QAction* N34 = nullptr;                   // Файл / Экспорт сети…; none until the menu is built
    QAction *N3, *N4, *N11, *N12, *N22;       // Холст
    QAction *N6, *N7, *N8, *N9, *N10;         // Последовательность
    QAction *N14, *N17;                       // Проект
    QAction* N35 = nullptr;                   // Проект / Сохранять пропорции фигур; none until built
    QAction *N19, *N21, *N32, *N36, *N37;     // Обучение
    QAction *N24, *N25, *N26, *N27, *N33;     // Временной ряд
    QAction *N29, *N30, *N31;                 // Помощь

    TOpenDialog OpenDialog1; // "Открыть проект"
    TSaveDialog SaveDialog1; // "Сохранить проект"
    TSaveDialog SaveDialog2; // saving a training sequence
    TOpenDialog OpenDialog2; // loading a training sequence
    TSaveDialog SaveDialog3; // exporting the network

protected:
    bool OnCloseQuery() override { return SaveChangesFirst(); }

private:
    void ProjectChanged(TProjectChange change) override;
    // N35 checked exactly when figures keep their proportions.
    void ShowFigureFit();
    // The seven menus and their commands; each command to its handler.
    void BuildMenus();
    void ConnectCommands();
};

extern TForm1* Form1;
