#pragma once

// The series network's training step, built for x86-64 with the two hidden
// neurons side by side in vector lanes (engine/SeriesStepImpl.inc). The
// network must have the series shape (n inputs, 2 hidden neurons, 1 output,
// every layer with slope 1, amplitude 1 and offset +0.0); the results are
// those of TNeuralNet's general step, bit for bit, provided the exponential
// variant is the one engine_detail::ChosenExp() reports.

#include "engine/NeuralNet.h"

namespace engine_series {

// Defined on x86-64 only.

// With the fused exponential; only on a CPU with FMA.
void StepFused(TNeuralNet& net, float* values, float* target, float learningRate, float momentum);

// With the separate exponential; any x86-64 CPU.
void StepSeparate(TNeuralNet& net, float* values, float* target, float learningRate, float momentum);

} // namespace engine_series
