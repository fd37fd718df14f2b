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

// sin(high + low) for |high| <= pi/4, low below half an ulp of high.
double sinKernel(double high, double low) {
    const double z = high * high;
    const double series =
        kSin3 + z * (kSin5 + z * (kSin7 + z * (kSin9 + z * (kSin11 + z * (kSin13 + z * (kSin15 + z * kSin17))))));
    // sin(h + l) = sin(h) + l cos(h) to within l^2.
    return high + ((high * z) * series + low * (1.0 - 0.5 * z));
}

// cos(high + low) for |high| <= pi/4.
double cosKernel(double high, double low) {
    double zLow;
    const double z = twoProduct(high, high, zLow);
    const double series =
        kCos4 + z * (kCos6 + z * (kCos8 + z * (kCos10 + z * (kCos12 + z * (kCos14 + z * (kCos16 + z * kCos18))))));
    // 1 - z/2 carries its own rounding error (z/2 is at most 0.31), so the
    // result is rounded once, at the end.
    const double halfZ = 0.5 * z;
    const double head = 1.0 - halfZ;
    const double headError = (1.0 - head) - halfZ;
    return head + (headError + (((z * z) * series - 0.5 * zLow) - high * low));
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
    const double series =
        k2 + r * (k3 + r * (k4 + r * (k5 + r * (k6 + r * (k7 + r * (k8 + r * (k9 + r * (k10 +
        r * (k11 + r * (k12 + r * (k13 + r * k14)))))))))));
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

double sin(double x) {
    if (!isNumberOrInfinity(x) || magnitude(x) == kInfinity) return x - x;  // NaN
    if (magnitude(x) < kTiny) return x;
    const Reduced r = reduce(x);
    switch (r.quadrant) {
        case 0: return sinKernel(r.high, r.low);
        case 1: return cosKernel(r.high, r.low);
        case 2: return -sinKernel(r.high, r.low);
        default: return -cosKernel(r.high, r.low);
    }
}

double cos(double x) {
    if (!isNumberOrInfinity(x) || magnitude(x) == kInfinity) return x - x;  // NaN
    if (magnitude(x) < kTiny) return 1.0;
    const Reduced r = reduce(x);
    switch (r.quadrant) {
        case 0: return cosKernel(r.high, r.low);
        case 1: return -sinKernel(r.high, r.low);
        case 2: return -cosKernel(r.high, r.low);
        default: return sinKernel(r.high, r.low);
    }
}

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
        const double z = x * x;
        const double series =
            k3 + z * (k5 + z * (k7 + z * (k9 + z * (k11 + z * (k13 + z * (k15 + z * (k17 +
            z * (k19 + z * (k21 + z * (k23 + z * k25))))))))));
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
