#pragma once

// The settings of mini-batch training (engine/BatchTrainer.h has what each
// one does).

#include <cstdint>

enum class TOptimiserKind : std::uint8_t { Sgd, Adam };

struct TOptimiserSettings {
    TOptimiserKind kind = TOptimiserKind::Adam;
    float rate = 0.001f;       // learning rate
    float momentum = 0.0f;     // SGD only: mu
    std::uint32_t batch = 32;  // the largest batch a step takes
    float l2 = 0.0f;           // L2 factor, the bias row left out
    float beta1 = 0.9f;        // Adam only
    float beta2 = 0.999f;      // Adam only
    float epsilon = 1e-8f;     // Adam only
    std::uint32_t threads = 1; // 1, or 2: each part of a step split between two threads
};
