// The project tests' main: the address space is capped at 1 GiB (far above
// what the tests need, far below what an unchecked count would ask for),
// except under AddressSanitizer, which reserves terabytes of shadow memory.
#include <gtest/gtest.h>

#include <sys/resource.h>

#if defined(__SANITIZE_ADDRESS__)
#define TRELIS_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TRELIS_ASAN 1
#endif
#endif

int main(int argc, char** argv)
{
#if !defined(TRELIS_ASAN)
    const rlimit limit{rlim_t{1} << 30, rlim_t{1} << 30};
    if (setrlimit(RLIMIT_AS, &limit) != 0)
        return 2;
#endif
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
