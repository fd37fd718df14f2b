#include <gtest/gtest.h>

#include "host/stand_in_host.h"

TEST(SmokeHost, LoadsTheModuleLibrary) {
    std::string error;
    auto library = standin::ModuleLibrary::load(QUORVANE_MODULE_PATH, &error);
    ASSERT_TRUE(library) << error;
    standin::Instance instance(library->exports());
    ASSERT_TRUE(instance.valid());
    instance.setSampleRate(48000.0f);
    instance.open();
    EXPECT_EQ(instance.pins().size(), 24u);
    instance.process(0, 64);
}
