#include "cli/Options.h"

#include "project/Text.h"

#include <charconv>
#include <cmath>

namespace {

const TOptionRule* FindRule(const std::vector<TOptionRule>& rules, const std::string& name)
{
    for (const TOptionRule& rule : rules)
        if (rule.name == name)
            return &rule;
    return nullptr;
}

} // namespace

std::string ParseCommandLine(const std::vector<std::string>& args, std::size_t first,
                             const std::vector<TOptionRule>& rules, TCommandLine& line)
{
    bool optionsEnded = false;
    for (std::size_t i = first; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            line.positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            line.help = true;
            continue;
        }
        std::string name;
        std::string value;
        bool hasValue = false;
        if (arg == "-o") {
            name = "output";
        } else if (arg.rfind("--", 0) == 0) {
            name = arg.substr(2);
            const std::size_t eq = name.find('=');
            if (eq != std::string::npos) {
                value = name.substr(eq + 1);
                name.resize(eq);
                hasValue = true;
            }
        } else {
            return "неизвестный параметр «" + arg + "»";
        }
        const TOptionRule* rule = FindRule(rules, name);
        if (rule == nullptr)
            return "неизвестный параметр «--" + name + "»";
        if (!rule->takesValue) {
            if (hasValue)
                return "у параметра «--" + name + "» не бывает значения";
            line.values[name] = "";
            continue;
        }
        if (!hasValue) {
            if (i + 1 >= args.size())
                return "у параметра «--" + name + "» нет значения";
            value = args[++i];
        }
        line.values[name] = value;
    }
    return {};
}

std::string ParseWhole(const std::string& name, const std::string& text, std::uint64_t min,
                       std::uint64_t max, std::uint64_t& value)
{
    const std::string range = " (допустимо от " + std::to_string(min) + " до " + std::to_string(max) + ")";
    std::uint64_t parsed = 0;
    const char* const begin = text.data();
    const char* const end = begin + text.size();
    const bool digitsOnly = !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
    const auto [ptr, ec] = std::from_chars(begin, end, parsed);
    if (!digitsOnly || ptr != end || (ec != std::errc() && ec != std::errc::result_out_of_range))
        return "значение «" + text + "» параметра --" + name + " — не целое неотрицательное число" + range;
    if (ec == std::errc::result_out_of_range || parsed < min || parsed > max)
        return "значение " + text + " параметра --" + name + " вне допустимых границ" + range;
    value = parsed;
    return {};
}

namespace {

// A plain decimal number: digits with at most one point, no sign or exponent.
bool ReadDecimal(const std::string& text, double& value)
{
    const char* const begin = text.data();
    const char* const end = begin + text.size();
    const bool plain = !text.empty() && text.find_first_not_of("0123456789.") == std::string::npos;
    const auto [ptr, ec] = std::from_chars(begin, end, value, std::chars_format::fixed);
    return plain && ptr == end && ec == std::errc() && std::isfinite(value);
}

} // namespace

std::string ParseFraction(const std::string& name, const std::string& text, double& value)
{
    double parsed = 0.0;
    if (!ReadDecimal(text, parsed))
        return "значение «" + text + "» параметра --" + name + " — не число (нужна доля от 0 до 1, например 0.95)";
    if (parsed < 0.0 || parsed > 1.0)
        return "значение " + text + " параметра --" + name + " вне допустимых границ (доля от 0 до 1)";
    value = parsed;
    return {};
}

std::string ParseDecimal(const std::string& name, const std::string& text, double min, double max, double& value)
{
    const std::string range = " (допустимо от " + FloatText(min) + " до " + FloatText(max) + ")";
    double parsed = 0.0;
    if (!ReadDecimal(text, parsed))
        return "значение «" + text + "» параметра --" + name + " — не число, например 0.25" + range;
    if (parsed < min || parsed > max)
        return "значение " + text + " параметра --" + name + " вне допустимых границ" + range;
    value = parsed;
    return {};
}
