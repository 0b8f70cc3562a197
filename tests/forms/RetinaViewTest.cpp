// The retina view: drawing the retina, the buttons' enabled states, the
// network's guess and the hint window, adding, browsing and deleting.
#include "CanvasFixture.h"

namespace {

using RetinaView = CanvasUser;

// Names the classes "c0", "c1", ... and hands them to the retina view.
void NameClasses()
{
    QStringList names;
    for (std::size_t k = 0; k < Project.ClassNames().size(); ++k)
        names << QStringLiteral("c%1").arg(k);
    SetClassNames(names);
    QTest::mouseClick(Form7->Button1, Qt::LeftButton);
}

// Draws `count` short separate strokes, one above the other.
void DrawFigures(int count)
{
    for (int k = 0; k < count; ++k)
        CanvasUser::Drag({{40, 40 + 50 * k}, {40 + 20 * (k + 1), 60 + 50 * k}});
}

bool Buttons(bool next, bool add)
{
    return SmImForm->Button1->isEnabled() == next && SmImForm->Button2->isEnabled() == add;
}

TEST_F(RetinaView, SquaresOfTenByTenAndSevenBySevenRetinas)
{
    NewProject("100", "10", "25");
    RetinaImage.SetCell(3, 4, 1);
    SmImForm->DrawRetina();
    EXPECT_EQ(Count(View(), clBlack), 15 * 15);
    EXPECT_EQ(Extent(View(), clBlack, View().rect()), QRect(45, 60, 15, 15));

    NewProject("49", "10", "25");
    for (std::uint32_t i = 0; i < 7; ++i)
        RetinaImage.SetCell(i, 6 - i, 1);
    SmImForm->DrawRetina();
    int pixels = 0;
    for (int i = 0; i < 7; ++i) {
        const int from = static_cast<int>(std::floor(150.0 * i / 7));
        const int to = static_cast<int>(std::floor(150.0 * (i + 1) / 7));
        const int y0 = static_cast<int>(std::floor(150.0 * (6 - i) / 7));
        const int y1 = static_cast<int>(std::floor(150.0 * (7 - i) / 7));
        const QRect square(QPoint(from, y0), QPoint(to - 1, y1 - 1));
        EXPECT_EQ(Count(View(), clBlack, square), square.width() * square.height()) << i;
        pixels += square.width() * square.height();
    }
    EXPECT_EQ(Count(View(), clBlack), pixels);
    // The drawing leaves the view's pen white. The retina of a new project
    // has no bias byte yet: Label2 shows nothing.
    EXPECT_EQ(SmImForm->Image1->Canvas().PenColor(), clWhite);
    EXPECT_TRUE(SmImForm->Label2->Caption().isEmpty());
}

TEST_F(RetinaView, AddIsEnabledOnlyByTheUsersClassChoiceNotByTheGuess)
{
    NewProject("100", "10", "25");
    NameClasses();
    DrawFigures(3);
    FromCanvas();
    EXPECT_TRUE(Buttons(true, false));
    Next();
    EXPECT_TRUE(Buttons(true, false));
    EXPECT_NE(SmImForm->ComboBox1->currentIndex(), -1); // the guess is selected
    // Choosing with the keyboard.
    const int guess = SmImForm->ComboBox1->currentIndex();
    QTest::keyClick(SmImForm->ComboBox1, guess < 9 ? Qt::Key_Down : Qt::Key_Up);
    const int chosen = SmImForm->ComboBox1->currentIndex();
    EXPECT_NE(chosen, guess);
    EXPECT_TRUE(Buttons(true, true));
    EXPECT_EQ(SmImForm->Label1->Caption(), QString::number(chosen));
    EXPECT_EQ(SmImForm->ComboBox1->currentText(), QStringLiteral("c%1").arg(chosen));
    Next();
    EXPECT_TRUE(Buttons(true, false));
    // Typing a class's name chooses it.
    SmImForm->ComboBox1->lineEdit()->clear();
    QTest::keyClicks(SmImForm->ComboBox1->lineEdit(), QStringLiteral("c7"));
    EXPECT_EQ(SmImForm->ComboBox1->currentIndex(), 7);
    EXPECT_EQ(SmImForm->ComboBox1->currentText(), QStringLiteral("c7"));
    EXPECT_EQ(SmImForm->Label1->Caption(), QStringLiteral("7"));
    EXPECT_TRUE(Buttons(true, true));
    Next();
    EXPECT_TRUE(Buttons(true, false));
    Next(); // nothing left
    EXPECT_TRUE(Buttons(false, false));
    EXPECT_FALSE(HintForm->isVisible());
    FromCanvas();
    EXPECT_TRUE(Buttons(true, false));
}

TEST_F(RetinaView, TheGuessIsShownInPercentAndInTheHintBesideTheFigure)
{
    NewProject("100", "4", "25");
    NameClasses();
    Project.ReplaceNetwork(Answering(100, 4, 2));
    ImForm->move(30, 120);
    DrawFigures(2);
    FromCanvas();
    Next();
    EXPECT_EQ(SmImForm->Label1->Caption(), QStringLiteral("100%"));
    EXPECT_EQ(SmImForm->ComboBox1->currentIndex(), 2);
    ASSERT_TRUE(HintForm->isVisible());
    // Only the first 50 pixels of the guess show (the window system may
    // take a moment to resize the window).
    EXPECT_EQ(HintForm->maximumWidth(), 50);
    EXPECT_TRUE(QTest::qWaitFor([] { return HintForm->width() == 50; }, 2000));
    EXPECT_EQ(HintForm->Label1->Caption(), QStringLiteral("c2"));
    // The first black pixel of the figure, in the canvas window's frame.
    const QPoint first(ImForm->objectLeft, ImForm->objectTop);
    const auto cell = [&] {
        for (int y = 0; y < 400; ++y)
            for (int x = 0; x < 500; ++x)
                if (Canvas().pixel(x, y) == clYellow)
                    return QPoint(x, y);
        return QPoint(-1, -1);
    }();
    EXPECT_EQ(cell.y(), first.y());
    EXPECT_EQ(HintForm->pos(), ImForm->pos() + cell + QPoint(0, 30));

    // No output above 0: class 0 at 0%.
    Project.ReplaceNetwork(Answering(100, 4, -1));
    Next();
    EXPECT_EQ(SmImForm->Label1->Caption(), QStringLiteral("0%"));
    EXPECT_EQ(SmImForm->ComboBox1->currentIndex(), 0);
    EXPECT_EQ(HintForm->Label1->Caption(), QStringLiteral("c0"));

    // A class the list does not have: nothing selected, an empty hint.
    Drag({{300, 300}, {320, 300}});
    FromCanvas();
    Project.ReplaceNetwork(Answering(100, 6, 5));
    Next();
    EXPECT_EQ(SmImForm->ComboBox1->currentIndex(), -1);
    EXPECT_TRUE(HintForm->Label1->Caption().isEmpty());
}

TEST_F(RetinaView, AddingTheSameSampleTwiceAddsTwoElementsAndEnablesTheSequenceCommands)
{
    NewProject("100", "10", "25");
    NameClasses();
    DrawFigures(1);
    FromCanvas();
    Next();
    SmImForm->ComboBox1->lineEdit()->selectAll();
    QTest::keyClicks(SmImForm->ComboBox1->lineEdit(), QStringLiteral("c4"));
    ASSERT_FALSE(Form1->N8->isEnabled());
    Add();
    Add();
    EXPECT_TRUE(Form1->N8->isEnabled());
    EXPECT_TRUE(Form1->N18->isEnabled());
    EXPECT_TRUE(Form1->N10->isEnabled());
    EXPECT_TRUE(Form1->N20->isEnabled());
    EXPECT_TRUE(SmImForm->Button2->isEnabled());
    ASSERT_EQ(TrainingSequence.GetCount(), 2u);
    const TAbsImage* second = TrainingSequence.CurrentElement();
    const TAbsImage* first = &*TrainingSequence.FileOrder().begin(); // the one after the cursor
    EXPECT_NE(first, second);
    for (const TAbsImage* element : {first, second}) {
        EXPECT_EQ(element->GetClassIndex(), 4);
        ASSERT_EQ(element->GetSize(), 100u);
        EXPECT_EQ(element->Cells, RetinaImage.Cells);
    }
    EXPECT_GT(RetinaSetCells(), 0u);
}

TEST_F(RetinaView, ATextThatNamesNoClassAddsTheElementWithClassMinusOne)
{
    NewProject("100", "3", "25");
    QTest::mouseClick(Form7->Button1, Qt::LeftButton); // the classes named "0", "1", "2"
    DrawFigures(1);
    FromCanvas();
    Next();
    // Words and numbers that are no class's name, nor taken for its number.
    const QStringList texts{QStringLiteral("круг"), QStringLiteral(" 1"), QStringLiteral("01"), QStringLiteral("-5"),
                            QStringLiteral("2147483648"), QString()};
    for (const QString& text : texts) {
        SmImForm->ComboBox1->lineEdit()->selectAll();
        if (text.isEmpty())
            QTest::keyClick(SmImForm->ComboBox1->lineEdit(), Qt::Key_Backspace);
        Type(SmImForm->ComboBox1->lineEdit(), text);
        EXPECT_EQ(SmImForm->ComboBox1->currentText(), text);
        EXPECT_EQ(SmImForm->Label1->Caption(), QStringLiteral("-1")) << text.toStdString();
        Add();
        EXPECT_EQ(TrainingSequence.CurrentElement()->GetClassIndex(), -1) << text.toStdString();
    }
    ASSERT_EQ(TrainingSequence.GetCount(), static_cast<std::uint32_t>(texts.size()));
    // Done typing: the text names no class, and the box shows none.
    Type(SmImForm->ComboBox1->lineEdit(), QStringLiteral("круг"));
    emit SmImForm->ComboBox1->lineEdit()->editingFinished();
    EXPECT_TRUE(SmImForm->ComboBox1->currentText().isEmpty());
    // Browsing to such an element selects no class.
    ShowSequence();
    Next();
    EXPECT_EQ(SmImForm->ComboBox1->currentIndex(), -1);
    EXPECT_TRUE(SmImForm->ComboBox1->currentText().isEmpty());
    EXPECT_FALSE(SmImForm->Label1->Caption().isEmpty());
}

TEST_F(RetinaView, DeletingFromTheCanvasRemovesTheLastAddedAndTakesTheNextFigure)
{
    NewProject("100", "10", "25");
    NameClasses();
    DrawFigures(3);
    FromCanvas();
    for (int k = 0; k < 2; ++k) {
        Next();
        SmImForm->ComboBox1->lineEdit()->selectAll();
        QTest::keyClicks(SmImForm->ComboBox1->lineEdit(), QStringLiteral("c%1").arg(k));
        Add();
    }
    const std::uint32_t before = ImForm->objectTop;
    Remove();
    ASSERT_EQ(TrainingSequence.GetCount(), 1u);
    EXPECT_EQ(TrainingSequence.CurrentElement()->GetClassIndex(), 0);
    EXPECT_GT(ImForm->objectTop, before); // the third figure
    EXPECT_TRUE(Buttons(true, false));
    Remove();
    EXPECT_EQ(TrainingSequence.GetCount(), 0u);
    EXPECT_TRUE(Buttons(false, false));
    Remove(); // nothing left to delete
    EXPECT_EQ(TrainingSequence.GetCount(), 0u);
}

TEST_F(RetinaView, BrowsingShowsEachElementWithItsClassAndTheGuessAndDeletingShowsTheNext)
{
    NewProject("100", "10", "25");
    NameClasses();
    Project.ReplaceNetwork(Answering(100, 10, 6));
    // Three elements: a full retina (class 1), an empty one (class 2) and
    // one set cell (class 3).
    TRectImage image;
    image.Resize(10, 10);
    std::fill(image.Cells.begin(), image.Cells.end(), std::int8_t{1});
    Project.AddSample(image, 1);
    image.Resize(10, 10);
    Project.AddSample(image, 2);
    image.SetCell(9, 0, 1);
    Project.AddSample(image, 3);
    Form1->EnableSequenceCommands(true);
    ShowSequence();
    EXPECT_TRUE(Buttons(true, false));
    EXPECT_FALSE(HintForm->isVisible());

    const int blackOf[] = {150 * 150, 0, 15 * 15};
    for (int round = 0; round < 4; ++round) {
        const int k = round % 3;
        Next();
        EXPECT_EQ(TrainingSequence.CurrentElement()->GetClassIndex(), k + 1);
        EXPECT_EQ(SmImForm->ComboBox1->currentIndex(), k + 1);
        EXPECT_EQ(SmImForm->Label1->Caption(), QStringLiteral("6"));
        EXPECT_EQ(Count(View(), clBlack), blackOf[k]) << round;
        EXPECT_TRUE(Buttons(true, false));
        EXPECT_FALSE(HintForm->isVisible());
    }
    // On the full element (class 1): deleting it shows the empty one.
    Remove();
    EXPECT_EQ(TrainingSequence.GetCount(), 2u);
    EXPECT_EQ(TrainingSequence.CurrentElement()->GetClassIndex(), 2);
    EXPECT_EQ(Count(View(), clBlack), 0);
    Remove();
    Remove();
    EXPECT_EQ(TrainingSequence.GetCount(), 0u);
    // An empty sequence: ">>" and deleting show an empty retina.
    RetinaImage.SetCell(0, 0, 1);
    Next();
    EXPECT_EQ(RetinaSetCells(), 0u);
    EXPECT_EQ(Count(View(), clWhite), 150 * 150);
    EXPECT_EQ(SmImForm->ComboBox1->currentIndex(), -1);
    Remove();
    EXPECT_EQ(Count(View(), clWhite), 150 * 150);
    EXPECT_TRUE(Buttons(true, false));
}

TEST_F(RetinaView, ElementsOfAnotherSizeShowWhatTheyHold)
{
    NewProject("100", "10", "25");
    TRectImage big;
    big.Resize(20, 20); // 400 cells: the retina shows the first 100
    big.SetCell(5, 0, 1);
    big.SetCell(0, 10, 1);
    Project.AddSample(big, 0);
    TRectImage small;
    small.Resize(3, 3);
    std::fill(small.Cells.begin(), small.Cells.end(), std::int8_t{1});
    Project.AddSample(small, 0); // 9 cells: the rest reads 0
    Form1->EnableSequenceCommands(true);
    ShowSequence();
    Next();
    EXPECT_EQ(RetinaSetCells(), 1u);
    EXPECT_EQ(RetinaImage.GetCell(5, 0), 1);
    Next();
    EXPECT_EQ(RetinaSetCells(), 9u);
    EXPECT_EQ(RetinaImage.GetCell(8, 0), 1);
    EXPECT_EQ(RetinaImage.GetCell(9, 0), 0); // not the element's bias byte
}

TEST_F(RetinaView, ANonSquareElementSizeReadsNothingBeyondTheRetina)
{
    NewProject("50", "10", "25");
    NameClasses();
    ASSERT_EQ(SmImForm->retinaWidth, 7);
    DrawFigures(1);
    FromCanvas();
    Next(); // the network reads 50 inputs from a retina of 49 cells
    // Byte 50 of the retina does not exist: Label2 shows nothing.
    EXPECT_TRUE(SmImForm->Label2->Caption().isEmpty());
    SmImForm->ComboBox1->lineEdit()->selectAll();
    QTest::keyClicks(SmImForm->ComboBox1->lineEdit(), QStringLiteral("c1"));
    Add();
    ASSERT_EQ(TrainingSequence.GetCount(), 1u);
    EXPECT_EQ(TrainingSequence.CurrentElement()->GetSize(), 49u);
    ShowSequence();
    Next(); // and 50 inputs from an element of 49 cells
    EXPECT_EQ(TrainingSequence.CurrentElement()->GetClassIndex(), 1);

    NewProject("99", "10", "25");
    EXPECT_EQ(SmImForm->retinaWidth, 9);
    SmImForm->DrawRetina();
    EXPECT_TRUE(SmImForm->Label2->Caption().isEmpty());
}

TEST_F(RetinaView, BeforeAnyNewProjectTheRetinaHasNoCellsAndDrawsWhite)
{
    ASSERT_EQ(SmImForm->retinaWidth, 0);
    DrawFigures(3);
    FromCanvas();
    for (int k = 0; k < 3; ++k) {
        Next();
        EXPECT_TRUE(SmImForm->Button1->isEnabled()) << k;
        EXPECT_EQ(RetinaImage.GetWidth(), 0u);
        EXPECT_EQ(RetinaImage.GetSize(), 0u);
        EXPECT_EQ(Count(View(), clWhite), 150 * 150);
        EXPECT_EQ(SmImForm->Label2->Caption(), QStringLiteral("1"));
    }
    // Added and browsed: an element without cells.
    QTest::keyClicks(SmImForm->ComboBox1->lineEdit(), QStringLiteral("x"));
    Add();
    ShowSequence();
    Next();
    EXPECT_EQ(TrainingSequence.CurrentElement()->GetSize(), 0u);
    EXPECT_EQ(Count(View(), clWhite), 150 * 150);
    EXPECT_TRUE(log.isEmpty()) << log.join(", ").toStdString();
}

} // namespace
