// Test entry point of the trelis-cli tests: the file readers run under the
// memory limit of the other reader tests (tests/MemoryLimit.h), and the
// toolkit the picture commands start is taken down before main ends, as
// trelis-cli's own main does.
#include "cli/ImageFile.h"
#include "tests/MemoryLimit.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    LimitMemory(rlim_t{2} << 30);
    ::testing::InitGoogleTest(&argc, argv);
    const TGuiToolkitScope toolkit;
    return RUN_ALL_TESTS();
}
