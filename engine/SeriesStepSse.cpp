// The series network's step with the separate exponential, for any x86-64 CPU.
#include "engine/SeriesStep.h"

#include "engine/Exp.h"

#include <immintrin.h>

#include <cmath>
#include <cstdint>

#if defined(__x86_64__)
namespace {
#define TRELIS_FUSED_EXP 0
#include "engine/SeriesStepImpl.inc"
} // namespace

void engine_series::StepSeparate(TNeuralNet& net, float* values, float* target, float learningRate, float momentum)
{
    Step(net, values, target, learningRate, momentum);
}
#endif
