#include "cli/CommandKit.h"

#include "cli/Cli.h"

#include <cstdio>
#include <ostream>

std::string Lowercase(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::string Extension(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    return Lowercase(path.substr(dot + 1));
}

int Refuse(std::ostream& err, const std::string& command, const std::string& reason, int code)
{
    const bool ended = !reason.empty() && (reason.back() == '.' || reason.back() == '!' || reason.back() == '?');
    err << "trelis-cli " << command << ": " << reason << (ended ? "\n" : ".\n");
    return code;
}

int ParseOrAnswer(const std::vector<std::string>& args, const std::vector<TOptionRule>& rules,
                  const char* help, std::size_t positional, TCommandLine& line, std::ostream& out,
                  std::ostream& err)
{
    const std::string refusal = ParseCommandLine(args, 1, rules, line);
    if (!refusal.empty()) {
        Refuse(err, args[0], refusal, CliUsage);
        err << "Справка: trelis-cli " << args[0] << " --help\n";
        return CliUsage;
    }
    if (line.help) {
        out << help;
        return CliOk;
    }
    if (line.positional.size() != positional) {
        Refuse(err, args[0],
               "нужно аргументов: " + std::to_string(positional) + ", а дано: " +
                   std::to_string(line.positional.size()),
               CliUsage);
        err << "Справка: trelis-cli " << args[0] << " --help\n";
        return CliUsage;
    }
    return -1;
}

std::string Fixed(double value, int decimals)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    return buffer;
}

std::size_t TextWidth(const std::string& text)
{
    std::size_t width = 0;
    for (char c : text)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80)
            ++width;
    return width;
}

std::string PadLeft(const std::string& text, std::size_t width)
{
    const std::size_t w = TextWidth(text);
    return w >= width ? text : std::string(width - w, ' ') + text;
}

std::string PadRight(const std::string& text, std::size_t width)
{
    const std::size_t w = TextWidth(text);
    return w >= width ? text : text + std::string(width - w, ' ');
}

std::string ParseStepOptions(TCommandLine& line, TRunSettings& run)
{
    double number = 0.0;
    if (line.Has("rate")) {
        if (std::string refusal = ParseDecimal("rate", line.values["rate"], 0.000001, 100.0, number); !refusal.empty())
            return refusal;
        run.step.learningRate = static_cast<float>(number);
    }
    if (line.Has("momentum")) {
        if (std::string refusal = ParseDecimal("momentum", line.values["momentum"], 0.0, 0.99, number);
            !refusal.empty())
            return refusal;
        run.step.momentum = static_cast<float>(number);
    }
    return {};
}

std::string ParseFit(TCommandLine& line, TFigureFit& fit)
{
    if (!line.Has("fit"))
        return {};
    const std::string& value = line.values["fit"];
    if (value == "stretch")
        fit = TFigureFit::Stretch;
    else if (value == "aspect")
        fit = TFigureFit::Aspect;
    else
        return "неизвестный способ вырезания «" + value + "»: нужен stretch или aspect";
    return {};
}

const char* FitName(TFigureFit fit)
{
    return fit == TFigureFit::Aspect ? "aspect" : "stretch";
}

std::string LoadSequence(const std::string& path, TSequenceWithNames& loaded, const std::string& command,
                         std::ostream& err)
{
    const std::string reason = LoadSequenceWithNames(path, loaded);
    if (!reason.empty())
        return "не удалось загрузить последовательность из файла «" + path + "»: " + reason;
    if (!loaded.namesMismatch.empty())
        err << "trelis-cli " << command << ": внимание: " << loaded.namesMismatch << ".\n";
    return {};
}
