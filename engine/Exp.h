#pragma once

// e^x in single precision, inline, with exactly the results of the C
// library's expf.
//
// The engine's results are defined with the library's exponential. The
// kernels (engine/Kernels.h: the layer kernels, the fused passes and the
// float steps) need it for several neurons at once, in vector lanes, which a
// call to expf cannot do. So they use a copy of the library's algorithm:
// x·32/ln 2 = k + r, e^x = 2^(k/32) · p(r) with a 32-entry table of
// 2^(i/32) and a cubic polynomial, all in double precision, rounded once to
// float.
//
// The GNU C library on x86-64 builds that algorithm twice, once with fused
// multiply-adds (chosen on CPUs with FMA) and once without, and the two
// differ on two inputs. Both are here; ChosenExp() finds out, once, which one
// this process's expf is, and answers TExpKind::Library when neither matches
// (then the engine calls expf itself). Inputs with |x| >= 88 and NaN always go
// to the library.

#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>

namespace engine_detail {

enum class TExpKind {
    Unknown,   // not worked out yet
    Library,   // call std::exp
    Fused,     // the inline algorithm with fused multiply-adds
    Separate,  // the inline algorithm with separate products and sums
};

// 2^(i/32) as IEEE doubles, less i·2^47 in their bit patterns (so that adding
// k·2^47 for the integer k = 32·e + i gives 2^(e + i/32)).
inline constexpr std::uint64_t kExp2Table[32] = {
    0x3ff0000000000000, 0x3fefd9b0d3158574, 0x3fefb5586cf9890f, 0x3fef9301d0125b51, 0x3fef72b83c7d517b,
    0x3fef54873168b9aa, 0x3fef387a6e756238, 0x3fef1e9df51fdee1, 0x3fef06fe0a31b715, 0x3feef1a7373aa9cb,
    0x3feedea64c123422, 0x3feece086061892d, 0x3feebfdad5362a27, 0x3feeb42b569d4f82, 0x3feeab07dd485429,
    0x3feea47eb03a5585, 0x3feea09e667f3bcd, 0x3fee9f75e8ec5f74, 0x3feea11473eb0187, 0x3feea589994cce13,
    0x3feeace5422aa0db, 0x3feeb737b0cdc5e5, 0x3feec49182a3f090, 0x3feed503b23e255d, 0x3feee89f995ad3ad,
    0x3feeff76f2fb5e47, 0x3fef199bdd85529c, 0x3fef3720dcef9069, 0x3fef5818dcfba487, 0x3fef7c97337b9b5f,
    0x3fefa4afa2a490da, 0x3fefd0765b6e4540,
};

namespace exp_constants {
inline constexpr double kInvLn2Scaled = std::bit_cast<double>(std::uint64_t{0x40471547652b82fe});  // 32 / ln 2
inline constexpr double kShift = std::bit_cast<double>(std::uint64_t{0x4338000000000000});         // 1.5 · 2^52
inline constexpr double kC0 = std::bit_cast<double>(std::uint64_t{0x3ebc6af84b912394});
inline constexpr double kC1 = std::bit_cast<double>(std::uint64_t{0x3f2ebfce50fac4f3});
inline constexpr double kC2 = std::bit_cast<double>(std::uint64_t{0x3f962e42ff0c52d6});
} // namespace exp_constants

// Whether the inline algorithm covers x: |x| < 88 (NaN is not covered).
[[gnu::always_inline]] inline bool InlineExpCovers(float x)
{
    return ((std::bit_cast<std::uint32_t>(x) >> 20) & 0x7ff) < 0x42b;
}

// 2^(k/32) for the bit pattern ki of k + 1.5 · 2^52.
[[gnu::always_inline]] inline double Exp2Scale(std::uint64_t ki)
{
    return std::bit_cast<double>(kExp2Table[ki & 31] + (ki << 47));
}

// e^x (e^-x when Negate) by the library's algorithm with fused multiply-adds. Inline
// and fast only in code built for FMA; elsewhere std::fma is a library call (exact,
// slow). With Negate the sign goes into the factor 32/ln 2: (-x)·c and x·(-c) are the
// same number, so the result is exactly that of e^(-x), one operation sooner.
template <bool Negate = false>
[[gnu::always_inline]] inline float ExpFusedCore(float x)  // |x| < 88 only
{
    using namespace exp_constants;
    const double xd = x;
    const double c = Negate ? -kInvLn2Scaled : kInvLn2Scaled;
    double kd = std::fma(c, xd, kShift);
    const std::uint64_t ki = std::bit_cast<std::uint64_t>(kd);
    kd -= kShift;
    const double r = std::fma(c, xd, -kd);
    const double s = Exp2Scale(ki);
    const double z = std::fma(r, kC0, kC1);
    const double r2 = r * r;
    double y = std::fma(r, kC2, 1.0);
    y = std::fma(z, r2, y);
    return static_cast<float>(y * s);
}

// e^x (e^-x when Negate) by the library's algorithm with separate products and sums
// (the engine is built without floating-point contraction, so none of them is fused).
template <bool Negate = false>
[[gnu::always_inline]] inline float ExpSeparateCore(float x)  // |x| < 88 only
{
    using namespace exp_constants;
    const double xd = x;
    const double z = (Negate ? -kInvLn2Scaled : kInvLn2Scaled) * xd;
    double kd = z + kShift;
    const std::uint64_t ki = std::bit_cast<std::uint64_t>(kd);
    kd -= kShift;
    const double r = z - kd;
    const double s = Exp2Scale(ki);
    const double p = kC0 * r + kC1;
    const double r2 = r * r;
    double y = kC2 * r + 1.0;
    y = p * r2 + y;
    return static_cast<float>(y * s);
}

template <bool Negate = false>
[[gnu::always_inline]] inline float ExpFused(float x)
{
    return InlineExpCovers(x) ? ExpFusedCore<Negate>(x) : std::exp(Negate ? -x : x);
}

template <bool Negate = false>
[[gnu::always_inline]] inline float ExpSeparate(float x)
{
    return InlineExpCovers(x) ? ExpSeparateCore<Negate>(x) : std::exp(Negate ? -x : x);
}

// Works out which exponential gives this process's std::exp results bit for bit
// (Fused only on a CPU with FMA, Library when neither inline variant matches),
// records it for ChosenExp and returns it.
TExpKind CalibrateExp();

// The kind recorded by CalibrateExp or ForceExp; Unknown before either.
extern std::atomic<TExpKind> gExpKind;

// The exponential to use, calibrated at the first call.
inline TExpKind ChosenExp()
{
    const TExpKind kind = gExpKind.load(std::memory_order_relaxed);
    return kind != TExpKind::Unknown ? kind : CalibrateExp();
}

// Tests only: use the given kind from now on (Fused needs a CPU with FMA).
void ForceExp(TExpKind kind);

// Counts the changes made by the tests' hooks to the choice of exponential and kernels (ForceExp here,
// ForceKernelSet and ForceSeparateKernels in engine/Kernels.h), so that a choice remembered with the count
// it was made at is known to be still good.
extern std::atomic<unsigned> gChoiceChanges;

// Whether this CPU can run code built for FMA.
bool CpuHasFma();

} // namespace engine_detail
