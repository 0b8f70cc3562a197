#pragma once
// The command line of one command: long options (--name VALUE or
// --name=VALUE, -o for --output), --help, and the positional arguments.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct TOptionRule {
    std::string name;      // without the dashes
    bool takesValue = true;
};

struct TCommandLine {
    std::vector<std::string> positional;
    std::map<std::string, std::string> values; // the last value of each option given
    bool help = false;

    bool Has(const std::string& name) const { return values.count(name) != 0; }
};

// Reads args[first..] against the options a command knows. Empty on success,
// otherwise why the line is wrong, in Russian.
std::string ParseCommandLine(const std::vector<std::string>& args, std::size_t first,
                             const std::vector<TOptionRule>& rules, TCommandLine& line);

// The value of --name as a whole number of min..max: decimal digits only.
// Empty on success, otherwise why the value is refused.
std::string ParseWhole(const std::string& name, const std::string& text, std::uint64_t min,
                       std::uint64_t max, std::uint64_t& value);

// The value of --name as a fraction 0..1 (a decimal number, point as separator).
std::string ParseFraction(const std::string& name, const std::string& text, double& value);

// The value of --name as a decimal number of min..max (point as separator).
std::string ParseDecimal(const std::string& name, const std::string& text, double min, double max, double& value);
