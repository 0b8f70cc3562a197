// Test entry point for the suites that need the application object: runs
// headless unless a platform was chosen, under a memory limit, since the
// window tests hand bad files to the readers too (tests/MemoryLimit.h).
#include "framework/Application.h"
#include "framework/Seams.h"
#include "tests/MemoryLimit.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

// Every test starts and ends without hooks installed.
class SeamReset : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override { Seams::Reset(); }
    void OnTestEnd(const ::testing::TestInfo&) override { Seams::Reset(); }
};

} // namespace

int main(int argc, char** argv)
{
    LimitMemory(rlim_t{4} << 30);
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::testing::InitGoogleTest(&argc, argv);
    TApplication app(argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new SeamReset);
    return RUN_ALL_TESTS();
}
