// The plug-in as hosts with many threads run it: lilv loads it once, then
// several threads at the same time make instances at different rates, feed
// them with their controls moving between calls, and free them. Each instance
// gives exactly what it gives when instances run one at a time.
#include <gtest/gtest.h>
#include <lilv/lilv.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tests/lv2/lv2_test_support.h"

namespace {

using lv2test::Band;
using lv2test::PluginInstance;

constexpr int kThreads = 4;
constexpr int kRounds = 3;

// The plug-in's descriptor as lilv finds and loads it from the build's bundle.
class LoadedThroughLilv {
public:
    LoadedThroughLilv() : world_(lilv_world_new()) {
        const std::string path = std::string(lv2test::kBundleParent) + "/quorvane.lv2/";
        LilvNode* bundle = lilv_new_file_uri(world_, nullptr, path.c_str());
        lilv_world_load_bundle(world_, bundle);
        lilv_node_free(bundle);
        LilvNode* uri = lilv_new_uri(world_, qvlv2::kPluginUri);
        const LilvPlugin* plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world_), uri);
        lilv_node_free(uri);
        // An instance held for the test's length keeps the library loaded.
        if (plugin != nullptr) keeper_ = lilv_plugin_instantiate(plugin, 48000.0, nullptr);
    }
    ~LoadedThroughLilv() {
        if (keeper_ != nullptr) lilv_instance_free(keeper_);
        lilv_world_free(world_);
    }
    const LV2_Descriptor* descriptor() const {
        return keeper_ != nullptr ? lilv_instance_get_descriptor(keeper_) : nullptr;
    }

private:
    LilvWorld* world_;
    LilvInstance* keeper_ = nullptr;
};

// One thread's round: an instance at 44.1 kHz and one at 48 kHz, each fed
// noise in 64-frame calls with a band's controls moved before every call.
std::vector<float> oneRound(const LV2_Descriptor* descriptor, unsigned seed) {
    const std::vector<Band> bands = {{6, 120, 1, 4}, {7, 300, 0.7, -3}, {6, 1500, 0.5, 6},
                                     {4, 5000, 2, 0}, {8, 9000, 0.7, 5}};
    std::vector<float> outputs;
    for (double rate : {44100.0, 48000.0}) {
        PluginInstance instance(descriptor, rate, bands);
        if (!instance.valid()) return {};
        unsigned state = seed;
        const auto moveControls = [&](size_t frame) {
            state = state * 1664525u + 1013904223u;
            const uint32_t band = static_cast<uint32_t>(frame / 64 % qvlv2::kBands);
            instance.set(qvlv2::controlPort(band, qvlv2::BAND_FREQ), 100.0f + static_cast<float>(state >> 20));
            instance.set(qvlv2::controlPort(band, qvlv2::BAND_GAIN), static_cast<float>(state % 13) - 6.0f);
        };
        const std::vector<float> out =
            instance.render(lv2test::stereoMaterial(4000, seed), 64, false, moveControls);
        outputs.insert(outputs.end(), out.begin(), out.end());
    }
    return outputs;
}

TEST(Lv2Threads, InstancesRunAtOnceGiveWhatTheyGiveOneAtATime) {
    LoadedThroughLilv library;
    const LV2_Descriptor* descriptor = library.descriptor();
    ASSERT_NE(descriptor, nullptr);
    const auto rounds = [descriptor](int thread) {
        std::vector<std::vector<float>> result;
        for (int r = 0; r < kRounds; ++r) result.push_back(oneRound(descriptor, 10u * thread + r + 1));
        return result;
    };
    std::vector<std::vector<std::vector<float>>> alone(kThreads), together(kThreads);
    for (int t = 0; t < kThreads; ++t) alone[t] = rounds(t);
    // The threads start together, so their instances' lives overlap.
    std::atomic<int> waiting{kThreads};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            waiting.fetch_sub(1);
            while (waiting.load() > 0) std::this_thread::yield();
            together[t] = rounds(t);
        });
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t)
        for (int r = 0; r < kRounds; ++r) {
            ASSERT_FALSE(alone[t][r].empty());
            EXPECT_EQ(alone[t][r].size(), together[t][r].size());
            EXPECT_EQ(std::memcmp(alone[t][r].data(), together[t][r].data(), alone[t][r].size() * sizeof(float)), 0)
                << "thread " << t << ", round " << r;
        }
}

}  // namespace
