// The engine's kernels for the x86-64 baseline (or any other target): four lanes.
#include "engine/Kernels.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <utility>

namespace {
#define TRELIS_LANES 4
#include "engine/KernelsImpl.inc"
} // namespace

const engine_kernels::TKernels engine_kernels::kBaselineKernels = kKernels;
