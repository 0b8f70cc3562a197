// Test entry point of the images and project tests. The file readers run
// under a memory limit (tests/MemoryLimit.h).
#include "tests/MemoryLimit.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    LimitMemory(rlim_t{2} << 30);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
