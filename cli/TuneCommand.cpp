// trelis-cli tune: the settings of a network searched on a training
// sequence (project/Tuning.h), the best network written into a project.
#include "cli/Commands.h"
#include "cli/CommandKit.h"

#include "cli/Options.h"
#include "engine/Random.h"
#include "project/AtomicFile.h"
#include "project/FileReasons.h"
#include "project/Project.h"
#include "project/ProjectFile.h"
#include "project/Text.h"
#include "project/TextFiles.h"
#include "project/TrainingRun.h"
#include "project/Tuning.h"

#include <chrono>
#include <cmath>
#include <ostream>
#include <thread>

const char* const TuneHelp =
    "Использование: trelis-cli tune ОБУЧЕНИЕ.llt -o ПРОЕКТ.trelis [--hold-out ДОЛЯ | --validation ПРОВЕРКА.llt]\n"
    "                               [--jobs N] [--seed S] [--time-limit СЕКУНДЫ] [--fit stretch|aspect]\n"
    "\n"
    "Подбирает настройки сети: число нейронов скрытого слоя, скорость обучения\n"
    "и момент. Каждая настройка обучается с нескольких зёрен начальных весов до\n"
    "тех пор, пока доля верных ответов на отложенной части не перестаёт расти\n"
    "(или до предела эпох); берутся веса лучшей эпохи. Побеждает настройка с\n"
    "наибольшей средней долей верных на отложенной части. По ходу печатается\n"
    "таблица: настройка, средняя доля верных и её разброс, эпохи, время. В\n"
    "ПРОЕКТ записываются вся последовательность, имена классов, лучшая сеть,\n"
    "её зерно и настройки обучения. Если проверка шла на отложенной части,\n"
    "сеть лучшей настройки обучается заново на всей последовательности с зерна\n"
    "лучшего запуска до последней эпохи, в которой он был лучшим; с\n"
    "--validation записывается сама сеть лучшего запуска.\n"
    "\n"
    "План подбора зависит только от последовательности, зерна и параметров,\n"
    "а не от скорости машины: с теми же входами проект получается тем же байт\n"
    "в байт при любом --jobs.\n"
    "\n"
    "  -o, --output ПРОЕКТ      куда записать проект (обязательно)\n"
    "  --hold-out ДОЛЯ          какая доля элементов каждого класса откладывается\n"
    "                           для проверки (выбор по зерну; по умолчанию 0.2)\n"
    "  --validation ПРОВЕРКА.llt проверять на этой последовательности (классы —\n"
    "                           по именам), а обучать на всей ОБУЧЕНИЕ.llt\n"
    "  --jobs N                 сколько запусков идёт одновременно (по умолчанию —\n"
    "                           по числу ядер); каждый запуск — в одном потоке\n"
    "  --seed S                 зерно разбиения и начальных весов (зёрна запусков\n"
    "                           S, S+1, …); по умолчанию — от часов, оно печатается\n"
    "  --time-limit СЕКУНДЫ     не дольше: подбор, остановленный пределом,\n"
    "                           сохраняет лучшее из сделанного и сообщает об этом\n"
    "                           (тогда итог может меняться от запуска к запуску)\n"
    "  --fit stretch|aspect     как вырезаны фигуры последовательности (import\n"
    "                           --fit); проект запоминает это для recognise и\n"
    "                           predict (по умолчанию stretch)\n"
    "\n"
    "Ctrl+C останавливает подбор так же, как --time-limit.\n";

namespace {

std::string TuneOptions(TCommandLine& line, double& holdOut, std::uint64_t& jobs, std::optional<std::uint64_t>& seed,
                        std::optional<double>& timeLimit, TFigureFit& fit)
{
    std::string refusal;
    if (line.Has("hold-out") && line.Has("validation"))
        return "--hold-out и --validation вместе не задаются: проверка идёт либо на отложенной части, либо на файле";
    if (line.Has("hold-out")) {
        refusal = ParseDecimal("hold-out", line.values["hold-out"], 0.01, 0.9, holdOut);
        if (!refusal.empty())
            return refusal;
    }
    if (line.Has("jobs") && !(refusal = ParseWhole("jobs", line.values["jobs"], 1, 256, jobs)).empty())
        return refusal;
    if (line.Has("seed")) {
        std::uint64_t value = 0;
        if (!(refusal = ParseWhole("seed", line.values["seed"], 0, MaxSeed - 1000, value)).empty())
            return refusal;
        seed = value;
    }
    if (line.Has("time-limit")) {
        double value = 0.0;
        if (!(refusal = ParseDecimal("time-limit", line.values["time-limit"], 0.1, 1e7, value)).empty())
            return refusal;
        timeLimit = value;
    }
    return ParseFit(line, fit);
}

std::string RowText(const TTuneRow& row)
{
    return PadLeft(std::to_string(row.values.hidden), 7) + "  " + PadLeft(Fixed(row.values.rate, 3), 8) + "  " +
           PadLeft(Fixed(row.values.momentum, 2), 6) + "  " + PadLeft(Fixed(row.mean, 4), 9) + "  " +
           PadLeft(Fixed(row.spread, 4), 7) + "  " + PadLeft(Fixed(row.epochs, 1), 5) + "  " +
           PadLeft(Fixed(row.seconds, 1), 7) + " с";
}

// Prints how the search ended and puts its network, with its seed and
// settings, into the project.
void ReportAndAdopt(TTuneSearch& search, TProject& project, std::ostream& out)
{
    const TTuneResult& result = search.Result();
    const TTuneRow& best = result.rows[*result.best];
    if (result.cut)
        out << "Подбор остановлен раньше конца плана (предел времени или Ctrl+C): взято лучшее из сделанного, и в "
               "другой раз итог может быть другим.\n";
    out << "Лучшая настройка: скрытых " << best.values.hidden << ", скорость " << Fixed(best.values.rate, 3)
        << ", момент " << Fixed(best.values.momentum, 2) << ": верно на проверке " << Fixed(best.mean, 4)
        << " в среднем; лучший запуск — зерно " << result.bestSeed << ", эпоха " << result.bestEpoch << "\n";
    if (search.Refitted())
        out << "Сеть обучена заново на всей последовательности ("
            << Counted(project.Sequence().GetCount(), "элемент", "элемента", "элементов") << ", "
            << Counted(search.RefitEpochs(), "эпоха", "эпохи", "эпох") << ")\n";
    TRunSettings settings = project.RunSettings();
    settings.step.learningRate = best.values.rate;
    settings.step.momentum = best.values.momentum;
    settings.seed = result.bestSeed;
    project.SetRunSettings(settings);
    project.ReplaceNetwork(search.TakeNetwork(), result.bestSeed);
}

} // namespace

int TuneCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    const std::string command = args[0];
    TCommandLine line;
    const std::vector<TOptionRule> rules = {{"output"}, {"hold-out"},   {"validation"}, {"jobs"},
                                            {"seed"},   {"time-limit"}, {"fit"}};
    if (const int answered = ParseOrAnswer(args, rules, TuneHelp, 1, line, out, err); answered >= 0)
        return answered;
    if (!line.Has("output") || Extension(line.values["output"]) != ProjectFileExtension)
        return Refuse(err, command, "нужен файл проекта для записи с расширением .trelis (-o ПРОЕКТ.trelis)", CliUsage);
    const std::string output = line.values["output"];
    if (Extension(line.positional[0]) != "llt")
        return Refuse(err, command, "первый аргумент «" + line.positional[0] + "» должен быть последовательностью .llt",
                      CliUsage);
    double holdOut = 0.2;
    std::uint64_t jobs = std::max(std::thread::hardware_concurrency(), 1u);
    std::optional<std::uint64_t> seed;
    std::optional<double> timeLimit;
    TFigureFit fit = TFigureFit::Stretch;
    if (const std::string refusal = TuneOptions(line, holdOut, jobs, seed, timeLimit, fit); !refusal.empty())
        return Refuse(err, command, refusal, CliUsage);
    if (const std::string reason = WriteRefusal(output); !reason.empty())
        return Refuse(err, command, "проект «" + output + "» не записать: " + reason, CliFailed);
    const std::uint64_t base = seed ? *seed : static_cast<std::uint64_t>(SeedClockNow());

    TProject project;
    TSequenceWithNames loaded;
    std::string refusal = LoadSequence(line.positional[0], loaded, "tune", err);
    if (refusal.empty())
        refusal = NewProjectForSequence(project, loaded, 1, base, fit);
    THeldOutSet validation;
    if (refusal.empty() && line.Has("validation"))
        refusal = LoadHeldOut(line.values["validation"], project.Net(), project.ClassNames(), validation);
    if (!refusal.empty())
        return Refuse(err, command, refusal, CliFailed);
    const std::uint32_t classes = project.Net()->outputCount;
    TTuneSearch search(project.Sequence(), project.ClassNames(), classes, holdOut, base,
                       line.Has("validation") ? &validation : nullptr);
    if (!search.Refusal().empty())
        return Refuse(err, command, search.Refusal(), CliFailed);

    const TTunePlan& plan = search.Plan();
    out << "Подбор: обучение " << search.TrainCount() << ", проверка " << search.CheckCount() << ", классов "
        << classes << "; настроек " << plan.settings.size() << " по "
        << Counted(plan.seeds.size(), "зерну", "зерна", "зёрен") << " (с " << base << "), не больше "
        << plan.maxEpochs << " эпох, терпение " << plan.patience << ", потоков " << jobs << "\n";
    out << "скрытых  скорость  момент   верно  разброс  эпох    время\n";
    TStopSignals signals;
    const auto started = std::chrono::steady_clock::now();
    const TTuneResult& result = search.Run(
        static_cast<unsigned>(jobs), [&](const TTuneRow& row) { out << RowText(row) << "\n" << std::flush; },
        [&] {
            const double spent = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            return StopRequested() || (timeLimit && spent >= *timeLimit);
        });
    if (!search.HasNetwork())
        return Refuse(err, command, "подбор остановлен раньше, чем закончился хоть один запуск; проект не записан",
                      CliFailed);
    ReportAndAdopt(search, project, out);
    // The generator's state is saved with the project: the same for every run of the same search.
    RandomSeed(result.bestSeed);
    if (refusal = project.Save(output); !refusal.empty())
        return Refuse(err, command, refusal, CliFailed);
    out << "Проект записан: " << output << "\n";
    return CliOk;
}
