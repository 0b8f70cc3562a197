#pragma once
// The first difference between two project states, compared bit for bit
// (floats by their bits, the sequence in ring order from the cursor's
// successor, so that the cursor counts too); empty when they are the same.
// Shared by the project file's tests and its fuzz target.

#include "project/Project.h"

#include <cstring>
#include <string>

inline bool SameBits(const float* a, const float* b, std::size_t n)
{
    return n == 0 || std::memcmp(a, b, n * sizeof(float)) == 0;
}

inline bool SameMatrix(const TWeightMatrix& a, const TWeightMatrix& b)
{
    if (a.Rows() != b.Rows() || a.Columns() != b.Columns())
        return false;
    for (std::size_t i = 0; i < a.Rows(); ++i)
        if (!SameBits(a[i], b[i], a.Columns()))
            return false;
    return true;
}

inline std::string NetworkDifference(const TNeuralNet& a, const TNeuralNet& b)
{
    if (a.layerCount != b.layerCount || a.layers.size() != b.layers.size() || a.outputCount != b.outputCount)
        return "network shape";
    if (!SameBits(&a.inputOffset, &b.inputOffset, 1) || !SameBits(&a.targetOffset, &b.targetOffset, 1) ||
        !SameBits(&a.inputScale, &b.inputScale, 1) || !SameBits(&a.targetScale, &b.targetScale, 1))
        return "network scalings";
    for (std::size_t k = 0; k < a.layers.size(); ++k) {
        const TLayer& x = a.layers[k];
        const TLayer& y = b.layers[k];
        const std::string layer = "layer " + std::to_string(k) + " ";
        if (x.inputCount != y.inputCount || x.neuronCount != y.neuronCount)
            return layer + "sizes";
        if (!SameBits(&x.slope, &y.slope, 1) || !SameBits(&x.amplitude, &y.amplitude, 1) ||
            !SameBits(&x.offset, &y.offset, 1))
            return layer + "activation";
        if (!SameMatrix(x.weights, y.weights))
            return layer + "weights";
        if (!SameMatrix(a.changes[k].weights, b.changes[k].weights))
            return layer + "changes";
    }
    return {};
}

inline std::string StateDifference(const TProjectState& a, const TProjectState& b)
{
    if ((a.net == nullptr) != (b.net == nullptr))
        return "network presence";
    if (a.net)
        if (std::string d = NetworkDifference(*a.net, *b.net); !d.empty())
            return d;
    if (a.sequence.GetCount() != b.sequence.GetCount() || a.sequence.GetDimension() != b.sequence.GetDimension() ||
        (a.sequence.CurrentElement() == nullptr) != (b.sequence.CurrentElement() == nullptr))
        return "sequence count, dimension or cursor";
    auto y = b.sequence.FileOrder().begin();
    std::uint32_t k = 0;
    for (const TAbsImage& x : a.sequence.FileOrder()) {
        if (x.Size != y->Size || x.ClassIndex != y->ClassIndex || x.Cells != y->Cells)
            return "sequence element " + std::to_string(k);
        ++y;
        ++k;
    }
    if (a.classNames != b.classNames)
        return "class names";
    if (a.retinaWidth != b.retinaWidth || a.retinaHeight != b.retinaHeight)
        return "retina";
    if (a.series.count != b.series.count || (a.series.values == nullptr) != (b.series.values == nullptr) ||
        (a.series.values && !SameBits(a.series.values.get(), b.series.values.get(),
                                      static_cast<std::size_t>(a.series.count))))
        return "series values";
    if (!SameBits(&a.seriesMin, &b.seriesMin, 1) || !SameBits(&a.seriesMax, &b.seriesMax, 1) ||
        a.windowSize != b.windowSize || a.trainLength != b.trainLength || a.fromFirstWindow != b.fromFirstWindow)
        return "series settings";
    if (a.generator != b.generator)
        return "generator";
    if (a.fit != b.fit || a.seed != b.seed)
        return "fit or seed";
    if (!(a.training == b.training) || !SameBits(&a.training.step.learningRate, &b.training.step.learningRate, 1))
        return "training settings";
    return {};
}
