// The engine's kernels for the x86-64 baseline (or any other target): four lanes.
#define TRELIS_LANES 4
#include "engine/KernelsImpl.inc"

const engine_kernels::TKernels engine_kernels::kBaselineKernels = kKernels;
