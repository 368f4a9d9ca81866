#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "gpu/cnvgf.h"
#include "gpu/nvapi.h"
#include "simnvapi.h"
#include "testsupport.h"

using testsupport::SimMachine;
using testsupport::SimNvapi;

namespace {

// Every case starts from a fresh load of the system library.
class NvapiLayerTest : public ::testing::Test {
protected:
    void SetUp() override { NvApiReloadForTest(nullptr); }
    void TearDown() override { NvApiReloadForTest(nullptr); }
    void Use(const SimMachine& m) { ASSERT_TRUE(sim.Write(m)); }
    static std::string Hex(NvU32 id) {
        char s[16];
        std::snprintf(s, sizeof s, "0x%08X", id);
        return s;
    }
    SimNvapi sim;
    SimMachine machine;
};

}  // namespace

TEST_F(NvapiLayerTest, LibraryMissing) {
    testsupport::TempDir empty;
    NvApiReloadForTest(empty.Path().c_str());
    EXPECT_EQ(NVAPI_LIBRARY_NOT_FOUND, NvAPI_Initialize());
    NvDisplayHandle display = nullptr;
    EXPECT_EQ(NVAPI_LIBRARY_NOT_FOUND, NvAPI_EnumNvidiaDisplayHandle(0, &display));
    EXPECT_STREQ("", NvApiLibraryPath());
    NvApiReloadForTest(nullptr);
    EXPECT_EQ(NVAPI_OK, NvAPI_Initialize()) << "a later call loads once the library is there";
}

TEST_F(NvapiLayerTest, LibraryWithoutQueryEntryOrInitialize) {
    // Any library that is not a driver: this test program's folder holds the
    // real simulator, so use a folder with a copy of a system library instead.
    testsupport::TempDir dir;
    char system[MAX_PATH];
    UINT n = GetSystemDirectoryA(system, MAX_PATH);
    ASSERT_TRUE(testsupport::CopyTo(std::string(system, n) + "\\version.dll", dir.File(TEST_DRIVER)));
    NvApiReloadForTest(dir.Path().c_str());
    EXPECT_EQ(NVAPI_ERROR, NvAPI_Initialize());

    machine.missing = {NVID_Initialize};
    Use(machine);
    NvApiReloadForTest(nullptr);
    EXPECT_EQ(NVAPI_ERROR, NvAPI_Initialize());

    machine.missing.clear();
    machine.status["Initialize"] = -6;
    Use(machine);
    EXPECT_EQ(-6, NvAPI_Initialize()) << "the driver's own status";
    machine.status.clear();
    Use(machine);
    EXPECT_EQ(NVAPI_OK, NvAPI_Initialize()) << "a failed initialisation is retried";
}

TEST_F(NvapiLayerTest, InterfaceIdMissing) {
    machine.missing = {NVID_GPU_GetFullName};
    Use(machine);
    CNVGF a;
    ASSERT_EQ(NVGF_READY, a.Initialize(0, 0, 0)) << "other operations are unaffected";
    NvAPI_ShortString name = {};
    NvDisplayHandle display = nullptr;
    ASSERT_EQ(NVAPI_OK, NvAPI_EnumNvidiaDisplayHandle(0, &display));
    NvPhysicalGpuHandle gpus[NVAPI_MAX_PHYSICAL_GPUS] = {};
    NvU32 count = 0;
    ASSERT_EQ(NVAPI_OK, NvAPI_GetPhysicalGPUsFromDisplay(display, gpus, &count));
    EXPECT_EQ(NVAPI_NO_IMPLEMENTATION, NvAPI_GPU_GetFullName(gpus[0], name));
    EXPECT_EQ(NVAPI_NO_IMPLEMENTATION, NvAPI_GPU_GetFullName(gpus[0], name)) << "asked again, still missing";
    EXPECT_EQ(2u, sim.CountTrace("query " + Hex(NVID_GPU_GetFullName) + " null"));

    // A placeholder adapter string then cannot be resolved: not found.
    machine.Gpu(0, 0).adapter = "not implemented yet";
    Use(machine);
    CNVGF b;
    EXPECT_EQ(NVGF_NOT_FOUND, b.Initialize(0, 0, 0));
}

TEST_F(NvapiLayerTest, EntriesAreFetchedOnceAndKept) {
    NvDisplayHandle display = nullptr;
    for (int i = 0; i < 3; ++i) ASSERT_EQ(NVAPI_OK, NvAPI_EnumNvidiaDisplayHandle(0, &display));
    const std::string query = "query " + Hex(NVID_EnumNvidiaDisplayHandle);
    EXPECT_EQ(1u, sim.CountTrace(query));
    EXPECT_EQ(1u, sim.CountTrace("query " + Hex(NVID_Initialize))) << "one load";

    // The kept entry is used even once the driver stops offering it...
    machine.missing = {NVID_EnumNvidiaDisplayHandle};
    Use(machine);
    EXPECT_EQ(NVAPI_OK, NvAPI_EnumNvidiaDisplayHandle(0, &display));
    EXPECT_EQ(1u, sim.CountTrace(query));
    // ...and dropped with the load it came from.
    NvApiReloadForTest(nullptr);
    EXPECT_EQ(NVAPI_NO_IMPLEMENTATION, NvAPI_EnumNvidiaDisplayHandle(0, &display));
    EXPECT_EQ(2u, sim.CountTrace(query));
}

TEST_F(NvapiLayerTest, ConcurrentFirstCallsLoadOnce) {
    std::vector<std::thread> threads;
    std::vector<int> results(8, -100);
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&results, t] {
            NvDisplayHandle display = nullptr;
            results[t] = NvAPI_EnumNvidiaDisplayHandle(0, &display);
        });
    for (std::thread& t : threads) t.join();
    for (int r : results) EXPECT_EQ(NVAPI_OK, r);
    EXPECT_EQ(1u, sim.CountTrace("query " + Hex(NVID_Initialize)));
}

TEST_F(NvapiLayerTest, VersionWordsSent) {
    machine.Gpu(0, 0).attributes = {0};
    Use(machine);
    CNVGF a;
    ASSERT_EQ(NVGF_READY, a.Initialize(0, 0, 0));
    unsigned u = 0;
    int i = 0;
    double d = 0;
    EXPECT_TRUE(a.SetLuminance(0, 50));
    EXPECT_TRUE(a.GetPstate(&u));
    EXPECT_TRUE(a.GetTemperature(&i));
    EXPECT_TRUE(a.GetClock(&d, 2));
    EXPECT_TRUE(a.GetUsage(&i));
    EXPECT_TRUE(a.GetFanLevel(&u));
    machine.usage = "table";
    Use(machine);
    CNVGF b;
    ASSERT_EQ(NVGF_READY, b.Initialize(0, 0, 0));
    EXPECT_TRUE(b.GetUsage(&i));

    // The illumination records hold the GPU handle, a pointer: the only words
    // that differ between the two builds.
#ifdef _WIN64
#define ILLUMINATION_WORD "0x00010018"
#else
#define ILLUMINATION_WORD "0x00010010"
#endif
    const char* expected[] = {
        "call GetDisplayDriverVersion 0x0001008C 0",       "call GPU_QueryIlluminationSupport " ILLUMINATION_WORD " 0",
        "call GPU_SetIllumination " ILLUMINATION_WORD " 0", "call GPU_GetThermalSettings 0x00010044 0",
        "call GPU_GetAllClockFrequencies 0x00020108 0",    "call GPU_GetDynamicPstatesInfoEx 0x00010048 0",
        "call GPU_GetUsages 0x00010088 0",                 "call GPU_GetCoolerSettings 0x000203C8 0",
    };
    for (const char* line : expected) EXPECT_GE(sim.CountTrace(line), 1u) << line;
    EXPECT_EQ(0u, sim.CountTrace("call GPU_GetUsages 0x00010088 -")) << "no failed usage-table call";

    // The driver checks the words: the wrong one is refused.
    NvDisplayHandle display = nullptr;
    NvPhysicalGpuHandle gpus[NVAPI_MAX_PHYSICAL_GPUS] = {};
    NvU32 count = 0;
    ASSERT_EQ(NVAPI_OK, NvAPI_EnumNvidiaDisplayHandle(0, &display));
    ASSERT_EQ(NVAPI_OK, NvAPI_GetPhysicalGPUsFromDisplay(display, gpus, &count));
    NV_GPU_THERMAL_SETTINGS thermal;
    std::memset(&thermal, 0, sizeof thermal);
    thermal.version = NvVersionWord(sizeof thermal, 2);
    EXPECT_EQ(NVAPI_INCOMPATIBLE_STRUCT_VERSION, NvAPI_GPU_GetThermalSettings(gpus[0], 15, &thermal));
    thermal.version = NV_GPU_THERMAL_SETTINGS_VER_1;
    EXPECT_EQ(NVAPI_OK, NvAPI_GPU_GetThermalSettings(gpus[0], 15, &thermal));
    EXPECT_EQ(NV_GPU_THERMAL_SETTINGS_VER_1, NvVersionWord(sizeof(NV_GPU_THERMAL_SETTINGS), 1));
}

TEST_F(NvapiLayerTest, NoticesBracketEveryCall) {
    machine.notices = true;
    Use(machine);
    NvApiReloadForTest(nullptr);
    NvDisplayHandle display = nullptr;
    ASSERT_EQ(NVAPI_OK, NvAPI_EnumNvidiaDisplayHandle(0, &display));
    EXPECT_EQ(NVAPI_END_ENUMERATION, NvAPI_EnumNvidiaDisplayHandle(5, &display));
    std::vector<std::string> trace = sim.Trace();
    std::vector<std::string> calls;
    for (const std::string& line : trace)
        if (line.compare(0, 4, "pre ") == 0 || line.compare(0, 5, "post ") == 0 ||
            line.compare(0, 5, "call ") == 0)
            calls.push_back(line);
    const std::string id = Hex(NVID_EnumNvidiaDisplayHandle);
    std::vector<std::string> expected = {
        "call Initialize - 0",
        "pre " + id, "call EnumNvidiaDisplayHandle - 0", "post " + id + " 0 intact",
        "pre " + id, "call EnumNvidiaDisplayHandle - -7", "post " + id + " -7 intact",
    };
    EXPECT_EQ(expected, calls);

    // Only one of the two offered: neither is used.
    machine.missing = {NVID_PostCallNotice};
    Use(machine);
    NvApiReloadForTest(nullptr);
    sim.ClearLog();
    ASSERT_EQ(NVAPI_OK, NvAPI_EnumNvidiaDisplayHandle(0, &display));
    EXPECT_EQ(0u, sim.CountTrace("pre "));
}
