#include "project/Checking.h"

#include "images/ClassNames.h"
#include "project/Learning.h"

#include <map>
#include <unordered_map>

std::string CheckRefusal(const TNeuralNet* net, const std::vector<std::string>& projectNames,
                         const TSequenceWithNames& file, TClassMap& map)
{
    if (net == nullptr || net->outputCount == 0 || net->layers.empty())
        return "сети ещё нет";
    const PatternRing& sequence = file.sequence;
    const std::uint32_t inputs = NetworkInputCount(*net);
    if (sequence.GetDimension() != inputs)
        return "размер элемента в файле (" + std::to_string(sequence.GetDimension()) +
               ") не совпадает с числом входов сети (" + std::to_string(inputs) + ")";
    if (sequence.GetCount() == 0)
        return "в файле нет образцов";
    if (!file.namesRead)
        return "нет файла имён классов «" + file.namesPath +
               "» (или его нельзя прочитать), а классы файла сравниваются с классами проекта по именам";
    std::unordered_map<std::string, std::int32_t> project;
    for (std::size_t k = projectNames.size(); k-- > 0;)
        project[StorableClassName(projectNames[k], k)] = static_cast<std::int32_t>(k); // the first of equal names wins
    map.projectClass.assign(file.names.size(), -1);
    bool common = false;
    for (std::size_t k = 0; k < file.names.size(); ++k)
        if (const auto found = project.find(StorableClassName(file.names[k], k)); found != project.end()) {
            map.projectClass[k] = found->second;
            common = true;
        }
    if (!common)
        return "ни одно имя класса в файле «" + file.namesPath + "» не совпадает с именами классов проекта";
    return {};
}

TCheckReport CheckNetwork(const TNeuralNet& net, const TSequenceWithNames& file, const TClassMap& map)
{
    const PatternRing& sequence = file.sequence;
    const std::vector<std::string>& fileNames = file.names;
    TCheckReport report;
    // A copy answers: the network being trained keeps its own last outputs.
    TNeuralNet probe(net);
    std::vector<std::int8_t> scratch;
    report.confusion.Reset(probe.outputCount <= MaxConfusionClasses ? probe.outputCount : 0);
    report.answers.reserve(sequence.GetCount());
    report.margins.reserve(sequence.GetCount());
    std::map<std::int64_t, std::uint64_t> apart; // by the file's class
    for (const TAbsImage& e : sequence.FileOrder()) {
        const std::int32_t fileClass = e.ClassIndex;
        const bool named = fileClass >= 0 && static_cast<std::size_t>(fileClass) < map.projectClass.size();
        const std::int32_t trueClass = named ? map.projectClass[static_cast<std::size_t>(fileClass)] : -1;
        if (trueClass < 0) {
            ++apart[fileClass];
            ++report.apart;
            report.answers.push_back({-1, 0});
            report.margins.push_back(0.0f);
            continue;
        }
        const std::uint32_t answer = Classify(probe, e, scratch).index;
        ++report.total;
        if (!ClassHasOutput(trueClass, probe.outputCount))
            ++report.outside;
        else if (answer == static_cast<std::uint32_t>(trueClass))
            ++report.right;
        report.answers.push_back({trueClass, answer});
        report.margins.push_back(AnswerMargin(probe, trueClass));
        if (report.confusion.Classes() > 0)
            report.confusion.Add(trueClass, answer);
    }
    for (const auto& [fileClass, elements] : apart) {
        std::string name;
        if (fileClass < 0)
            name = "без класса";
        else if (static_cast<std::size_t>(fileClass) < fileNames.size())
            name = fileNames[static_cast<std::size_t>(fileClass)];
        else
            name = "класс " + std::to_string(fileClass) + " без имени";
        report.apartClasses.push_back({std::move(name), elements});
    }
    return report;
}
