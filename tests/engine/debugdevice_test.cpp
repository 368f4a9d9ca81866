// Debug-device mode: the control threads name their devices from the debug
// device's answers and send it every brightness instead of the GPU.
#include <set>

#include "enginetest.h"
#include "gpu/cnvgf.h"

using testsupport::GlimsimDatagram;

namespace {

class DebugDeviceTest : public EngineTest {
protected:
    void TearDown() override {
        EngineTest::TearDown();
        SETTING.Debug = 0;
    }
    DebugDeviceLink link;
};

}  // namespace

TEST_F(DebugDeviceTest, NamesFromQueriesValuesThroughNotifications) {
    ASSERT_TRUE(link.Start("--leds 0,0,0;0,0,1;2,1,0;0,1,3"));
    SETTING.Debug = 1;
    SETTING.Timer = 200;
    SETTING.Device[0].Luminance = 42;
    Enable(0, PLAY_FIXED, 0, 0, 0);
    Enable(1, PLAY_TEMPERATURE, 0, 0, 1);
    Enable(2, PLAY_POWER, 2, 1, 0);
    Enable(3, PLAY_FIXED, 1, 0, 0);  // the device does not have it
    Enable(5, PLAY_FIXED, 0, 1, 3);  // zone 1: the attribute field carries 2 + z
    SETTING.Device[5].Luminance = 77;
    ASSERT_EQ(1, StartControl());

    EXPECT_STREQ("デバッグデバイス (0,0,0)", DeviceSlot[0].Name);
    EXPECT_STREQ("デバッグデバイス (0,0,1)", DeviceSlot[1].Name);
    EXPECT_STREQ("デバッグデバイス (2,1,0)", DeviceSlot[2].Name);
    EXPECT_STREQ("未サポートデバイス (1,0,0)", DeviceSlot[3].Name);
    EXPECT_STREQ("未サポートデバイス (0,4,0)", DeviceSlot[4].Name) << "disabled, still named";
    EXPECT_STREQ("デバッグデバイス (0,1,3)", DeviceSlot[5].Name);

    // The device prints each line before it answers; its output may lag.
    testsupport::WaitUntil([&] { return link.Of("query").size() >= 8; }, 5000);
    std::vector<GlimsimDatagram> queries = link.Of("query");
    ASSERT_EQ(8u, queries.size()) << "one query per device, in slot order";
    EXPECT_EQ(2, queries[2].display);
    EXPECT_EQ(1, queries[2].gpu);
    EXPECT_EQ(0, queries[2].attribute);

    ASSERT_TRUE(testsupport::WaitUntil([&] { return link.Of("notify").size() >= 15; }, 10000));
    std::set<long> metric;
    size_t zone = 0;
    for (const GlimsimDatagram& d : link.Of("notify")) {
        EXPECT_EQ(1, d.status);
        if (d.attribute == 0 && d.display == 0) {
            EXPECT_EQ(42, d.luminance) << "the fixed method writes its own value";
        } else if (d.attribute == 3) {
            EXPECT_EQ(77, d.luminance);
            ++zone;
        } else {
            EXPECT_GE(d.luminance, 1);
            EXPECT_LE(d.luminance, 100);
            metric.insert(d.luminance);
        }
        EXPECT_FALSE(d.display == 1) << "an unsupported device is never driven";
    }
    EXPECT_GE(metric.size(), 3u) << "the metric methods send pseudo-random values";
    EXPECT_GE(zone, 1u);
    EXPECT_TRUE(Mine().empty()) << "nothing reaches the GPU";
    EXPECT_EQ(1, SETTING.Debug);
}

TEST_F(DebugDeviceTest, ARefusedNotificationReturnsEveryThreadToItsAdapter) {
    machine.Gpu(0, 0).attributes = {0, 1};
    Use();
    ASSERT_TRUE(link.Start("--refuse-notify-after 3"));
    SETTING.Debug = 1;
    SETTING.Timer = 200;
    Enable(0, PLAY_FIXED, 0, 0, 0);
    SETTING.Device[0].Luminance = 60;
    Pattern(1, "15,100\n");
    Enable(1, PLAY_PATTERN, 0, 0, 1);
    ASSERT_EQ(1, StartControl());

    // Both LEDs go on through the driver once the fourth value is refused.
    ASSERT_TRUE(testsupport::WaitUntil([&] {
        bool logo = false, bridge = false;
        for (const auto& s : Mine()) {
            logo = logo || (s.attribute == 0 && s.value == 60);
            bridge = bridge || (s.attribute == 1 && s.value == 15);
        }
        return logo && bridge;
    }, 10000));
    EXPECT_EQ(0, SETTING.Debug);
    auto refusals = [&] {
        size_t n = 0;
        for (const GlimsimDatagram& d : link.Of("notify")) n += d.status != 1;
        return n;
    };
    testsupport::WaitUntil([&] { return refusals() >= 1; }, 5000);
    Sleep(200);  // the device's output may lag behind its answers
    // A thread already in the middle of its own write when the first refusal
    // came may see one more refused: at most one per thread.
    EXPECT_LE(refusals(), 2u);
    size_t notifications = link.Of("notify").size();
    Sleep(500);
    EXPECT_EQ(notifications, link.Of("notify").size()) << "the device hears no more";
}

TEST_F(DebugDeviceTest, AConfirmationAfterARefusalLeavesDebugModeOff) {
    // Threads that read the mode before another thread's refusal still send
    // their values; the device confirming those must not turn the mode back on.
    ASSERT_TRUE(link.Start("--leds 0,0,0"));
    SETTING.Debug = 1;
    CNVGF adapter;  // never used: every value goes to the debug device
    DEVICE present = SETTING.Device[0];
    DEVICE missing = present;
    missing.Attribute = 1;  // the device has no such LED
    WriteLuminance(missing, adapter, 10, 1);
    EXPECT_EQ(0, SETTING.Debug);
    WriteLuminance(present, adapter, 20, 1);
    WriteLuminance(present, adapter, 30, 1);
    EXPECT_EQ(0, SETTING.Debug);
    ASSERT_TRUE(testsupport::WaitUntil([&] { return link.Of("notify").size() >= 3; }, 5000));
    EXPECT_EQ(0, link.Of("notify")[0].status);
    EXPECT_EQ(1, link.Of("notify")[2].status) << "the later values were confirmed";
}
