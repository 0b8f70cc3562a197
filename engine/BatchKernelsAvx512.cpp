// The batch trainer's kernels for AVX-512 F, VL, BW and DQ: eight lanes, built with the options of
// KernelsAvx512.cpp.
#include "engine/BatchKernelsImpl.inc"

const engine_kernels::TBatchKernels engine_kernels::kAvx512BatchKernels = batch::kBatchKernels;
