// Control threads on illumination zones: two zones of one board written side
// by side, and two-step patterns that the zone's hardware plays by itself.
#include <map>
#include <thread>

#include "enginetest.h"
#include "gpu/cnvgf.h"
#include "gpu/zones.h"

using testsupport::SimZoneWrite;

namespace {

class ZoneEngineTest : public EngineTest {
protected:
    // The zone writes of this process, grouped by write: zone -> line.
    std::vector<std::map<int, SimZoneWrite>> Writes() const {
        std::vector<std::map<int, SimZoneWrite>> writes;
        long call = -1;
        for (const SimZoneWrite& w : sim.ZoneWrites()) {
            if (w.pid != GetCurrentProcessId()) continue;
            if (writes.empty() || w.call != call) writes.emplace_back();
            call = w.call;
            writes.back()[w.zone] = w;
        }
        return writes;
    }
    bool WaitForWrites(size_t count, unsigned timeoutMs) const {
        return testsupport::WaitUntil([&] { return Writes().size() >= count; }, timeoutMs, 20);
    }
};

}  // namespace

// Each thread reads the record, changes its zone and writes all zones back;
// a slow controller widens the gap between read and write. A write that
// carries a stale value for the other thread's zone would undo that thread's
// last write.
TEST_F(ZoneEngineTest, TwoThreadsOnTwoZonesOfOneBoardLoseNoWrite) {
    machine.Gpu(0, 0).zones = "rgb@top%1 fixed@front%2";
    machine.Gpu(0, 0).zoneDelayMs = 3;
    Use();
    SETTING.Resolution = 10;
    Pattern(0, "11,10\n12,10\n13,10\n");
    Pattern(1, "21,10\n22,10\n23,10\n");
    Enable(0, PLAY_PATTERN, 0, 0, 2);
    Enable(1, PLAY_PATTERN, 0, 0, 3);
    ASSERT_EQ(1, StartControl());
    std::map<DWORD, int> zoneOf = {{DeviceSlot[0].ThreadId, 0}, {DeviceSlot[1].ThreadId, 1}};
    ASSERT_TRUE(WaitForWrites(120, 15000));
    StopControl();

    std::string last[2] = {"1", "2"};
    size_t perZone[2] = {0, 0};
    for (const auto& write : Writes()) {
        ASSERT_EQ(2u, write.size());
        auto owner = zoneOf.find(write.begin()->second.tid);
        ASSERT_NE(zoneOf.end(), owner);
        int mine = owner->second;
        int other = 1 - mine;
        EXPECT_EQ(last[other], write.at(other).Field("pct")) << "zone " << other << " undone";
        EXPECT_EQ("0", write.at(mine).Field("prio")) << "normal priority while the zones are locked";
        last[mine] = write.at(mine).Field("pct");
        ++perZone[mine];
    }
    EXPECT_GE(perZone[0], 40u);
    EXPECT_GE(perZone[1], 40u);
}

TEST_F(ZoneEngineTest, ATwoStepPatternRunsInTheZonesHardware) {
    machine.Gpu(0, 0).zones = "rgb@top:0,128,255%30 fixed@front%40";
    Use();
    Pattern(0, "100,500\n0,700\n");
    Enable(0, PLAY_PATTERN, 0, 0, 2);
    ASSERT_EQ(1, StartControl());
    ASSERT_TRUE(WaitForWrites(1, 5000));
    Sleep(1500);
    std::vector<std::map<int, SimZoneWrite>> writes = Writes();
    ASSERT_EQ(1u, writes.size()) << "handed over once, then no writes while it plays";
    const SimZoneWrite& program = writes[0].at(0);
    EXPECT_EQ("piecewise", program.mode);
    EXPECT_EQ("0,128,255/0,128,255", program.Field("color")) << "the zone's own colour";
    EXPECT_EQ("100/0", program.Field("pct"));
    EXPECT_EQ("500", program.Field("a"));
    EXPECT_EQ("700", program.Field("b"));
    EXPECT_EQ("2", program.Field("cycle")) << "repeated without end";
    EXPECT_EQ("0", program.Field("rise"));
    EXPECT_EQ("0", program.Field("fall"));
    EXPECT_EQ("1", program.Field("grp"));
    EXPECT_EQ("0", program.Field("idle"));
    EXPECT_EQ("0", program.Field("phase"));
    EXPECT_EQ("manual", writes[0].at(1).mode);
    EXPECT_TRUE(Mine().empty()) << "the old illumination call is not used";

    // A pause stops the animation where it stands; a resume hands it over again.
    SuspendControl();
    writes = Writes();
    ASSERT_EQ(2u, writes.size()) << "the zone stands still before the pause returns";
    EXPECT_EQ("manual", writes[1].at(0).mode);
    // Where the program stood, from the driver's stamps; a pause close to a
    // step boundary may fall on either side of it.
    const ZoneBlink blink = {100, 500, 0, 700};
    uint64_t elapsed = writes[1].at(0).ms - writes[0].at(0).ms;
    uint64_t intoStep = elapsed % 1200 < 500 ? elapsed % 1200 : elapsed % 1200 - 500;
    if (intoStep > 50 && intoStep + 50 < (elapsed % 1200 < 500 ? 500u : 700u)) {
        EXPECT_EQ(std::to_string(ZoneBlinkBrightnessAt(blink, elapsed)), writes[1].at(0).Field("pct")) << elapsed;
    }
    EXPECT_EQ("0,128,255", writes[1].at(0).Field("color"));
    Sleep(300);
    EXPECT_EQ(2u, Writes().size());
    ResumeControl();
    ASSERT_TRUE(WaitForWrites(3, 5000));
    EXPECT_EQ("piecewise", Writes()[2].at(0).mode);

    // A set from outside ends the program on the board: the thread finds
    // that within a period and hands the program over again.
    ASSERT_EQ(1, SetLuminanceOnce(40, 2, 0, 0));
    ASSERT_TRUE(WaitForWrites(5, 3000));
    EXPECT_EQ("piecewise", Writes()[4].at(0).mode);

    // The write that ends the program is tried again after a failure.
    machine.Gpu(0, 0).status["GPU_ClientIllumZonesSetControl"] = -1;
    Use();
    std::thread stop([] { StopControl(); });
    bool failed = testsupport::WaitUntil(
        [&] {
            writes = Writes();
            return writes.back().at(0).mode == "manual" && writes.back().at(0).status == -1;
        },
        3000, 5);
    machine.Gpu(0, 0).status.clear();
    Use();
    stop.join();
    ASSERT_TRUE(failed);
    writes = Writes();
    EXPECT_EQ("manual", writes.back().at(0).mode) << "back to manual on stop";
    EXPECT_EQ(0, writes.back().at(0).status);
}

TEST_F(ZoneEngineTest, OtherPatternsPlayStepByStep) {
    struct {
        const char* zones;
        const char* pattern;
        const char* why;
    } cases[] = {
        {"rgb@top", "10,100\n20,100\n30,100\n", "three steps"},
        {"rgb@top", "10,100\n", "one step"},
        {"rgb@top", "10,100\n20,0\n", "a step held for no time"},
        {"rgb@top", "10,100\n20,70000\n", "a hold beyond 65535 ms"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        sim.ClearLog();
        machine.Gpu(0, 0).zones = c.zones;
        Use();
        Pattern(0, c.pattern);
        Enable(0, PLAY_PATTERN, 0, 0, 2);
        ASSERT_EQ(1, StartControl());
        ASSERT_TRUE(WaitForWrites(2, 5000));
        StopControl();
        for (const auto& write : Writes()) EXPECT_EQ("manual", write.at(0).mode);
        EXPECT_EQ("10", Writes()[0].at(0).Field("pct"));
    }

    // A zone whose device runs no programs (mode mask: manual only), beside
    // one whose device does.
    sim.ClearLog();
    machine.Gpu(0, 0).zones = "rgb@top#1 rgb@back";
    machine.Gpu(0, 0).illumDevices = "mcu:3 rgbw:1";
    Use();
    Pattern(0, "10,100\n20,100\n");
    ASSERT_EQ(1, StartControl());
    ASSERT_TRUE(WaitForWrites(3, 5000));
    StopControl();
    for (const auto& write : Writes()) EXPECT_EQ("manual", write.at(0).mode);

    // A driver that refuses the program: asked once, then step by step.
    sim.ClearLog();
    machine.Gpu(0, 0).zones = "rgb@top";
    machine.Gpu(0, 0).illumDevices = "";
    machine.Gpu(0, 0).status["GPU_ClientIllumZonesSetControl"] = -1;
    Use();
    ASSERT_EQ(1, StartControl());
    ASSERT_TRUE(WaitForWrites(4, 5000));
    StopControl();
    std::vector<std::map<int, SimZoneWrite>> writes = Writes();
    EXPECT_EQ("piecewise", writes[0].at(0).mode);
    for (size_t i = 1; i < writes.size(); ++i) EXPECT_EQ("manual", writes[i].at(0).mode) << i;
}
