#pragma once
// The project every window shows (project/Globals.h) and the program's
// addresses.

#include "project/Globals.h"

#include <QString>

// The program's home page, opened by "Домик" and by the About window.
inline constexpr const char* HomePageUrl = "https://trelis.example.org/";

// The shell command line that opens the home page.
QString HomePageCommand();

// The shell command line that opens the help document beside the program.
inline constexpr const char* HelpCommand = "start index.html";
