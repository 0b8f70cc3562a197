// The whole road of a drawing, as a user goes it: a new project, strokes on
// the canvas, samples filed under named classes, training until the window
// stops by itself, saving and loading the sequence, and recognition of new
// figures by name.

#include "LearningFixture.h"

namespace {

enum Shape { Cross, Frame, Plus };

const QStringList ClassNames = {QStringLiteral("крест"), QStringLiteral("рамка"), QStringLiteral("плюс")};

struct Figure {
    Shape shape;
    QRect box;   // where the strokes run; the pen adds a little around it
};

class WholeRoad : public LearningUser {
protected:
    // A stroke with the mouse on the canvas through the points.
    static void Stroke(const std::vector<QPoint>& points)
    {
        TImage* canvas = ImForm->Image1;
        QTest::mousePress(canvas, Qt::LeftButton, {}, points.front());
        for (std::size_t i = 1; i < points.size(); ++i)
            QTest::mouseMove(canvas, points[i]);
        QTest::mouseRelease(canvas, Qt::LeftButton, {}, points.back());
    }

    static void Draw(const Figure& f)
    {
        const QRect& b = f.box;
        const int cx = b.left() + b.width() / 2, cy = b.top() + b.height() / 2;
        switch (f.shape) {
        case Cross:
            Stroke({b.topLeft(), b.center(), b.bottomRight()});
            Stroke({b.topRight(), b.center(), b.bottomLeft()});
            break;
        case Frame:
            Stroke({b.topLeft(), b.topRight(), b.bottomRight(), b.bottomLeft(), b.topLeft()});
            break;
        case Plus:
            Stroke({QPoint(cx, b.top()), QPoint(cx, b.bottom())});
            Stroke({QPoint(b.left(), cy), QPoint(b.right(), cy)});
            break;
        }
    }

    // The black pixels of the canvas inside the area, as a box.
    static QRect Ink(const QRect& area)
    {
        const QImage& bitmap = ImForm->Image1->Bitmap();
        QRect ink;
        for (int y = std::max(area.top(), 0); y <= std::min(area.bottom(), 399); ++y)
            for (int x = std::max(area.left(), 0); x <= std::min(area.right(), 499); ++x)
                if (bitmap.pixel(x, y) == clBlack)
                    ink |= QRect(x, y, 1, 1);
        return ink;
    }

    // Chooses the class in the retina view's combo box, as a click on an item does.
    static void ChooseClass(int index)
    {
        SmImForm->ComboBox1->setCurrentIndex(index);
        emit SmImForm->ComboBox1->activated(index);
    }
};

} // namespace

TEST_F(WholeRoad, FromStrokesToNamedAnswers)
{
    testnets::PinnedClock clock(20240601);
    RandomSeed(11);

    // A new project: 100 cells (a 10 x 10 retina), 3 classes, 12 hidden neurons.
    user = [](TForm&) {
        Form6->Edit1->setText(QStringLiteral("100"));
        Form6->Edit2->setText(QStringLiteral("3"));
        Form6->Edit3->setText(QStringLiteral("12"));
        QTest::mouseClick(Form6->Button1, Qt::LeftButton);
    };
    Form1->N15->trigger();
    user = nullptr;
    ASSERT_TRUE(Form7->isVisible());
    ASSERT_EQ(SmImForm->retinaWidth, 10);

    // The classes get their names in the class-names window.
    for (int k = 0; k < 3; ++k) {
        Form7->StringGrid1->setCurrentCell(k + 1, 1);
        Form7->Edit1->setText(ClassNames[k]);
    }
    QTest::mouseClick(Form7->Button1, Qt::LeftButton);
    ASSERT_EQ(GridNames(), ClassNames);
    ASSERT_EQ(SmImForm->ComboBox1->count(), 3);

    // Three samples of each class, of assorted sizes. Each column starts a
    // little lower than the one before, so the figures are taken in the
    // order listed.
    const std::vector<Figure> samples = {
        {Cross, QRect(20, 20, 80, 90)},   {Frame, QRect(180, 30, 90, 80)},  {Plus, QRect(340, 40, 100, 100)},
        {Frame, QRect(20, 150, 70, 70)},  {Plus, QRect(180, 160, 80, 90)},  {Cross, QRect(340, 170, 100, 90)},
        {Plus, QRect(20, 280, 90, 90)},   {Cross, QRect(180, 290, 70, 80)}, {Frame, QRect(340, 300, 100, 85)},
    };
    Form1->N3->trigger();
    for (const Figure& f : samples)
        Draw(f);

    Form1->N6->trigger();   // "С холста"
    ASSERT_TRUE(SmImForm->isVisible());
    for (const Figure& f : samples) {
        QTest::mouseClick(SmImForm->Button1, Qt::LeftButton);   // ">>"
        ChooseClass(f.shape);
        QTest::mouseClick(SmImForm->Button2, Qt::LeftButton);   // "Добавить в список"
    }
    QTest::mouseClick(SmImForm->Button1, Qt::LeftButton);       // nothing is left
    EXPECT_FALSE(SmImForm->Button1->isEnabled());
    ASSERT_EQ(TrainingSequence.GetCount(), samples.size());
    ASSERT_TRUE(Form1->N18->isEnabled());

    // Training runs on the timer until an epoch answers every sample right.
    bool stopped = false;
    user = [&](TForm&) {
        QTest::mouseClick(LearnForm->Button2, Qt::LeftButton);   // "Пуск"
        stopped = QTest::qWaitFor([] { return !LearnForm->Timer1->isActive(); }, 60000);
    };
    Form1->N19->trigger();
    user = nullptr;
    ASSERT_TRUE(stopped);
    EXPECT_TRUE(LearnForm->Label1->Caption().startsWith(QStringLiteral("Готово, шагов: ")));
    EXPECT_EQ(LearnForm->ProgressBar1->value(), 100);

    // Save, spoil, and load again.
    QTemporaryDir dir;
    dialogAnswer = dir.filePath(QStringLiteral("фигуры.llt"));
    Form1->N8->trigger();
    Form7->StringGrid1->setCurrentCell(2, 1);
    Form7->Edit1->setText(QStringLiteral("ерунда"));
    Project.RemoveCurrentSample();
    ASSERT_EQ(TrainingSequence.GetCount(), samples.size() - 1);
    Form1->N7->trigger();
    EXPECT_EQ(TrainingSequence.GetCount(), samples.size());
    EXPECT_EQ(GridNames(), ClassNames);
    EXPECT_EQ(SmImForm->ComboBox1->count(), 3);

    // New drawings, at other places and sizes.
    Form1->N4->trigger();   // "Очистить"
    const std::vector<Figure> fresh = {
        {Plus, QRect(30, 30, 85, 95)}, {Cross, QRect(200, 60, 95, 85)}, {Frame, QRect(120, 220, 80, 95)}};
    for (const Figure& f : fresh)
        Draw(f);
    std::vector<QRect> ink;
    for (const Figure& f : fresh)
        ink.push_back(Ink(f.box.adjusted(-8, -8, 8, 8)));

    Form1->N22->trigger();   // "Распознать"
    ASSERT_TRUE(AnsForm->isVisible());
    QImage expected = MakeBitmap(500, 400);
    TCanvas sheet(expected);
    for (std::size_t k = 0; k < fresh.size(); ++k) {
        sheet.SetFontName(QStringLiteral("Times New Roman"));
        sheet.SetFontSize(ink[k].height() - 1);
        sheet.SetTransparentText(true);
        sheet.TextOut(ink[k].left(), ink[k].top(), ClassNames[fresh[k].shape]);
    }
    const QImage& answer = AnsForm->Image1->Bitmap();
    int differences = 0;
    for (int y = 0; y < 400; ++y)
        for (int x = 0; x < 500; ++x)
            differences += answer.pixel(x, y) != expected.pixel(x, y);
    EXPECT_EQ(differences, 0);
}
