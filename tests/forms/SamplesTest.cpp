// The sample data of examples/ and the help document, used as a new user
// uses them: the digits project loaded through the menu, trained until the
// learning window stops by itself and asked to name freshly drawn digits;
// every series example loaded through the series dialog; and every caption
// the help document quotes found in the program's windows.

#include "CanvasFixture.h"
#include "SeriesFixture.h"

#include "examples/tools/Digits.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QRegularExpression>
#include <QSet>

#include <fstream>

namespace {

const QString ExamplesDir = QStringLiteral(TRELIS_EXAMPLES_DIR);

// The digits project, as a user goes through it after reading the help.
class DigitsSample : public CanvasUser {
protected:
    testnets::PinnedClock clock{1700000000};  // the same network on every run

    // "Обучение" / "Обратное распространение", "Пуск", and the window left to
    // run until it stops by itself or has run `limit` epochs.
    void TrainUntilStopped(std::uint32_t limit)
    {
        user = [limit](TForm&) {
            LearnForm->Button2->click(); // "Пуск"
            while (LearnForm->Timer1->isActive() && LearnForm->epochCount < limit)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            LearnForm->Button1->click(); // "Стоп", in case it still runs
        };
        Form1->N19->trigger();
        user = nullptr;
    }

    // The class name written on the answer sheet at the corner of a figure
    // whose ink fills `ink`, read by writing each candidate there on a white
    // sheet and comparing; empty when no candidate matches. `area` is where
    // any of the candidates would fall.
    static QString Answer(const QRect& ink, const QStringList& candidates, QRect* area = nullptr)
    {
        const QImage& sheet = AnsForm->Image1->Bitmap();
        QImage scratch = MakeBitmap(500, 400);
        TCanvas canvas(scratch);
        canvas.SetFontName(QStringLiteral("Times New Roman"));
        canvas.SetFontSize(ink.height() - 1);
        canvas.SetTransparentText(true);
        QRect all;
        for (const QString& name : candidates)
            all |= canvas.TextRect(ink.left(), ink.top(), name);
        all &= scratch.rect();
        if (area)
            *area = all;
        for (const QString& name : candidates) {
            scratch.fill(clWhite);
            canvas.TextOut(ink.left(), ink.top(), name);
            bool same = true;
            for (int y = all.top(); same && y <= all.bottom(); ++y)
                for (int x = all.left(); same && x <= all.right(); ++x)
                    same = sheet.pixel(x, y) == scratch.pixel(x, y);
            if (same)
                return name;
        }
        return {};
    }
};

} // namespace

TEST_F(DigitsSample, LoadsTrainsAndNamesFreshlyDrawnDigits)
{
    // "Файл" / "Новый проект" with the dialog's own numbers, then
    // "Последовательность" / "Из файла".
    NewProject(QStringLiteral("100"), QStringLiteral("10"), QStringLiteral("25"));
    dialogAnswer = ExamplesDir + QStringLiteral("/digits.llt");
    Form1->N7->trigger();
    ASSERT_TRUE(Boxes().isEmpty()) << Boxes().join(' ').toStdString();

    // The sample fits the project: elements of 100 cells, every digit drawn
    // equally often and more than once, each sample holding some ink but not
    // only ink, and the classes named by their digits.
    QStringList digitNames;
    for (int d = 0; d < 10; ++d)
        digitNames << QString::number(d);
    ASSERT_EQ(GridNames(), digitNames);
    ASSERT_EQ(SmImForm->ComboBox1->count(), 10);
    ASSERT_EQ(TrainingSequence.GetDimension(), 100u);
    std::map<std::int32_t, int> perClass;
    std::uint32_t k = 0;
    for (const TAbsImage& e : TrainingSequence.Elements()) {
        ++perClass[e.ClassIndex];
        const auto ink = std::count(e.Cells.begin(), e.Cells.begin() + 100, 1);
        EXPECT_GT(ink, 5) << "sample " << k;
        EXPECT_LT(ink, 95) << "sample " << k;
        ++k;
    }
    ASSERT_EQ(perClass.size(), 10u);
    EXPECT_EQ(perClass.begin()->first, 0);
    EXPECT_EQ(perClass.rbegin()->first, 9);
    for (const auto& [digit, count] : perClass) {
        EXPECT_GE(count, 3) << "digit " << digit;
        EXPECT_EQ(count, perClass.begin()->second) << "digit " << digit;
    }

    // Back-propagation until an epoch answers every sample right.
    TrainUntilStopped(3000);
    ASSERT_TRUE(LearnForm->Label1->Caption().startsWith(QStringLiteral("Готово, шагов: ")))
        << "still learning after " << LearnForm->epochCount << " epochs: "
        << LearnForm->Label1->Caption().toStdString();

    // Two handwritings the sample does not hold, each drawn on a clean
    // canvas and recognised with "Холст" / "Распознать".
    const std::pair<digits::THand, int> fresh[] = {
        {{QRect(0, 0, 58, 88), 0.1, 2.5, 77, 4}, 7},
        {{QRect(0, 0, 48, 76), -0.05, 3.0, 91, 5}, 4},
    };
    Form1->N3->trigger();
    int right = 0;
    QStringList answers;
    for (const auto& [hand, shift] : fresh) {
        Form1->N4->trigger(); // "Очистить"
        const std::vector<digits::THand> hands = digits::Row(hand, shift);
        for (int d = 0; d < 10; ++d)
            digits::Draw(d, hands[d]);
        // Each digit's ink, within the reach of its own strokes.
        std::vector<QRect> ink;
        for (int d = 0; d < 10; ++d) {
            const QRect reach = digits::Reach(d, hands[d]);
            for (int other = 0; other < d; ++other)
                ASSERT_FALSE(reach.intersects(digits::Reach(other, hands[other]))) << d << " and " << other;
            ink.push_back(Extent(Canvas(), clBlack, reach & Canvas().rect()));
            ASSERT_FALSE(ink.back().isEmpty()) << "digit " << d;
        }

        Form1->N22->trigger(); // "Распознать"
        ASSERT_TRUE(AnsForm->isVisible());
        std::vector<QRect> areas;
        for (int d = 0; d < 10; ++d) {
            QRect area;
            const QString answer = Answer(ink[d], digitNames, &area);
            for (const QRect& other : areas)
                ASSERT_FALSE(area.intersects(other)) << "labels would overlap; digit " << d;
            areas.push_back(area);
            right += answer == QString::number(d);
            answers << QString::number(d) + QStringLiteral("→") + (answer.isEmpty() ? QStringLiteral("?") : answer);
        }
        AnsForm->close();
    }
    EXPECT_GE(right, 16) << answers.join(' ').toStdString();
}

namespace {

class SeriesSamples : public SeriesUser {};

} // namespace

TEST_F(SeriesSamples, EveryExampleLoadsThroughTheDialogAndIsLearnt)
{
    const QStringList files = QDir(ExamplesDir).entryList({QStringLiteral("*.ser")}, QDir::Files);
    ASSERT_FALSE(files.isEmpty());
    for (const QString& name : files) {
        SCOPED_TRACE(name.toStdString());
        const QString path = ExamplesDir + '/' + name;
        std::ifstream in(path.toStdString());
        long announced = 0;
        ASSERT_TRUE(in >> announced);
        ASSERT_GT(announced, 200);

        // The numbers examples/README.md suggests: window 12, training length 200.
        log.clear();
        ASSERT_TRUE(Load(path, 12, 200));
        ASSERT_TRUE(Boxes().isEmpty()) << Boxes().join(' ').toStdString();
        ASSERT_EQ(SeriesBuffer.count, announced);
        const std::vector<float> v = SeriesValues();
        EXPECT_EQ(*std::min_element(v.begin(), v.end()), 0.0f);
        EXPECT_EQ(*std::max_element(v.begin(), v.end()), 1.0f);
        EXPECT_EQ(TrainingSequence.GetCount(), static_cast<std::uint32_t>(announced - 12));
        EXPECT_TRUE(SerLForm->Timer1->isActive());

        // The series is learnt: after some thousand epochs the worst window
        // is answered much better than after the first.
        SerLForm->Timer1Timer();
        const float first = SerLForm->maxError;
        for (int epoch = 0; epoch < 3000; ++epoch)
            SerLForm->Timer1Timer();
        EXPECT_LT(SerLForm->maxError, first / 2) << "first epoch " << first;
    }
}

namespace {

class HelpDocument : public CanvasUser {
protected:
    static QString Help()
    {
        QFile file(QStringLiteral(TRELIS_HELP_SOURCE));
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        QString text = QString::fromUtf8(file.readAll());
        return text.replace(QStringLiteral("&gt;"), QStringLiteral(">"))
            .replace(QStringLiteral("&lt;"), QStringLiteral("<"))
            .replace(QStringLiteral("&amp;"), QStringLiteral("&"));
    }

    // Every text the windows show as a caption: window titles, menu items,
    // buttons, labels, group boxes, hints and the grid's header.
    static QSet<QString> Captions()
    {
        QSet<QString> captions;
        for (TForm* form : TForm::Forms()) {
            captions << form->windowTitle();
            for (const QAction* a : form->findChildren<QAction*>())
                captions << a->text().trimmed();
            for (const QAbstractButton* b : form->findChildren<QAbstractButton*>())
                captions << b->text() << b->toolTip();
            for (const QLabel* l : form->findChildren<QLabel*>())
                captions << l->text();
            for (const QGroupBox* g : form->findChildren<QGroupBox*>())
                captions << g->title();
            for (const QWidget* w : form->findChildren<QWidget*>())
                captions << w->toolTip();
        }
        captions << Form7->StringGrid1->Cell(0, 0) << Form7->StringGrid1->Cell(1, 0);
        captions.remove(QString());
        return captions;
    }

    // The item reached from the main menu through the captions, if any.
    static QAction* MenuItem(const QStringList& path)
    {
        QList<QAction*> items = Form1->MainMenu1->actions();
        QAction* found = nullptr;
        for (const QString& caption : path) {
            found = nullptr;
            for (QAction* a : items)
                if (a->text().trimmed() == caption)
                    found = a;
            if (!found)
                return nullptr;
            items = found->menu() ? found->menu()->actions() : QList<QAction*>{};
        }
        return found;
    }
};

} // namespace

TEST_F(HelpDocument, QuotesOnlyCaptionsAndMenuPathsTheProgramShows)
{
    // The grid's header as the new project lays it out.
    NewProject(QStringLiteral("100"), QStringLiteral("10"), QStringLiteral("25"));
    const QString help = Help();
    const QSet<QString> captions = Captions();

    // «A» → «B»: a command under a top-level menu; a lone «A»: any caption.
    // Line breaks inside the quotes read as blanks, as the browser shows them.
    static const QRegularExpression quoted(QStringLiteral("«([^«»]+)»(?:\\s*→\\s*«([^«»]+)»)?"));
    int paths = 0, single = 0;
    for (auto it = quoted.globalMatch(help); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        if (m.hasCaptured(2)) {
            ++paths;
            const QAction* item = MenuItem({m.captured(1).simplified(), m.captured(2).simplified()});
            EXPECT_TRUE(item && !item->menu()) << "no menu command " << m.captured(0).toStdString();
        } else {
            ++single;
            EXPECT_TRUE(captions.contains(m.captured(1).simplified())) << "no caption " << m.captured(0).toStdString();
        }
    }
    // Both workflows are described step by step through the menus.
    EXPECT_GE(paths, 10);
    EXPECT_GE(single, 10);
    for (const char* command : {"«Файл» → «Новый проект»", "«Последовательность» → «Из файла»",
                                "«Последовательность» → «С холста»", "«Обучение» → «Обратное распространение»",
                                "«Холст» → «Распознать»", "«Временной ряд» → «Из файла»",
                                "«Временной ряд» → «Обучение»"})
        EXPECT_TRUE(help.contains(QString::fromUtf8(command))) << command;
}
