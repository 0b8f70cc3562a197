// The series network's step with the fused exponential, called only on CPUs
// with FMA. Only the step itself is built for AVX and FMA (everything it uses
// from headers keeps the baseline build, so that no shared inline function is
// ever compiled for FMA), and with floating-point contraction off, so that
// only the exponential's explicit multiply-adds are fused.
#include "engine/SeriesStep.h"

#include "engine/Exp.h"

#include <immintrin.h>

#include <cmath>
#include <cstdint>

#if defined(__x86_64__)
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx,fma"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx,fma")
#endif
namespace {
#define TRELIS_FUSED_EXP 1
#include "engine/SeriesStepImpl.inc"
} // namespace

void engine_series::StepFused(TNeuralNet& net, float* values, float* target, float learningRate, float momentum)
{
    Step(net, values, target, learningRate, momentum);
}
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
#endif
