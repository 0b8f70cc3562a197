// The choice of the kernel set (engine/Kernels.h): the fastest one the CPU runs, or the one the tests force.
#include "engine/Kernels.h"

#include <stdexcept>

namespace engine_kernels {

namespace {

const TKernels& KernelsOf(TKernelSet set)
{
    switch (set) {
    case TKernelSet::Avx512: return kAvx512Kernels;
    case TKernelSet::Avx2: return kAvx2Kernels;
    case TKernelSet::Baseline: break;
    }
    return kBaselineKernels;
}

TKernelSet Best()
{
    for (TKernelSet set : {TKernelSet::Avx512, TKernelSet::Avx2})
        if (Runs(set)) return set;
    return TKernelSet::Baseline;
}

TKernelSet& Current()
{
    static TKernelSet current = Best();
    return current;
}

} // namespace

const TKernels& Active()
{
    return KernelsOf(Current());
}

bool Runs(TKernelSet set)
{
    switch (set) {
    case TKernelSet::Baseline: return true;
#if defined(__x86_64__) || defined(__i386__)
    // The compiler's CPU check sees AVX-512 only where the operating system saves its registers.
    case TKernelSet::Avx2:
        return kAvx2Built && __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") &&
               __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2");
    case TKernelSet::Avx512:
        return kAvx512Built && Runs(TKernelSet::Avx2) && __builtin_cpu_supports("avx512f") &&
               __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512bw") &&
               __builtin_cpu_supports("avx512dq");
#else
    case TKernelSet::Avx2:
    case TKernelSet::Avx512: return false;
#endif
    }
    return false;
}

TKernelSet ActiveSet()
{
    return Current();
}

void ForceKernelSet(std::optional<TKernelSet> set)
{
    if (set && !Runs(*set)) throw std::invalid_argument("kernel set not available on this CPU");
    Current() = set.value_or(Best());
    engine_detail::gChoiceChanges.fetch_add(1, std::memory_order_relaxed);
}

bool gSeparateKernels = false;

void ForceSeparateKernels(bool separate)
{
    gSeparateKernels = separate;
    engine_detail::gChoiceChanges.fetch_add(1, std::memory_order_relaxed);
}

bool FusedPassesAllowed()
{
    return !gSeparateKernels;
}

} // namespace engine_kernels
