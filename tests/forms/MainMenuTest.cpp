#include "FormsFixture.h"

#include "framework/Shell.h"
#include "project/NetworkExport.h"

namespace {

using MainMenu = Started;

// The enabled state of every menu item, top-level menus included.
std::vector<bool> AllEnabledStates()
{
    std::vector<bool> states;
    for (QAction* top : Form1->MainMenu1->actions()) {
        states.push_back(top->isEnabled());
        for (QAction* item : top->menu()->actions())
            states.push_back(item->isEnabled());
    }
    return states;
}

TEST_F(MainMenu, LearningMenuCannotBeOpenedAtStart)
{
    QMenuBar* bar = Form1->MainMenu1;
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(Form1->N18).center());
    EXPECT_FALSE(Form1->N18->menu()->isVisible());
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(Form1->N1).center());
    EXPECT_TRUE(Form1->N1->menu()->isVisible());
    Form1->N1->menu()->hide();
}

TEST_F(MainMenu, EnableSequenceCommandsSetsTheFourTogether)
{
    EXPECT_EQ(SequenceCommands(), (std::vector<bool>{false, false, false, true}));
    std::vector<bool> others = AllEnabledStates();
    Form1->EnableSequenceCommands(true);
    EXPECT_EQ(SequenceCommands(), (std::vector<bool>{true, true, true, true}));
    Form1->EnableSequenceCommands(false);
    EXPECT_EQ(SequenceCommands(), (std::vector<bool>{false, false, false, false}));
    Form1->EnableSequenceCommands(true);
    // Nothing else changed on the way.
    Form1->EnableSequenceCommands(false);
    Form1->N20->setEnabled(true);
    EXPECT_EQ(AllEnabledStates(), others);
}

TEST_F(MainMenu, NewProjectHidesTheRetinaViewAndDisablesTheSequenceCommandsBeforeTheDialog)
{
    SmImForm->Show();
    Form1->EnableSequenceCommands(true);
    bool retinaHiddenFirst = false;
    std::vector<bool> commandsDuringDialog;
    user = [&](TForm&) {
        retinaHiddenFirst = !SmImForm->isVisible();
        commandsDuringDialog = SequenceCommands();
        // The user closes the dialog without "ОК".
    };
    Form1->N15->trigger();
    EXPECT_EQ(log, QStringList{"modal Form6"});
    EXPECT_TRUE(modalWasModal);
    EXPECT_TRUE(retinaHiddenFirst);
    EXPECT_EQ(commandsDuringDialog, (std::vector<bool>{false, false, false, false}));
    // Not confirmed: "Сохранить проект" stays greyed with the others.
    EXPECT_EQ(SequenceCommands(), (std::vector<bool>{false, false, false, false}));
    EXPECT_EQ(Visible(), QStringList{"Form1"});
}

TEST_F(MainMenu, CommandsWithoutHandlersDoNothing)
{
    const std::vector<bool> states = AllEnabledStates();
    for (QAction* item : {Form1->N9, Form1->N25})
        item->trigger();
    EXPECT_TRUE(log.isEmpty()) << log.join(", ").toStdString();
    EXPECT_EQ(Visible(), QStringList{"Form1"});
    EXPECT_EQ(AllEnabledStates(), states);
}

TEST_F(MainMenu, NetworkExportFollowsTheProjectsNetworkAndWritesTheFormatChosen)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const auto files = [&dir] { return QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries); };
    EXPECT_FALSE(Form1->N34->isEnabled()); // the placeholder network
    NewProject(QStringLiteral("16"), QStringLiteral("3"), QStringLiteral("4"));
    EXPECT_TRUE(Form1->N34->isEnabled());

    // An opened project of a network FANN cannot hold (its second layer).
    TProjectState opened;
    opened.net = std::make_unique<TNeuralNet>(2, std::vector<std::uint32_t>{9, 4, 3}, 0.0f, 0.0f, 0.0f, 1.0f, 1.0f);
    opened.net->layers[1].amplitude = 1.5f;
    Project.Adopt(opened);
    EXPECT_TRUE(Form1->N34->isEnabled());

    // A name without an extension takes that of the format chosen.
    Form1->SaveDialog3.FilterIndex = 3;
    dialogAnswer = dir.filePath(QStringLiteral("abc"));
    Form1->N34->trigger();
    ASSERT_EQ(files(), QStringList{"abc.h"});

    // A refusal is shown and writes nothing.
    dialogAnswer = dir.filePath(QStringLiteral("abc.net"));
    log.clear();
    Form1->N34->trigger();
    ASSERT_EQ(log.size(), 2);
    EXPECT_TRUE(log[1].startsWith(QStringLiteral("box Не удалось экспортировать сеть в файл «abc.net»: FANN")))
        << log[1].toStdString();
    EXPECT_EQ(files(), QStringList{"abc.h"});

    // A project of the placeholder alone greys it again.
    TProjectState placeholder;
    placeholder.net = std::make_unique<TNeuralNet>(1, std::vector<std::uint32_t>{1, 1}, 0.68f, 0.0f, 1.0f, 0.0f, 1.0f);
    Project.Adopt(placeholder);
    EXPECT_FALSE(Form1->N34->isEnabled());
}

TEST_F(MainMenu, HelpHomeAndTheAboutWindowsHouseOpenTheHelpDocument)
{
    Form1->N29->trigger();
    Form12->Show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form12));
    QTest::mousePress(Form12->Shape1, Qt::RightButton, {}, QPoint(5, 25));
    QTest::mouseRelease(Form12->Shape1, Qt::RightButton, {}, QPoint(5, 25));
    // The "Home" label on the house does not swallow the press.
    // (Clicks on the window go to the control under the mouse.)
    QTest::mouseClick(Form12->windowHandle(), Qt::LeftButton, {}, Form12->Label4->geometry().center());
    // The ellipse outside the house is not a link.
    QTest::mouseClick(Form12->windowHandle(), Qt::LeftButton, {}, QPoint(3, 16));
    Form1->N31->trigger();
    EXPECT_EQ(log, QStringList(4, QStringLiteral("shell start index.html")));
}

TEST_F(MainMenu, ModalCommandsShowTheirWindowsModally)
{
    const std::vector<std::pair<QAction*, QString>> commands{
        {Form1->N14, "modal Form5"}, {Form1->N19, "modal LearnForm"}, {Form1->N21, "modal LearnForm"},
        {Form1->N24, "modal Form10"}, {Form1->N26, "modal SerLForm"}, {Form1->N30, "modal Form12"},
    };
    for (const auto& [item, expected] : commands) {
        log.clear();
        modalWasModal = false;
        item->trigger();
        EXPECT_EQ(log, QStringList{expected}) << item->objectName().toStdString();
        EXPECT_TRUE(modalWasModal) << item->objectName().toStdString();
        EXPECT_EQ(Visible(), QStringList{"Form1"}) << item->objectName().toStdString();
    }
}

TEST_F(MainMenu, ModelessCommandsShowTheirWindowsBesideTheMenu)
{
    Form1->N3->trigger();
    Form1->N17->trigger();
    Form1->N22->trigger();
    EXPECT_EQ(Visible(), (QStringList{"Form1", "ImForm", "Form7", "AnsForm"}));
    EXPECT_FALSE(ImForm->isModal());
    EXPECT_FALSE(Form7->isModal());
    EXPECT_FALSE(AnsForm->isModal());
    EXPECT_TRUE(log.isEmpty());
}

TEST_F(MainMenu, RetinaViewOpensForTheCanvasOrForTheSequence)
{
    SmImForm->Button1->setEnabled(false);
    SmImForm->Button2->setEnabled(true);
    SmImForm->showSequence = true;
    Form1->N6->trigger(); // "С холста"
    EXPECT_TRUE(SmImForm->isVisible());
    EXPECT_FALSE(SmImForm->isModal());
    EXPECT_FALSE(SmImForm->showSequence);
    EXPECT_TRUE(SmImForm->Button1->isEnabled());
    EXPECT_FALSE(SmImForm->Button2->isEnabled());

    SmImForm->close();
    SmImForm->Button1->setEnabled(false);
    SmImForm->Button2->setEnabled(true);
    Form1->EnableSequenceCommands(true);
    Form1->N10->trigger(); // "Показать"
    EXPECT_TRUE(SmImForm->isVisible());
    EXPECT_TRUE(SmImForm->showSequence);
    EXPECT_TRUE(SmImForm->Button1->isEnabled());
    EXPECT_FALSE(SmImForm->Button2->isEnabled());
}

} // namespace
