// The simulated driver itself: what other tests rely on it for.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "gpu/cnvgf.h"
#include "gpu/nvapi.h"
#include "simnvapi.h"
#include "testsupport.h"

using testsupport::SimMachine;
using testsupport::SimNvapi;

TEST(SimDriver, BuiltInMachineWhenTheFileIsMissing) {
    SimNvapi sim;
    testsupport::SetEnv("GLIMSIM_NVAPI_CONFIG", "C:\\no\\such\\nvapi.cfg");
    CNVGF a;
    EXPECT_EQ(NVGF_READY, a.Initialize(0, 0, 0));
    EXPECT_STREQ("NVIDIA GeForce GTX 1080", a.DeviceName());
    EXPECT_EQ(1u, a.GpuCount());
    EXPECT_TRUE(a.UnloadDLL());
    EXPECT_EQ(NVGF_UNSUPPORTED, a.Initialize(0, 0, 1)) << "no SLI bridge";
}

TEST(SimDriver, ReadingsRiseAndFall) {
    SimNvapi sim;
    SimMachine m;
    m.Gpu(0, 0).sensors = "1:40..80/600";
    ASSERT_TRUE(sim.Write(m));
    CNVGF a;
    ASSERT_EQ(NVGF_READY, a.Initialize(0, 0, 0));
    int low = 1000, high = -1000;
    bool bothSeen = testsupport::WaitUntil(
        [&] {
            int t = 0;
            if (!a.GetTemperature(&t)) return false;
            EXPECT_GE(t, 40);
            EXPECT_LE(t, 80);
            low = std::min(low, t);
            high = std::max(high, t);
            return low <= 50 && high >= 70;
        },
        10000, 15);
    EXPECT_TRUE(bothSeen) << low << ".." << high;
}

TEST(SimDriver, SetLogIsWholeWithManyThreads) {
    SimNvapi sim;
    const int threads = 5, each = 20;  // values 0..99, all valid
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([t] {
            for (int i = 0; i < each; ++i) SetLuminanceOnce(static_cast<uint32_t>(t * each + i), 0, 0, 0);
        });
    for (std::thread& w : workers) w.join();
    auto sets = sim.Sets();
    ASSERT_EQ(static_cast<size_t>(threads * each), sets.size());
    std::map<DWORD, std::vector<long>> byThread;
    std::map<DWORD, uint64_t> lastMs;
    for (const auto& s : sets) {
        EXPECT_EQ(GetCurrentProcessId(), s.pid);
        EXPECT_EQ(0, s.status);
        EXPECT_GE(s.ms, lastMs[s.tid]) << "one clock, in order per thread";
        lastMs[s.tid] = s.ms;
        byThread[s.tid].push_back(s.value);
    }
    ASSERT_EQ(static_cast<size_t>(threads), byThread.size());
    for (const auto& t : byThread) {
        ASSERT_EQ(static_cast<size_t>(each), t.second.size());
        for (int i = 1; i < each; ++i) EXPECT_EQ(t.second[0] + i, t.second[i]);
    }
    uint64_t now = GetTickCount64();
    EXPECT_LE(sets.back().ms, now);
    EXPECT_GT(sets.front().ms + 60000, now) << "the test process's own clock";
}

TEST(SimDriver, UnusableLinesAreSkipped) {
    SimNvapi sim;
    ASSERT_TRUE(sim.WriteText("displays = lots\n"
                              "nonsense\n"
                              "[gpu 0 0]\n"
                              "name = Configured Board\n"
                              "attributes = 0 1\n"
                              "sensors = 1:warm\n"
                              "pstate = 3\n"
                              "[gpu x]\n"
                              "name = ignored\n"));
    CNVGF a;
    ASSERT_EQ(NVGF_READY, a.Initialize(0, 0, 1));
    EXPECT_STREQ("Configured Board", a.DeviceName());
    unsigned p = 0;
    int t = 0;
    EXPECT_TRUE(a.GetPstate(&p));
    EXPECT_EQ(3u, p);
    EXPECT_TRUE(a.GetTemperature(&t));
    EXPECT_EQ(50, t) << "the default sensor stays";
    EXPECT_GE(sim.CountTrace("config "), 1u);
}

TEST(SimDriver, SetsWithAForeignHandleAreRecorded) {
    SimNvapi sim;
    ASSERT_EQ(NVAPI_OK, NvAPI_Initialize());
    NV_GPU_SET_ILLUMINATION_PARM parm = {};
    parm.version = NV_GPU_SET_ILLUMINATION_PARM_VER;
    parm.Value = 30;
    EXPECT_EQ(-101, NvAPI_GPU_SetIllumination(&parm));
    auto sets = sim.Sets();
    ASSERT_EQ(1u, sets.size());
    EXPECT_EQ(-1, sets[0].display);
    EXPECT_EQ(-1, sets[0].gpu);
    EXPECT_EQ(30, sets[0].value);
    EXPECT_EQ(-101, sets[0].status);
}

// The six client illumination entries, reached by id as a program without the
// program's records would: version words, a GPU without zones, and the device
// record's 8-aligned time stamp at the offset the SDK gives it.
TEST(SimDriver, ClientIlluminationCalls) {
    SimNvapi sim;
    SimMachine m;
    m.Gpu(0, 1).zones = "rgb@top";
    ASSERT_TRUE(sim.Write(m));
    CNVGF a;
    ASSERT_EQ(NVGF_READY, a.Initialize(0, 0, 0));
    HMODULE driver = GetModuleHandleA(NvApiLibraryPath());
    ASSERT_NE(nullptr, driver);
    auto query = reinterpret_cast<NvQueryInterfaceProc>(
        reinterpret_cast<void*>(GetProcAddress(driver, "nvapi_QueryInterface")));
    ASSERT_NE(nullptr, query);
    NvDisplayHandle display = nullptr;
    NvPhysicalGpuHandle gpus[NVAPI_MAX_PHYSICAL_GPUS] = {};
    NvU32 count = 0;
    ASSERT_EQ(NVAPI_OK, NvAPI_EnumNvidiaDisplayHandle(0, &display));
    ASSERT_EQ(NVAPI_OK, NvAPI_GetPhysicalGPUsFromDisplay(display, gpus, &count));
    ASSERT_EQ(2u, count);

    typedef NvAPI_Status(NVAPI_CALL * Entry)(NvPhysicalGpuHandle, void*);
    const struct {
        NvU32 id;
        NvU32 word;
        NvAPI_Status withoutZones;
    } calls[] = {
        {0xD4100E58, 0x00011148, NVAPI_OK},  // devices: info
        {0x73C01D58, 0x00011348, -104},      // devices: get control
        {0x57024C62, 0x00011348, -104},      // devices: set control
        {0x4B81241B, 0x000111C8, NVAPI_OK},  // zones: info
        {0x3DBF5764, 0x0001194C, -104},      // zones: get control
        {0x197D065E, 0x0001194C, -104},      // zones: set control
    };
    std::vector<unsigned char> record(8192);
    for (const auto& c : calls) {
        SCOPED_TRACE(c.id);
        Entry entry = reinterpret_cast<Entry>(query(c.id));
        ASSERT_NE(nullptr, entry);
        std::fill(record.begin(), record.end(), 0xCC);
        NvU32 wrong = c.word + 1;
        std::memcpy(record.data(), &wrong, 4);
        EXPECT_EQ(NVAPI_INCOMPATIBLE_STRUCT_VERSION, entry(gpus[0], record.data()));
        std::memcpy(record.data(), &c.word, 4);
        EXPECT_EQ(c.withoutZones, entry(gpus[0], record.data()));
        if (c.withoutZones == NVAPI_OK) {
            NvU32 n = 1;
            std::memcpy(&n, record.data() + 4, 4);
            EXPECT_EQ(0u, n);
            EXPECT_EQ(0, record[(c.word & 0xFFFF) - 1]) << "cleared to its last byte";
            EXPECT_EQ(0xCC, record[c.word & 0xFFFF]) << "and not beyond";
        }
        EXPECT_EQ(-5, entry(gpus[1], nullptr));
    }

    // Device 0's synchronisation: bSync at 72 + 8, the time stamp at 72 + 16.
    Entry getDevices = reinterpret_cast<Entry>(query(0x73C01D58));
    Entry setDevices = reinterpret_cast<Entry>(query(0x57024C62));
    std::fill(record.begin(), record.end(), 0);
    NvU32 word = 0x00011348;
    std::memcpy(record.data(), &word, 4);
    ASSERT_EQ(NVAPI_OK, getDevices(gpus[1], record.data()));
    NvU32 devices = 0;
    std::memcpy(&devices, record.data() + 4, 4);
    ASSERT_EQ(1u, devices);
    record[80] = 1;
    const NvU64 stamp = 0x1122334455667788ull;
    std::memcpy(record.data() + 88, &stamp, 8);
    ASSERT_EQ(NVAPI_OK, setDevices(gpus[1], record.data()));
    std::fill(record.begin() + 4, record.end(), 0);
    ASSERT_EQ(NVAPI_OK, getDevices(gpus[1], record.data()));
    NvU64 read = 0;
    std::memcpy(&read, record.data() + 88, 8);
    EXPECT_EQ(1, record[80]);
    EXPECT_EQ(stamp, read);

    // A legacy LED reads 100 until a set, then what was set.
    typedef NvAPI_Status(NVAPI_CALL * Illumination)(NV_GPU_SET_ILLUMINATION_PARM*);
    Illumination get = reinterpret_cast<Illumination>(query(0x9A1B9365));
    ASSERT_NE(nullptr, get);
    NV_GPU_SET_ILLUMINATION_PARM parm = {};
    parm.version = NV_GPU_SET_ILLUMINATION_PARM_VER;
    parm.hPhysicalGpu = gpus[0];
    ASSERT_EQ(NVAPI_OK, get(&parm));
    EXPECT_EQ(100u, parm.Value);
    ASSERT_TRUE(a.SetLuminance(0, 55));
    ASSERT_EQ(NVAPI_OK, get(&parm));
    EXPECT_EQ(55u, parm.Value);
}

// Tests rewrite the configuration between calls, where some file systems give
// quick writes one time stamp: a rewrite to the same size under the same
// stamp is still seen. A file left alone is not read again: the driver goes
// on answering from it while another program holds it open without sharing.
TEST(SimDriver, ConfigurationIsReadWhenItChangesOnly) {
    SimNvapi sim;
    auto interfaceText = [] {
        NvAPI_ShortString text = {};
        EXPECT_EQ(NVAPI_OK, NvAPI_GetInterfaceVersionString(text));
        return std::string(text);
    };
    ASSERT_TRUE(sim.WriteText("interface = Driver A\n"));
    EXPECT_EQ("Driver A", interfaceText());
    WIN32_FILE_ATTRIBUTE_DATA first;
    ASSERT_TRUE(GetFileAttributesExA(sim.ConfigPath().c_str(), GetFileExInfoStandard, &first));
    ASSERT_TRUE(sim.WriteText("interface = Driver B\n"));
    HANDLE file = CreateFileA(sim.ConfigPath().c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &first.ftLastWriteTime));
    CloseHandle(file);
    EXPECT_EQ("Driver B", interfaceText()) << "same size, same stamp";

    Sleep(2200);  // the stamp is old enough to trust now
    EXPECT_EQ("Driver B", interfaceText());
    HANDLE held = CreateFileA(sim.ConfigPath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    EXPECT_EQ("Driver B", interfaceText()) << "answered without reading the file";
    CloseHandle(held);
}

// A driver reset: an outage, then new handles and the old ones refused for
// good; an adapter binds again at most once per period, and the one-shot set
// initialises the driver again by itself.
TEST(SimDriver, AResetRefusesOldHandlesAndAnAdapterBindsAgainOncePerPeriod) {
    SimNvapi sim;
    SimMachine m;
    uint64_t resetAt = GetTickCount64() + 300;
    m.extra = "reset = " + std::to_string(resetAt) + ":400\n";
    ASSERT_TRUE(sim.Write(m));
    CNVGF a;
    ASSERT_EQ(NVGF_READY, a.Initialize(0, 0, 0));
    EXPECT_TRUE(a.EnsureBound(60000));
    while (GetTickCount64() < resetAt + 50) Sleep(10);

    EXPECT_FALSE(a.SetLuminance(0, 10)) << "in the outage";
    EXPECT_TRUE(a.Lost());
    sim.ClearLog();
    EXPECT_FALSE(a.EnsureBound(60000)) << "no driver yet";
    EXPECT_FALSE(a.EnsureBound(60000)) << "and no second try this period";
    EXPECT_EQ(1u, sim.CountTrace("call Initialize"));

    while (GetTickCount64() < resetAt + 450) Sleep(10);
    sim.ClearLog();
    EXPECT_FALSE(a.SetLuminance(0, 20)) << "handles from before the reset";
    std::vector<std::string> trace = sim.Trace();
    ASSERT_FALSE(trace.empty());
    EXPECT_EQ(" -10", trace.back().substr(trace.back().size() - 4)) << trace.back();
    EXPECT_EQ(NVGF_READY, a.Rebind());
    EXPECT_TRUE(a.SetLuminance(0, 30));
    EXPECT_EQ(1, SetLuminanceOnce(40, 0, 0, 0));

    // A second reset: this process has not initialised the driver since, and
    // the one-shot set does it before it gives up.
    uint64_t againAt = GetTickCount64() + 100;
    m.extra = "reset = " + std::to_string(resetAt) + ":400 " + std::to_string(againAt) + ":100\n";
    ASSERT_TRUE(sim.Write(m));
    while (GetTickCount64() < againAt + 150) Sleep(10);
    EXPECT_EQ(1, SetLuminanceOnce(50, 0, 0, 0));
    ASSERT_FALSE(sim.Sets().empty());
    EXPECT_EQ(50, sim.Sets().back().value);
}

// What a board refuses in a zone write: each row changes the record as the
// driver gave it. Zone 0 (RGB) sits at 76, zone 1 (colour-fixed, behind a
// device that runs manual mode only) at 276.
TEST(SimDriver, ZoneWritesABoardRefuses) {
    SimNvapi sim;
    SimMachine m;
    m.Gpu(0, 0).zones = "rgb@top fixed@front#1";
    m.Gpu(0, 0).illumDevices = "mcu:3 single:1";
    ASSERT_TRUE(sim.Write(m));
    ASSERT_EQ(NVAPI_OK, NvAPI_Initialize());
    NvDisplayHandle display = nullptr;
    NvPhysicalGpuHandle gpus[NVAPI_MAX_PHYSICAL_GPUS] = {};
    NvU32 count = 0;
    ASSERT_EQ(NVAPI_OK, NvAPI_EnumNvidiaDisplayHandle(0, &display));
    ASSERT_EQ(NVAPI_OK, NvAPI_GetPhysicalGPUsFromDisplay(display, gpus, &count));

    typedef unsigned char* Record;
    auto u16 = [](Record r, size_t at, uint16_t v) { std::memcpy(r + at, &v, 2); };
    auto u32 = [](Record r, size_t at, uint32_t v) { std::memcpy(r + at, &v, 4); };
    // Zone 0 blinking: 500 ms each end point, repeated.
    auto program = [&](Record r) {
        u32(r, 80, 1);
        u32(r, 92, 2);
        r[96] = 1;
        u16(r, 102, 500);
        u16(r, 104, 500);
    };
    const struct {
        const char* why;
        std::function<void(Record)> change;
        NvAPI_Status status;
    } cases[] = {
        {"as read", [](Record) {}, NVAPI_OK},
        {"a program", program, NVAPI_OK},
        {"the default set", [&](Record r) { r[4] = 1; }, -5},
        {"a reserved flag bit", [&](Record r) { r[4] = 2; }, -5},
        {"the record's reserved bytes", [&](Record r) { r[75] = 1; }, -5},
        {"a zone's per-type reserved bytes", [&](Record r) { r[76 + 72] = 1; }, -5},
        {"a zone's own reserved bytes", [&](Record r) { r[276 + 199] = 1; }, -5},
        {"a program on a device that runs none",
         [&](Record r) {
             u32(r, 280, 1);
             u32(r, 288, 2);
             r[292] = 1;
             u16(r, 298, 500);
         },
         -104},
        {"group count 0", [&](Record r) { program(r), r[96] = 0; }, -5},
        {"a cycle of no length", [&](Record r) { program(r), u16(r, 102, 0), u16(r, 104, 0); }, -5},
        {"an unknown cycle type", [&](Record r) { program(r), u32(r, 92, 3); }, -5},
        {"end point B above 100 %", [&](Record r) { program(r), r[91] = 101; }, -5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_PARAMS_V1 params = {};
        params.version = NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_PARAMS_VER;
        ASSERT_EQ(NVAPI_OK, NvAPI_GPU_ClientIllumZonesGetControl(gpus[0], &params));
        ASSERT_EQ(2u, params.numIllumZonesControl);
        c.change(reinterpret_cast<Record>(&params));
        EXPECT_EQ(c.status, NvAPI_GPU_ClientIllumZonesSetControl(gpus[0], &params));
    }
}
