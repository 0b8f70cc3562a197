#include "forms/Unit15.h"

#include <charconv>

#include "framework/Application.h"
#include "framework/Convert.h"
#include "project/Globals.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>

#include <cmath>

TRunSettingsForm* RunSettingsForm = nullptr;

const QString TRunSettingsForm::ClockSeedText = QStringLiteral("от часов");

namespace {

// The largest seed a project file keeps.
constexpr std::uint64_t MaxSeed = 0x7fffffffffffffffull;
// The largest epoch limit a project file keeps.
constexpr std::int32_t MaxEpochLimit = 1000000000;

// A decimal number with the point as separator, nothing around it.
double StrToFloat(const QString& text)
{
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::RejectGroupSeparator);
    bool ok = false;
    const double value = c.toDouble(text, &ok);
    if (!ok || text != text.trimmed() || !std::isfinite(value))
        throw EConvertError(QStringLiteral("'%1' is not a valid floating point value").arg(text));
    return value;
}

// The shortest decimal text that reads back as the same float: 0.1, not
// the 0.100000001490116 of its double.
QString ShortestText(float value)
{
    char text[32];
    const auto r = std::to_chars(text, text + sizeof text, value);
    return QString::fromLatin1(text, static_cast<int>(r.ptr - text));
}

// A whole number from 0 to MaxSeed.
std::uint64_t StrToSeed(const QString& text)
{
    bool ok = !text.isEmpty();
    for (const QChar c : text)
        ok = ok && c >= u'0' && c <= u'9';
    const qulonglong value = ok ? text.toULongLong(&ok) : 0;
    if (!ok || value > MaxSeed)
        throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(text));
    return value;
}

double InRange(double value, double lo, double hi, const QString& what)
{
    if (!(value >= lo && value <= hi))
        throw ERunSettingsError(QStringLiteral("%1: нужно число от %2 до %3.")
                                    .arg(what, FloatToStr(lo), FloatToStr(hi)));
    return value;
}

} // namespace

ERunSettingsError::ERunSettingsError(const QString& message)
    : std::runtime_error(message.toStdString())
{
}

TRunSettings ReadRunSettings(const TRunSettings& base, const TRunSettingsFields& fields)
{
    TRunSettings settings = base;
    settings.step.learningRate =
        static_cast<float>(InRange(StrToFloat(fields.rate), 0.000001, 100.0, QStringLiteral("Скорость обучения")));
    settings.step.momentum =
        static_cast<float>(InRange(StrToFloat(fields.momentum), 0.0, 0.99, QStringLiteral("Момент")));
    const std::int32_t epochs = StrToInt(fields.maxEpochs);
    InRange(epochs, 0, MaxEpochLimit, QStringLiteral("Предел эпох"));
    settings.maxEpochs = static_cast<std::uint64_t>(epochs);
    const QString seed = fields.seed.trimmed();
    if (seed.isEmpty() || seed == TRunSettingsForm::ClockSeedText)
        settings.seed.reset();
    else
        settings.seed = StrToSeed(seed);
    settings.heldOutPath = LocalPath(fields.heldOut.trimmed());
    settings.keepBest = fields.keepBest;
    settings.keepGoing = fields.keepGoing;
    return settings;
}

TRunSettingsForm::TRunSettingsForm()
    : TForm(QStringLiteral("Параметры обучения")),
      OpenDialog1(QStringLiteral("Обучающая последовательность|*.llt"), QStringLiteral("llt"))
{
    SetFormFont(QStringLiteral("MS Sans Serif"), -11);
    SetBounds(380, 260, 330, 190);

    Label1 = new TLabel(this, 8, 10, QStringLiteral("Скорость обучения:"));
    Edit1 = Place(new QLineEdit(this), 150, 8, 80, 21);
    Label2 = new TLabel(this, 8, 34, QStringLiteral("Момент (0…0,99):"));
    Edit2 = Place(new QLineEdit(this), 150, 32, 80, 21);
    Label3 = new TLabel(this, 8, 58, QStringLiteral("Предел эпох (0 — нет):"));
    Edit3 = Place(new QLineEdit(this), 150, 56, 80, 21);
    Label4 = new TLabel(this, 8, 82, QStringLiteral("Зерно весов:"));
    Edit4 = Place(new QLineEdit(this), 150, 80, 120, 21);
    Edit4->setToolTip(QStringLiteral("Целое число или «от часов»"));
    Label5 = new TLabel(this, 8, 106, QStringLiteral("Проверка на файле:"));
    Edit5 = Place(new QLineEdit(this), 130, 104, 160, 21);
    Edit5->setToolTip(QStringLiteral("Последовательность .llt, проверяемая после каждой эпохи; пусто — нет"));
    Button3 = Place(new QPushButton(QStringLiteral("…"), this), 294, 104, 28, 21);
    CheckBox1 = Place(new QCheckBox(QStringLiteral("Сохранять веса лучшей эпохи"), this), 8, 130, 310, 17);
    CheckBox2 = Place(new QCheckBox(QStringLiteral("Продолжать принудительно"), this), 8, 148, 310, 17);
    Button1 = Place(new QPushButton(QStringLiteral("ОК"), this), 8, 168, 75, 19);
    Button2 = Place(new QPushButton(QStringLiteral("Отмена"), this), 90, 168, 75, 19);

    Handle(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    Handle(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
    Handle(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
}

void TRunSettingsForm::FormShow()
{
    const TRunSettings& settings = Project.RunSettings();
    Edit1->setText(ShortestText(settings.step.learningRate));
    Edit2->setText(ShortestText(settings.step.momentum));
    Edit3->setText(IntToStr(static_cast<std::int64_t>(settings.maxEpochs)));
    Edit4->setText(settings.seed ? QString::number(*settings.seed) : ClockSeedText);
    Edit5->setText(ShownPath(settings.heldOutPath));
    CheckBox1->setChecked(settings.keepBest);
    CheckBox2->setChecked(settings.keepGoing);
}

void TRunSettingsForm::Button1Click()
{
    const TRunSettings settings = ReadRunSettings(
        Project.RunSettings(), {Edit1->text(), Edit2->text(), Edit3->text(), Edit4->text(), Edit5->text(),
                                CheckBox1->isChecked(), CheckBox2->isChecked()});
    // A seed other than the network's own draws the network anew from it.
    const bool reseed = settings.seed && settings.seed != Project.State().seed;
    if (reseed && Project.Unsaved() &&
        Ask(TApplication::Title(), QStringLiteral("Веса сети будут заданы заново из зерна %1. Продолжить?")
                                       .arg(*settings.seed)) != Seams::TAnswer::Yes)
        return;
    Project.SetRunSettings(settings);
    if (reseed)
        Project.ReseedNetwork(*settings.seed);
    close();
}

void TRunSettingsForm::Button2Click()
{
    close();
}

void TRunSettingsForm::Button3Click()
{
    OpenDialog1.FileName = Edit5->text();
    if (OpenDialog1.Execute(this))
        Edit5->setText(OpenDialog1.FileName);
}
