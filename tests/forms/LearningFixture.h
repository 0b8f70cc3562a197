#pragma once
// The program after start-up with an empty training sequence, and helpers
// that lay out small networks and sequences whose answers are known in
// advance.

#include "FormsFixture.h"

class LearningUser : public Started {
protected:
    static std::vector<float> Weights(const TNeuralNet& net) { return testnets::Weights(net); }

    // A one-layer network of n inputs and n outputs that answers a pattern
    // holding a single 1 at input i with output i near 1.0 and every other
    // output near 0.0 (weights +strength and -strength). The bias weights are
    // `bias` (0 when not given). Saturated this way (strength 10), the answers
    // barely move while an epoch trains it.
    static std::unique_ptr<TNeuralNet> Detector(std::uint32_t n, std::vector<float> bias = {},
                                                float strength = 10.0f)
    {
        auto net = std::make_unique<TNeuralNet>(1, std::vector<std::uint32_t>{n, n}, 0.68f, 0.0f, 0.0f,
                                                1.0f, 1.0f);
        TLayer& layer = net->layers[0];
        for (std::uint32_t i = 0; i < n; ++i)
            for (std::uint32_t j = 0; j < n; ++j)
                layer.weights[i][j] = i == j ? strength : -strength;
        for (std::uint32_t j = 0; j < n; ++j)
            layer.weights[n][j] = j < bias.size() ? bias[j] : 0.0f;
        return net;
    }

    // An element of n cells holding a single 1 at cell `hot` (none when hot >= n).
    static TAbsImage OneHot(std::uint32_t n, std::uint32_t hot)
    {
        TAbsImage image(n);
        if (hot < n)
            image.Cells[hot] = 1;
        return image;
    }

    // Adds the elements in order and puts the cursor on the first, so that
    // an epoch visits them in the order given.
    static void Fill(const std::vector<TAbsImage>& images, const std::vector<std::int32_t>& classes)
    {
        PatternRing ring;
        if (!images.empty())
            ring.SetDimension(images.front().Size);
        for (std::size_t k = 0; k < images.size(); ++k)
            ring.Add(images[k], classes[k]);
        ring.StepCursor();
        Project.ReplaceSequence(ring);
    }

    // The elements from the cursor on, in epoch order.
    static std::vector<const TAbsImage*> EpochOrder()
    {
        std::vector<const TAbsImage*> order;
        for (const TAbsImage& e : TrainingSequence.Elements())
            order.push_back(&e);
        return order;
    }
};
