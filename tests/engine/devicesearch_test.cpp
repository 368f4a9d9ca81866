// Device search, device labels and the all-LED set against the simulated
// driver and the simulated debug device.
#include <cstring>

#include "enginetest.h"
#include "gpu/devicesearch.h"
#include "gpu/nvapi.h"

using testsupport::SimSet;

namespace {

class DeviceSearchTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        for (int d = 0; d < MAX_DEVICE; ++d) {
            records[d] = SETTING.Device[d];
            records[d].Display = 5;
            records[d].GPU = static_cast<uint32_t>(d);
            records[d].Attribute = 1;
            records[d].Enable = 1;
            records[d].PlayType = PLAY_FAN;
            records[d].Luminance = 33;
            std::strcpy(labels[d], "old");
        }
    }
    void ExpectOther(int d) {
        EXPECT_EQ(1, records[d].Enable) << d;
        EXPECT_EQ(PLAY_FAN, records[d].PlayType) << d;
        EXPECT_EQ(33u, records[d].Luminance) << d;
    }
    DEVICE records[MAX_DEVICE];
    char labels[MAX_DEVICE][128];
};

}  // namespace

TEST_F(DeviceSearchTest, OneBoardWithTheLogoLedOnly) {
    EXPECT_EQ(1, SearchDevice(records, labels, 0));
    EXPECT_STREQ("NVIDIA GeForce GTX 1080 (0,0,0)", labels[0]);
    EXPECT_STREQ("未サポートデバイス (0,0,1)", labels[1]);
    EXPECT_STREQ("不明デバイス (5,2,1)", labels[2]) << "slot 2 keeps its old triple";
    EXPECT_STREQ("old", labels[3]);
    EXPECT_EQ(0u, records[1].Display);
    EXPECT_EQ(0u, records[1].GPU);
    EXPECT_EQ(1, records[1].Attribute);
    EXPECT_EQ(5u, records[2].Display);
    EXPECT_EQ(2u, records[2].GPU);
    for (int d = 0; d < MAX_DEVICE; ++d) ExpectOther(d);
    EXPECT_EQ(128u, CountMyTrace("call EnumNvidiaDisplayHandle")) << "every triple probed";
    EXPECT_TRUE(Mine().empty()) << "a search sets nothing";
}

TEST_F(DeviceSearchTest, EightFoundTriplesEndTheSearch) {
    for (size_t g = 0; g < 4; ++g) machine.Gpu(0, g).name = "Board " + std::to_string(g);
    Use();
    EXPECT_EQ(4, SearchDevice(records, labels, 0));
    EXPECT_EQ(8u, CountMyTrace("call EnumNvidiaDisplayHandle")) << "later triples are not probed";
    // The device name is the display's adapter string.
    EXPECT_STREQ("Board 0 (0,3,0)", labels[6]);
    EXPECT_STREQ("未サポートデバイス (0,3,1)", labels[7]);
    EXPECT_EQ(3u, records[7].GPU);
}

TEST_F(DeviceSearchTest, ZonesFollowTheSliBridgeOfTheirGpu) {
    machine.Gpu(0, 0).zones = "rgb@top fixed@front";
    machine.Gpu(0, 1).name = "Plain";
    machine.Gpu(0, 2).zones = "single@back";
    Use();
    EXPECT_EQ(5, SearchDevice(records, labels, 0));
    const char* const expected[MAX_DEVICE] = {
        "NVIDIA GeForce GTX 1080 (0,0,0)", "未サポートデバイス (0,0,1)", "NVIDIA GeForce GTX 1080 (0,0,2)",
        "NVIDIA GeForce GTX 1080 (0,0,3)", "NVIDIA GeForce GTX 1080 (0,1,0)", "未サポートデバイス (0,1,1)",
        "NVIDIA GeForce GTX 1080 (0,2,0)", "未サポートデバイス (0,2,1)",
    };
    for (int d = 0; d < MAX_DEVICE; ++d) EXPECT_STREQ(expected[d], labels[d]) << d;
    EXPECT_EQ(3, records[3].Attribute);
    EXPECT_EQ(0u, records[3].GPU);

    // The attribute list's zone entries: zone 0 and 1, from the first board
    // that has each.
    ZoneDescription zones[NV_GPU_CLIENT_ILLUM_ZONE_NUM_ZONES_MAX];
    ASSERT_EQ(2u, MachineZones(zones));
    EXPECT_EQ(NV_GPU_CLIENT_ILLUM_ZONE_TYPE_RGB, zones[0].type);
    EXPECT_EQ(NV_GPU_CLIENT_ILLUM_ZONE_LOCATION_GPU_TOP_0, zones[0].location);
    EXPECT_EQ(NV_GPU_CLIENT_ILLUM_ZONE_LOCATION_GPU_FRONT_0, zones[1].location);
    machine.Gpu(0, 2).zones = "single@back rgbw@slitop fixed@9";
    Use();
    ASSERT_EQ(3u, MachineZones(zones));
    EXPECT_EQ(NV_GPU_CLIENT_ILLUM_ZONE_LOCATION_GPU_FRONT_0, zones[1].location) << "the first board's";
    EXPECT_EQ(9u, zones[2].location);
    machine = testsupport::SimMachine();
    Use();
    EXPECT_EQ(0u, MachineZones(zones));

    DEVICE d = records[0];
    d.Attribute = 2;
    EXPECT_FALSE(DeviceTakesColor(d)) << "no zones now";
    machine.Gpu(0, 0).zones = "rgb@top fixed@front rgbw@back";
    Use();
    for (int32_t attribute : {2, 4}) {
        d.Attribute = attribute;
        EXPECT_TRUE(DeviceTakesColor(d)) << attribute;
    }
    for (int32_t attribute : {0, 3, 5}) {
        d.Attribute = attribute;
        EXPECT_FALSE(DeviceTakesColor(d)) << attribute;
    }
}

TEST_F(DeviceSearchTest, NoDriverFindsNothing) {
    testsupport::TempDir noDriver;
    NvApiReloadForTest(noDriver.Path().c_str());
    int found = SearchDevice(records, labels, 0);
    char label[128];
    MakeDeviceLabel(label, records[0], 0);
    NvApiReloadForTest(nullptr);

    EXPECT_EQ(0, found);
    EXPECT_STREQ("不明デバイス (5,0,1)", label);
    EXPECT_STREQ("不明デバイス (5,0,1)", labels[0]);
    EXPECT_STREQ("old", labels[1]);
    for (int d = 0; d < MAX_DEVICE; ++d) {
        EXPECT_EQ(5u, records[d].Display);
        ExpectOther(d);
    }
}

TEST_F(DeviceSearchTest, DebugDeviceModeAsksTheDevice) {
    DebugDeviceLink link;
    ASSERT_TRUE(link.Start("--leds 0,0,0;0,3,1"));
    EXPECT_EQ(2, SearchDevice(records, labels, 1));
    EXPECT_STREQ("デバッグデバイス (0,0,0)", labels[0]);
    EXPECT_STREQ("未サポートデバイス (0,0,1)", labels[1]) << "the driver has no say";
    EXPECT_STREQ("デバッグデバイス (0,3,1)", labels[7]);
    testsupport::WaitUntil([&] { return link.Of("query").size() >= 8; }, 5000);
    auto queries = link.Of("query");
    ASSERT_EQ(8u, queries.size()) << "the search ends with the eighth triple";
    EXPECT_EQ(3, queries[7].gpu);
    EXPECT_EQ(1, queries[7].attribute);

    char label[128];
    records[0].Display = 0;
    records[0].GPU = 3;
    records[0].Attribute = 1;
    EXPECT_STREQ("デバッグデバイス (0,3,1)", MakeDeviceLabel(label, records[0], 1));
    records[0].Attribute = 0;
    EXPECT_STREQ("未サポートデバイス (0,3,0)", MakeDeviceLabel(label, records[0], 1));
}

TEST_F(DeviceSearchTest, LabelsOfSingleDevices) {
    char label[128];
    DEVICE d = records[0];
    d.Display = 0;
    d.GPU = 0;
    d.Attribute = 0;
    EXPECT_STREQ("NVIDIA GeForce GTX 1080 (0,0,0)", MakeDeviceLabel(label, d, 0));
    d.Attribute = 1;
    EXPECT_STREQ("未サポートデバイス (0,0,1)", MakeDeviceLabel(label, d, 0));
    d.Display = 3;
    EXPECT_STREQ("不明デバイス (3,0,1)", MakeDeviceLabel(label, d, 0));
}

TEST_F(DeviceSearchTest, AllLedsSkipDisabledDevices) {
    machine.Gpu(0, 1).attributes = {0, 1};
    Use();
    DEVICE (&devices)[MAX_DEVICE] = SETTING.Device;
    Enable(0, PLAY_FIXED, 0, 0, 0);
    Enable(2, PLAY_FIXED, 0, 1, 1);
    Enable(3, PLAY_FIXED, 0, 0, 1);  // unsupported: nothing sent
    devices[1] = devices[0];
    devices[1].Enable = 0;
    devices[1].Attribute = 0;
    devices[1].GPU = 1;
    SetAllLuminance(devices, 250);
    std::vector<SimSet> sets = Mine();
    ASSERT_EQ(2u, sets.size());
    EXPECT_EQ(0, sets[0].gpu);
    EXPECT_EQ(100, sets[0].value) << "clamped by the one-shot set";
    EXPECT_EQ(1, sets[1].gpu);
    EXPECT_EQ(1, sets[1].attribute);

    sim.ClearLog();
    for (DEVICE& device : devices) device.Enable = 0;
    SetAllLuminance(devices, 0);
    EXPECT_TRUE(Mine().empty());
}
