#include "cli/Cli.h"

#include "cli/Commands.h"

#include <csignal>
#include <ostream>

#include <signal.h>

namespace {

const char* const ProgramHelp =
    "Использование: trelis-cli КОМАНДА [аргументы] [параметры]\n"
    "\n"
    "Команды:\n"
    "  info ФАЙЛ                          что содержит проект, последовательность или ряд\n"
    "  import ПАПКА --size N -o ПОСЛ.llt  последовательность из папок изображений по классам\n"
    "  train ВХОД -o ПРОЕКТ [параметры]   обучить сеть и записать проект\n"
    "  tune ПОСЛ.llt -o ПРОЕКТ            подобрать настройки сети и записать лучшую\n"
    "  evaluate ПРОЕКТ ПОСЛЕДОВАТЕЛЬНОСТЬ проверить сеть проекта на последовательности\n"
    "  recognise ПРОЕКТ ИЗОБРАЖЕНИЕ       распознать все фигуры изображения\n"
    "  predict ПРОЕКТ ПАПКА|ПОСЛ.llt --csv ФАЙЛ\n"
    "                                     ответ и все выходы сети для каждой картинки\n"
    "                                     или элемента\n"
    "  export ПРОЕКТ -o ФАЙЛ              сеть проекта для других программ: .onnx, .net, .h\n"
    "  inspect ПРОЕКТ --weights КАРТИНКА.png\n"
    "                                     веса скрытых нейронов, разложенные по сетчатке\n"
    "  forecast РЯД.ser|ПРОЕКТ --csv ФАЙЛ [--window W --train-length T]\n"
    "                                     обучить сеть ряда, записать прогноз и сравнить\n"
    "\n"
    "Справка по команде: trelis-cli КОМАНДА --help\n"
    "Версия: trelis-cli --version\n"
    "Ctrl+C во время обучения (train, tune, forecast) останавливает его после текущей\n"
    "эпохи и записывает то, чему сеть успела научиться; второе Ctrl+C прерывает сразу.\n"
    "Коды завершения: 0 — готово, 1 — файл не прочитан, не записан или не подходит,\n"
    "2 — ошибка в командной строке.\n";

volatile std::sig_atomic_t stopRequested = 0;
struct sigaction previousInterrupt {};
struct sigaction previousTerminate {};

extern "C" void AskToStop(int)
{
    stopRequested = 1;
}

} // namespace

TStopSignals::TStopSignals()
{
    stopRequested = 0;
    struct sigaction action {};
    action.sa_handler = AskToStop;
    sigemptyset(&action.sa_mask);
    // The second signal finds the usual handling again.
    action.sa_flags = SA_RESETHAND;
    ::sigaction(SIGINT, &action, &previousInterrupt);
    ::sigaction(SIGTERM, &action, &previousTerminate);
}

TStopSignals::~TStopSignals()
{
    ::sigaction(SIGINT, &previousInterrupt, nullptr);
    ::sigaction(SIGTERM, &previousTerminate, nullptr);
    stopRequested = 0;
}

bool StopRequested()
{
    return stopRequested != 0;
}

const char* ProgramVersion()
{
    return TRELIS_VERSION;
}

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const TCliTerminal& terminal)
{
    if (args.empty()) {
        err << ProgramHelp;
        return CliUsage;
    }
    const std::string& command = args[0];
    if (command == "--help" || command == "-h" || command == "help") {
        out << ProgramHelp;
        return CliOk;
    }
    if (command == "--version") {
        out << "trelis-cli " << ProgramVersion() << "\n";
        return CliOk;
    }
    if (command == "info")
        return InfoCommand(args, out, err);
    if (command == "import")
        return ImportCommand(args, out, err, terminal);
    if (command == "train")
        return TrainCommand(args, out, err, terminal);
    if (command == "evaluate")
        return EvaluateCommand(args, out, err);
    if (command == "recognise")
        return RecogniseCommand(args, out, err);
    if (command == "export")
        return ExportCommand(args, out, err);
    if (command == "predict")
        return PredictCommand(args, out, err);
    if (command == "inspect")
        return InspectCommand(args, out, err);
    if (command == "tune")
        return TuneCommand(args, out, err);
    if (command == "forecast")
        return ForecastCommand(args, out, err, terminal);
    err << "trelis-cli: неизвестная команда «" << command << "».\n"
        << "Справка: trelis-cli --help\n";
    return CliUsage;
}
