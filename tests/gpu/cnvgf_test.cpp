#include <gtest/gtest.h>

#include "gpu/cnvgf.h"
#include "gpu/nvapi.h"
#include "simnvapi.h"
#include "testsupport.h"

using testsupport::SimMachine;
using testsupport::SimNvapi;

namespace {

class CnvgfTest : public ::testing::Test {
protected:
    void Use(const SimMachine& m) { ASSERT_TRUE(sim.Write(m)); }
    // An adapter ready on display 0, GPU 0, logo LED.
    void Ready(CNVGF& adapter, uint32_t gpu = 0) { ASSERT_EQ(NVGF_READY, adapter.Initialize(0, gpu, 0)); }
    SimNvapi sim;
    SimMachine machine;
};

}  // namespace

TEST_F(CnvgfTest, InitializeResults) {
    machine.Gpu(0, 1).name = "Second";
    Use(machine);
    {
        CNVGF a;
        EXPECT_EQ(NVGF_READY, a.Initialize(0, 1, 0));
        EXPECT_EQ(2u, a.GpuCount());
    }
    {
        CNVGF a;
        EXPECT_EQ(NVGF_NOT_FOUND, a.Initialize(1, 0, 0)) << "display beyond the last";
    }
    {
        CNVGF a;
        EXPECT_EQ(NVGF_NOT_FOUND, a.Initialize(0, 2, 0)) << "GPU equal to the GPU count";
    }
    {
        CNVGF a;
        EXPECT_EQ(NVGF_NOT_FOUND, a.Initialize(0, 0xFFFFFFFFu, 0)) << "compared unsigned";
    }
    {
        CNVGF a;
        EXPECT_EQ(NVGF_UNSUPPORTED, a.Initialize(0, 0, 1)) << "SLI bridge not supported";
    }
    // Attribute 2 + z is illumination zone z: present when the GPU reports
    // more than z zones, in place of the support query.
    machine.Gpu(0, 1).zones = "rgb@top fixed@front";
    Use(machine);
    sim.ClearLog();
    for (uint32_t attribute : {2u, 3u}) {
        CNVGF a;
        EXPECT_EQ(NVGF_READY, a.Initialize(0, 1, attribute)) << attribute;
    }
    for (uint32_t attribute : {4u, 33u, 34u, 0xFFFFFFFFu}) {
        CNVGF a;
        EXPECT_EQ(NVGF_UNSUPPORTED, a.Initialize(0, 1, attribute)) << "no such zone " << attribute;
    }
    {
        CNVGF a;
        EXPECT_EQ(NVGF_UNSUPPORTED, a.Initialize(0, 0, 2)) << "a GPU without zones";
    }
    machine.Gpu(0, 1).status["GPU_ClientIllumZonesGetInfo"] = -104;
    Use(machine);
    {
        CNVGF a;
        EXPECT_EQ(NVGF_UNSUPPORTED, a.Initialize(0, 1, 2)) << "a driver that does not describe its zones";
    }
    EXPECT_EQ(0u, sim.CountTrace("call GPU_QueryIlluminationSupport"));

    machine.displays.clear();
    Use(machine);
    {
        CNVGF a;
        EXPECT_EQ(NVGF_NOT_FOUND, a.Initialize(0, 0, 0)) << "no NVIDIA display at all";
    }
}

TEST_F(CnvgfTest, DriverMissingGivesOne) {
    testsupport::TempDir empty;
    NvApiReloadForTest(empty.Path().c_str());
    CNVGF a;
    EXPECT_EQ(NVGF_NO_DRIVER, a.Initialize(0, 0, 0));
    EXPECT_EQ(0, SetLuminanceOnce(100, 0, 0, 0));
    NvApiReloadForTest(nullptr);
    EXPECT_EQ(NVGF_READY, a.Initialize(0, 0, 0)) << "no reference was taken before the failure";
}

TEST_F(CnvgfTest, FailingInterfaceVersionGivesOne) {
    machine.status["GetInterfaceVersionString"] = -1;
    Use(machine);
    CNVGF a;
    EXPECT_EQ(NVGF_NO_DRIVER, a.Initialize(0, 0, 0));
}

TEST_F(CnvgfTest, DeviceName) {
    machine.Gpu(0, 0).name = "GeForce Full Name";
    machine.Gpu(0, 0).adapter = "Board Adapter";
    Use(machine);
    {
        CNVGF a;
        Ready(a);
        EXPECT_STREQ("Board Adapter", a.DeviceName());
    }
    for (const char* placeholder : {"not implemented yet", "NOT IMPLEMENTED YET", "Not Implemented yEt"}) {
        machine.Gpu(0, 0).adapter = placeholder;
        Use(machine);
        CNVGF a;
        Ready(a);
        EXPECT_STREQ("GeForce Full Name", a.DeviceName()) << placeholder;
    }
    machine.Gpu(0, 0).adapter = "not implemented";
    Use(machine);
    {
        CNVGF a;
        Ready(a);
        EXPECT_STREQ("not implemented", a.DeviceName()) << "only the whole placeholder counts";
    }
    // Names of all 64 bytes, with no terminator, end at 63 characters.
    const std::string full(64, 'N'), adapter(64, 'A');
    for (const std::string& answer : {adapter, std::string("not implemented yet")}) {
        machine.Gpu(0, 0).name = full;
        machine.Gpu(0, 0).adapter = answer;
        Use(machine);
        CNVGF a;
        Ready(a);
        const std::string& used = answer == adapter ? adapter : full;
        EXPECT_EQ(used.substr(0, 63), a.DeviceName()) << answer;
    }
    machine.Gpu(0, 0).adapter = "Not Implemented Yet";
    machine.Gpu(0, 0).status["GPU_GetFullName"] = -5;
    Use(machine);
    {
        CNVGF a;
        EXPECT_EQ(NVGF_NOT_FOUND, a.Initialize(0, 0, 0));
    }
}

TEST_F(CnvgfTest, SecondInitializeNeedsUnload) {
    CNVGF a;
    Ready(a);
    EXPECT_EQ(NVGF_NO_DRIVER, a.Initialize(0, 0, 0));
    EXPECT_TRUE(a.UnloadDLL());
    EXPECT_FALSE(a.UnloadDLL());
    EXPECT_EQ(NVGF_READY, a.Initialize(0, 0, 0));
    EXPECT_FALSE(a.LoadDLL()) << "a held reference is never taken twice";
}

// The adapter's reference must be on the library in the system directory,
// never on the driver library that lies beside this test program.
TEST_F(CnvgfTest, ReferenceIsOnTheSystemLibrary) {
    const std::string beside = testsupport::BinPath(TEST_DRIVER);
    ASSERT_TRUE(testsupport::FileExists(beside));
    {
        CNVGF a;
        Ready(a);
        char system[MAX_PATH];
        UINT n = GetSystemDirectoryA(system, MAX_PATH);
        ASSERT_GT(n, 0u);
        EXPECT_EQ(0, lstrcmpiA((std::string(system, n) + "\\" TEST_DRIVER).c_str(), NvApiLibraryPath()));
    }
    // With no driver in the system directory (and so none loaded), a search
    // by name would find the one beside this program.
    testsupport::TempDir empty;
    NvApiReloadForTest(empty.Path().c_str());
    ASSERT_EQ(nullptr, GetModuleHandleA(TEST_DRIVER));
    {
        CNVGF a;
        EXPECT_FALSE(a.LoadDLL());
        EXPECT_EQ(nullptr, GetModuleHandleA(beside.c_str()));
    }
    NvApiReloadForTest(nullptr);
}

TEST_F(CnvgfTest, Temperature) {
    machine.Gpu(0, 0).sensors = "2:40 4:30";
    Use(machine);
    CNVGF a;
    Ready(a);
    int t = -1;
    EXPECT_TRUE(a.GetTemperature(&t));
    EXPECT_EQ(-1, t) << "no GPU sensor leaves the value alone";

    machine.Gpu(0, 0).sensors = "1:60 2:40 1:71";
    Use(machine);
    EXPECT_TRUE(a.GetTemperature(&t));
    EXPECT_EQ(71, t) << "the last GPU sensor wins";
    EXPECT_TRUE(a.GetTemperature(nullptr));

    machine.Gpu(0, 0).sensors = "1:60 1:65";
    machine.Gpu(0, 0).sensorCount = 1;
    Use(machine);
    EXPECT_TRUE(a.GetTemperature(&t));
    EXPECT_EQ(60, t) << "only the first count sensors";

    machine.Gpu(0, 0).sensorCount = 9;
    Use(machine);
    EXPECT_TRUE(a.GetTemperature(&t));
    EXPECT_EQ(65, t) << "a count above three reads three";

    machine.Gpu(0, 0).status["GPU_GetThermalSettings"] = -5;
    Use(machine);
    t = -1;
    EXPECT_FALSE(a.GetTemperature(&t));
    EXPECT_EQ(-1, t);
}

TEST_F(CnvgfTest, Clock) {
    machine.Gpu(0, 0).clockCurrent = "705000";
    machine.Gpu(0, 0).clockBase = "1000";
    machine.Gpu(0, 0).clockBoost = "absent";
    Use(machine);
    CNVGF a;
    Ready(a);
    double mhz = -1;
    EXPECT_TRUE(a.GetClock(&mhz, 0));
    EXPECT_EQ(705.0000334857032, mhz);
    EXPECT_TRUE(a.GetClock(&mhz, 1));
    EXPECT_EQ(1.0000000474974513, mhz);
    mhz = -1;
    EXPECT_TRUE(a.GetClock(&mhz, 2));
    EXPECT_EQ(0.0, mhz) << "absent domain";
    EXPECT_TRUE(a.GetClock(&mhz, 4)) << "only the two low bits are the clock type";
    EXPECT_EQ(705.0000334857032, mhz);
    EXPECT_TRUE(a.GetClock(nullptr, 0));

    machine.Gpu(0, 0).clockCurrent = "4294967295";
    Use(machine);
    EXPECT_TRUE(a.GetClock(&mhz, 0));
    EXPECT_NEAR(4294967.5, mhz, 1.0) << "taken unsigned";

    machine.status["GPU_GetAllClockFrequencies"] = -104;
    Use(machine);
    mhz = -1;
    EXPECT_FALSE(a.GetClock(&mhz, 0));
    EXPECT_EQ(-1, mhz);
}

TEST_F(CnvgfTest, UsageThroughDynamicPstates) {
    machine.Gpu(0, 0).utilization = "37";
    machine.Gpu(0, 0).usageTable = "88";
    Use(machine);
    CNVGF a;
    Ready(a);
    int u = -1;
    EXPECT_TRUE(a.GetUsage(&u));
    EXPECT_EQ(37, u);

    // Domain absent: success, nothing written, and no fallback.
    machine.Gpu(0, 0).utilization = "absent";
    Use(machine);
    sim.ClearLog();
    u = -1;
    EXPECT_TRUE(a.GetUsage(&u));
    EXPECT_EQ(-1, u);
    EXPECT_EQ(0u, sim.CountTrace("call GPU_GetUsages"));
}

TEST_F(CnvgfTest, UsageFallsBackToTheTable) {
    machine.Gpu(0, 0).utilization = "37";
    machine.Gpu(0, 0).usageTable = "88";
    machine.usage = "table";
    Use(machine);
    int u = -1;
    {
        CNVGF a;
        Ready(a);
        EXPECT_TRUE(a.GetUsage(&u));
        EXPECT_EQ(88, u) << "no dynamic P-state entry";
    }
    machine.usage = "both";
    machine.Gpu(0, 0).status["GPU_GetDynamicPstatesInfoEx"] = -1;
    Use(machine);
    {
        CNVGF a;
        Ready(a);
        u = -1;
        EXPECT_TRUE(a.GetUsage(&u));
        EXPECT_EQ(88, u) << "dynamic P-state entry failing";
        EXPECT_TRUE(a.GetUsage(nullptr));
    }
    machine.Gpu(0, 0).status["GPU_GetUsages"] = -1;
    Use(machine);
    {
        CNVGF a;
        Ready(a);
        u = -1;
        EXPECT_FALSE(a.GetUsage(&u));
        EXPECT_EQ(-1, u);
    }
    machine.Gpu(0, 0).status.clear();
    machine.usage = "none";
    Use(machine);
    {
        CNVGF a;
        Ready(a);
        EXPECT_FALSE(a.GetUsage(&u)) << "neither entry";
    }
}

TEST_F(CnvgfTest, FanLevel) {
    machine.Gpu(0, 0).fan = "45";
    Use(machine);
    unsigned level = 999;
    {
        CNVGF a;
        Ready(a);
        EXPECT_TRUE(a.GetFanLevel(&level));
        EXPECT_EQ(45u, level);
        EXPECT_TRUE(a.GetFanLevel(nullptr));
    }
    machine.Gpu(0, 0).coolers = 0;
    Use(machine);
    {
        CNVGF a;
        Ready(a);
        level = 999;
        EXPECT_FALSE(a.GetFanLevel(&level));
        EXPECT_EQ(999u, level);
    }
    machine.Gpu(0, 0).coolers = 1;
    machine.missing = {NVID_GPU_GetCoolerSettings};
    Use(machine);
    {
        CNVGF a;
        Ready(a);
        EXPECT_FALSE(a.GetFanLevel(&level)) << "driver without the cooler entry";
    }
}

TEST_F(CnvgfTest, Pstate) {
    machine.Gpu(0, 0).pstate = "16";
    Use(machine);
    CNVGF a;
    Ready(a);
    unsigned p = 0;
    EXPECT_TRUE(a.GetPstate(&p));
    EXPECT_EQ(16u, p) << "passed on unchanged";
    machine.Gpu(0, 0).pstate = "8";
    Use(machine);
    EXPECT_TRUE(a.GetPstate(&p));
    EXPECT_EQ(8u, p);
    machine.Gpu(0, 0).status["GPU_GetCurrentPstate"] = -5;
    Use(machine);
    p = 3;
    EXPECT_FALSE(a.GetPstate(&p));
    EXPECT_EQ(3u, p);
}

TEST_F(CnvgfTest, ReadingsAddressTheSelectedGpu) {
    machine.Gpu(0, 0).sensors = "1:40";
    machine.Gpu(0, 1).sensors = "1:77";
    machine.Gpu(0, 1).pstate = "5";
    Use(machine);
    CNVGF a;
    Ready(a, 1);
    int t = 0;
    unsigned p = 0;
    EXPECT_TRUE(a.GetTemperature(&t));
    EXPECT_TRUE(a.GetPstate(&p));
    EXPECT_EQ(77, t);
    EXPECT_EQ(5u, p);
    EXPECT_TRUE(a.SetLuminance(0, 42));
    auto sets = sim.Sets();
    ASSERT_EQ(1u, sets.size());
    EXPECT_EQ(0, sets[0].display);
    EXPECT_EQ(1, sets[0].gpu);
}

TEST_F(CnvgfTest, SetLuminance) {
    machine.Gpu(0, 0).attributes = {0};
    Use(machine);
    CNVGF a;
    Ready(a);
    EXPECT_FALSE(a.SetLuminance(1, 50)) << "unsupported attribute";
    EXPECT_EQ(0u, sim.CountTrace("call GPU_SetIllumination"));
    EXPECT_TRUE(sim.Sets().empty());
    EXPECT_TRUE(a.SetLuminance(0, 0));
    EXPECT_FALSE(a.SetLuminance(0, 101)) << "no clamping here: the driver refuses";
    auto sets = sim.Sets();
    ASSERT_EQ(2u, sets.size());
    EXPECT_EQ(0, sets[0].value);
    EXPECT_EQ(0, sets[0].status);
    EXPECT_EQ(101, sets[1].value);
    EXPECT_EQ(-5, sets[1].status);
    EXPECT_EQ(GetCurrentProcessId(), sets[0].pid);
    EXPECT_EQ(GetCurrentThreadId(), sets[0].tid);
}

TEST_F(CnvgfTest, SetLuminanceOnce) {
    machine.Gpu(0, 1).attributes = {0, 1};
    Use(machine);
    EXPECT_EQ(1, SetLuminanceOnce(100, 0, 0, 0));
    EXPECT_EQ(1, SetLuminanceOnce(250, 1, 0, 1));
    EXPECT_EQ(1, SetLuminanceOnce(static_cast<uint32_t>(-5), 0, 0, 0));
    EXPECT_EQ(1, SetLuminanceOnce(0, 0, 0, 0));
    EXPECT_EQ(0, SetLuminanceOnce(50, 1, 0, 0)) << "SLI bridge unsupported on GPU 0";
    EXPECT_EQ(0, SetLuminanceOnce(50, 0, 0, 2));
    EXPECT_EQ(0, SetLuminanceOnce(50, 0, 1, 0));
    auto sets = sim.Sets();
    ASSERT_EQ(4u, sets.size()) << "failed selections send nothing";
    EXPECT_EQ(100, sets[0].value);
    EXPECT_EQ(1, sets[1].gpu);
    EXPECT_EQ(1, sets[1].attribute);
    EXPECT_EQ(100, sets[1].value);
    EXPECT_EQ(100, sets[2].value);
    EXPECT_EQ(0, sets[3].value);

    machine.status["GPU_SetIllumination"] = -1;
    Use(machine);
    EXPECT_EQ(0, SetLuminanceOnce(10, 0, 0, 0)) << "set refused";
}

TEST_F(CnvgfTest, PrivateEntriesAreOptional) {
    machine.usage = "none";
    machine.missing = {NVID_GPU_GetCoolerSettings};
    Use(machine);
    CNVGF a;
    EXPECT_EQ(NVGF_READY, a.Initialize(0, 0, 0));
}
