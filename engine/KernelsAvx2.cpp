// The engine's kernels for AVX2: eight lanes. Compiled with -mavx2 -mfma -mbmi -mbmi2 on
// x86-64 (and without them, as a second baseline build, elsewhere). FMA only
// for the fused exponential's explicit multiply-adds (floating-point
// contraction is off): the results must equal those of the baseline build.
// Nothing here runs before engine_kernels::Active() has checked that the CPU
// has AVX2, FMA, BMI1 and BMI2.
#include "engine/KernelsImpl.inc"

const engine_kernels::TKernels engine_kernels::kAvx2Kernels = kKernels;
#if defined(__AVX2__)
const bool engine_kernels::kAvx2Built = true;
#else
const bool engine_kernels::kAvx2Built = false;
#endif
