#include "cli/CommandKit.h"
#include "project/AtomicFile.h"
#include "cli/Commands.h"
#include "project/NetworkExport.h"
#include "project/ProjectFile.h"

#include <ostream>

const char* const ExportHelp =
    "Использование: trelis-cli export ПРОЕКТ.trelis -o ФАЙЛ\n"
    "\n"
    "Записывает сеть проекта для других программ. Формат выбирается по\n"
    "расширению ФАЙЛА:\n"
    "  .onnx  модель ONNX (набор операторов 13): вход «cells» — клетки сетчатки\n"
    "         (0 или 1, по строкам), выход «scores» — выходы сети; имена классов\n"
    "         и размер сетчатки — в метаданных (class_names, retina_width,\n"
    "         retina_height). У сети ряда вход «window» — окно ряда, выход\n"
    "         «next» — следующее значение, оба в единицах файла ряда\n"
    "  .net   файл сети FANN (fann_create_from_file); только сигмоида и\n"
    "         симметричная сигмоида. У сети ряда масштаб хранится в файле:\n"
    "         fann_scale_input перед fann_run, fann_descale_output после\n"
    "  .h     заголовок C99 без зависимостей, кроме <math.h>: TRELIS_INPUTS,\n"
    "         TRELIS_OUTPUTS, веса и trelis_forward(input, output)\n"
    "\n"
    "  -o, --output ФАЙЛ        куда записать сеть (обязательно)\n";

int ExportCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    const std::string command = args[0];
    TCommandLine line;
    if (const int answered = ParseOrAnswer(args, {{"output"}}, ExportHelp, 1, line, out, err); answered >= 0)
        return answered;
    const std::string& input = line.positional[0];
    if (Extension(input) != ProjectFileExtension)
        return Refuse(err, command, "аргумент «" + input + "» должен быть проектом .trelis", CliUsage);
    if (!line.Has("output") || line.values["output"].empty())
        return Refuse(err, command, "не указан файл для записи сети (-o ФАЙЛ)", CliUsage);
    const std::string output = line.values["output"];
    if (!ExportFormatOf(output))
        return Refuse(err, command, "файл «" + output + "» должен иметь расширение .onnx, .net или .h", CliUsage);
    if (const std::string reason = WriteRefusal(output); !reason.empty())
        return Refuse(err, command, "сеть не записать в «" + output + "»: " + reason, CliFailed);

    TProjectState project;
    if (const std::string refusal = OpenProjectFile(input, project); !refusal.empty())
        return Refuse(err, command, refusal, CliFailed);
    const TExportResult result = ExportNetwork(project, output);
    if (!result.Ok())
        return Refuse(err, command, result.reason,
                      result.outcome == TExportOutcome::UnknownFormat ? CliUsage : CliFailed);
    out << "Сеть записана: " << output << "\n";
    return CliOk;
}
