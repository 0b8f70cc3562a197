// Test entry point of the images and project tests. The file readers run under a memory
// limit, so that a reader that takes a file's word for how much to allocate,
// or reads an endless input, fails at once instead of filling the machine's
// memory.
#include <gtest/gtest.h>

#include <sys/resource.h>

#if defined(__SANITIZE_ADDRESS__)
#define TRELIS_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TRELIS_ASAN 1
#endif
#endif

// AddressSanitizer reserves terabytes of address space for itself, so an
// address-space limit would stop it; it ends the process instead once its
// resident memory passes a bound.
#ifdef TRELIS_ASAN
extern "C" const char* __asan_default_options()
{
    return "hard_rss_limit_mb=2048";
}
#endif

int main(int argc, char** argv)
{
#ifndef TRELIS_ASAN
    constexpr rlim_t limit = rlim_t{2} << 30;
    rlimit current {};
    if (getrlimit(RLIMIT_AS, &current) == 0 && (current.rlim_max == RLIM_INFINITY || current.rlim_max > limit)) {
        const rlimit lowered {limit, current.rlim_max};
        setrlimit(RLIMIT_AS, &lowered);
    }
#endif
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
