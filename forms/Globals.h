#pragma once
// The project state every window reaches besides the shared image objects of
// images/Globals.h.

#include "engine/NeuralNet.h"

#include <QString>

#include <cstdint>
#include <memory>

// The one current network. Whoever replaces it destroys the old network
// first: CurrentNet.reset(), then store the new one.
extern std::unique_ptr<TNeuralNet> CurrentNet;

// The loaded time series: `count` values (0 before the first load), scaled
// to 0..1 in place by every load. `values` holds at least one element.
struct TSeriesBuffer {
    std::int32_t count = 0;
    std::unique_ptr<float[]> values;
};
extern TSeriesBuffer SeriesBuffer;

// The program's home page, opened by "Домик" and by the About window.
inline constexpr const char* HomePageUrl = "https://trelis.example.org/";

// The shell command line that opens the home page.
QString HomePageCommand();

// The shell command line that opens the help document beside the program.
inline constexpr const char* HelpCommand = "start index.html";
