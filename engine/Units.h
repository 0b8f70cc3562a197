#pragma once

// The kinds of units a layer may have, the loss that follows from the output
// layer's kind, and the initial weights of a network of such layers.
//
// Logistic units are the classic ones (slope s, amplitude A, offset O:
// O + A / (1 + e^(-s x)), with the guards of TLayer::Activation). A network of
// logistic layers only is the classic network: every pass and step of
// TNeuralNet is defined for it alone.
//
//   tanh:      y = copysign((1 - e) / (1 + e), x) with e = e^(-2|x|), the
//              engine's exponential (the C library's expf, see engine/Exp.h);
//              within one unit in the last place of 1.0 of the true tanh.
//   relu:      y = x > 0 ? x : +0.0.
//   softmax:   the output layer only: y_j = e_j / (e_0 + e_1 + ... + e_(m-1)),
//              summed in that order, with e_j = e^(z_j - max z), the maximum
//              the first greatest of z_0, z_1, ... in order.
//
// The loss is cross-entropy after a softmax output layer and the squared
// error after any other output layer.
//
// A layer's kind is TLayer::kind (logistic unless set otherwise), which the
// mini-batch trainer (engine/BatchTrainer.h) reads; TNeuralNet's own passes
// and steps take every layer as logistic.

#include <cstdint>
#include <vector>

class TNeuralNet;

enum class TUnitKind : std::uint8_t {
    Logistic,
    Tanh,
    Relu,
    Softmax,
};

// Whether the network's layers have kinds the trainer takes: softmax in the last layer only.
bool ValidKinds(const TNeuralNet& net);

// Sets the kind of each layer k to kinds[k] (layers beyond kinds.size() are left as they are).
void SetKinds(TNeuralNet& net, const std::vector<TUnitKind>& kinds);

// Draws every weight of the network from the seed, layer by layer, row by row, column by column, the bias
// row set to 0.0, by the layers' kinds: for layer k of n inputs and m units, w = a * ((2u + 1) / 2^24 - 1)
// in double, rounded to float, with u uniform in 0..2^24-1 drawn by RandomBelow after RandomSeed(seed), and
//   a = sqrt(6 / n)        (He's uniform form) for relu units,
//   a = sqrt(6 / (n + m))  (Glorot's uniform form) for every other kind.
// The weights lie strictly within -a..a, symmetric about 0. The generator's sequence is left after the
// last draw. Changes (the momentum of TrainBytes and of SGD) are set to 0.0.
void InitialiseWeights(TNeuralNet& net, std::uint64_t seed);
