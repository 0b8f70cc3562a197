// Test entry point for the suites that need the application object: runs
// headless unless a platform was chosen.
#include "framework/Application.h"
#include "framework/Seams.h"

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
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::testing::InitGoogleTest(&argc, argv);
    TApplication app(argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new SeamReset);
    return RUN_ALL_TESTS();
}
