#include "project/Learning.h"

#include "project/Text.h"

#include <algorithm>
#include <cmath>
#include <cstring>

std::uint32_t NetworkInputCount(const TNeuralNet& net)
{
    return net.layers.empty() ? 0 : net.layers.front().inputCount;
}

const std::int8_t* NetworkInput(const TAbsImage& image, std::size_t inputs,
                                std::vector<std::int8_t>& scratch)
{
    const std::size_t cells = std::min<std::size_t>(image.Size, image.Cells.size());
    // The buffer itself serves when it holds the inputs followed by a 1:
    // either the bias byte right after all the cells, or a cell of 1 in the
    // bias input's place of a longer image.
    if (cells >= inputs && image.Cells.size() > inputs && image.Cells[inputs] == 1)
        return image.Cells.data();
    scratch.resize(inputs + 1);
    const std::size_t copied = std::min(cells, inputs);
    if (copied > 0)
        std::memcpy(scratch.data(), image.Cells.data(), copied);
    std::fill(scratch.begin() + static_cast<std::ptrdiff_t>(copied), scratch.end() - 1, std::int8_t{0});
    scratch[inputs] = 1;
    return scratch.data();
}

void BuildTarget(std::int32_t classIndex, std::uint32_t outputCount, std::vector<std::int8_t>& target)
{
    target.assign(outputCount, 0);
    if (ClassHasOutput(classIndex, outputCount))
        target[static_cast<std::size_t>(classIndex)] = 1;
}

TWinner Classify(TNeuralNet& net, const TAbsImage& image, std::vector<std::int8_t>& scratch)
{
    net.ForwardBytes(NetworkInput(image, NetworkInputCount(net), scratch));
    return net.WinningOutput();
}

TPatternAnswer TPatternTrainer::Train(TNeuralNet& net, const TAbsImage& element, const TTrainingSettings& settings)
{
    BuildTarget(element.ClassIndex, net.outputCount, target_);
    const std::int8_t* input = NetworkInput(element, NetworkInputCount(net), input_);
    if (settings.method == TTrainingMethod::Stochastic)
        net.TrainStochastic(input, target_.data(), settings.stepWidth);
    else
        net.TrainBytes(input, target_.data(), settings.learningRate, settings.momentum);
    const TWinner w = net.WinningOutput();
    TPatternAnswer answer;
    answer.winner = w.index;
    answer.best = w.value;
    answer.correct = ClassHasOutput(element.ClassIndex, net.outputCount) &&
                     w.index == static_cast<std::uint32_t>(element.ClassIndex);
    answer.trueClass = element.ClassIndex;
    return answer;
}

float AnswerError(const TNeuralNet& net, std::int32_t classIndex)
{
    float sum = 0.0f;
    for (std::uint32_t i = 0; i < net.outputCount; ++i) {
        const float target = classIndex >= 0 && static_cast<std::uint32_t>(classIndex) == i ? 1.0f : 0.0f;
        sum += std::fabs(net.outputs[i] - target);
    }
    return sum;
}

float AnswerMargin(const TNeuralNet& net, std::int32_t classIndex)
{
    const bool has = ClassHasOutput(classIndex, net.outputCount);
    // Outputs compete from 0.0 on, as in the winner rule.
    float other = 0.0f;
    for (std::uint32_t i = 0; i < net.outputCount; ++i)
        if (!has || i != static_cast<std::uint32_t>(classIndex))
            other = std::max(other, net.outputs[i]);
    return other - (has ? net.outputs[classIndex] : 0.0f);
}

std::string SequenceRefusal(const TNeuralNet& net, const PatternRing& sequence)
{
    const std::uint32_t inputs = NetworkInputCount(net);
    if (sequence.GetDimension() != inputs)
        return "Размер элементов последовательности (" + std::to_string(sequence.GetDimension()) +
               ") не совпадает с числом входов сети (" + std::to_string(inputs) +
               "). Создайте проект с таким размером элемента («Файл» → «Новый проект») или загрузите "
               "проект, в котором сеть подходит к последовательности.";
    for (const TAbsImage& e : sequence.Elements())
        if (e.ClassIndex >= 0 && static_cast<std::uint32_t>(e.ClassIndex) >= net.outputCount)
            return "В последовательности есть образец класса " + std::to_string(e.ClassIndex) +
                   ", а у сети только " + Counted(net.outputCount, "выход", "выхода", "выходов") +
                   " (классы от 0 до " + std::to_string(static_cast<std::int64_t>(net.outputCount) - 1) +
                   "). Создайте проект с нужным числом классов («Файл» → «Новый проект»).";
    return {};
}
