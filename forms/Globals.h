#pragma once
// The project every window shows (project/Globals.h) and the shell command
// lines of the help menu.

#include "project/Globals.h"

// The shell command line that opens the help document beside the program.
// The program has no web page of its own: "Домик" and the About window's
// house open the help document too, which tells all there is about the
// program and where it comes from.
inline constexpr const char* HelpCommand = "start index.html";
