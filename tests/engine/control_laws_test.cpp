// Each control method through a running control thread against the simulated
// driver: what the reading becomes on the LED.
#include <functional>

#include "enginetest.h"

using testsupport::SimGpu;
using testsupport::SimSet;

namespace {

constexpr long kNoWrite = -1000;

// A GPU whose current, base and boost clocks read as given (kHz).
std::function<void(SimGpu&)> Clocks(const char* current, const char* base, const char* boost) {
    return [=](SimGpu& g) {
        g.clockCurrent = current;
        g.clockBase = base;
        g.clockBoost = boost;
    };
}

struct LawCase {
    const char* name;
    int playType;
    std::function<void(SimGpu&)> gpu;
    long expected;  // kNoWrite: the method writes nothing
};

class ControlLawTest : public EngineTest {
protected:
    // Runs device 0 on `c` until two values were written (or, for a method
    // that writes nothing, for three cycles) and checks them.
    void Check(const LawCase& c) {
        SCOPED_TRACE(c.name);
        sim.ClearLog();
        machine = testsupport::SimMachine();
        c.gpu(machine.Gpu(0, 0));
        Use();
        Enable(0, c.playType);
        ASSERT_EQ(1, StartControl());
        if (c.expected == kNoWrite) {
            ASSERT_TRUE(testsupport::WaitUntil([&] { return CountMyTrace("call GPU_GetCurrentPstate") >= 3; }, 5000));
            EXPECT_TRUE(Mine().empty());
        } else {
            ASSERT_TRUE(WaitForMine(2, 5000));
            for (const SimSet& s : Mine()) {
                EXPECT_EQ(c.expected, s.value);
                EXPECT_EQ(0, s.display);
                EXPECT_EQ(0, s.gpu);
                EXPECT_EQ(0, s.attribute);
            }
        }
        StopControl();
    }
};

}  // namespace

TEST_F(ControlLawTest, EachMethodTurnsItsReadingIntoABrightness) {
    SETTING.Timer = 200;
    SETTING.Device[0].Luminance = 42;
    auto none = [](SimGpu&) {};
    const LawCase cases[] = {
        {"fixed", PLAY_FIXED, none, 42},
        {"temperature 65", PLAY_TEMPERATURE, [](SimGpu& g) { g.sensors = "1:65"; }, 65},
        {"temperature 105, not clamped", PLAY_TEMPERATURE, [](SimGpu& g) { g.sensors = "1:105"; }, 105},
        {"last GPU sensor wins", PLAY_TEMPERATURE, [](SimGpu& g) { g.sensors = "1:60 2:90 1:70"; }, 70},
        {"temperature failed", PLAY_TEMPERATURE, [](SimGpu& g) { g.status["GPU_GetThermalSettings"] = -5; }, 0},
        {"utilisation", PLAY_UTILIZATION, [](SimGpu& g) { g.utilization = "37"; }, 37},
        {"utilisation failed", PLAY_UTILIZATION,
         [](SimGpu& g) {
             g.status["GPU_GetDynamicPstatesInfoEx"] = -5;
             g.status["GPU_GetUsages"] = -5;
         },
         0},
        {"clock below base", PLAY_CLOCK, Clocks("300000", "1000000", "1100000"), 0},
        {"clock at base", PLAY_CLOCK, Clocks("1000000", "1000000", "1100000"), 30},
        {"clock at boost", PLAY_CLOCK, Clocks("1100000", "1000000", "1100000"), 100},
        {"boost reading gone", PLAY_CLOCK, Clocks("1000000", "1000000", "absent"), 100},
        {"every clock reading failed", PLAY_CLOCK, [](SimGpu& g) { g.status["GPU_GetAllClockFrequencies"] = -5; },
         100},
        {"fan", PLAY_FAN, [](SimGpu& g) { g.fan = "40"; }, 40},
        {"no cooler", PLAY_FAN, [](SimGpu& g) { g.coolers = 0; }, 0},
        {"P2, default table", PLAY_POWER, [](SimGpu& g) { g.pstate = "2"; }, 75},
        {"P-state reading failed", PLAY_POWER, [](SimGpu& g) { g.status["GPU_GetCurrentPstate"] = -5; }, kNoWrite},
        {"P16, outside the table", PLAY_POWER, [](SimGpu& g) { g.pstate = "16"; }, kNoWrite},
    };
    for (const LawCase& c : cases) Check(c);
}

TEST_F(ControlLawTest, PatternMethodPlaysItsSteps) {
    Pattern(0, "70,100\n20,100\n");
    Enable(0, PLAY_PATTERN);
    ASSERT_EQ(1, StartControl());
    ASSERT_TRUE(WaitForMine(5, 5000));
    std::vector<SimSet> sets = Mine();
    for (size_t i = 0; i < 5; ++i) EXPECT_EQ(i % 2 ? 20 : 70, sets[i].value) << i;
}

TEST_F(ControlLawTest, UnknownMethodEndsTheThreadWithoutAWrite) {
    Enable(0, 7);
    ASSERT_EQ(1, StartControl());
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(DeviceSlot[0].Thread, 5000));
    EXPECT_EQ(0, DeviceSlot[0].Run);
    EXPECT_STREQ("NVIDIA GeForce GTX 1080 (0,0,0)", DeviceSlot[0].Name);
    EXPECT_TRUE(Mine().empty());
}
