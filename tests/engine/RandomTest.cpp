// The generator and its seeding clock.

#include "TestNets.h"

#include <array>

TEST(Random, EqualSeedsGiveEqualSequencesAndOtherSeedsOthers)
{
    std::vector<std::uint32_t> a, b, c;
    RandomSeed(42);
    for (int n = 0; n < 50; ++n) a.push_back(Random15());
    RandomSeed(42);
    for (int n = 0; n < 50; ++n) b.push_back(Random15());
    RandomSeed(43);
    for (int n = 0; n < 50; ++n) c.push_back(Random15());
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
}

TEST(Random, Random15CoversZeroTo32767Evenly)
{
    RandomSeed(1);
    std::array<int, 8> buckets{};
    std::uint32_t lo = 32767, hi = 0;
    const int draws = 400000;
    for (int n = 0; n < draws; ++n) {
        const std::uint32_t r = Random15();
        ASSERT_LE(r, 32767u);
        lo = std::min(lo, r);
        hi = std::max(hi, r);
        ++buckets[r / 4096];
    }
    EXPECT_LE(lo, 20u);
    EXPECT_GE(hi, 32747u);
    for (int count : buckets) EXPECT_NEAR(count, draws / 8, draws / 8 / 20);
}

TEST(Random, RandomBelowIsUniformOverItsRange)
{
    RandomSeed(2);
    for (std::uint32_t n : {1u, 2u, 3u, 7u, 680u, 1000000007u}) {
        for (int d = 0; d < 2000; ++d) ASSERT_LT(RandomBelow(n), n);
    }
    // A range that is not a power of two: every value about equally often.
    std::array<int, 3> counts{};
    for (int d = 0; d < 300000; ++d) ++counts[RandomBelow(3)];
    for (int count : counts) EXPECT_NEAR(count, 100000, 2000);
}

TEST(Random, RandomBelowZeroDrawsNothing)
{
    RandomSeed(3);
    const std::uint32_t expected = Random15();
    RandomSeed(3);
    EXPECT_EQ(RandomBelow(0), 0u);
    EXPECT_EQ(Random15(), expected);
}

TEST(Random, SeedClockCanBePinnedAndRestored)
{
    {
        testnets::PinnedClock clock(123456);
        EXPECT_EQ(SeedClockNow(), 123456);
        RandomSeedFromClock();
        const std::uint32_t a = Random15();
        RandomSeed(123456);
        EXPECT_EQ(Random15(), a);
    }
    const std::time_t now = std::time(nullptr);
    EXPECT_LE(std::abs(static_cast<long long>(SeedClockNow() - now)), 2);
}
