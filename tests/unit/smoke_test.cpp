#include <gtest/gtest.h>

#include "equaliser/band_filter.h"

TEST(Smoke, DesignsAPeakingBand) {
    radiansPerHertz = 6.283185307179586 / 48000.0;
    BandFilter* f = createBandFilter();
    designBand(f, FILTER_PEAKING, 1000.0f, 1.0f, 6.0f);
    EXPECT_NEAR(f->b0, 1.031577524, 1e-9);
    delete f;
}
