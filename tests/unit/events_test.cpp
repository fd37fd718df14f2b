// Events the host delivers through the event entry: pin status changes, data
// events and call requests.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "tests/unit/recording_module.h"

namespace {

using hostif::CallLog;
using hostif::describe;
using hostif::event;
using hostif::Recorded;

TEST(DataEvent, ReachesTheHookWithItsThreeParametersInOrder) {
    Recorded instance;
    EventRecord data = event(EVENT_DATA, /*intParam=*/-7, /*ptrParam=*/99, /*param0=*/12,
                             /*shortParam=*/0xFFFF);
    instance.sendEvent(data);
    // The 16-bit parameter widens without a sign.
    EXPECT_EQ(instance.log, (CallLog{"onDataEvent(12,-7,65535)"}));
}

SEModule_base* calledOn = nullptr;
int callCount = 0;
void QV_THISCALL recordCall(SEModule_base* self) {
    calledOn = self;
    ++callCount;
}

TEST(CallRequestEvent, CallsTheGivenOperationOnTheObject) {
    Recorded instance;
    calledOn = nullptr;
    callCount = 0;
    EventRecord request = event(EVENT_CALL_REQUEST, 0, reinterpret_cast<intptr_t>(&recordCall));
    instance.sendEvent(request);
    EXPECT_EQ(callCount, 1);
    EXPECT_EQ(calledOn, instance.module);
    EXPECT_TRUE(instance.log.empty());
}

TEST(OtherEvents, AreIgnored) {
    Recorded instance;
    instance.host.pinCount = 1;
    instance.module->descriptions = {describe(DT_AUDIO)};
    instance.open();
    for (int32_t type : {1, 3, 20, 22, -1, 1000}) {
        EventRecord other = event(type, 2, 0, 5, 6);
        instance.sendEvent(other);
        EXPECT_TRUE(instance.log.empty()) << "event type " << type;
        EXPECT_EQ((*instance.module->pinTable())[0].status, PIN_STATIC) << "event type " << type;
    }
}

// A module with three audio pins in a table of three.
struct ThreePins : Recorded {
    ThreePins() {
        host.pinCount = 3;
        module->descriptions = {describe(DT_AUDIO), describe(DT_AUDIO), describe(DT_AUDIO)};
        open();
    }
    SEPin& pin(int32_t position) { return (*module->pinTable())[position]; }
    void sendStatus(intptr_t position, int32_t status) {
        EventRecord change = event(EVENT_PIN_STATUS, status, position);
        sendEvent(change);
    }
};

struct StatusCase {
    int32_t sent;
    int32_t duringNotification;
    int32_t afterwards;
};

void PrintTo(const StatusCase& c, std::ostream* os) { *os << "status " << c.sent; }

class PinStatusEvent : public ::testing::TestWithParam<StatusCase> {};

TEST_P(PinStatusEvent, RecordsTheStatusAndNotifiesTheModule) {
    const StatusCase& c = GetParam();
    ThreePins instance;
    instance.pin(1).status = PIN_STREAMING;  // whatever stood there before
    instance.sendStatus(1, c.sent);
    EXPECT_EQ(instance.log, (CallLog{"onPinStatusChange(1)"}));
    EXPECT_EQ(instance.module->notifiedPin, &instance.pin(1));
    EXPECT_EQ(instance.module->statusDuringNotification, c.duringNotification);
    EXPECT_EQ(instance.pin(1).status, c.afterwards);
    EXPECT_EQ(instance.pin(0).status, PIN_STATIC);
    EXPECT_EQ(instance.pin(2).status, PIN_STATIC);
}

// A one-off change exists only while the module hears about it.
INSTANTIATE_TEST_SUITE_P(Statuses, PinStatusEvent,
                         ::testing::Values(StatusCase{PIN_STATIC, PIN_STATIC, PIN_STATIC},
                                           StatusCase{PIN_ONE_CHANGE, PIN_ONE_CHANGE, PIN_STATIC},
                                           StatusCase{PIN_STREAMING, PIN_STREAMING,
                                                      PIN_STREAMING}));

TEST(PinStatusEvent, OutsideTheTableIsIgnored) {
    ThreePins instance;
    std::vector<intptr_t> outside = {-1, 3, 1000, INTPTR_MIN, INTPTR_MAX};
    // A 64-bit pin index must not be cut to its low word on the way in.
    if (sizeof(intptr_t) > sizeof(int32_t))
        outside.push_back(static_cast<intptr_t>(INT64_C(1) << 32));
    for (intptr_t position : outside) {
        instance.sendStatus(position, PIN_STREAMING);
        EXPECT_TRUE(instance.log.empty()) << "pin " << position;
    }
    for (int32_t position = 0; position < 3; ++position)
        EXPECT_EQ(instance.pin(position).status, PIN_STATIC);
}

TEST(PinStatusEvent, BeforeOpenIsIgnored) {
    Recorded instance;
    instance.host.pinCount = 3;
    EventRecord change = event(EVENT_PIN_STATUS, PIN_STREAMING, 0);
    instance.sendEvent(change);
    EXPECT_TRUE(instance.log.empty());
    EXPECT_EQ(instance.module->pinTable(), nullptr);
}

TEST(PinStatusEvent, APinTheModuleNeverDescribedStillReachesTheModule) {
    // The host counts five pins, the module describes two: positions 2 to 4
    // are table entries nobody initialised.
    Recorded instance;
    instance.host.pinCount = 5;
    instance.module->descriptions = {describe(DT_AUDIO), describe(DT_AUDIO)};
    instance.open();
    ASSERT_EQ(instance.module->pinTable()->count(), 5);

    EventRecord change = event(EVENT_PIN_STATUS, PIN_STREAMING, 4);
    instance.sendEvent(change);
    EXPECT_EQ((*instance.module->pinTable())[4].status, PIN_STREAMING);
    EXPECT_EQ(instance.module->notifiedPin, &(*instance.module->pinTable())[4]);
}

}  // namespace
