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
    // The box shows the run settings' "keepGoing" whenever they change; a
    // tick of its own holds for this window, as it always did.
    CheckBox1->setChecked(Project.RunSettings().keepGoing);
}

void TLearnForm::ShowTraining(TTrainingMethod method)
{
    stochastic = method == TTrainingMethod::Stochastic;
    ShowModal();
}

void TLearnForm::ProjectChanged(TProjectChange change)
{
    switch (change) {
    case TProjectChange::Opened:
        ClearProgress();
        CheckBox1->setChecked(Project.RunSettings().keepGoing);
        break;
    case TProjectChange::RunSettings:
        CheckBox1->setChecked(Project.RunSettings().keepGoing);
        break;
    case TProjectChange::Network:
        // Another network: the run's best weights are not its own.
        DropRun();
        break;
    default:
        break;
    }
}

TRunSettings TLearnForm::Settings() const
{
    TRunSettings settings = Project.RunSettings();
    settings.step.method = stochastic ? TTrainingMethod::Stochastic : TTrainingMethod::BackPropagation;
    settings.keepGoing = CheckBox1->isChecked();
    return settings;
}

bool TLearnForm::StartRun()
{
    DropRun();
    const TRunSettings settings = Settings();
    std::unique_ptr<THeldOutSet> set;
    if (!settings.heldOutPath.empty()) {
        set = std::make_unique<THeldOutSet>();
        const std::string refusal = LoadHeldOut(settings.heldOutPath, Project.Net(), Project.ClassNames(), *set);
        if (!refusal.empty()) {
            Timer1->stop();
            MessageBox(TApplication::Title(),
                       QStringLiteral("Обучение не начато: ") + QString::fromStdString(refusal) + QStringLiteral("."));
            return false;
        }
    }
    heldOut_ = std::move(set);
    run_ = std::make_unique<TTrainingRun>(Project, settings, heldOut_.get());
    return true;
}

void TLearnForm::FinishRun()
{
    if (!run_)
        return;
    // Forgotten first: putting the best weights back replaces the network.
    const std::unique_ptr<TTrainingRun> run = std::move(run_);
    const std::unique_ptr<THeldOutSet> set = std::move(heldOut_);
    run->Finish();
}

void TLearnForm::DropRun()
{
    run_.reset();
    heldOut_.reset();
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
    DropRun();
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
    FinishRun();
}

void TLearnForm::Button1Click()
{
    Timer1->stop();
    FinishRun();
}

void TLearnForm::Button2Click()
{
    if (!ReadyToTrain())
        return;
    FinishRun();
    if (!StartRun())
        return;
    Timer1->start();
    patternIndex = 0;
    correctCount = 0;
    epochCount = 0;
    barStep = static_cast<float>(BarAreaWidth) / static_cast<float>(TrainingSequence.GetCount());
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
    if (TrainingSequence.GetCount() == 0 || !CurrentNet) {
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
    // "Шаг" before "Пуск", or after a run ended, begins one.
    if (!run_ && !StartRun())
        return;
    patternIndex = 0;
    correctCount = 0;
    ++epochCount;
    const TRunEpoch& epoch = run_->Epoch([this](const TPatternAnswer& answer) {
        DrawBar(answer);
        if (answer.correct)
            ++correctCount;
        ++patternIndex;
    });

    const std::uint32_t count = epoch.elements;
    const bool perfect = count > 0 && epoch.correct == count;
    ProgressBar1->setValue(static_cast<int>(100 * static_cast<std::int64_t>(correctCount) / count));
    if (epoch.stop != TRunStop::None && epoch.stop != TRunStop::Perfect) {
        // The epoch limit, the target share or the patience.
        Timer1->stop();
        Label1->SetCaption(QStringLiteral("Остановлено: ") + QString::number(epochCount));
        FinishRun();
    } else if (perfect) {
        // The box is read now: it may have changed since the run began.
        if (!CheckBox1->isChecked()) {
            Timer1->stop();
            FinishRun();
        }
        Label1->SetCaption(QStringLiteral("Готово, шагов: ") + QString::number(epochCount));
    } else {
        Label1->SetCaption(QString::number(epochCount) + QStringLiteral(" шаг: ") +
                           QString::number(correctCount) + QStringLiteral(" из ") + QString::number(count));
    }
}
