// "Быстро создать" and "Имена классов": a new project from three numbers,
// refused numbers that change nothing, and renaming the classes.
#include "CanvasFixture.h"

namespace {

using QuickCreate = CanvasUser;
using ClassNames = CanvasUser;

QStringList Column(int column)
{
    QStringList texts;
    for (int r = 0; r < Form7->StringGrid1->RowCount(); ++r)
        texts << Form7->StringGrid1->Cell(column, r);
    return texts;
}

// The grid's numbers column after a new project of n classes.
QStringList Numbered(int n, const QString& header)
{
    QStringList texts{header};
    for (int i = 0; i < n; ++i)
        texts << QString::number(i);
    return texts;
}

TEST_F(QuickCreate, TheInitialNumbersMakeATenByTenProjectOfTenClasses)
{
    Project.AddSample(RetinaImage, 0);
    const TNeuralNet* old = CurrentNet.get();
    NewProject("100", "10", "25");
    EXPECT_FALSE(dialogOpenAfterOk);
    EXPECT_EQ(TrainingSequence.GetCount(), 0u);
    EXPECT_EQ(TrainingSequence.GetDimension(), 100u);
    EXPECT_EQ(SmImForm->retinaWidth, 10);
    EXPECT_EQ(SmImForm->retinaHeight, 10);
    EXPECT_EQ(RetinaImage.GetWidth(), 10u);
    EXPECT_EQ(RetinaImage.GetHeight(), 10u);
    EXPECT_EQ(RetinaSetCells(), 0u);
    EXPECT_EQ(Form7->StringGrid1->RowCount(), 11);
    EXPECT_EQ(Column(0), Numbered(10, "Номер"));
    EXPECT_EQ(Column(1), Numbered(10, "Имя"));

    ASSERT_NE(CurrentNet.get(), old);
    EXPECT_EQ(CurrentNet->layerCount, 2u);
    ASSERT_EQ(CurrentNet->layers.size(), 2u);
    EXPECT_EQ(CurrentNet->layers[0].inputCount, 100u);
    EXPECT_EQ(CurrentNet->layers[0].neuronCount, 25u);
    EXPECT_EQ(CurrentNet->layers[1].neuronCount, 10u);
    EXPECT_EQ(CurrentNet->inputOffset, 0.0f);
    EXPECT_EQ(CurrentNet->targetOffset, 0.0f);
    EXPECT_EQ(CurrentNet->inputScale, 1.0f);
    EXPECT_EQ(CurrentNet->targetScale, 1.0f);
    for (const TLayer& layer : CurrentNet->layers)
        for (std::size_t i = 0; i <= layer.inputCount; ++i)
            for (std::size_t j = 0; j < layer.neuronCount; ++j)
                ASSERT_LT(std::abs(layer.weights[i][j]), 0.341f);

    // The dialog closed itself and opened the class names; the sequence
    // commands stay off until a sample is added.
    EXPECT_EQ(Visible(), (QStringList{"Form1", "Form7"}));
    EXPECT_FALSE(Form1->N8->isEnabled());
    EXPECT_FALSE(Form1->N20->isEnabled());

    // An element size that is not a square gets the truncated root.
    NewProject("99", "2", "5");
    EXPECT_EQ(TrainingSequence.GetDimension(), 99u);
    EXPECT_EQ(SmImForm->retinaWidth, 9);
    EXPECT_EQ(RetinaImage.GetSize(), 81u);
    EXPECT_EQ(CurrentNet->layers[0].inputCount, 99u);
    EXPECT_EQ(Column(1), Numbered(2, "Имя"));
}

TEST_F(QuickCreate, RefusedNumbersLeaveTheProjectAsItWas)
{
    NewProject("100", "4", "25");
    Form7->StringGrid1->SetCell(1, 2, QStringLiteral("квадрат"));
    RetinaImage.SetCell(2, 2, 1);
    Project.AddSample(RetinaImage, 1);
    const TNeuralNet* net = CurrentNet.get();
    const QStringList names = Column(1);
    const std::vector<std::int8_t> retina = RetinaImage.Cells;

    struct Case {
        const char *e, *c, *h, *message;
    };
    const Case cases[] = {
        {"100", "4", "2x", "'2x' is not a valid integer value"},
        {"", "4", "25", "'' is not a valid integer value"},
        {"64", "abc", "25", "'abc' is not a valid integer value"},
        // With several bad fields the first in the dialog's order is named.
        {"e?", "c?", "h?", "'e?' is not a valid integer value"},
        {"64", "c?", "h?", "'c?' is not a valid integer value"},
        {"0", "4", "h?", "'h?' is not a valid integer value"},
        {"0", "4", "25", nullptr},
        {"-100", "4", "25", nullptr},
        {"64", "0", "25", nullptr},
        {"64", "4", "-3", nullptr},
        {"200001", "4", "25", nullptr},
        {"2147483647", "4", "25", nullptr},
        {"64", "4", "1000000", nullptr},
        {"200000", "4", "10000", nullptr},
    };
    for (const Case& c : cases) {
        const QString fields = QStringLiteral("%1 %2 %3").arg(c.e, c.c, c.h);
        log.clear();
        NewProject(c.e, c.c, c.h);
        EXPECT_TRUE(dialogOpenAfterOk) << fields.toStdString();
        ASSERT_EQ(log.size(), 2) << fields.toStdString();
        if (c.message)
            EXPECT_EQ(log[1], "box " + QString::fromUtf8(c.message));
        else
            EXPECT_TRUE(log[1].contains(QStringLiteral("должно быть от 1 до")) ||
                        log[1].contains(QStringLiteral("Сеть слишком велика")))
                << log[1].toStdString();
        EXPECT_EQ(CurrentNet.get(), net) << fields.toStdString();
        EXPECT_EQ(TrainingSequence.GetCount(), 1u) << fields.toStdString();
        EXPECT_EQ(TrainingSequence.GetDimension(), 100u) << fields.toStdString();
        EXPECT_EQ(SmImForm->retinaWidth, 10) << fields.toStdString();
        EXPECT_EQ(RetinaImage.Cells, retina) << fields.toStdString();
        EXPECT_EQ(Column(1), names) << fields.toStdString();
    }
    // Corrected, the same dialog goes through.
    NewProject("64", "4", "25");
    EXPECT_FALSE(dialogOpenAfterOk);
    EXPECT_EQ(RetinaImage.GetWidth(), 8u);
}

TEST_F(ClassNames, ClickingARowEditsItsNameKeyByKeyAndOkFillsTheClassList)
{
    NewProject("100", "10", "25");
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form7));
    TStringGrid* grid = Form7->StringGrid1;
    const QRect row4 = grid->visualItemRect(grid->item(4, 0));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, row4.center());
    EXPECT_EQ(Form7->CurrentRow, 4);
    EXPECT_EQ(Form7->Edit1->text(), QStringLiteral("3"));
    EXPECT_EQ(grid->Cell(1, 4), QStringLiteral("3"));

    Form7->Edit1->selectAll();
    const QString name = QStringLiteral("Круг");
    for (int k = 1; k <= name.size(); ++k) {
        Type(Form7->Edit1, name.mid(k - 1, 1));
        EXPECT_EQ(grid->Cell(1, 4), name.left(k));
    }
    EXPECT_EQ(grid->Cell(0, 4), QStringLiteral("3"));

    SmImForm->ComboBox1->setEditText(QStringLiteral("прежний"));
    QTest::mouseClick(Form7->Button1, Qt::LeftButton);
    EXPECT_EQ(ClassList(),
              (QStringList{"0", "1", "2", "Круг", "4", "5", "6", "7", "8", "9"}));
    EXPECT_EQ(SmImForm->ComboBox1->currentText(), QStringLiteral("прежний"));
    EXPECT_EQ(SmImForm->ComboBox1->currentIndex(), -1);
    EXPECT_TRUE(Form7->isVisible());
}

TEST_F(ClassNames, ClickingTheCurrentCellSelectsItAgainAndShrinkingSelectsNothing)
{
    NewProject("100", "10", "25");
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form7));
    TStringGrid* grid = Form7->StringGrid1;
    const QPoint row8 = grid->visualItemRect(grid->item(8, 1)).center();
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, row8);
    ASSERT_EQ(Form7->CurrentRow, 8);
    // The field shows something else, then the current cell is clicked
    // again: the field takes its name up once more.
    Form7->Edit1->setText(QStringLiteral("семь"));
    Form7->Edit1->blockSignals(true);
    Form7->Edit1->setText(QStringLiteral("другое"));
    Form7->Edit1->blockSignals(false);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, row8);
    EXPECT_EQ(Form7->Edit1->text(), QStringLiteral("семь"));

    // A new project of fewer classes takes the current row away without
    // selecting a cell of its own.
    Form7->Edit1->blockSignals(true);
    Form7->Edit1->setText(QStringLiteral("нетронуто"));
    Form7->Edit1->blockSignals(false);
    NewProject("100", "3", "25");
    EXPECT_EQ(Form7->CurrentRow, 8);
    EXPECT_EQ(Form7->Edit1->text(), QStringLiteral("нетронуто"));
}

TEST_F(ClassNames, TypingBeforeAnySelectionRenamesTheFirstClass)
{
    NewProject("100", "3", "25");
    ASSERT_EQ(Form7->CurrentRow, 1);
    QTest::keyClicks(Form7->Edit1, QStringLiteral("abc"));
    EXPECT_EQ(Column(1), (QStringList{"Имя", "abc", "1", "2"}));
}

TEST_F(ClassNames, NamesTypedBeforeAnyProjectAreTheClassListAndTheNamesFile)
{
    // Right after start the grid has four empty rows; "ОК" copies them.
    Form7->Edit1->setText(QStringLiteral("круг"));
    QTest::mouseClick(Form7->Button1, Qt::LeftButton);
    EXPECT_EQ(ClassList(), (QStringList{"круг", "", "", ""}));
    Form1->N6Click(); // "С холста"
    EXPECT_EQ(ClassList(), (QStringList{"круг", "", "", ""}));

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    dialogAnswer = dir.filePath(QStringLiteral("a.llt"));
    Form1->N8Click(); // "Сохранить": unnamed classes are stored under their numbers
    QFile names(dir.filePath(QStringLiteral("a.nam")));
    ASSERT_TRUE(names.open(QIODevice::ReadOnly));
    EXPECT_EQ(names.readAll(), QByteArray("\xEA\xF0\xF3\xE3\r\n1\r\n2\r\n3\r\n"));
}

TEST_F(ClassNames, TheHeaderRowEditsTheFirstClassOnceItCanBeSelected)
{
    NewProject("100", "3", "25");
    TStringGrid* grid = Form7->StringGrid1;
    grid->SetRowCount(1); // as after loading names: no header any more
    grid->SetRowCount(3);
    grid->SetCell(1, 1, QStringLiteral("a"));
    ASSERT_EQ(grid->FixedRows(), 0);
    grid->setCurrentCell(2, 1);
    EXPECT_EQ(Form7->CurrentRow, 2);
    grid->setCurrentCell(0, 1);
    EXPECT_EQ(Form7->CurrentRow, 1);
    EXPECT_EQ(Form7->Edit1->text(), QStringLiteral("a"));
    Form7->Edit1->setText(QStringLiteral("b"));
    EXPECT_EQ(grid->Cell(1, 1), QStringLiteral("b"));
    EXPECT_EQ(grid->Cell(1, 0), QStringLiteral("Имя"));
}

TEST_F(ClassNames, OkWithNoClassesEmptiesTheListAndAVanishedRowIsLeftAlone)
{
    NewProject("100", "5", "25");
    QTest::mouseClick(Form7->Button1, Qt::LeftButton);
    EXPECT_EQ(ClassList().size(), 5);
    TStringGrid* grid = Form7->StringGrid1;
    grid->setCurrentCell(5, 1);
    ASSERT_EQ(Form7->CurrentRow, 5);
    // A sequence file without names leaves the grid with its first row only.
    Project.SetLoadedClassNames({});
    Form7->Edit1->setText(QStringLiteral("x"));
    EXPECT_EQ(grid->RowCount(), 1);
    EXPECT_EQ(Column(1), QStringList{"Имя"});
    QTest::mouseClick(Form7->Button1, Qt::LeftButton);
    EXPECT_TRUE(ClassList().isEmpty());
}

} // namespace
