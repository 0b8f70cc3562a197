#pragma once
// Caps a test executable's memory, so that a reader that takes a file's word
// for how much to allocate, or reads an endless input, fails at once instead
// of filling the machine's memory. Include from a test executable's main only.

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
    return "hard_rss_limit_mb=3072";
}
#endif

// Lowers the address-space limit to `bytes` (not under AddressSanitizer).
inline void LimitMemory(rlim_t bytes)
{
#ifndef TRELIS_ASAN
    rlimit current {};
    if (getrlimit(RLIMIT_AS, &current) == 0 && (current.rlim_max == RLIM_INFINITY || current.rlim_max > bytes)) {
        const rlimit lowered {bytes, current.rlim_max};
        setrlimit(RLIMIT_AS, &lowered);
    }
#else
    (void)bytes;
#endif
}
