#include "engine/Exp.h"

namespace engine_detail {

namespace {

bool SameBits(float a, float b)
{
    return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
}

// Compares both inline variants with std::exp on the inputs where they differ
// from each other and on a sweep over the whole covered range, both signs.
TExpKind Calibrate()
{
    // The only two floats on which the fused and the separate variant differ.
    const float split[] = {0x1.04845ep+5f, -0x1.f8cbb2p+5f};
    bool fused = true;
    bool separate = true;
    auto probe = [&](float x) {
        const float e = std::exp(x);
        fused = fused && SameBits(ExpFused(x), e);
        separate = separate && SameBits(ExpSeparate(x), e);
    };
    for (float x : split) probe(x);
    // 4,099 bit patterns spread over 0 .. 88 (exclusive), and their negatives.
    constexpr std::uint32_t kLimit = 0x42b00000;  // 88.0f
    constexpr std::uint32_t kStep = kLimit / 4099 + 1;
    for (std::uint32_t u = 0x00012345 % kStep; u < kLimit; u += kStep) {
        probe(std::bit_cast<float>(u));
        probe(std::bit_cast<float>(u | 0x80000000u));
    }
    // At most one of them matches: they differ on the split inputs.
    if (fused) return CpuHasFma() ? TExpKind::Fused : TExpKind::Library;
    return separate ? TExpKind::Separate : TExpKind::Library;
}

} // namespace

bool CpuHasFma()
{
#if defined(__x86_64__) || defined(__i386__)
    return __builtin_cpu_supports("fma") && __builtin_cpu_supports("avx");
#elif defined(__aarch64__)
    return true;  // part of the base instruction set
#else
    return false;
#endif
}

std::atomic<TExpKind> gExpKind{TExpKind::Unknown};

TExpKind CalibrateExp()
{
    const TExpKind kind = Calibrate();
    gExpKind.store(kind, std::memory_order_relaxed);
    return kind;
}

std::atomic<unsigned> gChoiceChanges{0};

void ForceExp(TExpKind kind)
{
    gExpKind.store(kind, std::memory_order_relaxed);
    gChoiceChanges.fetch_add(1, std::memory_order_relaxed);
}

} // namespace engine_detail
