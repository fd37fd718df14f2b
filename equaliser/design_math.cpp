#include "equaliser/design_math.h"

#include <cstdint>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#else
#include <cmath>
#endif

// Only +, -, * and / of IEEE doubles in round-to-nearest, in a fixed order:
// no call into a C runtime, so every build gives the same bits. Where a
// result needs more than 53 bits on the way (the reduced argument of sin and
// cos, the logarithm of 10 times the exponent) it is carried as an unevaluated
// sum of two doubles, a high part and the rounding error below it.

namespace eq::dmath {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

uint64_t bitsOf(double x) {
    uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return bits;
}

double fromBits(uint64_t bits) {
    double x;
    std::memcpy(&x, &bits, sizeof x);
    return x;
}

double magnitude(double x) { return fromBits(bitsOf(x) & ~(uint64_t{1} << 63)); }

bool isNumberOrInfinity(double x) { return x == x; }

// 2^k for k in the normal exponent range.
double powerOfTwo(int k) { return fromBits(static_cast<uint64_t>(k + 1023) << 52); }

// The nearest integer (ties to even) of |v| < 2^51: adding and taking away
// 1.5 * 2^52 leaves no fraction bits.
double nearestInteger(double v) {
    constexpr double kShifter = 6755399441055744.0;
    return (v + kShifter) - kShifter;
}

// s + e == a + b exactly.
void twoSum(double a, double b, double& s, double& e) {
    s = a + b;
    const double bPart = s - a;
    e = (a - (s - bPart)) + (b - bPart);
}

// p + e == a * b exactly (Dekker's product: no fused multiply-add needed).
double twoProduct(double a, double b, double& e) {
    constexpr double kSplitter = 134217729.0;  // 2^27 + 1
    const double p = a * b;
    const double ca = kSplitter * a;
    const double aHigh = ca - (ca - a);
    const double aLow = a - aHigh;
    const double cb = kSplitter * b;
    const double bHigh = cb - (cb - b);
    const double bLow = b - bHigh;
    e = (((aHigh * bHigh - p) + aHigh * bLow) + aLow * bHigh) + aLow * bLow;
    return p;
}

// --- sine and cosine ---------------------------------------------------

constexpr double kPiOver4 = 0.7853981633974483;
constexpr double kTwoOverPi = 0.6366197723675814;
// pi/2 in three parts: the first two have 33 significant bits, so their
// products with a quadrant count below 2^20 are exact.
constexpr double kPiOver2Part1 = 1.5707963267341256;      // 0x1.921fb544p+0
constexpr double kPiOver2Part2 = 6.077100506303966e-11;   // 0x1.0b4611a6p-34
constexpr double kPiOver2Part3 = 2.0222662487959506e-21;  // 0x1.3198a2e037073p-69
constexpr double kExactReductionLimit = 1048576.0 * 1.5707963267948966;  // 2^20 * pi/2
constexpr double kReductionLimit = 4611686018427387904.0;                // 2^62

// Taylor coefficients; on |r| <= pi/4 the first omitted term is below
// 2^-60 of the result.
constexpr double kSin3 = -1.0 / 6;
constexpr double kSin5 = 1.0 / 120;
constexpr double kSin7 = -1.0 / 5040;
constexpr double kSin9 = 1.0 / 362880;
constexpr double kSin11 = -1.0 / 39916800;
constexpr double kSin13 = 1.0 / 6227020800.0;
constexpr double kSin15 = -1.0 / 1307674368000.0;
constexpr double kSin17 = 1.0 / 355687428096000.0;

constexpr double kCos4 = 1.0 / 24;
constexpr double kCos6 = -1.0 / 720;
constexpr double kCos8 = 1.0 / 40320;
constexpr double kCos10 = -1.0 / 3628800;
constexpr double kCos12 = 1.0 / 479001600;
constexpr double kCos14 = -1.0 / 87178291200.0;
constexpr double kCos16 = 1.0 / 20922789888000.0;
constexpr double kCos18 = -1.0 / 6402373705728000.0;

// An argument as r = high + low in [-pi/4, pi/4] plus a quarter turn count.
struct Reduced {
    double high;
    double low;
    int quadrant;
};

Reduced reduce(double x) {
    const double size = magnitude(x);
    if (size <= kPiOver4) return {x, 0.0, 0};
    if (size < kExactReductionLimit) {
        const double turns = nearestInteger(x * kTwoOverPi);
        const double a = x - turns * kPiOver2Part1;  // exact: both products are
        const double b = turns * kPiOver2Part2;      // exact and a is a cancellation
        double s, e;
        twoSum(a, -b, s, e);
        Reduced r;
        twoSum(s, e - turns * kPiOver2Part3, r.high, r.low);
        r.quadrant = static_cast<int>(turns) & 3;
        return r;
    }
    // Far beyond any band's frequency: the parts of pi/2 no longer cancel
    // exactly, so the result is only kept a sine or cosine of something.
    if (!(size < kReductionLimit)) return {0.0, 0.0, 0};
    const int64_t turns = static_cast<int64_t>(x * kTwoOverPi);
    const double t = static_cast<double>(turns);
    double r = ((x - t * kPiOver2Part1) - t * kPiOver2Part2) - t * kPiOver2Part3;
    if (r > kPiOver4) r = kPiOver4;
    if (r < -kPiOver4) r = -kPiOver4;
    return {r, 0.0, static_cast<int>(turns & 3)};
}

// Two doubles side by side, each lane doing exactly the scalar arithmetic:
// sine and cosine evaluate their series together.
#if defined(__SSE2__)
struct Lanes {
    __m128d v;
};
inline Lanes lanes(double first, double second) { return {_mm_set_pd(second, first)}; }
inline Lanes operator+(Lanes a, Lanes b) { return {_mm_add_pd(a.v, b.v)}; }
inline Lanes operator*(Lanes a, Lanes b) { return {_mm_mul_pd(a.v, b.v)}; }
inline double first(Lanes a) { return _mm_cvtsd_f64(a.v); }
inline double second(Lanes a) { return _mm_cvtsd_f64(_mm_unpackhi_pd(a.v, a.v)); }
#else
struct Lanes {
    double a, b;
};
inline Lanes lanes(double first, double second) { return {first, second}; }
inline Lanes operator+(Lanes x, Lanes y) { return {x.a + y.a, x.b + y.b}; }
inline Lanes operator*(Lanes x, Lanes y) { return {x.a * y.a, x.b * y.b}; }
inline double first(Lanes x) { return x.a; }
inline double second(Lanes x) { return x.b; }
#endif

// sin(high + low) and cos(high + low) for |high| <= pi/4, low below half an
// ulp of high. The two series are summed in Estrin's order (pairs, then
// pairs of pairs), which waits on fewer products in turn than Horner's.

SinCos kernels(double high, double low) {
    double zLow;
    const double z = twoProduct(high, high, zLow);
    const Lanes zz = lanes(z, z);
    const Lanes z2 = zz * zz;
    const Lanes z4 = z2 * z2;
    const Lanes e0 = lanes(kSin3, kCos4) + lanes(kSin5, kCos6) * zz;
    const Lanes e1 = lanes(kSin7, kCos8) + lanes(kSin9, kCos10) * zz;
    const Lanes e2 = lanes(kSin11, kCos12) + lanes(kSin13, kCos14) * zz;
    const Lanes e3 = lanes(kSin15, kCos16) + lanes(kSin17, kCos18) * zz;
    const Lanes series = (e0 + e1 * z2) + (e2 + e3 * z2) * z4;
    SinCos r;
    // sin(h + l) = sin(h) + l cos(h) to within l^2.
    r.sin = high + ((high * z) * first(series) + low * (1.0 - 0.5 * z));
    // 1 - z/2 carries its own rounding error (z/2 is at most 0.31), so the
    // cosine is rounded once, at the end.
    const double halfZ = 0.5 * z;
    const double head = 1.0 - halfZ;
    const double headError = (1.0 - head) - halfZ;
    r.cos = head + (headError + (((z * z) * second(series) - 0.5 * zLow) - high * low));
    return r;
}

constexpr double kTiny = 1.0 / 134217728.0;  // 2^-27: sin x rounds to x, cos x to 1

// --- exponentials --------------------------------------------------------

constexpr double kInvLn2 = 1.4426950408889634;
// ln 2 in two parts; the first has 32 significant bits, so its products
// with exponents below 2^21 are exact.
constexpr double kLn2High = 0.6931471803691238;    // 0x1.62e42feep-1
constexpr double kLn2Low = 1.9082149292705877e-10;  // 0x1.a39ef35793c76p-33
constexpr double kLn10High = 2.302585092994046;
constexpr double kLn10Low = -2.1707562233822494e-16;
constexpr double kOverflow = 709.782712893384;     // ln of the largest double
constexpr double kUnderflow = -745.1332191019412;  // ln of half the smallest denormal

// e^(high + low) for |high| <= ln2 / 2 (about), low below an ulp of high,
// as the rounded value and the error below it: 1 + high is split off
// exactly and the rest, at most a tenth of the result, is added to its error
// before the one rounding. The first omitted Taylor term
// is below 2^-60 of the result.
struct Pair {
    double value;
    double error;
};

Pair expKernel(double high, double low) {
    constexpr double k2 = 1.0 / 2, k3 = 1.0 / 6, k4 = 1.0 / 24, k5 = 1.0 / 120, k6 = 1.0 / 720;
    constexpr double k7 = 1.0 / 5040, k8 = 1.0 / 40320, k9 = 1.0 / 362880, k10 = 1.0 / 3628800;
    constexpr double k11 = 1.0 / 39916800, k12 = 1.0 / 479001600, k13 = 1.0 / 6227020800.0;
    constexpr double k14 = 1.0 / 87178291200.0;
    const double r = high;
    // Estrin's order: pairs, pairs of pairs and so on.
    const double r2 = r * r, r4 = r2 * r2, r8 = r4 * r4;
    const double series =
        (((k2 + k3 * r) + (k4 + k5 * r) * r2) + ((k6 + k7 * r) + (k8 + k9 * r) * r2) * r4) +
        (((k10 + k11 * r) + (k12 + k13 * r) * r2) + k14 * r4) * r8;
    Pair e;
    twoSum(1.0, r, e.value, e.error);
    // e^(h + l) = e^h (1 + l) to within l^2.
    const double tail = e.error + ((r * r) * series + low * (1.0 + r));
    twoSum(e.value, tail, e.value, e.error);  // value is now the rounded result
    return e;
}

// x + xLow = k ln 2 + (high + low) with |high| <= ln2 / 2 (about), for
// |x| < 2^20.
struct ExpReduced {
    double high;
    double low;
    int exponent;
};

ExpReduced reduceExp(double x, double xLow) {
    const double k = nearestInteger(x * kInvLn2);
    const double a = x - k * kLn2High;  // exact
    ExpReduced r;
    twoSum(a, xLow - k * kLn2Low, r.high, r.low);
    r.exponent = static_cast<int>(k);
    return r;
}

// m * 2^k, for m near 1, rounded once (twice below the normal range).
double scale(double m, int k) {
    if (k > 1023) return (m * powerOfTwo(1023)) * powerOfTwo(k - 1023);
    if (k < -1022) return (m * powerOfTwo(k + 600)) * powerOfTwo(-600);
    return m * powerOfTwo(k);
}

// e^(x + xLow), rounded once.
double expOf(double x, double xLow) {
    if (x > kOverflow) return kInfinity;
    if (x < kUnderflow) return 0.0;
    const ExpReduced r = reduceExp(x, xLow);
    return scale(expKernel(r.high, r.low).value, r.exponent);
}

// e^x as value + error, for 0 <= x <= 709 (no scaling leaves the normal range).
Pair expPairOf(double x) {
    const ExpReduced r = reduceExp(x, 0.0);
    const Pair e = expKernel(r.high, r.low);
    const double twoToK = powerOfTwo(r.exponent);
    return {e.value * twoToK, e.error * twoToK};
}

}  // namespace

SinCos sincos(double x) {
    if (!isNumberOrInfinity(x) || magnitude(x) == kInfinity) return {x - x, x - x};  // NaN
    if (magnitude(x) < kTiny) return {x, 1.0};
    const Reduced r = reduce(x);
    const SinCos k = kernels(r.high, r.low);
    switch (r.quadrant) {
        case 0: return {k.sin, k.cos};
        case 1: return {k.cos, -k.sin};
        case 2: return {-k.sin, -k.cos};
        default: return {-k.cos, k.sin};
    }
}

double sin(double x) { return sincos(x).sin; }
double cos(double x) { return sincos(x).cos; }

double sinh(double x) {
    if (!isNumberOrInfinity(x)) return x;
    const double size = magnitude(x);
    const double half = x < 0.0 ? -0.5 : 0.5;
    if (size < 1.0 / 268435456.0) return x;  // 2^-28: sinh x rounds to x
    if (size < 1.0) {
        // The odd Taylor series: every term positive, so nothing cancels; the
        // first omitted term is below 2^-90 of the result.
        constexpr double k3 = 1.0 / 6, k5 = 1.0 / 120, k7 = 1.0 / 5040, k9 = 1.0 / 362880;
        constexpr double k11 = 1.0 / 39916800, k13 = 1.0 / 6227020800.0;
        constexpr double k15 = 1.0 / 1307674368000.0, k17 = 1.0 / 355687428096000.0;
        constexpr double k19 = 1.0 / 121645100408832000.0, k21 = 1.0 / 51090942171709440000.0;
        constexpr double k23 = 1.0 / 25852016738884976640000.0;
        constexpr double k25 = 1.0 / 15511210043330985984000000.0;
        const double z = x * x, z2 = z * z, z4 = z2 * z2, z8 = z4 * z4;
        const double series =
            (((k3 + k5 * z) + (k7 + k9 * z) * z2) + ((k11 + k13 * z) + (k15 + k17 * z) * z2) * z4) +
            ((k19 + k21 * z) + (k23 + k25 * z) * z2) * z8;
        return x + (x * z) * series;
    }
    if (size < 22.0) {
        // (e^|x| - e^-|x|) / 2 with e^|x| carried to twice the precision:
        // from 1 on, the difference loses at most a bit to cancellation.
        const Pair e = expPairOf(size);
        const double inverse = 1.0 / e.value;
        double d, dError;
        twoSum(e.value, -inverse, d, dError);
        return half * (d + (dError + e.error));
    }
    if (size < 709.0) return half * expOf(size, 0.0);  // e^-|x| is below rounding
    // e^|x| / 2 stays finite up to about 710.48, where e^|x| itself does not:
    // square the half-size power, halving first.
    if (size > 710.4758600739439) return half * kInfinity;
    const Pair root = expPairOf(0.5 * size);
    const double halfRoot = 0.5 * root.value;
    double productError;
    const double product = twoProduct(halfRoot, root.value, productError);
    return (x < 0.0 ? -1.0 : 1.0) * (product + (productError + root.value * root.error));
}

double exp10(double x) {
    if (!isNumberOrInfinity(x)) return x;
    if (x > 308.2547155599168) return kInfinity;
    if (x < -323.61) return 0.0;
    double low;
    const double high = twoProduct(x, kLn10High, low);
    return expOf(high, low + x * kLn10Low);
}

double sqrt(double x) {
#if defined(__SSE2__)
    return _mm_cvtsd_f64(_mm_sqrt_sd(_mm_setzero_pd(), _mm_set_sd(x)));
#else
    return std::sqrt(x);
#endif
}

}  // namespace eq::dmath
