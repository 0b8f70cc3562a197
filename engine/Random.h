#pragma once

// The one pseudo-random generator of the system and the clock that seeds it.
//
// Every layer construction reseeds the generator from the calendar clock in
// whole seconds, so layers built within the same second draw the same
// sequence. Tests pin that clock with SetSeedClock.

#include <cstdint>
#include <ctime>
#include <functional>

// Replaces the calendar clock used for seeding; an empty function restores the real clock.
void SetSeedClock(std::function<std::time_t()> clock);

// The current seeding time in whole seconds (the pinned clock when one is set).
std::time_t SeedClockNow();

// Restarts the generator's sequence from the given seed; equal seeds give equal sequences.
void RandomSeed(std::uint64_t seed);

// Seeds the generator with SeedClockNow().
void RandomSeedFromClock();

// The generator's whole state: SetRandomState(RandomState()) later makes it
// draw on exactly as it would have from here.
std::uint64_t RandomState();
void SetRandomState(std::uint64_t generatorState);

// A uniformly distributed integer in 0..n-1; returns 0 without drawing when n is 0.
std::uint32_t RandomBelow(std::uint32_t n);

// A uniformly distributed integer in 0..32767 (one draw).
std::uint32_t Random15();
