#pragma once
// Reading and checking a series file for a load or a reload. Everything is
// read and checked before the program changes anything: a series that must
// be refused comes back with the message the user reads, in place of the
// values.

#include "project/SeriesMath.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The most memory the training windows of a full load may take.
inline constexpr std::uint64_t MaxSeriesWindowBytes = std::uint64_t{512} << 20;

struct TSeriesLoad {
    std::string refusal;                 // why the series cannot be loaded; empty when it can
    std::int32_t count = 0;          // number of values
    std::unique_ptr<float[]> values; // the values as the file holds them
    TSeriesRange range;              // their smallest and largest value

    bool Refused() const { return !refusal.empty(); }
};

// The file names are paths for the C library's file functions.

// A full load with the window size and training length the user typed:
// checks both fields, reads the file and checks the series against them.
TSeriesLoad CheckFullLoad(const std::string& fileName, std::int32_t windowSize, std::int32_t trainLength);

// A reload: reads the file and checks it against the window size and
// training length of the last full load, which the reload keeps.
TSeriesLoad CheckReload(const std::string& fileName, std::uint32_t windowSize, std::uint32_t trainLength);

// Why a reload cannot go on when CurrentNet is no longer the series network.
std::string ReplacedNetworkMessage();
