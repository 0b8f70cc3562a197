// Sets up a scene of the program through its own windows, as a user would,
// and saves the part of the screen its windows cover as a PNG picture. Meant
// to run on a virtual screen through scripts/screenshot --scene.
//
//   trelis_scenes recognition <out.png>
//       "Файл" / "Новый проект", the digits sample loaded with
//       "Последовательность" / "Из файла", trained with "Обучение" /
//       "Обратное распространение" until it stops by itself, ten digits drawn
//       on the canvas and "Холст" / "Распознать"; the answer sheet is
//       dragged beside the canvas.
//   trelis_scenes series <out.png>
//       examples/trend_season.ser loaded with "Временной ряд" / "Из файла"
//       (window 12, training length 200), a few thousand epochs learnt, and
//       the window "Временной ряд" / "Обучение".
//   trelis_scenes progress <out.png>
//       The digits sample trained as in the recognition scene with
//       "Обучение" / "Ход обучения" open, then checked there on
//       examples/digits_check.llt with "Проверить на файле…".
//   trelis_scenes gallery <out.png>
//       The progress scene, then a click on the cell of the held-out matrix
//       with the most wrong answers: the gallery of its elements.
//   trelis_scenes neurons <out.png>
//       The digits sample trained for a few epochs with "Ход обучения" open:
//       its panel of the hidden neurons' weights, the pointer over a tile.
//   trelis_scenes progress-series <out.png>
//       examples/noisy_sine.ser loaded as in the series scene, and a few
//       thousand epochs learnt by the series window's own timer with
//       "Временной ряд" / "Ход обучения" open.
//
// Exits with 1, saying why, when the scene does not come about.

#include "Digits.h"

#include "engine/Random.h"
#include "forms/Forms.h"
#include "forms/Unit1.h"
#include "forms/Unit10.h"
#include "forms/Unit11.h"
#include "forms/Unit13.h"
#include "forms/Unit14.h"
#include "forms/Unit4.h"
#include "forms/Unit6.h"
#include "forms/Unit7.h"
#include "forms/Unit9.h"
#include "framework/Application.h"
#include "framework/Seams.h"
#include "project/Globals.h"

#include <QAction>
#include <QCheckBox>
#include <QCursor>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <vector>

namespace {

const QString ExamplesDir = QStringLiteral(TRELIS_EXAMPLES_DIR);

[[noreturn]] void Fail(const QString& what)
{
    std::fprintf(stderr, "trelis_scenes: %s\n", qPrintable(what));
    std::exit(1);
}

// Lets the program and the screen catch up for a while.
void Settle(int milliseconds)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

// Saves the part of the screen the windows cover, those of them that are
// visible.
void Shoot(const QString& out, const std::vector<const TForm*>& windows)
{
    Settle(1200);
    QRect covered;
    for (const TForm* form : windows)
        if (form->isVisible())
            covered |= form->frameGeometry();
    QScreen* screen = QGuiApplication::primaryScreen();
    covered &= screen->geometry();
    if (covered.isEmpty())
        Fail(QStringLiteral("no window is visible"));
    const QPixmap shot = screen->grabWindow(0, covered.x(), covered.y(), covered.width(), covered.height());
    if (shot.isNull() || !shot.save(out, "PNG"))
        Fail(QStringLiteral("cannot save %1").arg(out));
    std::printf("trelis_scenes: %s, %dx%d\n", qPrintable(out), shot.width(), shot.height());
}

// "Последовательность" / "Из файла" on the digits sample.
void LoadDigits()
{
    Seams::fileDialog = [](const TFileDialog&) { return std::optional<QString>(ExamplesDir + "/digits.llt"); };
    Form1->N7->trigger();
    if (TrainingSequence.GetCount() == 0)
        Fail(QStringLiteral("the digits sample did not load"));
}

// "Обучение" / "Обратное распространение", "Пуск" until it stops.
void TrainUntilDone()
{
    Seams::modal = [](TForm&) {
        LearnForm->Button2->click();
        while (LearnForm->Timer1->isActive() && LearnForm->epochCount < 5000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        LearnForm->Button1->click();
    };
    Form1->N19->trigger();
    Seams::modal = nullptr;
    if (!LearnForm->Label1->Caption().startsWith(QStringLiteral("Готово")))
        Fail(QStringLiteral("training did not finish: ") + LearnForm->Label1->Caption());
}

// A new project with the dialog's own numbers, the class-names window
// closed, the digits sample loaded and "Обучение" / "Ход обучения" open.
void DigitsWithProgress()
{
    Seams::modal = [](TForm&) { Form6->Button1->click(); };
    Form1->N15->trigger();
    Form7->close();
    LoadDigits();
    Form1->N32->trigger();
    ProgressForm->move(0, 0);
}

// "Обучение" / "Обратное распространение", "Шаг" `epochs` times.
void StepEpochs(int epochs)
{
    Seams::modal = [epochs](TForm&) {
        for (int epoch = 0; epoch < epochs; ++epoch)
            LearnForm->Button3->click();
    };
    Form1->N19->trigger();
    Seams::modal = nullptr;
}

void RecognitionScene(const QString& out)
{
    // "Файл" / "Новый проект" with the dialog's own numbers.
    Seams::modal = [](TForm&) { Form6->Button1->click(); };
    Form1->N15->trigger();
    if (!Form7->isVisible())
        Fail(QStringLiteral("the new project was not made"));

    LoadDigits();
    TrainUntilDone();

    // Ten fresh digits on the canvas, and "Холст" / "Распознать".
    Form1->N3->trigger();
    Form1->N4->trigger();
    const std::vector<digits::THand> hands = digits::Row({QRect(0, 0, 58, 88), 0.1, 2.5, 77, 5}, 7);
    for (int d = 0; d < 10; ++d)
        digits::Draw(d, hands[d]);
    Settle(300);
    Form1->N22->trigger();
    Settle(300);
    if (!AnsForm->isVisible())
        Fail(QStringLiteral("the answer sheet is not shown"));
    // The sheet opens over the drawing. As a user would with the mouse, the
    // class-names window is closed and the sheet dragged beside the canvas,
    // so that the figures (yellow once taken) and their names show together.
    Form7->close();
    AnsForm->move(ImForm->frameGeometry().right() + 9, AnsForm->y());
    Settle(300);
    if (!AnsForm->isVisible())
        Fail(QStringLiteral("the answer sheet closed"));
    Shoot(out, {Form1, ImForm, AnsForm});
}

// "Временной ряд" / "Из файла" on an example series: window 12, training
// length 200, "ОК".
void LoadExampleSeries(const QString& name)
{
    Seams::fileDialog = [name](const TFileDialog&) { return std::optional<QString>(ExamplesDir + "/" + name); };
    Seams::modal = [](TForm&) {
        Form10->Edit1->setText(QStringLiteral("12"));
        Form10->Edit2->setText(QStringLiteral("200"));
        Form10->Button1->click();
    };
    Form1->N24->trigger();
    Seams::modal = nullptr;
    if (!SerLForm->SeriesReady())
        Fail(QStringLiteral("the series did not load"));
}

void SeriesScene(const QString& out)
{
    LoadExampleSeries(QStringLiteral("trend_season.ser"));

    // Training runs from the load on; give it a few thousand epochs.
    for (int epoch = 0; epoch < 4000; ++epoch)
        SerLForm->Timer1Timer();

    // "Временной ряд" / "Обучение": the picture is repainted twice a second.
    Seams::modal = [&out](TForm&) {
        Settle(1200);
        Shoot(out, {SerLForm});
    };
    Form1->N26->trigger();
    Seams::modal = nullptr;
}

void ProgressScene(const QString& out)
{
    // "Обучение" / "Ход обучения", then the learning window until it stops.
    DigitsWithProgress();
    TrainUntilDone();

    // "Проверить на файле…" with the digits in other hands.
    Seams::fileDialog = [](const TFileDialog&) {
        return std::optional<QString>(ExamplesDir + "/digits_check.llt");
    };
    ProgressForm->Button1->click();
    if (ProgressForm->History().FileCheck() == nullptr)
        Fail(QStringLiteral("the held-out digits were not checked"));
    Shoot(out, {ProgressForm});
}

// The off-diagonal cell of the held-out matrix with the most elements.
void OpenWorstHeldOutCell()
{
    const TConfusion& m = ProgressForm->History().FileCheck()->confusion;
    std::size_t t = 0, a = 1;
    for (std::size_t i = 0; i < m.Classes(); ++i)
        for (std::size_t j = 0; j < m.Classes(); ++j)
            if (i != j && m.Count(i, j) > m.Count(t, a)) {
                t = i;
                a = j;
            }
    const std::optional<QPoint> centre = ProgressForm->CellCentre(false, t, a);
    if (!centre || m.Count(t, a) == 0)
        Fail(QStringLiteral("no wrong answers on the held-out digits"));
    ProgressForm->Image2MouseDown(Qt::LeftButton, centre->x(), centre->y());
    if (!GalleryForm->isVisible() || GalleryForm->items.size() != m.Count(t, a))
        Fail(QStringLiteral("the gallery does not list the cell"));
}

void GalleryScene(const QString& out)
{
    DigitsWithProgress();
    StepEpochs(6); // the network still confuses some digits
    Seams::fileDialog = [](const TFileDialog&) {
        return std::optional<QString>(ExamplesDir + "/digits_check.llt");
    };
    ProgressForm->Button1->click();
    OpenWorstHeldOutCell();
    GalleryForm->move(0, 0);
    Shoot(out, {GalleryForm});
}

void NeuronsScene(const QString& out)
{
    DigitsWithProgress();
    StepEpochs(300); // the tiles take shape
    Settle(600);
    // The pointer over the first tile names the classes it favours.
    const QPoint tile = ProgressForm->Image3->mapToGlobal(QPoint(6 + 15, 22 + 15));
    QCursor::setPos(tile);
    const QPoint local = ProgressForm->Image3->mapFromGlobal(tile);
    ProgressForm->Image3MouseMove(local.x(), local.y());
    if (ProgressForm->Label2->Caption().isEmpty())
        Fail(QStringLiteral("no tile under the pointer"));
    Shoot(out, {ProgressForm});
}

void ProgressSeriesScene(const QString& out)
{
    LoadExampleSeries(QStringLiteral("noisy_sine.ser"));

    // "Временной ряд" / "Ход обучения" while the series window's timer trains.
    Form1->N33->trigger();
    ProgressForm->move(0, 0);
    QElapsedTimer clock;
    clock.start();
    while (ProgressForm->History().SeriesEpochs() < 3000 && clock.elapsed() < 120000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    SerLForm->Button2->click(); // "Стоп"
    if (ProgressForm->History().HeldOut().Empty())
        Fail(QStringLiteral("no held-out figures"));
    Shoot(out, {ProgressForm});
}

} // namespace

int main(int argc, char** argv)
{
    TApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr,
                     "usage: trelis_scenes recognition|series|progress|gallery|neurons|progress-series <out.png>\n");
        return 2;
    }
    const QString scene = QString::fromLocal8Bit(argv[1]);
    const QString out = QString::fromLocal8Bit(argv[2]);
    // The same network and the same answers on every run.
    SetSeedClock([] { return std::time_t{1700000000}; });
    Seams::messageBox = [](const QString&, const QString& text) { Fail(text); };
    CreateForms();
    if (scene == QStringLiteral("recognition"))
        RecognitionScene(out);
    else if (scene == QStringLiteral("series"))
        SeriesScene(out);
    else if (scene == QStringLiteral("progress"))
        ProgressScene(out);
    else if (scene == QStringLiteral("gallery"))
        GalleryScene(out);
    else if (scene == QStringLiteral("neurons"))
        NeuronsScene(out);
    else if (scene == QStringLiteral("progress-series"))
        ProgressSeriesScene(out);
    else
        Fail(QStringLiteral("no scene called %1").arg(scene));
    Seams::Reset();
    DestroyForms();
    return 0;
}
