// The elementary functions the band design uses, computed by the library
// itself from additions, multiplications and divisions in double precision.
//
// Every build (the 32-bit DLL, the native library, the LV2 plug-in, the
// render tool) runs this same code with the same operations in the same
// order, so a band's coefficients come out bit for bit alike everywhere and
// do not depend on which C runtime the user's system has. Each function is
// within about one unit in the last place of the exact value over the
// design's inputs (tests/unit/design_math_test.cpp measures it).
#pragma once

namespace eq::dmath {

// sin and cos of radians; accurate for |x| up to 2^20 * pi/2, and still in
// [-1, 1] beyond, where no sample rate the module accepts can take a band.
double sin(double x);
double cos(double x);
// Both at once (one reduction), the same bits as each alone.
struct SinCos {
    double sin, cos;
};
SinCos sincos(double x);

double sinh(double x);

// 10 to the power x.
double exp10(double x);

// The correctly rounded square root (the processor's own instruction).
double sqrt(double x);

}  // namespace eq::dmath
