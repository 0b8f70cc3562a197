// The eight-lane kernels of KernelsAvx2.cpp built once more with AVX-512 F,
// VL, BW and DQ besides (on x86-64; elsewhere a further baseline build). The
// vectors stay eight floats wide and the operations are the same, in the
// same order: the compiler gets 32 vector registers instead of 16 and mask
// registers for the lane selections, and the exponential works out eight
// lanes in one register of doubles, with the table held in registers (see
// ExpOctet). Nothing here runs before engine_kernels::Active() has checked
// that the CPU and the operating system support those sets.
#include "engine/KernelsImpl.inc"

const engine_kernels::TKernels engine_kernels::kAvx512Kernels = kKernels;
#if defined(__AVX512F__) && defined(__AVX512VL__) && defined(__AVX512BW__) && defined(__AVX512DQ__)
const bool engine_kernels::kAvx512Built = true;
#else
const bool engine_kernels::kAvx512Built = false;
#endif
