// The engine's kernels for AVX2: eight lanes. Compiled with -mavx2 -mfma -mbmi -mbmi2 on
// x86-64 (and without them, as a second baseline build, elsewhere). FMA only
// for the fused exponential's explicit multiply-adds (floating-point
// contraction is off): the results must equal those of the baseline build.
// Nothing here runs before engine_kernels::Active() has checked that the CPU
// has AVX2, FMA, BMI1 and BMI2.
#include "engine/Kernels.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <utility>

namespace {
#if defined(__AVX2__)
#define TRELIS_LANES 8
#else
#define TRELIS_LANES 4
#endif
#include "engine/KernelsImpl.inc"
} // namespace

const engine_kernels::TKernels engine_kernels::kAvx2Kernels = kKernels;
#if defined(__AVX2__)
const bool engine_kernels::kAvx2Built = true;
#else
const bool engine_kernels::kAvx2Built = false;
#endif
