#pragma once
// trelis-cli: the commands of the program without windows.
//
//   info FILE            what a project, sequence or series file holds
//   train INPUT -o OUT   trains a network on a sequence or goes on with a project
//   evaluate PROJECT SEQ how the project's network answers a test sequence
//   forecast SERIES ...  trains a series network, writes its forecast, compares
//   import DIR -o SEQ    a sequence from folders of pictures, one per class
//   recognise PROJECT IMAGE  the project's network names every figure of a picture
//   export PROJECT -o FILE   the project's network for other programs (ONNX, FANN, C)
//   predict PROJECT INPUT --csv FILE  every output of the network for each picture or element
//
// Every message to the user is in Russian. A command either does all it was
// asked or writes nothing and says why on the error stream.

#include <iosfwd>
#include <string>
#include <vector>

// Exit codes.
inline constexpr int CliOk = 0;
inline constexpr int CliFailed = 1; // a file could not be read, written or used
inline constexpr int CliUsage = 2;  // the command line itself is wrong

// What the output stream is connected to.
struct TCliTerminal {
    bool progress = false; // the output is a terminal: a progress bar may be drawn on it
};

// While one lives, Ctrl+C (SIGINT) and SIGTERM do not end the process: the
// first asks a command that trains to stop after the epoch it is in and
// save what it has trained; a second one ends the process as usual.
class TStopSignals {
public:
    TStopSignals();
    ~TStopSignals();
    TStopSignals(const TStopSignals&) = delete;
    TStopSignals& operator=(const TStopSignals&) = delete;
};

// Whether a stop has been asked for while a TStopSignals lives.
bool StopRequested();

// The version of both programs, as --version prints it.
const char* ProgramVersion();

// Runs the command line `args` (without the program's name). Results go to
// `out`, refusals and warnings to `err`. Returns the exit code.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           const TCliTerminal& terminal = {});
