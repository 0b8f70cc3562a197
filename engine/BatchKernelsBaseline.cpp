// The batch trainer's kernels for the x86-64 baseline (or any other target): four lanes.
#define TRELIS_LANES 4
#include "engine/BatchKernelsImpl.inc"

const engine_kernels::TBatchKernels engine_kernels::kBaselineBatchKernels = batch::kBatchKernels;
