// A control port's float, read back as the decimal it was typed as, turns
// into the same design values as the decimal itself does in
// quorvane-render: every decimal with up to three places from 0.001 to 2000
// (widths, low frequencies), two places up to 20000 (Hz) and four places
// within +-20 (dB).
#include <gtest/gtest.h>

#include "equaliser/control_scaling.h"
#include "lv2/typed_value.h"

namespace {

// The value the module designs with: ten times the pin, as a float.
float designed(double setting) {
    volatile float pin = eq::controlValueFor(setting);
    return 10.0f * pin;
}

struct DecimalRange {
    const char* what;
    int first, last;  // in units of `step`
    double step;
};

TEST(TypedValue, PortFloatsDesignAsTheirDecimals) {
    const DecimalRange ranges[] = {
        {"thousandths up to 2000", 1, 2000000, 1e-3},
        {"hundredths from 2000 to 20000", 200000, 2000000, 1e-2},
        {"ten-thousandths within +-20", -200000, 200000, 1e-4},
    };
    for (const DecimalRange& range : ranges) {
        int differing = 0;
        for (int i = range.first; i <= range.last; ++i) {
            const double decimal = i / (1.0 / range.step);
            const float port = static_cast<float>(decimal);
            if (designed(qvlv2::typedValue(port)) != designed(decimal) && ++differing <= 5)
                ADD_FAILURE() << range.what << ": " << decimal;
        }
        EXPECT_EQ(differing, 0) << range.what;
    }
}

TEST(TypedValue, NonDecimalsAndEdgesPassThrough) {
    const float cases[] = {0.0f, -0.0f, 1e-30f, 3.4e38f, -7.25f, 0.1f, 20000.0f};
    for (float port : cases) EXPECT_EQ(static_cast<float>(qvlv2::typedValue(port)), port) << port;
    EXPECT_TRUE(std::isinf(qvlv2::typedValue(HUGE_VALF)));
    EXPECT_TRUE(std::isnan(qvlv2::typedValue(NAN)));
}

}  // namespace
