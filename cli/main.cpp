#include "cli/Cli.h"
#include "cli/ImageFile.h"

#include <iostream>
#include <string>
#include <vector>

#include <unistd.h>

int main(int argc, char** argv)
{
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.emplace_back(argv[i]);
    // The toolkit a picture command starts is taken down before main ends.
    const TGuiToolkitScope toolkit;
    // Ctrl+C stops a training after its epoch and keeps what was trained.
    const TStopSignals stop;
    TCliTerminal terminal;
    terminal.progress = isatty(STDOUT_FILENO) == 1;
    const int code = RunCli(args, std::cout, std::cerr, terminal);
    std::cout.flush();
    return code;
}
