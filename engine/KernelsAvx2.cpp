// The engine's kernels for AVX2: eight lanes. Compiled with -mavx2 on x86-64
// (and without it, as a second baseline build, elsewhere). No FMA: the
// results must equal those of the baseline build. Nothing here runs before
// engine_kernels::Active() has checked that the CPU has AVX2.
#include "engine/Kernels.h"

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
