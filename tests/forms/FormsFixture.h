#pragma once
// The program as it stands after start-up, with every way out of it (modal
// showing, file dialogs, message boxes, the shell) answered and recorded.

#include "forms/CanvasAlgorithms.h"
#include "forms/Forms.h"
#include "forms/Globals.h"
#include "forms/Unit1.h"
#include "forms/Unit2.h"
#include "forms/Unit3.h"
#include "forms/Unit4.h"
#include "forms/Unit5.h"
#include "forms/Unit6.h"
#include "forms/Unit7.h"
#include "forms/Unit8.h"
#include "forms/Unit9.h"
#include "forms/Unit10.h"
#include "forms/Unit11.h"
#include "forms/Unit12.h"
#include "forms/Unit13.h"
#include "framework/Canvas.h"
#include "framework/Convert.h"
#include "framework/Dialogs.h"
#include "framework/Form.h"
#include "framework/Seams.h"
#include "images/PatternRing.h"
#include "project/Globals.h"
#include "project/Learning.h"
#include "project/SeriesLoad.h"
#include "project/SeriesMath.h"
#include "tests/engine/TestNets.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <optional>

// The project's class names, class 0 first, as a sequence file brings them.
inline void SetClassNames(const QStringList& names)
{
    std::vector<std::string> list;
    for (const QString& name : names)
        list.push_back(name.toStdString());
    Project.SetLoadedClassNames(std::move(list));
}

// A project of this network, retina and class names, taken over as "Открыть
// проект" takes over a project file.
inline void UseProject(std::unique_ptr<TNeuralNet> net, std::int32_t retinaSide, const QStringList& names = {})
{
    TProjectState state;
    state.sequence.SetDimension(net && !net->layers.empty() ? net->layers[0].inputCount : 0);
    state.net = std::move(net);
    state.retinaWidth = state.retinaHeight = retinaSide;
    for (const QString& name : names)
        state.classNames.push_back(name.toStdString());
    Project.Adopt(state);
}

// A network for `inputs` inputs whose answer is always `winner` with the
// output 1.0 (all other outputs 0), or no output above 0 when winner is -1.
inline std::unique_ptr<TNeuralNet> Answering(std::uint32_t inputs, std::uint32_t outputs, int winner)
{
    auto net = std::make_unique<TNeuralNet>(1, std::vector<std::uint32_t>{inputs, outputs}, 0.0f, 0.0f,
                                            0.0f, 1.0f, 1.0f);
    for (std::uint32_t j = 0; j < outputs; ++j)
        net->layers[0].weights[inputs][j] = static_cast<int>(j) == winner ? 200.0f : -200.0f;
    return net;
}

// An empty training sequence of the element size it had.
inline void ClearSequence()
{
    PatternRing empty;
    empty.SetDimension(TrainingSequence.GetDimension());
    Project.ReplaceSequence(empty);
}

class Started : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The project outlives the windows; at start-up it is empty.
        ResetProject();
        Seams::modal = [this](TForm& form) {
            log << "modal " + form.objectName();
            modalWasModal = form.isVisible() && form.windowModality() == Qt::ApplicationModal;
            if (user)
                user(form);
        };
        Seams::fileDialog = [this](const TFileDialog& dialog) -> std::optional<QString> {
            log << (dialog.DialogKind() == TFileDialog::Kind::Save ? "save dialog" : "open dialog");
            lastDialog = &dialog;
            return dialogAnswer;
        };
        Seams::messageBox = [this](const QString&, const QString& text) { log << "box " + text; };
        Seams::question = [this](const QString&, const QString& text) {
            questions << text;
            return answer;
        };
        Seams::shell = [this](const QString& line) { log << "shell " + line; };
        CreateForms();
        for (TForm* form : TForm::Forms())
            form->setObjectName(QString::fromLatin1(form->metaObject()->className()).mid(1));
    }

    void TearDown() override
    {
        DestroyForms();
        ResetProject();
    }

    static void ResetProject() { Project.Reset(); }

    // The windows visible now, by global name.
    static QStringList Visible()
    {
        QStringList names;
        for (TForm* form : TForm::Forms())
            if (form->isVisible())
                names << form->objectName();
        return names;
    }

    // "Файл" / "Новый проект" with the three numbers typed and "ОК" clicked.
    // Whether the dialog was still open right after the click is kept.
    void NewProject(const QString& elementSize, const QString& classes, const QString& hidden)
    {
        user = [&](TForm&) {
            Form6->Edit1->setText(elementSize);
            Form6->Edit2->setText(classes);
            Form6->Edit3->setText(hidden);
            QTest::mouseClick(Form6->Button1, Qt::LeftButton);
            dialogOpenAfterOk = Form6->isVisible();
        };
        Form1->N15->trigger();
        user = nullptr;
    }

    // "Временной ряд" / "Из файла" with both fields typed, the file chosen
    // and "ОК" pressed once. True when the dialog closed (the series loaded).
    bool LoadSeries(const QString& path, const QString& window, const QString& length)
    {
        bool closed = false;
        user = [&](TForm&) {
            Form10->Edit1->setText(window);
            Form10->Edit2->setText(length);
            dialogAnswer = path;
            Form10->Button1->click();
            closed = !Form10->isVisible();
        };
        Form1->N24->trigger();
        user = nullptr;
        dialogAnswer.reset();
        return closed;
    }

    // The message boxes shown since the log was last cleared.
    QStringList Boxes() const
    {
        QStringList boxes;
        for (const QString& entry : log)
            if (entry.startsWith(QStringLiteral("box ")))
                boxes << entry.mid(4);
        return boxes;
    }

    // The enabled states of the four sequence commands N8, N18, N10, N20.
    static std::vector<bool> SequenceCommands()
    {
        return {Form1->N8->isEnabled(), Form1->N18->isEnabled(), Form1->N10->isEnabled(), Form1->N20->isEnabled()};
    }

    // The retina view's class list, class 0 first.
    static QStringList ClassList()
    {
        QStringList items;
        for (int i = 0; i < SmImForm->ComboBox1->count(); ++i)
            items << SmImForm->ComboBox1->itemText(i);
        return items;
    }

    // The class names of the class-names grid, class 0 first.
    static QStringList GridNames()
    {
        QStringList names;
        for (int r = 1; r < Form7->StringGrid1->RowCount(); ++r)
            names << Form7->StringGrid1->Cell(1, r);
        return names;
    }

    QStringList log;                    // what reached the user or the desktop
    QStringList questions;              // the questions asked, answered with `answer`
    Seams::TAnswer answer = Seams::TAnswer::No;
    bool modalWasModal = false;         // the last modal form was shown modal
    std::function<void(TForm&)> user;   // plays the user in a modal form
    std::optional<QString> dialogAnswer; // the file dialogs' answer; none: Cancel
    const TFileDialog* lastDialog = nullptr;
    bool dialogOpenAfterOk = false;     // "Новый проект" left its dialog open
};
