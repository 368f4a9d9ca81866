// Illumination zones through the adapter: what one write leaves in the record
// the driver takes for all zones of a GPU.
#include <gtest/gtest.h>

#include <thread>

#include "base/device.h"
#include "gpu/cnvgf.h"
#include "gpu/zones.h"
#include "simnvapi.h"
#include "testsupport.h"

using testsupport::SimMachine;
using testsupport::SimNvapi;
using testsupport::SimZoneWrite;

namespace {

// The zone lines of the last write, indexed by zone.
std::vector<SimZoneWrite> LastWrite(const SimNvapi& sim) {
    std::vector<SimZoneWrite> all = sim.ZoneWrites();
    std::vector<SimZoneWrite> last;
    for (const SimZoneWrite& w : all) {
        if (w.call == all.back().call) last.push_back(w);
    }
    return last;
}

}  // namespace

TEST(Zones, AWriteLeavesTheOtherZonesAsTheyWere) {
    SimNvapi sim;
    SimMachine m;
    m.Gpu(0, 0).zones = "rgb@top:10,20,30%40 fixed@front%70 rgbw@back:1,2,3,4%50";
    ASSERT_TRUE(sim.Write(m));
    CNVGF a;
    ASSERT_EQ(NVGF_READY, a.Initialize(0, 0, 3));
    ASSERT_TRUE(a.SetLuminance(3, 80));
    std::vector<SimZoneWrite> w = LastWrite(sim);
    ASSERT_EQ(3u, w.size()) << "the record carries every zone";
    EXPECT_EQ("manual", w[0].mode);
    EXPECT_EQ("10,20,30", w[0].Field("color"));
    EXPECT_EQ("40", w[0].Field("pct"));
    EXPECT_EQ("80", w[1].Field("pct"));
    EXPECT_EQ("1,2,3,4", w[2].Field("color"));
    EXPECT_EQ("50", w[2].Field("pct"));
    for (const SimZoneWrite& z : w) {
        EXPECT_EQ(0, z.status);
        EXPECT_EQ("0", z.Field("default")) << "the active settings";
    }

    // The next write starts from what the board has now.
    ASSERT_TRUE(a.SetLuminance(2, 250)) << "a zone takes at most 100 %";
    w = LastWrite(sim);
    ASSERT_EQ(3u, w.size());
    EXPECT_EQ("100", w[0].Field("pct"));
    EXPECT_EQ("80", w[1].Field("pct"));
    ASSERT_TRUE(a.SetLuminance(4, static_cast<uint32_t>(-1)));
    EXPECT_EQ("100", LastWrite(sim)[2].Field("pct")) << "negative, taken unsigned";

    EXPECT_FALSE(a.SetLuminance(5, 10)) << "no fourth zone";
    m.Gpu(0, 0).status["GPU_ClientIllumZonesGetControl"] = -104;
    ASSERT_TRUE(sim.Write(m));
    size_t before = sim.ZoneWrites().size();
    EXPECT_FALSE(a.SetLuminance(2, 10));
    EXPECT_EQ(before, sim.ZoneWrites().size()) << "nothing written without the current settings";
}

TEST(Zones, ColourKeptAndColourSetForEachZoneType) {
    const uint32_t orange = MakeDeviceColor(200 | 100 << 8 | 50 << 16);
    struct {
        const char* zone;
        uint32_t color;
        const char* written;
    } cases[] = {
        {"rgb@top:0,128,255%10", 0, "0,128,255"},
        {"rgb@top:0,128,255%10", orange, "200,100,50"},
        {"rgbw@top:0,128,255,77%10", 0, "0,128,255,77"},
        {"rgbw@top:0,128,255,77%10", orange, "200,100,50,77"},  // the white stays
        {"fixed@top%10", 0, "-"},
        {"fixed@top%10", orange, "-"},
        {"single@top%10", orange, "-"},
    };
    SimNvapi sim;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.zone) + (c.color ? " with a colour" : ""));
        SimMachine m;
        m.Gpu(0, 0).zones = c.zone;
        ASSERT_TRUE(sim.Write(m));
        EXPECT_EQ(1, SetLuminanceOnce(60, 2, 0, 0, c.color));
        std::vector<SimZoneWrite> w = LastWrite(sim);
        ASSERT_EQ(1u, w.size());
        EXPECT_EQ(0, w[0].status);
        EXPECT_EQ(c.written, w[0].Field("color"));
        EXPECT_EQ("60", w[0].Field("pct"));
    }
}

// Where a two-point program stands: the zone is left there on a pause.
TEST(Zones, WhereATwoPointProgramStands) {
    const ZoneBlink blink = {100, 500, 0, 700};
    const ZoneBlink swapped = {0, 500, 100, 700};
    const struct {
        const ZoneBlink& blink;
        uint64_t ms;
        uint32_t pct;
    } cases[] = {
        {blink, 0, 100},       {blink, 499, 100},      {blink, 500, 0},       {blink, 1199, 0},
        {blink, 1200, 100},    {blink, 1200 * 1000 + 500, 0},                  {swapped, 499, 0},
        {swapped, 500, 100},   {swapped, 2400 + 1199, 100},                    {swapped, 0xFFFFFFFFFFull, 100},
    };
    for (const auto& c : cases) EXPECT_EQ(c.pct, ZoneBlinkBrightnessAt(c.blink, c.ms)) << c.blink.aPct << " " << c.ms;
}

// A holder of the zone lock that died leaves it to the next writer; one that
// hangs costs a caller its bound, or a control thread its stop, not a hang.
TEST(Zones, TheZoneLockOutlivesItsHolder) {
    SimNvapi sim;
    SimMachine m;
    m.Gpu(0, 0).zones = "rgb@top";
    ASSERT_TRUE(sim.Write(m));
    CNVGF a;
    ASSERT_EQ(NVGF_READY, a.Initialize(0, 0, 2));
    std::thread([] {
        HANDLE lock = CreateMutexA(nullptr, FALSE, ZONE_LOCK_NAME);
        WaitForSingleObject(lock, INFINITE);
        CloseHandle(lock);  // still owned: the thread ends holding it
    }).join();
    EXPECT_TRUE(a.SetLuminance(2, 10)) << "abandoned, taken";

    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE taken = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread holder([&] {
        HANDLE lock = CreateMutexA(nullptr, FALSE, ZONE_LOCK_NAME);
        WaitForSingleObject(lock, INFINITE);
        SetEvent(taken);
        WaitForSingleObject(release, INFINITE);
        ReleaseMutex(lock);
        CloseHandle(lock);
    });
    WaitForSingleObject(taken, 5000);
    size_t before = sim.ZoneWrites().size();
    EXPECT_FALSE(a.SetLuminance(2, 20)) << "an unbound caller past its bound";
    volatile int32_t run = 1;
    BindZoneWriter(&run);
    std::thread stopper([&] {
        Sleep(200);
        run = 0;
    });
    EXPECT_FALSE(a.SetLuminance(2, 30)) << "a control thread stopped while it waits";
    stopper.join();
    BindZoneWriter(nullptr);
    EXPECT_EQ(before, sim.ZoneWrites().size());
    SetEvent(release);
    holder.join();
    EXPECT_TRUE(a.SetLuminance(2, 40));
    CloseHandle(release);
    CloseHandle(taken);
}

// The command-line mode writes zone 0 while this process writes zone 1 of
// the same board back to back on a slow controller: neither undoes the other.
TEST(Zones, AnotherProcessUndoesNoWrite) {
    SimNvapi sim;
    SimMachine m;
    m.Gpu(0, 0).zones = "rgb@top%1 fixed@front%2";
    m.Gpu(0, 0).zoneDelayMs = 30;
    ASSERT_TRUE(sim.Write(m));
    CNVGF a;
    ASSERT_EQ(NVGF_READY, a.Initialize(0, 0, 3));
    volatile bool done = false;
    std::thread writer([&] {
        for (uint32_t v = 0; !done; ++v) {
            a.SetLuminance(3, v % 50);
            Sleep(5);
        }
    });
    struct Join {
        volatile bool& done;
        std::thread& writer;
        ~Join() {
            done = true;
            writer.join();
        }
    } join{done, writer};
    for (int value = 81; value <= 83; ++value) {
        testsupport::ChildProcess once;
        EXPECT_TRUE(once.Start(testsupport::BinPath(TEST_PROGRAM), "0 0 2 " + std::to_string(value)));
        EXPECT_TRUE(once.Wait(15000));
        EXPECT_EQ(0u, once.ExitCode());
        Sleep(200);  // this process's write in flight lands
        std::vector<SimZoneWrite> w = LastWrite(sim);
        ASSERT_EQ(2u, w.size());
        EXPECT_EQ(std::to_string(value), w[0].Field("pct")) << "undone";
    }
}
