#pragma once
// What every command of trelis-cli uses: reading its command line, refusing
// with a reason, and lining up text in columns.

#include "cli/Options.h"
#include "images/Images.h"
#include "project/RunSettings.h"
#include "project/TextFiles.h"

#include <cstddef>
#include <iosfwd>
#include <string>
#include <vector>

// ASCII letters of `text` in lower case.
std::string Lowercase(std::string text);

// The extension of the last path component, lower case, without the dot.
std::string Extension(const std::string& path);

// Writes "trelis-cli COMMAND: REASON." to `err` and returns `code`.
int Refuse(std::ostream& err, const std::string& command, const std::string& reason, int code);

// Parses args[1..] against the rules and expects `positional` arguments;
// prints the help or the refusal. Returns -1 to go on, else the exit code.
int ParseOrAnswer(const std::vector<std::string>& args, const std::vector<TOptionRule>& rules,
                  const char* help, std::size_t positional, TCommandLine& line, std::ostream& out,
                  std::ostream& err);

// Reads a sequence with its names; empty on success, otherwise the refusal,
// naming the file. A names file that seems to be another sequence's is
// named on `err` as the command's warning.
std::string LoadSequence(const std::string& path, TSequenceWithNames& loaded, const std::string& command,
                         std::ostream& err);

// `value` with `decimals` digits after the point.
std::string Fixed(double value, int decimals);

// Characters of UTF-8 text, for lining up columns.
std::size_t TextWidth(const std::string& text);
std::string PadLeft(const std::string& text, std::size_t width);
std::string PadRight(const std::string& text, std::size_t width);

// The largest epoch counts and seeds the commands take.
inline constexpr std::uint64_t MaxEpochLimit = 1000000000;
inline constexpr std::uint64_t MaxSeed = 0x7fffffffffffffffull;

// --rate and --momentum into the run's step, when given. Empty on success,
// otherwise the refusal.
std::string ParseStepOptions(TCommandLine& line, TRunSettings& run);

// --fit stretch|aspect, when given. Empty on success, otherwise the refusal.
std::string ParseFit(TCommandLine& line, TFigureFit& fit);

// The name of a fit as the options and info write it.
const char* FitName(TFigureFit fit);
