// The batch trainer's kernels for AVX2: eight lanes, built with the options of KernelsAvx2.cpp.
#include "engine/BatchKernelsImpl.inc"

const engine_kernels::TBatchKernels engine_kernels::kAvx2BatchKernels = batch::kBatchKernels;
