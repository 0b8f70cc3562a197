#include "engine/Random.h"

#include <utility>

// A permuted congruential generator (PCG32: 64-bit state, 32-bit output).
// It is small, fast and statistically sound, and its sequence depends only
// on the seed.
namespace {

constexpr std::uint64_t kMultiplier = 6364136223846793005ULL;
constexpr std::uint64_t kIncrement = 1442695040888963407ULL;

std::uint64_t state = 0x853c49e6748fea9bULL;
std::function<std::time_t()> seedClock;

std::uint32_t Next()
{
    const std::uint64_t old = state;
    state = old * kMultiplier + kIncrement;
    const auto xorShifted = static_cast<std::uint32_t>(((old >> 18u) ^ old) >> 27u);
    const auto rotation = static_cast<std::uint32_t>(old >> 59u);
    return (xorShifted >> rotation) | (xorShifted << ((32u - rotation) & 31u));
}

} // namespace

void SetSeedClock(std::function<std::time_t()> clock)
{
    seedClock = std::move(clock);
}

std::time_t SeedClockNow()
{
    return seedClock ? seedClock() : std::time(nullptr);
}

void RandomSeed(std::uint64_t seed)
{
    state = 0;
    Next();
    state += seed;
    Next();
}

void RandomSeedFromClock()
{
    RandomSeed(static_cast<std::uint64_t>(SeedClockNow()));
}

std::uint64_t RandomState()
{
    return state;
}

void SetRandomState(std::uint64_t generatorState)
{
    state = generatorState;
}

std::uint32_t RandomBelow(std::uint32_t n)
{
    if (n == 0) return 0;
    // Multiply-and-shift with rejection of the few values that would make
    // the result non-uniform.
    std::uint64_t product = static_cast<std::uint64_t>(Next()) * n;
    auto low = static_cast<std::uint32_t>(product);
    if (low < n) {
        const std::uint32_t threshold = (0u - n) % n;
        while (low < threshold) {
            product = static_cast<std::uint64_t>(Next()) * n;
            low = static_cast<std::uint32_t>(product);
        }
    }
    return static_cast<std::uint32_t>(product >> 32);
}

std::uint32_t Random15()
{
    return Next() >> 17;
}
