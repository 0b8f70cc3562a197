#include "project/Checking.h"

#include "project/Learning.h"

std::string CheckRefusal(const TNeuralNet* net, const PatternRing& sequence)
{
    if (net == nullptr || net->outputCount == 0 || net->layers.empty())
        return "сети ещё нет";
    const std::uint32_t inputs = NetworkInputCount(*net);
    if (sequence.Dimension != inputs)
        return "размер элемента в файле (" + std::to_string(sequence.Dimension) +
               ") не совпадает с числом входов сети (" + std::to_string(inputs) + ")";
    if (sequence.Count == 0 || sequence.Current == nullptr)
        return "в файле нет образцов";
    return {};
}

TCheckReport CheckNetwork(const TNeuralNet& net, const PatternRing& sequence)
{
    TCheckReport report;
    // A copy answers: the network being trained keeps its own last outputs.
    TNeuralNet probe(net);
    std::vector<std::int8_t> scratch;
    report.confusion.Reset(probe.outputCount <= MaxConfusionClasses ? probe.outputCount : 0);
    report.answers.reserve(sequence.Count);
    report.margins.reserve(sequence.Count);
    const TAbsImage* e = sequence.Current;
    for (std::uint32_t k = 0; k < sequence.Count && e != nullptr; ++k) {
        e = e->Next;
        const std::uint32_t answer = Classify(probe, *e, scratch).index;
        ++report.total;
        if (!ClassHasOutput(e->ClassIndex, probe.outputCount))
            ++report.outside;
        else if (answer == static_cast<std::uint32_t>(e->ClassIndex))
            ++report.right;
        report.answers.push_back({e->ClassIndex, answer});
        report.margins.push_back(AnswerMargin(probe, e->ClassIndex));
        if (report.confusion.Classes() > 0)
            report.confusion.Add(e->ClassIndex, answer);
    }
    return report;
}
