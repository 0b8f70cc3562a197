#include "cli/Commands.h"

#include "cli/CommandKit.h"
#include "cli/Options.h"
#include "engine/Random.h"
#include "images/ClassNames.h"
#include "images/PatternRing.h"
#include "images/SeriesFile.h"
#include "project/AtomicFile.h"
#include "project/Checking.h"
#include "project/Confusion.h"
#include "project/FileReasons.h"
#include "project/Learning.h"
#include "project/Project.h"
#include "project/ProjectFile.h"
#include "project/SeriesHeldOut.h"
#include "project/SeriesLoad.h"
#include "project/Text.h"
#include "project/TextFiles.h"
#include "project/TrainingRun.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <cstdio>
#include <limits>
#include <memory>
#include <ostream>
#include <sstream>

const char* const InfoHelp =
    "Использование: trelis-cli info ФАЙЛ\n"
    "\n"
    "Показывает, что содержит файл. Вид файла определяется по расширению:\n"
    "  .trelis  проект: последовательность (размерность, длина, память),\n"
    "           сетчатка, сеть (нейроны, слои, выходы, связи, память), классы\n"
    "  .llt     последовательность (имена классов берутся из .nam рядом с ней)\n"
    "  .ser     временной ряд: число значений, наименьшее и наибольшее\n";

const char* const TrainHelp =
    "Использование: trelis-cli train ВХОД -o ПРОЕКТ [параметры]\n"
    "\n"
    "Обучает сеть эпохами, как окно обучения, и записывает проект.\n"
    "ВХОД — проект .trelis (обучение продолжается с его весов на его\n"
    "последовательности) или последовательность .llt с именами классов в .nam\n"
    "рядом (новая сеть: входов — размерность, выходов — число классов).\n"
    "Проект временного ряда и проект, последовательность которого не подходит\n"
    "к его сети, не обучаются, как и в окне обучения.\n"
    "\n"
    "  -o, --output ПРОЕКТ      куда записать проект (обязательно); папка\n"
    "                           проверяется до начала обучения\n"
    "  --hidden H               нейронов скрытого слоя новой сети (по умолчанию 25)\n"
    "  --method backprop|stochastic\n"
    "                           обратное распространение (по умолчанию) или\n"
    "                           стохастическое обучение\n"
    "  --rate R                 скорость обучения обратного распространения\n"
    "                           (по умолчанию 0.1, как в окне обучения)\n"
    "  --momentum M             момент обратного распространения, от 0 до 0.99\n"
    "                           (по умолчанию 0)\n"
    "  --max-epochs N           не больше N эпох за этот запуск (по умолчанию 1000)\n"
    "  --seed S                 начальные веса новой сети и случайные шаги\n"
    "                           стохастического обучения зависят только от S;\n"
    "                           проект продолжает случайные шаги с того места,\n"
    "                           где они остановились при его записи\n"
    "  --target-accuracy A      остановиться после эпохи, в которой верных ответов\n"
    "                           не меньше доли A (от 0 до 1)\n"
    "  --patience N             остановиться, если N эпох подряд число верных\n"
    "                           ответов не превышало лучшего (с --validation —\n"
    "                           на отложенной последовательности)\n"
    "  --keep-going             не останавливаться после эпохи, в которой все\n"
    "                           элементы распознаны верно, а ждать другого\n"
    "                           условия остановки (как флажок окна обучения)\n"
    "  --validation ПРОВЕРКА.llt после каждой эпохи сообщать долю верных ответов на\n"
    "                           отложенной последовательности и записать веса\n"
    "                           первой эпохи, в которой она была наибольшей;\n"
    "                           классы сопоставляются по именам, как в evaluate\n"
    "  --fit stretch|aspect     как вырезаны фигуры последовательности (import\n"
    "                           --fit): новый проект запоминает это, и recognise\n"
    "                           и predict вырезают так же (по умолчанию stretch)\n"
    "\n"
    "Без --keep-going обучение останавливается после первой эпохи, в которой все\n"
    "элементы распознаны верно. После каждой эпохи печатаются её номер, число\n"
    "верных ответов и суммарная ошибка: сумма |выход - цель| по всем выходам и\n"
    "всем элементам, по выходам, которые дал шаг обучения на элементе (для\n"
    "обратного распространения — ответ сети до изменения весов). Ctrl+C\n"
    "останавливает обучение после текущей эпохи; проект записывается. Метод,\n"
    "скорость и момент записываются в проект как его настройки обучения.\n";

const char* const EvaluateHelp =
    "Использование: trelis-cli evaluate ПРОЕКТ ПОСЛЕДОВАТЕЛЬНОСТЬ.llt [--csv ФАЙЛ]\n"
    "\n"
    "Распознаёт сетью проекта каждый элемент последовательности и печатает долю\n"
    "верных ответов, полноту и точность по каждому классу и матрицу ошибок\n"
    "(строки — истинный класс, столбцы — ответ сети). Классы последовательности\n"
    "сопоставляются с классами проекта по именам (файл .nam рядом с ней):\n"
    "элементы классов, которых в проекте нет, не проверяются, а считаются\n"
    "отдельно и называются. Последовательность без файла имён или без единого\n"
    "общего с проектом имени не проверяется.\n"
    "\n"
    "Если у сети больше 40 выходов, вместо таблицы классов и матрицы печатаются\n"
    "итог по классам и 20 самых частых ошибок (истинный класс, ответ, число).\n"
    "\n"
    "  --csv ФАЙЛ               записать матрицу ошибок в ФАЙЛ (CSV) в длинной\n"
    "                           форме: строка «истина,ответ,число» на каждую\n"
    "                           пару классов, которая встретилась\n"
    "  --errors ПАПКА           записать в ПАПКУ картинку каждого неверного ответа:\n"
    "                           сетчатка, 8 точек на клетку, имя NNNN_КЛАСС_ОТВЕТ.png\n"
    "                           (NNNN — место элемента в последовательности с 1);\n"
    "                           в папке остаются ровно картинки этого запуска:\n"
    "                           картинки прежнего запуска удаляются, а папка с\n"
    "                           другими файлами не принимается\n"
    "  --errors-max N           не больше N картинок (по умолчанию 1000); сколько\n"
    "                           неверных ответов осталось без картинок, печатается\n";

namespace {

std::string SeriesFailureReason(const TSeriesFileResult& r)
{
    switch (r.status) {
    case SeriesFileStatus::CannotOpen:
        return r.openError != TFileOpenError::None ? FileOpenReason(r.openError) : "файл не удалось прочитать";
    case SeriesFileStatus::NoCount:
        return "файл пуст";
    case SeriesFileStatus::BadCount:
        return "в строке " + std::to_string(r.line) + " первое число — не целое число значений";
    case SeriesFileStatus::CountNotPositive:
        return "число значений не больше нуля";
    case SeriesFileStatus::CountTooLarge:
        return "число значений слишком велико";
    case SeriesFileStatus::TooFewValues:
        return "объявлено " + Counted(r.count, "значение", "значения", "значений") + ", а в файле их " +
               std::to_string(r.valuesRead);
    case SeriesFileStatus::BadValue:
        return "значение в строке " + std::to_string(r.line) + " — не число";
    case SeriesFileStatus::Ok:
        break;
    }
    return "неизвестная ошибка";
}

// The classes of the file the project does not have, as one line.
std::string ApartLine(const TCheckReport& check)
{
    std::string line = "Элементы классов, которых нет в проекте, не проверялись (" +
                       Counted(check.apart, "элемент", "элемента", "элементов") + "):";
    for (std::size_t k = 0; k < check.apartClasses.size(); ++k)
        line += (k == 0 ? " " : ", ") + check.apartClasses[k].name + " — " +
                std::to_string(check.apartClasses[k].elements);
    return line;
}

// ---------------------------------------------------------------- info

void PrintSequenceFigures(std::ostream& out, const TProjectFigures& f)
{
    out << "Последовательность\n"
        << "  Размерность: " << f.dimension << "\n"
        << "  Длина: " << f.length << "\n"
        << "  Память: " << f.sequenceMemory << " b\n";
}

void PrintClassCounts(std::ostream& out, const PatternRing& ring, const std::vector<std::string>& names)
{
    std::vector<std::uint32_t> counts(names.size(), 0);
    std::uint32_t outside = 0;
    for (const TAbsImage& e : ring.Elements()) {
        if (e.ClassIndex < 0 || e.ClassIndex >= static_cast<std::int64_t>(MaxClassCount)) {
            ++outside;
            continue;
        }
        const auto k = static_cast<std::size_t>(e.ClassIndex);
        if (k >= counts.size())
            counts.resize(k + 1, 0);
        ++counts[k];
    }
    out << "Классы: " << counts.size() << "\n";
    for (std::size_t k = 0; k < counts.size(); ++k)
        out << "  " << ShownClassName(names, k) << ": " << Counted(counts[k], "элемент", "элемента", "элементов")
            << "\n";
    if (outside > 0)
        out << "  элементов с недопустимым номером класса: " << outside << "\n";
}

int InfoProject(const std::string& path, std::ostream& out, std::ostream& err)
{
    TProjectState state;
    const std::string refusal = OpenProjectFile(path, state);
    if (!refusal.empty())
        return Refuse(err, "info", refusal, CliFailed);
    out << "Проект: " << path << "\n";
    const TProjectFigures f = ProjectFigures(state);
    PrintSequenceFigures(out, f);
    out << "Сетчатка\n"
        << "  X=" << f.retinaWidth << "\n"
        << "  Y=" << f.retinaHeight << "\n";
    out << "Сеть\n"
        << "  Нейронов: " << f.neurons << "\n"
        << "  Слоев: " << f.layers << "\n"
        << "  Выходов: " << f.outputs << "\n"
        << "  Связей: " << f.connections << "\n"
        << "  Память: " << f.networkMemory << " b\n"
        << "  Зерно начальных весов: " << (state.seed ? std::to_string(*state.seed) : std::string("неизвестно"))
        << "\n";
    out << "Вырезание фигур: " << FitName(state.fit)
        << (state.fit == TFigureFit::Aspect ? " (с сохранением пропорций)\n" : " (растяжение по обеим осям)\n");
    out << "Имена классов: " << state.classNames.size() << "\n";
    for (std::size_t k = 0; k < state.classNames.size(); ++k)
        out << "  " << k << ": " << state.classNames[k] << "\n";
    if (state.HasSeries())
        out << "Ряд\n"
            << "  Значений: " << state.series.count << "\n"
            << "  Наименьшее: " << FloatText(state.seriesMin) << "\n"
            << "  Наибольшее: " << FloatText(state.seriesMax) << "\n"
            << "  Окно: " << state.windowSize << "\n"
            << "  Обучение на первых: " << state.trainLength << "\n";
    return CliOk;
}

int InfoSequence(const std::string& path, std::ostream& out, std::ostream& err)
{
    TSequenceWithNames loaded;
    const std::string refusal = LoadSequence(path, loaded, "info", err);
    if (!refusal.empty())
        return Refuse(err, "info", refusal, CliFailed);
    out << "Последовательность: " << path << "\n";
    TProjectState state;
    state.sequence.Swap(loaded.sequence);
    PrintSequenceFigures(out, ProjectFigures(state));
    state.sequence.Swap(loaded.sequence);
    const std::uint32_t side = RetinaSide(loaded.sequence.GetDimension());
    out << "Сетчатка (квадратная)\n"
        << "  X=" << side << "\n"
        << "  Y=" << side << "\n";
    if (loaded.namesRead)
        out << "Имена классов: " << loaded.namesPath << ", " << loaded.names.size() << "\n";
    else
        out << "Имена классов: файл «" << loaded.namesPath << "» не найден или его нельзя прочитать\n";
    PrintClassCounts(out, loaded.sequence, loaded.names);
    return CliOk;
}

int InfoSeries(const std::string& path, std::ostream& out, std::ostream& err)
{
    const TSeriesFileResult r = ReadSeriesFile(path);
    if (!r.Ok())
        return Refuse(err, "info", "не удалось прочитать ряд из файла «" + path + "»: " + SeriesFailureReason(r),
                      CliFailed);
    const auto [low, high] = std::minmax_element(r.values.begin(), r.values.end());
    out << "Ряд: " << path << "\n"
        << "  Значений: " << r.values.size() << "\n"
        << "  Наименьшее: " << FloatText(*low) << "\n"
        << "  Наибольшее: " << FloatText(*high) << "\n";
    return CliOk;
}

} // namespace

int InfoCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    TCommandLine line;
    if (const int answered = ParseOrAnswer(args, {}, InfoHelp, 1, line, out, err); answered >= 0)
        return answered;
    const std::string& path = line.positional[0];
    const std::string ext = Extension(path);
    if (ext == ProjectFileExtension)
        return InfoProject(path, out, err);
    if (ext == "llt")
        return InfoSequence(path, out, err);
    if (ext == "ser")
        return InfoSeries(path, out, err);
    return Refuse(err, "info", "неизвестный вид файла «" + path + "»: нужен .trelis, .llt или .ser", CliUsage);
}

// ---------------------------------------------------------------- train

namespace {

std::string ProgressBar(std::uint64_t epoch, std::uint32_t done, std::uint32_t total)
{
    constexpr std::uint32_t width = 30;
    const auto filled = static_cast<std::uint32_t>(std::uint64_t{done} * width / std::max(total, 1u));
    return "\rЭпоха " + std::to_string(epoch) + " [" + std::string(filled, '#') + std::string(width - filled, '.') +
           "] " + std::to_string(done) + "/" + std::to_string(total);
}

// Why a project cannot be trained on its patterns, naming it: a series
// project, or a sequence its network cannot take. Empty when it can.
std::string PatternProjectRefusal(const TProject& project, const std::string& path)
{
    if (!project.Net() || project.Net()->layerCount == 0)
        return "в проекте «" + path + "» нет сети";
    if (project.State().HasSeries() && project.SeriesNetworkInPlace())
        return "проект «" + path + "» — проект временного ряда: его сеть обучается на окнах ряда "
               "(«Временной ряд» → «Обучение» или trelis-cli forecast), а не на образцах";
    if (project.Sequence().GetCount() == 0)
        return "в проекте «" + path + "» пустая последовательность";
    if (const std::string refusal = SequenceRefusal(*project.Net(), project.Sequence()); !refusal.empty())
        return "проект «" + path + "» нельзя обучать: " + refusal;
    return {};
}

// The run's options of train: method, rate, momentum and the stop rules.
std::string ParseTrainOptions(TCommandLine& line, TRunSettings& run, std::uint64_t& hidden)
{
    std::string refusal;
    if (line.Has("hidden"))
        refusal = ParseWhole("hidden", line.values["hidden"], 1, MaxHiddenCount, hidden);
    if (refusal.empty() && line.Has("method")) {
        const std::string& method = line.values["method"];
        if (method == "stochastic")
            run.step.method = TTrainingMethod::Stochastic;
        else if (method != "backprop")
            refusal = "неизвестный метод «" + method + "»: нужен backprop или stochastic";
    }
    for (const char* option : {"rate", "momentum"})
        if (refusal.empty() && line.Has(option) && run.step.method == TTrainingMethod::Stochastic)
            refusal = std::string("--") + option + " задаёт обратное распространение, а не стохастическое обучение";
    if (refusal.empty())
        refusal = ParseStepOptions(line, run);
    run.maxEpochs = 1000;
    if (refusal.empty() && line.Has("max-epochs"))
        refusal = ParseWhole("max-epochs", line.values["max-epochs"], 1, MaxEpochLimit, run.maxEpochs);
    if (refusal.empty() && line.Has("seed")) {
        std::uint64_t seed = 0;
        refusal = ParseWhole("seed", line.values["seed"], 0, MaxSeed, seed);
        run.seed = seed;
    }
    if (refusal.empty() && line.Has("target-accuracy")) {
        double target = 1.0;
        refusal = ParseFraction("target-accuracy", line.values["target-accuracy"], target);
        run.targetAccuracy = target;
    }
    if (refusal.empty() && line.Has("patience"))
        refusal = ParseWhole("patience", line.values["patience"], 1, MaxEpochLimit, run.patience);
    run.keepGoing = line.Has("keep-going");
    return refusal;
}

// Why the run stopped, as train prints it.
std::string StopText(const TRunEpoch& epoch, const TRunSettings& run, const std::string& target, bool checking)
{
    switch (epoch.stop) {
    case TRunStop::Perfect:
        return "все элементы распознаны верно";
    case TRunStop::Target:
        return "достигнута доля верных ответов " + target;
    case TRunStop::Patience:
        return Counted(run.patience, "эпоха", "эпохи", "эпох") + " подряд без улучшения" +
               (checking ? " на проверке" : "");
    case TRunStop::EpochLimit:
    case TRunStop::None:
        break;
    }
    return "достигнуто наибольшее число эпох (" + std::to_string(run.maxEpochs) + ")";
}

// Opens or builds the project train works on. Empty on success.
std::string TrainingProject(TCommandLine& line, const TRunSettings& run, std::uint64_t hidden, TFigureFit fit,
                            TProject& project, std::ostream& err, int& code)
{
    const std::string& input = line.positional[0];
    const std::string ext = Extension(input);
    code = CliFailed;
    if (ext == ProjectFileExtension) {
        code = CliUsage;
        if (line.Has("hidden"))
            return "--hidden задаёт только новую сеть, а обучение продолжается с проекта";
        if (line.Has("fit"))
            return "--fit задаёт способ вырезания новой сети, а у проекта он свой";
        code = CliFailed;
        std::string refusal = project.Open(input);
        return refusal.empty() ? PatternProjectRefusal(project, input) : refusal;
    }
    if (ext != "llt") {
        code = CliUsage;
        return "неизвестный вид файла «" + input + "»: нужен .trelis или .llt";
    }
    TSequenceWithNames loaded;
    std::string refusal = LoadSequence(input, loaded, "train", err);
    if (refusal.empty() && !loaded.namesRead)
        err << "trelis-cli train: файл имён классов «" << loaded.namesPath
            << "» не найден или его нельзя прочитать: классы названы номерами.\n";
    return refusal.empty() ? NewProjectForSequence(project, loaded, hidden, run.seed, fit) : refusal;
}

} // namespace

namespace {

// Trains epoch after epoch, a line for each, until the run stops or Ctrl+C
// asks; the reason it stopped.
std::string TrainEpochs(TTrainingRun& training, std::uint32_t count, const TRunSettings& run,
                        const std::string& targetAccuracy, bool checking, std::ostream& out,
                        const TCliTerminal& terminal)
{
    for (;;) {
        const std::uint64_t epoch = training.Last().epoch + 1;
        const std::uint32_t step = std::max(count / 50, 1u);
        std::uint32_t done = 0;
        const TRunEpoch& result = training.Epoch([&](const TPatternAnswer&) {
            if (terminal.progress && (++done % step == 0 || done == count))
                out << ProgressBar(epoch, done, count) << std::flush;
        });
        if (terminal.progress)
            out << "\r\033[K";
        out << "Эпоха " << epoch << ": верно " << result.correct << " из " << count << ", ошибка "
            << Fixed(result.totalError, 6) << "\n";
        if (result.checked) {
            out << "  проверка: верно " << result.heldOutRight << " из " << result.heldOutTotal << "\n";
            if (epoch == 1 && training.LastCheck().apart > 0)
                out << "  " << ApartLine(training.LastCheck()) << "\n";
        }
        if (StopRequested())
            return "прервано (Ctrl+C или сигнал завершения) после эпохи " + std::to_string(epoch);
        if (result.stop != TRunStop::None)
            return StopText(result, run, targetAccuracy, checking);
    }
}

} // namespace

int TrainCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                 const TCliTerminal& terminal)
{
    const std::string command = args[0];
    TCommandLine line;
    const std::vector<TOptionRule> rules = {
        {"output"},     {"hidden"}, {"method"},   {"max-epochs"},        {"seed"}, {"target-accuracy"},
        {"patience"},   {"validation"}, {"rate"}, {"momentum"}, {"fit"}, {"keep-going", false}};
    if (const int answered = ParseOrAnswer(args, rules, TrainHelp, 1, line, out, err); answered >= 0)
        return answered;
    // Every option is checked before any file is read.
    if (!line.Has("output"))
        return Refuse(err, command, "не указан файл проекта для записи (-o ПРОЕКТ)", CliUsage);
    const std::string output = line.values["output"];
    if (Extension(output) != ProjectFileExtension)
        return Refuse(err, command, "файл проекта «" + output + "» должен иметь расширение .trelis", CliUsage);
    TRunSettings run;
    std::uint64_t hidden = 25;
    TFigureFit fit = TFigureFit::Stretch;
    std::string refusal = ParseTrainOptions(line, run, hidden);
    if (refusal.empty())
        refusal = ParseFit(line, fit);
    if (!refusal.empty())
        return Refuse(err, command, refusal, CliUsage);
    // Nothing is trained that could not be saved.
    if (const std::string reason = WriteRefusal(output); !reason.empty())
        return Refuse(err, command, "проект «" + output + "» не записать: " + reason, CliFailed);
    TProject project;
    int code = CliFailed;
    if (refusal = TrainingProject(line, run, hidden, fit, project, err, code); !refusal.empty())
        return Refuse(err, command, refusal, code);
    THeldOutSet heldOut;
    const bool checking = line.Has("validation");
    if (checking)
        if (refusal = LoadHeldOut(line.values["validation"], project.Net(), project.ClassNames(), heldOut);
            !refusal.empty())
            return Refuse(err, command, refusal, CliFailed);
    // The stochastic trials draw on from where the generator stands: after
    // building a new network (as in the learning window after "Новый
    // проект"), or as the project was saved. A project saved without the
    // generator's state draws from --seed, or from the clock.
    if (Extension(line.positional[0]) == ProjectFileExtension && !project.State().generator)
        RandomSeed(run.seed ? *run.seed : static_cast<std::uint64_t>(SeedClockNow()));
    const std::uint32_t count = project.Sequence().GetCount();
    out << "Обучение: "
        << (run.step.method == TTrainingMethod::Stochastic ? "стохастическое" : "обратное распространение")
        << ", элементов " << count << "\n";
    TTrainingRun training(project, run, checking ? &heldOut : nullptr);
    const std::string stopReason =
        TrainEpochs(training, count, run, line.values["target-accuracy"], checking, out, terminal);
    out << "Остановлено: " << stopReason << ".\n";
    const bool putBack = training.Finish();
    TRunSettings kept = project.RunSettings();
    kept.step = run.step;
    project.SetRunSettings(kept);
    if (checking && (putBack || training.Rules().BestEpoch() > 0))
        out << "Записаны веса эпохи " << training.Rules().BestEpoch() << ": на проверке верно "
            << training.Rules().BestRight() << " из " << training.Last().heldOutTotal << ".\n";
    if (refusal = project.Save(output); !refusal.empty())
        return Refuse(err, command, refusal, CliFailed);
    out << "Проект записан: " << output << "\n";
    return CliOk;
}

// ---------------------------------------------------------------- evaluate

namespace {

// Networks of more outputs than this get a summary and the largest
// confusions instead of the table of classes and the whole matrix.
constexpr std::size_t FullTableClasses = 40;
constexpr std::size_t LargestConfusions = 20;

// a / b with four decimals; a dash when b is 0.
std::string Ratio(std::uint64_t a, std::uint64_t b)
{
    return b == 0 ? std::string("—") : Fixed(static_cast<double>(a) / static_cast<double>(b), 4);
}

// evaluate's options besides the two files: no empty value, and the cap
// on the pictures of wrong answers.
std::string EvaluateOptions(TCommandLine& line, std::uint64_t& mostPictures)
{
    for (const char* option : {"csv", "errors"})
        if (line.Has(option) && line.values[option].empty())
            return std::string("у параметра «--") + option + "» пустое значение";
    mostPictures = 1000;
    return line.Has("errors-max") ? ParseWhole("errors-max", line.values["errors-max"], 0, MaxEpochLimit, mostPictures)
                                  : std::string();
}

// The per-class counts of a check: elements, answers and right answers.
struct TClassCounts {
    std::vector<std::uint64_t> rows, columns, diagonal;
};

TClassCounts CountClasses(const TCheckReport& check, std::size_t k)
{
    TClassCounts counts{std::vector<std::uint64_t>(k, 0), std::vector<std::uint64_t>(k, 0),
                        std::vector<std::uint64_t>(k, 0)};
    for (const TElementAnswer& a : check.answers) {
        if (!ClassHasOutput(a.trueClass, static_cast<std::uint32_t>(k)))
            continue;
        ++counts.rows[static_cast<std::size_t>(a.trueClass)];
        ++counts.columns[a.answer];
        counts.diagonal[a.answer] += a.answer == static_cast<std::uint32_t>(a.trueClass);
    }
    return counts;
}

// For many classes: the mean recall and the largest confusions.
void PrintLargestConfusions(std::ostream& out, std::size_t k, const TClassCounts& counts,
                            const std::vector<TConfusionCount>& cells,
                            const std::function<std::string(std::int64_t)>& name)
{
    const auto& [rows, columns, diagonal] = counts;
    std::uint64_t present = 0;
    double recall = 0.0;
    for (std::size_t c = 0; c < k; ++c)
        if (rows[c] > 0) {
            ++present;
            recall += static_cast<double>(diagonal[c]) / static_cast<double>(rows[c]);
        }
    out << "\nКлассов у сети: " << k << ", из них в последовательности: " << present
        << ", средняя полнота по ним: " << (present == 0 ? std::string("—") : Fixed(recall / present, 4))
        << "\n(таблица классов и матрица ошибок печатаются, когда классов не больше " << FullTableClasses
        << "; полная матрица — в --csv)\n";
    std::vector<TConfusionCount> wrong;
    for (const TConfusionCount& cell : cells)
        if (cell.trueClass != static_cast<std::int32_t>(cell.answer))
            wrong.push_back(cell);
    std::stable_sort(wrong.begin(), wrong.end(),
                     [](const TConfusionCount& a, const TConfusionCount& b) { return a.count > b.count; });
    wrong.resize(std::min(wrong.size(), LargestConfusions));
    out << "\nСамые частые ошибки (истинный класс → ответ сети: элементов)\n";
    if (wrong.empty())
        out << "  ошибок нет\n";
    for (const TConfusionCount& cell : wrong)
        out << "  " << name(cell.trueClass) << " → " << name(cell.answer) << ": " << cell.count << "\n";
}

// For a few classes: each class's recall and precision, and the matrix.
void PrintClassTable(std::ostream& out, std::size_t k, const TClassCounts& counts,
                     const std::vector<TConfusionCount>& cells, const std::function<std::string(std::int64_t)>& name)
{
    const auto& [rows, columns, diagonal] = counts;
    std::vector<std::string> names(k);
    for (std::size_t c = 0; c < k; ++c)
        names[c] = name(static_cast<std::int64_t>(c));
    std::size_t nameWidth = TextWidth("класс");
    for (const std::string& n : names)
        nameWidth = std::max(nameWidth, TextWidth(n));
    out << "\n"
        << PadRight("класс", nameWidth) << "  " << PadLeft("элементов", 9) << "  " << PadLeft("полнота", 8)
        << "  " << PadLeft("точность", 8) << "\n";
    for (std::size_t c = 0; c < k; ++c)
        out << PadRight(names[c], nameWidth) << "  " << PadLeft(std::to_string(rows[c]), 9) << "  "
            << PadLeft(Ratio(diagonal[c], rows[c]), 8) << "  " << PadLeft(Ratio(diagonal[c], columns[c]), 8)
            << "\n";

    std::vector<std::uint64_t> matrix(k * k, 0);
    for (const TConfusionCount& cell : cells)
        if (ClassHasOutput(cell.trueClass, static_cast<std::uint32_t>(k)))
            matrix[static_cast<std::size_t>(cell.trueClass) * k + cell.answer] = cell.count;
    const std::string corner = "истина\\ответ";
    const std::size_t firstWidth = std::max(TextWidth(corner), nameWidth);
    std::size_t cellWidth = 1;
    for (std::size_t c = 0; c < k; ++c)
        cellWidth = std::max({cellWidth, TextWidth(names[c]), std::to_string(std::max(rows[c], columns[c])).size()});
    out << "\nМатрица ошибок (строки — истинный класс, столбцы — ответ сети)\n" << PadRight(corner, firstWidth);
    for (std::size_t c = 0; c < k; ++c)
        out << " " << PadLeft(names[c], cellWidth);
    out << "\n";
    for (std::size_t t = 0; t < k; ++t) {
        out << PadRight(names[t], firstWidth);
        for (std::size_t a = 0; a < k; ++a)
            out << " " << PadLeft(std::to_string(matrix[t * k + a]), cellWidth);
        out << "\n";
    }
}


} // namespace

int EvaluateCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    const std::string command = args[0];
    TCommandLine line;
    if (const int answered = ParseOrAnswer(args, {{"csv"}, {"errors"}, {"errors-max"}}, EvaluateHelp, 2, line, out, err); answered >= 0)
        return answered;
    const std::string& projectPath = line.positional[0];
    const std::string& testPath = line.positional[1];
    if (Extension(projectPath) != ProjectFileExtension)
        return Refuse(err, command, "первый аргумент «" + projectPath + "» должен быть проектом .trelis", CliUsage);
    if (Extension(testPath) != "llt")
        return Refuse(err, command, "второй аргумент «" + testPath + "» должен быть последовательностью .llt",
                      CliUsage);
    std::uint64_t mostPictures = 1000;
    if (const std::string refusal = EvaluateOptions(line, mostPictures); !refusal.empty())
        return Refuse(err, command, refusal, CliUsage);

    TProjectState state;
    std::string refusal = OpenProjectFile(projectPath, state);
    if (!refusal.empty())
        return Refuse(err, command, refusal, CliFailed);
    if (!state.net || state.net->outputCount == 0)
        return Refuse(err, command, "в проекте «" + projectPath + "» нет сети", CliFailed);
    TSequenceWithNames test;
    refusal = LoadSequence(testPath, test, command, err);
    if (!refusal.empty())
        return Refuse(err, command, refusal, CliFailed);
    TClassMap classes;
    if (const std::string reason = CheckRefusal(state.net.get(), state.classNames, test, classes); !reason.empty())
        return Refuse(err, command, "последовательность «" + testPath + "» не подходит: " + reason, CliFailed);

    const TCheckReport check = CheckNetwork(*state.net, test, classes);
    const std::size_t k = state.net->outputCount;
    // The matrix only as the cells that occur.
    const TClassCounts counts = CountClasses(check, k);
    std::vector<TElementAnswer> checked;
    for (const TElementAnswer& a : check.answers)
        if (a.trueClass >= 0)
            checked.push_back(a);
    const std::vector<TConfusionCount> cells = ConfusionCounts(std::move(checked));
    const std::function<std::string(std::int64_t)> name = [&](std::int64_t c) {
        return ShownClassName(state.classNames, c);
    };

    out << "Элементов: " << check.total << ", верно: " << check.right
        << ", доля верных: " << Ratio(check.right, check.total) << "\n";
    if (check.outside > 0)
        out << "Элементов с классом, которого нет среди выходов сети (считаются неверными): " << check.outside
            << "\n";
    if (check.apart > 0)
        out << ApartLine(check) << "\n";

    if (k > FullTableClasses)
        PrintLargestConfusions(out, k, counts, cells, name);
    else
        PrintClassTable(out, k, counts, cells, name);

    if (line.Has("csv")) {
        std::string csv = "истина,ответ,число\n";
        for (const TConfusionCount& cell : cells)
            csv += CsvField(name(cell.trueClass)) + ',' + CsvField(name(cell.answer)) + ',' +
                   std::to_string(cell.count) + '\n';
        const std::string& csvPath = line.values["csv"];
        refusal = SaveFileAtomically(csvPath, csv);
        if (!refusal.empty())
            return Refuse(err, command, "не удалось записать файл «" + csvPath + "»: " + refusal, CliFailed);
        out << "\nМатрица ошибок записана: " << csvPath << "\n";
    }
    if (line.Has("errors"))
        return WriteWrongAnswers(command, line.values["errors"], test.sequence, check, state, mostPictures, out, err);
    return CliOk;
}

// ---------------------------------------------------------------- forecast

const char* const ForecastHelp =
    "Использование: trelis-cli forecast РЯД.ser --window W --train-length T --csv ФАЙЛ [параметры]\n"
    "       trelis-cli forecast ПРОЕКТ.trelis --csv ФАЙЛ [параметры]\n"
    "\n"
    "Обучает сеть ряда, как окно временного ряда: сеть W-2-1, эпоха — шаг\n"
    "обучения на каждом окне из первых T значений. Проект временного ряда\n"
    "обучается дальше со своих весов, на своём ряде, со своими W и T. Затем\n"
    "записывает в CSV воспроизведение и прогноз ряда и печатает среднюю\n"
    "абсолютную ошибку на отложенной части (значения с номера max(T, W)): сети\n"
    "на шаг вперёд (каждое окно из истинных значений) и замкнутого прогноза\n"
    "(после первых T значений окно берёт прежние ответы), и тех же мер для\n"
    "наивного прогноза (повторить последнее известное значение) и для\n"
    "авторегрессии на том же окне по методу наименьших квадратов. Все ошибки,\n"
    "и после каждой эпохи, — в единицах файла.\n"
    "\n"
    "  --window W               размер окна (число входов сети)\n"
    "  --train-length T         обучение на первых T значениях\n"
    "  --csv ФАЙЛ               куда записать номер, значение, воспроизведение\n"
    "                           и часть (обучение, проверка или прогноз) каждой\n"
    "                           точки\n"
    "  --epochs N               эпох обучения (по умолчанию 1000; 0 — без обучения)\n"
    "  --horizon H              прогноз на H точек после конца файла: первое окно —\n"
    "                           последние W значений, дальше окно берёт прежние\n"
    "                           ответы сети; строки CSV с частью «прогноз»\n"
    "  -o, --output ПРОЕКТ      записать проект ряда (.trelis): ряд, сеть, W и T\n"
    "  --from-first-window      воспроизводить с первого окна: все окна из\n"
    "                           прежних ответов сети, как «По первому окну»\n"
    "  --seed S                 начальные веса сети зависят только от S\n"
    "\n"
    "Ctrl+C останавливает обучение после текущей эпохи; CSV и проект\n"
    "записываются.\n";

namespace {

std::string Figure(double value)
{
    return std::isnan(value) ? std::string("—") : Fixed(value, 4);
}

constexpr std::uint64_t MaxHorizon = 10000000;

} // namespace

namespace {

// forecast's numbers, read from its options.
struct TForecastOptions {
    std::uint64_t window = 0, trainLength = 0, epochs = 1000, seed = 0, horizon = 0;
};

// Checks forecast's options before any file is read; empty when they serve.
std::string ForecastOptionsRefusal(TCommandLine& line, bool fromProject, TForecastOptions& o)
{
    std::string refusal;
    if (fromProject && (line.Has("window") || line.Has("train-length")))
        refusal = "размер окна и длина обучения берутся из проекта: --window и --train-length не нужны";
    else if (!fromProject && !line.Has("window"))
        refusal = "не указан размер окна (--window W)";
    else if (!fromProject && !line.Has("train-length"))
        refusal = "не указана длина обучения (--train-length T)";
    else if (!line.Has("csv") || line.values["csv"].empty())
        refusal = "не указан файл CSV для записи (--csv ФАЙЛ)";
    else if (line.Has("output") && Extension(line.values["output"]) != ProjectFileExtension)
        refusal = "файл проекта «" + line.values["output"] + "» должен иметь расширение .trelis";
    // Zero passes here so that the series checks refuse it as the load window does.
    if (refusal.empty() && !fromProject)
        refusal = ParseWhole("window", line.values["window"], 0, INT32_MAX, o.window);
    if (refusal.empty() && !fromProject)
        refusal = ParseWhole("train-length", line.values["train-length"], 0, INT32_MAX, o.trainLength);
    if (refusal.empty() && line.Has("epochs"))
        refusal = ParseWhole("epochs", line.values["epochs"], 0, MaxEpochLimit, o.epochs);
    if (refusal.empty() && line.Has("seed"))
        refusal = ParseWhole("seed", line.values["seed"], 0, MaxSeed, o.seed);
    if (refusal.empty() && line.Has("horizon"))
        refusal = ParseWhole("horizon", line.values["horizon"], 0, MaxHorizon, o.horizon);
    return refusal;
}

// The project forecast trains: opened, or made from a series file, whose
// values as the file holds them go to `fileValues` (the project keeps them
// scaled). Empty on success, otherwise the refusal.
std::string ForecastProject(const std::string& input, bool fromProject, bool seeded, const TForecastOptions& o,
                            TProject& project, std::vector<float>& fileValues)
{
    if (fromProject) {
        std::string refusal = project.Open(input);
        if (refusal.empty() && !project.State().HasSeries())
            refusal = "в проекте «" + input + "» нет временного ряда: это проект распознавания образов, "
                      "его обучает trelis-cli train";
        else if (refusal.empty() && !project.SeriesReady())
            refusal = "сеть проекта «" + input + "» — не сеть его ряда (её заменили после загрузки ряда)";
        return refusal;
    }
    TSeriesLoad load =
        CheckFullLoad(input, static_cast<std::int32_t>(o.window), static_cast<std::int32_t>(o.trainLength));
    if (load.Refused())
        return load.refusal;
    fileValues.assign(load.values.get(), load.values.get() + std::max(load.count, 0));
    try {
        project.LoadSeries(load, static_cast<std::uint32_t>(o.window), static_cast<std::uint32_t>(o.trainLength),
                           seeded ? std::optional<std::uint64_t>(o.seed) : std::nullopt);
    } catch (const std::bad_alloc&) {
        return "ряд и его окна не помещаются в памяти";
    }
    return {};
}

// Trains the series epoch after epoch, a line every tenth of the run, until
// the epochs are done or Ctrl+C asks.
void TrainSeriesEpochs(TProject& project, std::uint64_t epochs, std::ostream& out, const TCliTerminal& terminal)
{
    const std::uint64_t reportEvery = std::max<std::uint64_t>(epochs / 10, 1);
    for (std::uint64_t epoch = 1; epoch <= epochs; ++epoch) {
        const TSeriesEpochReport& report = project.TrainSeriesEpoch();
        const bool stopping = StopRequested();
        if (epoch % reportEvery == 0 || epoch == epochs || stopping) {
            if (terminal.progress)
                out << "\r\033[K";
            const THeldOutErrors& e = project.SeriesForecast().heldOut;
            out << "Эпоха " << report.epoch << ": ошибка окна от " << FloatText(report.minError) << " до "
                << FloatText(report.maxError) << "; на отложенной части: на шаг вперёд " << Figure(e.oneStep)
                << ", прогноз " << Figure(e.closedLoop) << "\n";
        } else if (terminal.progress && epoch % std::max<std::uint64_t>(epochs / 200, 1) == 0) {
            const auto done = static_cast<std::uint32_t>(epoch * 1000 / epochs);
            out << "\r[" << std::string(done * 30 / 1000, '#') << std::string(30 - done * 30 / 1000, '.') << "] "
                << epoch << "/" << epochs << std::flush;
        }
        if (stopping) {
            out << "Остановлено: прервано (Ctrl+C или сигнал завершения) после эпохи " << epoch << ".\n";
            break;
        }
    }
}

// forecast's table: every point with its reproduction (the first window is
// the series itself), then the future.
std::string ForecastCsv(const TSeriesView& series, const TSeriesForecast& forecast, const std::vector<double>& future,
                        const std::vector<float>& fileValues)
{
    const std::uint32_t w = series.windowSize;
    std::string csv = "номер,значение,воспроизведение,часть\n";
    for (std::uint32_t i = 0; i < series.count; ++i) {
        const float value =
            fileValues.empty() ? static_cast<float>(series.ValueInUnits(series.values[i])) : fileValues[i];
        const float reproduced = i < w ? value : static_cast<float>(series.ValueInUnits(forecast.reproduction[i]));
        csv += std::to_string(i) + ',' + CsvNumber(value) + ',' + CsvNumber(reproduced) + ',' +
               (i < series.trainLength ? "обучение" : "проверка") + '\n';
    }
    for (std::uint32_t h = 0; h < future.size(); ++h)
        csv += std::to_string(std::uint64_t{series.count} + h) + ",," + CsvNumber(static_cast<float>(future[h])) +
               ",прогноз\n";
    return csv;
}

// The held-out errors of the network beside those of the yardsticks.
void PrintForecastErrors(std::ostream& out, const THeldOutErrors& network, const TSeriesBaselines& baselines,
                         std::uint32_t w)
{
    out << "\nСредняя абсолютная ошибка на отложенной части ("
        << Counted(network.points, "значение", "значения", "значений") << "), в единицах ряда:\n"
        << "                            на шаг вперёд   прогноз\n";
    const auto row = [&](const char* name, const THeldOutErrors& e) {
        out << PadRight(name, 28) << PadLeft(Figure(e.oneStep), 13) << PadLeft(Figure(e.closedLoop), 10) << "\n";
    };
    row("сеть", network);
    row("наивный прогноз", baselines.naive);
    row("авторегрессия", baselines.autoregression);
    if (!baselines.fitted)
        out << "Авторегрессию не по чему подобрать: окон на обучающей части меньше, чем " << (w + 1) << ".\n";
}

} // namespace

int ForecastCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                    const TCliTerminal& terminal)
{
    const std::string command = args[0];
    TCommandLine line;
    const std::vector<TOptionRule> rules = {{"window"}, {"train-length"},           {"csv"},  {"epochs"},
                                            {"from-first-window", false}, {"seed"}, {"horizon"}, {"output"}};
    if (const int answered = ParseOrAnswer(args, rules, ForecastHelp, 1, line, out, err); answered >= 0)
        return answered;

    const std::string& input = line.positional[0];
    const std::string ext = Extension(input);
    const bool fromProject = ext == ProjectFileExtension;
    if (!fromProject && ext != "ser")
        return Refuse(err, command, "неизвестный вид файла «" + input + "»: нужен ряд .ser или проект .trelis",
                      CliUsage);
    TForecastOptions options;
    std::string refusal = ForecastOptionsRefusal(line, fromProject, options);
    if (!refusal.empty())
        return Refuse(err, command, refusal, CliUsage);
    const std::string& csvPath = line.values["csv"];
    for (const std::string& path : {csvPath, line.Has("output") ? line.values["output"] : std::string()})
        if (const std::string reason = path.empty() ? std::string() : WriteRefusal(path); !reason.empty())
            return Refuse(err, command, "файл «" + path + "» не записать: " + reason, CliFailed);

    TProject project;
    std::vector<float> fileValues;
    if (refusal = ForecastProject(input, fromProject, line.Has("seed"), options, project, fileValues);
        !refusal.empty())
        return Refuse(err, command, refusal, CliFailed);
    if (line.Has("from-first-window") || !fromProject)
        project.SetFromFirstWindow(line.Has("from-first-window"));

    const TSeriesView series = project.SeriesView();
    const std::uint32_t w = series.windowSize;
    const std::uint32_t t = series.trainLength;
    const std::uint32_t n = series.count;
    out << "Ряд: " << input << ", значений " << n << ", окно " << w << ", обучение на первых " << t
        << ", отложено " << (n > HeldOutStart(t, w) ? n - HeldOutStart(t, w) : 0) << "\n";
    TrainSeriesEpochs(project, options.epochs, out, terminal);

    const TSeriesForecast& forecast = project.SeriesForecast();
    const THeldOutErrors network = forecast.heldOut;
    const TSeriesBaselines baselines = *project.SeriesBaselines(true);
    const std::string csv = ForecastCsv(series, forecast, project.SeriesFuture(static_cast<std::uint32_t>(options.horizon)),
                                        fileValues);
    // With -o the table and the project are written together.
    if (line.Has("output"))
        refusal = project.Save(line.values["output"], {{csvPath, [&csv](std::FILE* f) {
                                                            return std::fwrite(csv.data(), 1, csv.size(), f) == csv.size();
                                                        }}});
    else if (refusal = SaveFileAtomically(csvPath, csv); !refusal.empty())
        refusal = "не удалось записать файл «" + csvPath + "»: " + refusal;
    if (!refusal.empty())
        return Refuse(err, command, refusal, CliFailed);

    PrintForecastErrors(out, network, baselines, w);
    out << "CSV записан: " << csvPath << "\n";
    if (line.Has("output"))
        out << "Проект записан: " << line.values["output"] << "\n";
    return CliOk;
}
