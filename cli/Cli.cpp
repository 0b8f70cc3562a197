#include "cli/Cli.h"

#include "cli/Commands.h"

#include <ostream>

namespace {

const char* const ProgramHelp =
    "Использование: trelis-cli КОМАНДА [аргументы] [параметры]\n"
    "\n"
    "Команды:\n"
    "  info ФАЙЛ                          что содержит проект, последовательность или ряд\n"
    "  import ПАПКА --size N -o ПОСЛ.llt  последовательность из папок изображений по классам\n"
    "  train ВХОД -o ПРОЕКТ [параметры]   обучить сеть и записать проект\n"
    "  evaluate ПРОЕКТ ПОСЛЕДОВАТЕЛЬНОСТЬ проверить сеть проекта на последовательности\n"
    "  recognise ПРОЕКТ ИЗОБРАЖЕНИЕ       распознать все фигуры изображения\n"
    "  export ПРОЕКТ -o ФАЙЛ              сеть проекта для других программ: .onnx, .net, .h\n"
    "  inspect ПРОЕКТ --weights КАРТИНКА.png\n"
    "                                     веса скрытых нейронов, разложенные по сетчатке\n"
    "  forecast РЯД.ser --window W --train-length T --csv ФАЙЛ\n"
    "                                     обучить сеть ряда, записать прогноз и сравнить\n"
    "\n"
    "Справка по команде: trelis-cli КОМАНДА --help\n"
    "Коды завершения: 0 — готово, 1 — файл не прочитан, не записан или не подходит,\n"
    "2 — ошибка в командной строке.\n";

} // namespace

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
    if (command == "inspect")
        return InspectCommand(args, out, err);
    if (command == "forecast")
        return ForecastCommand(args, out, err, terminal);
    err << "trelis-cli: неизвестная команда «" << command << "».\n"
        << "Справка: trelis-cli --help\n";
    return CliUsage;
}
