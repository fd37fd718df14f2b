// The processing loop's fast paths against its definition, steered by a
// fuzzer. The input chooses the path (SSE2, AVX or AVX-512), how the pins share
// buffers, whether NaN and infinite bursts occur, and then every choice of the
// random scenario the loop tests use: block offsets and counts, silences on
// one or both sides, tiny and signed zeros, what stands in the output places,
// control changes between and within blocks. After every block the fast
// path, the library's sample-by-sample loop and the independent model must
// agree bit for bit on every buffer word and on the loop state; any
// difference aborts with where it happened.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "tests/unit/process_test_support.h"

using namespace looptest;

namespace {

const Sharing kLayouts[] = {
    {"separate buffers", {}, 0},
    {"both outputs in place", {{PIN_OUTPUT1, PIN_INPUT1, 0}, {PIN_OUTPUT2, PIN_INPUT2, 0}}, 2},
    {"outputs crossed over the inputs",
     {{PIN_OUTPUT1, PIN_INPUT2, 0}, {PIN_OUTPUT2, PIN_INPUT1, 0}},
     2},
    {"Output1 on Freq1", {{PIN_OUTPUT1, controlPin(0, CONTROL_FREQ), 0}}, 1},
    {"Output2 one sample behind Input2", {{PIN_OUTPUT2, PIN_INPUT2, -1}}, 1},
    {"Output1 on Output2", {{PIN_OUTPUT1, PIN_OUTPUT2, 0}}, 1},
};
constexpr int kLayoutCount = sizeof kLayouts / sizeof kLayouts[0];

void require(const ::testing::AssertionResult& agreed, const char* what, int block) {
    if (agreed) return;
    std::fprintf(stderr, "%s differ at block %d:\n%s\n", what, block, agreed.message());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint8_t setup = data[0];
    // SSE2, AVX or AVX-512, or the best below it that the machine has.
    const eq::KernelPath paths[] = {eq::KernelPath::Sse2, eq::KernelPath::Avx, eq::KernelPath::Avx512};
    int pathIndex = (setup & 1) + (data[1] >> 7);
    while (!eq::pathAvailable(paths[pathIndex])) --pathIndex;
    const eq::KernelPath path = paths[pathIndex];
    const bool bursts = (setup & 2) != 0;
    const int blocks = 1 + (setup >> 2);  // 1 to 64
    const Sharing& layout = kLayouts[(data[1] & 0x7F) % kLayoutCount];

    constexpr size_t kLength = 300;
    eq::setKernelPath(path);
    TestModule fast;
    TestModule reference;
    if (!fast.valid() || !reference.valid()) std::abort();
    PinArena a(kLength), b(kLength), c(kLength);
    applySharing(a, layout);
    applySharing(b, layout);
    applySharing(c, layout);
    a.attach(*fast);
    b.attach(*reference);
    float* modelPins[kPinCount];
    for (int pin = 0; pin < kPinCount; ++pin) modelPins[pin] = c.pin(pin);
    LoopState modelState = stateOf(*fast);

    ScenarioWriter writer(Rng(data + 2, size - 2), bursts);
    for (int block = 0; block < blocks; ++block) {
        const BlockPlan plan = writer.next(a);
        b.copyContents(a);
        c.copyContents(a);
        fast.process(plan.offset, plan.count);
        reference.processSampleBySample(plan.offset, plan.count);
        model::process(modelState, modelPins, plan.offset, plan.count);
        require(sameSamples(a.storage(), b.storage()), "process and sample by sample: buffers",
                block);
        require(sameState(stateOf(*fast), stateOf(*reference)),
                "process and sample by sample: loop state", block);
        require(sameSamples(a.storage(), c.storage()), "process and the model: buffers", block);
        require(sameState(stateOf(*fast), modelState), "process and the model: loop state", block);
    }
    return 0;
}
