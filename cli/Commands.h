#pragma once
// The commands of trelis-cli. Each takes its own command line (args[0] is
// the command's name) and returns the exit code.

#include "cli/Cli.h"
#include "project/Checking.h"
#include "project/Project.h"

#include <iosfwd>
#include <string>
#include <vector>

int InfoCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int TrainCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                 const TCliTerminal& terminal);
int EvaluateCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int ForecastCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                    const TCliTerminal& terminal);
// cli/ImageCommands.cpp
int ImportCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                  const TCliTerminal& terminal);
int RecogniseCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int PredictCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// cli/ExportCommand.cpp
int ExportCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// cli/TuneCommand.cpp
int TuneCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// cli/InspectCommand.cpp
int InspectCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// evaluate --errors: a picture of every element of the checked sequence
// answered wrong, written together into the folder (made when missing).
// At most `most` pictures are written; the folder keeps exactly this run's
// pictures: those an earlier run wrote there go, and a folder holding other
// files is refused.
int WriteWrongAnswers(const std::string& command, const std::string& folder, const PatternRing& sequence,
                      const TCheckReport& check, const TProjectState& project, std::uint64_t most, std::ostream& out,
                      std::ostream& err);

// The help of each command.
extern const char* const InfoHelp;
extern const char* const TrainHelp;
extern const char* const EvaluateHelp;
extern const char* const ForecastHelp;
extern const char* const ImportHelp;
extern const char* const RecogniseHelp;
extern const char* const PredictHelp;
extern const char* const ExportHelp;
extern const char* const InspectHelp;
extern const char* const TuneHelp;
