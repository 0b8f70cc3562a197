#include "forms/Unit4.h"

#include "forms/Globals.h"
#include "framework/Application.h"
#include "framework/Dialogs.h"

#include <QCheckBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

TLearnForm* LearnForm = nullptr;

const QString TLearnForm::EmptySequenceText = QStringLiteral("Последовательность пуста");
const QString TLearnForm::UnfitNetworkText = QStringLiteral("Сеть не подходит");

namespace {

constexpr int BarAreaWidth = 200; // the width of Image1 the bars are spread over
constexpr int BarHeight = 60;     // the height of Image1: a bar for an output of 1.0

} // namespace

TLearnForm::TLearnForm()
    : TForm(QStringLiteral("Обратное распространение")),
      TProjectListener(Project)
{
    SetFormFont(QStringLiteral("MS Sans Serif"), -11);
    SetBounds(300, 250, 250, 89);

    CheckBox1 = Place(new QCheckBox(this), 8, 0, 17, 17);
    CheckBox1->setToolTip(QStringLiteral("Продолжать принудительно"));
    Label1 = new TLabel(this, 43, 0);
    Button2 = Place(new QPushButton(QStringLiteral("Пуск"), this), 0, 18, 41, 17);
    Button1 = Place(new QPushButton(QStringLiteral("Стоп"), this), 0, 34, 41, 17);
    Button3 = Place(new QPushButton(QStringLiteral("Шаг"), this), 1, 56, 40, 17);
    Image1 = new TImage(this, 48, 16, 200, 60);
    ProgressBar1 = Place(new QProgressBar(this), 0, 80, 249, 9);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    Timer1 = new QTimer(this);
    Timer1->setInterval(1);

    Handle(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    Handle(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
    Handle(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
    Handle(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
}

void TLearnForm::ShowTraining(TTrainingMethod method)
{
    stochastic = method == TTrainingMethod::Stochastic;
    ShowModal();
}

void TLearnForm::ProjectChanged(TProjectChange change)
{
    if (change == TProjectChange::Opened)
        ClearProgress();
}

void TLearnForm::ClearProgress()
{
    Timer1->stop();
    TCanvas& canvas = Image1->Canvas();
    canvas.SetPenColor(ButtonFaceColor());
    canvas.SetBrushColor(ButtonFaceColor());
    canvas.Rectangle(0, 0, Image1->width(), Image1->height());
    ProgressBar1->setValue(0);
    Label1->SetCaption(QString());
    patternIndex = 0;
    correctCount = 0;
    epochCount = 0;
}

void TLearnForm::FormShow()
{
    TCanvas& canvas = Image1->Canvas();
    canvas.SetPenColor(ButtonFaceColor());
    canvas.SetBrushColor(ButtonFaceColor());
    canvas.Rectangle(0, 0, Image1->width(), Image1->height());
    Timer1->stop();
}

void TLearnForm::FormClose()
{
    Timer1->stop();
}

void TLearnForm::Button1Click()
{
    Timer1->stop();
}

void TLearnForm::Button2Click()
{
    if (!ReadyToTrain())
        return;
    Timer1->start();
    patternIndex = 0;
    correctCount = 0;
    epochCount = 0;
    barStep = static_cast<float>(BarAreaWidth) / static_cast<float>(TrainingSequence.Count);
}

void TLearnForm::Button3Click()
{
    RunEpoch();
}

void TLearnForm::Timer1Timer()
{
    RunEpoch();
}

bool TLearnForm::ReadyToTrain()
{
    if (TrainingSequence.Count == 0 || TrainingSequence.Current == nullptr || !CurrentNet) {
        // A failed load or the deletion of the last element can leave the
        // learning menu open on an empty sequence.
        Timer1->stop();
        Label1->SetCaption(EmptySequenceText);
        return false;
    }
    // A sequence loaded before any new project, or made for another one:
    // epochs could never succeed.
    const std::string refusal = SequenceRefusal(*CurrentNet, TrainingSequence);
    if (refusal.empty())
        return true;
    Timer1->stop();
    Label1->SetCaption(UnfitNetworkText);
    MessageBox(TApplication::Title(), QString::fromStdString(refusal));
    return false;
}

void TLearnForm::DrawBar(const TPatternAnswer& answer)
{
    TCanvas& canvas = Image1->Canvas();
    const int x = static_cast<int>(static_cast<float>(patternIndex) * barStep);
    // Several patterns share a column when there are more than 200: each
    // redraws it whole, so the last one shows.
    canvas.SetPenColor(ButtonFaceColor());
    canvas.MoveTo(x, 0);
    canvas.LineTo(x, BarHeight);
    canvas.SetPenColor(answer.correct ? clBlack : clYellow);
    canvas.MoveTo(x, 0);
    canvas.LineTo(x, static_cast<int>(static_cast<float>(BarHeight) * answer.best));
}

void TLearnForm::RunEpoch()
{
    if (!ReadyToTrain())
        return;
    patternIndex = 0;
    correctCount = 0;
    ++epochCount;
    TTrainingSettings settings;
    settings.method = stochastic ? TTrainingMethod::Stochastic : TTrainingMethod::BackPropagation;
    const TPatternEpochReport& report = Project.TrainEpoch(settings, [this](const TPatternAnswer& answer) {
        DrawBar(answer);
        if (answer.correct)
            ++correctCount;
        ++patternIndex;
    });

    const std::uint32_t count = report.elements;
    ProgressBar1->setValue(static_cast<int>(100 * static_cast<std::int64_t>(correctCount) / count));
    if (report.Perfect()) {
        if (!CheckBox1->isChecked())
            Timer1->stop();
        Label1->SetCaption(QStringLiteral("Готово, шагов: ") + QString::number(epochCount));
    } else {
        Label1->SetCaption(QString::number(epochCount) + QStringLiteral(" шаг: ") +
                           QString::number(correctCount) + QStringLiteral(" из ") + QString::number(count));
    }
}
