#include "forms/Unit6.h"

#include "forms/Globals.h"
#include "forms/Unit3.h"
#include "forms/Unit7.h"
#include "framework/Application.h"
#include "framework/Convert.h"
#include "images/Globals.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>

#include <cmath>
#include <memory>
#include <vector>

TForm6* Form6 = nullptr;

TForm6::TForm6()
    : TForm(QStringLiteral("Быстро создать"))
{
    SetFormFont(QStringLiteral("MS Sans Serif"), -11);
    SetBounds(400, 300, 185, 97);

    GroupBox1 = Place(new QGroupBox(QStringLiteral("Последовательность"), this), 0, 0, 185, 73);
    Label1 = new TLabel(GroupBox1, 8, 16, QStringLiteral("Разм. элементов:"));
    Edit1 = Place(new QLineEdit(QStringLiteral("100"), GroupBox1), 104, 16, 73, 21);
    Label2 = new TLabel(GroupBox1, 48, 32, QStringLiteral("Классов:"));
    Edit2 = Place(new QLineEdit(QStringLiteral("10"), GroupBox1), 104, 32, 73, 21);
    Label3 = new TLabel(GroupBox1, 24, 48, QStringLiteral("Ориент. длина:"));
    Edit3 = Place(new QLineEdit(QStringLiteral("25"), GroupBox1), 104, 48, 73, 21);
    Button1 = Place(new QPushButton(QStringLiteral("ОК"), this), 8, 80, 75, 17);

    setTabOrder(Edit1, Edit2);
    setTabOrder(Edit2, Edit3);
    setTabOrder(Edit3, Button1);
    Handle(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
}

EProjectSizeError::EProjectSizeError(const QString& message)
    : std::runtime_error(message.toStdString())
{
}

TProjectSizes ReadProjectSizes(const QString& elementSize, const QString& classCount,
                               const QString& hiddenCount)
{
    TProjectSizes sizes;
    sizes.elementSize = StrToInt(elementSize);
    sizes.classCount = StrToInt(classCount);
    sizes.hiddenCount = StrToInt(hiddenCount);

    const auto check = [](std::int32_t value, std::int32_t limit, const char* what) {
        if (value < 1 || value > limit)
            throw EProjectSizeError(QString::fromUtf8(what) + QStringLiteral(" должно быть от 1 до ") +
                                    IntToStr(limit) + QStringLiteral(", а не ") + IntToStr(value) +
                                    QStringLiteral("."));
    };
    check(sizes.elementSize, MaxElementSize, "Число клеток элемента");
    check(sizes.classCount, MaxClassCount, "Число классов");
    check(sizes.hiddenCount, MaxHiddenCount, "Число нейронов скрытого слоя");

    const auto inputs = static_cast<std::uint64_t>(sizes.elementSize);
    const auto hidden = static_cast<std::uint64_t>(sizes.hiddenCount);
    const auto outputs = static_cast<std::uint64_t>(sizes.classCount);
    const std::uint64_t weights = (inputs + 1) * hidden + (hidden + 1) * outputs;
    if (weights > MaxWeightCount)
        throw EProjectSizeError(QStringLiteral("Сеть слишком велика: ") + IntToStr(static_cast<std::int64_t>(weights)) +
                                QStringLiteral(" весов, допустимо не более ") +
                                IntToStr(static_cast<std::int64_t>(MaxWeightCount)) + QStringLiteral("."));
    return sizes;
}

std::uint32_t RetinaSide(std::uint32_t elementSize)
{
    return static_cast<std::uint32_t>(std::sqrt(static_cast<double>(elementSize)));
}

void TForm6::Button1Click()
{
    const TProjectSizes sizes = ReadProjectSizes(Edit1->text(), Edit2->text(), Edit3->text());
    const auto inputs = static_cast<std::uint32_t>(sizes.elementSize);
    const auto classes = static_cast<std::uint32_t>(sizes.classCount);
    const auto hidden = static_cast<std::uint32_t>(sizes.hiddenCount);

    // The new network is built before anything changes: should it not fit in
    // memory, the old project stays as it was.
    auto net = std::make_unique<TNeuralNet>(2, std::vector<std::uint32_t>{inputs, hidden, classes}, 0.68f,
                                            0.0f, 0.0f, 1.0f, 1.0f);

    TrainingSequence.Clear();
    TrainingSequence.SetDimension(inputs);
    const std::uint32_t side = RetinaSide(inputs);
    SmImForm->retinaWidth = static_cast<std::int32_t>(side);
    SmImForm->retinaHeight = static_cast<std::int32_t>(side);
    RetinaImage.Resize(side, side);

    TStringGrid* grid = Form7->StringGrid1;
    grid->SetRowCount(sizes.classCount + 1);
    grid->SetCell(0, 0, QStringLiteral("Номер"));
    grid->SetCell(1, 0, QStringLiteral("Имя"));
    for (int r = 1; r <= sizes.classCount; ++r) {
        // Each class is named by its own number until the user renames it.
        const QString number = IntToStr(r - 1);
        grid->SetCell(0, r, number);
        grid->SetCell(1, r, number);
    }

    CurrentNet.reset();
    CurrentNet = std::move(net);

    close();
    Form7->Show();
}
