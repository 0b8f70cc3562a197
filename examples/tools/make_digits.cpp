// Makes the sample project examples/digits.llt and digits.nam with the
// program's own windows, as a user would: "Файл" / "Новый проект" with 100
// cells, 10 classes and 25 hidden neurons, the class names "0".."9", then,
// for each of a few handwritings, the ten digits drawn with the mouse on the
// canvas, "Последовательность" / "С холста", and for every figure ">>", its
// class chosen in the list and "Добавить в список"; finally
// "Последовательность" / "Сохранить".
//
//   make_digits <folder>         writes <folder>/digits.llt and <folder>/digits.nam
//   make_digits <folder> check   writes <folder>/digits_check.llt and .nam: the
//                                digits in three other hands, held out from
//                                training to check the trained network on
//
// Runs headless unless a platform is chosen. Not run by the tests.

#include "Digits.h"

#include "engine/Random.h"
#include "forms/Forms.h"
#include "forms/Unit1.h"
#include "forms/Unit6.h"
#include "forms/Unit7.h"
#include "forms/Unit8.h"
#include "framework/Application.h"
#include "framework/Seams.h"
#include "project/Globals.h"

#include <QAction>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>

#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace {

// The handwritings of the sample: size, slant, tremor, pen width, and how
// far each digit strays from the middle of its place.
struct TSampleHand {
    digits::THand hand;
    int shift;
};

const TSampleHand Hands[] = {
    {{QRect(0, 0, 55, 80), 0.0, 0.0, 1, 4}, 0},
    {{QRect(0, 0, 45, 70), 0.15, 2.0, 2, 4}, 5},
    {{QRect(0, 0, 65, 95), -0.1, 2.0, 3, 5}, 8},
    {{QRect(0, 0, 50, 60), 0.05, 3.0, 4, 3}, 10},
    {{QRect(0, 0, 60, 85), 0.2, 3.0, 5, 6}, 6},
};

// Other hands, for the held-out samples: more slant, other sizes and pens.
const TSampleHand CheckHands[] = {
    {{QRect(0, 0, 58, 88), 0.3, 3.0, 77, 5}, 3},
    {{QRect(0, 0, 48, 75), -0.25, 3.0, 91, 5}, 7},
    {{QRect(0, 0, 70, 60), 0.35, 3.0, 13, 6}, 4},
};

[[noreturn]] void Fail(const char* what)
{
    std::fprintf(stderr, "make_digits: %s\n", what);
    std::exit(1);
}

} // namespace

int main(int argc, char** argv)
{
    const bool check = argc == 3 && std::string(argv[2]) == "check";
    if (argc != 2 && !check) {
        std::fprintf(stderr, "usage: make_digits <folder> [check]\n");
        return 2;
    }
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    TApplication app(argc, argv);
    const QString folder = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    if (!QDir().mkpath(folder))
        Fail("cannot make the output folder");

    // The network's guesses play no part in the sample, but the same run
    // should always show the same ones.
    SetSeedClock([] { return std::time_t{1700000000}; });

    std::optional<QString> fileAnswer;
    Seams::fileDialog = [&](const TFileDialog&) { return fileAnswer; };
    Seams::messageBox = [](const QString&, const QString& text) { Fail(qPrintable(text)); };
    CreateForms();

    // "Новый проект": 100 cells (a 10 x 10 retina), 10 classes, 25 hidden neurons.
    Seams::modal = [](TForm&) {
        Form6->Edit1->setText(QStringLiteral("100"));
        Form6->Edit2->setText(QStringLiteral("10"));
        Form6->Edit3->setText(QStringLiteral("25"));
        Form6->Button1->click();
    };
    Form1->N15->trigger();
    Seams::modal = nullptr;
    if (SmImForm->retinaWidth != 10 || !Form7->isVisible())
        Fail("the new project was not made");
    // The default names are the class numbers "0".."9"; "ОК" hands them to
    // the retina view's list.
    Form7->Button1->click();
    if (SmImForm->ComboBox1->count() != 10)
        Fail("the class list does not hold ten names");

    Form1->N3->trigger(); // "Холст" / "Показать"
    std::vector<TSampleHand> samples(std::begin(Hands), std::end(Hands));
    if (check)
        samples.assign(std::begin(CheckHands), std::end(CheckHands));
    for (const TSampleHand& sample : samples) {
        Form1->N4->trigger(); // "Холст" / "Очистить"
        const std::vector<digits::THand> hands = digits::Row(sample.hand, sample.shift);
        std::vector<QRect> boxes;
        for (int d = 0; d < 10; ++d) {
            digits::Draw(d, hands[d]);
            boxes.push_back(hands[d].box);
        }
        Form1->N6->trigger(); // "Последовательность" / "С холста"
        std::vector<bool> taken(10, false);
        for (int k = 0; k < 10; ++k) {
            SmImForm->Button1->click(); // ">>"
            if (!HintForm->isVisible())
                Fail("fewer figures on the canvas than digits drawn");
            const std::size_t d = digits::NearestBox(boxes);
            if (taken[d])
                Fail("a digit fell apart into several figures");
            taken[d] = true;
            digits::ChooseClass(static_cast<int>(d));
            SmImForm->Button2->click(); // "Добавить в список"
        }
        SmImForm->Button1->click();
        if (SmImForm->Button1->isEnabled())
            Fail("more figures on the canvas than digits drawn");
    }

    const QString sequence = folder + (check ? QStringLiteral("/digits_check.llt") : QStringLiteral("/digits.llt"));
    fileAnswer = sequence;
    Form1->N8->trigger(); // "Последовательность" / "Сохранить"
    std::printf("make_digits: %u samples of %u cells in %s, the names beside it\n", TrainingSequence.GetCount(),
                TrainingSequence.GetDimension(), qPrintable(sequence));

    DestroyForms();
    return 0;
}
