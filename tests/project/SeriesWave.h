#pragma once
// A series of n values for the tests: a wave around 3 with a small saw on it,
// loaded as a checked series load would give it.

#include "project/SeriesLoad.h"
#include "project/SeriesMath.h"

#include <cmath>
#include <cstdint>
#include <memory>

inline TSeriesLoad Wave(std::uint32_t n, double phase = 0.0)
{
    TSeriesLoad load;
    load.count = static_cast<std::int32_t>(n);
    load.values = std::make_unique<float[]>(n);
    for (std::uint32_t i = 0; i < n; ++i)
        load.values[i] = static_cast<float>(3.0 + std::sin(i * 0.3 + phase) + 0.1 * (i % 5));
    load.range = FindSeriesRange(load.values.get(), n);
    return load;
}
