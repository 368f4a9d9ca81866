// Starting, naming, pausing and stopping the device threads.
#include <cstring>
#include <vector>

#include "enginetest.h"

namespace {

std::vector<int> hookCalls;
void RecordHook(int running) { hookCalls.push_back(running); }

bool SlotIsEmpty(const DEVICESLOT& slot) {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&slot);
    for (size_t i = 0; i < sizeof slot; ++i) {
        if (bytes[i] != 0) return false;
    }
    return true;
}

using LifecycleTest = EngineTest;

}  // namespace

TEST_F(LifecycleTest, ThreadsStartOneAtATimeAndNameTheirDevices) {
    // Every device disabled: each thread only names its device and ends, so
    // each thread's driver calls form one block in the trace.
    SETTING.Device[1].Attribute = 1;                             // (0,1,1): no such GPU
    SETTING.Device[2].GPU = 0;
    SETTING.Device[2].Attribute = 1;                             // (0,0,1): bridge unsupported
    SETTING.Device[3].Display = 3;
    SETTING.Device[3].GPU = 0;                                   // (3,0,0): no such display
    SETTING.Device[4].GPU = 0;
    SETTING.Device[4].Attribute = 2;                             // (0,0,2): a board without zones
    ASSERT_EQ(1, StartControl());

    EXPECT_STREQ("NVIDIA GeForce GTX 1080 (0,0,0)", DeviceSlot[0].Name);
    EXPECT_STREQ("不明デバイス (0,1,1)", DeviceSlot[1].Name);
    EXPECT_STREQ("未サポートデバイス (0,0,1)", DeviceSlot[2].Name);
    EXPECT_STREQ("不明デバイス (3,0,0)", DeviceSlot[3].Name);
    EXPECT_STREQ("未サポートデバイス (0,0,2)", DeviceSlot[4].Name);
    EXPECT_STREQ("不明デバイス (0,7,0)", DeviceSlot[7].Name);

    std::vector<DWORD> order;
    for (const auto& line : MyTrace()) {
        if (order.empty() || order.back() != line.first) order.push_back(line.first);
    }
    std::vector<DWORD> slots;
    for (const DEVICESLOT& slot : DeviceSlot) slots.push_back(slot.ThreadId);
    EXPECT_EQ(slots, order) << "a thread's calls never interleave with the next one's";

    for (const DEVICESLOT& slot : DeviceSlot) {
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(slot.Thread, 5000)) << "disabled threads end by themselves";
    }
    Sleep(300);
    EXPECT_TRUE(Mine().empty()) << "a disabled device is never written";
}

TEST_F(LifecycleTest, StartTwiceStopAndStartAgain) {
    Pattern(0, "11,100\n");
    Enable(0, PLAY_PATTERN);
    Enable(1, PLAY_FIXED);
    ASSERT_EQ(1, StartControl());
    HANDLE first[MAX_DEVICE];
    for (int d = 0; d < MAX_DEVICE; ++d) first[d] = DeviceSlot[d].Thread;
    size_t initialized = CountMyTrace("call Initialize");

    ASSERT_EQ(1, StartControl());
    for (int d = 0; d < MAX_DEVICE; ++d) EXPECT_EQ(first[d], DeviceSlot[d].Thread);
    EXPECT_EQ(initialized, CountMyTrace("call Initialize")) << "no further threads";

    ASSERT_TRUE(WaitForMine(1, 5000));
    StopControl();
    for (int d = 0; d < MAX_DEVICE; ++d) EXPECT_TRUE(SlotIsEmpty(DeviceSlot[d])) << d;

    // The pattern file is read anew at the next start.
    sim.ClearLog();
    Pattern(0, "22,100\n");
    ASSERT_EQ(1, StartControl());
    ASSERT_TRUE(testsupport::WaitUntil([&] {
        for (const auto& s : Mine()) {
            if (s.value == 22) return true;
        }
        return false;
    }, 5000));
    for (const auto& s : Mine()) EXPECT_NE(11, s.value);
}

TEST_F(LifecycleTest, AStopTakesEffectWithinOneSlice) {
    SETTING.Timer = 5000;
    SETTING.Resolution = 500;
    for (int d = 0; d < MAX_DEVICE; ++d) Enable(d, d % 2 ? PLAY_TEMPERATURE : PLAY_PATTERN);
    for (int d = 0; d < MAX_DEVICE; d += 2) Pattern(d, "30,4000\n60,4000\n");
    ASSERT_EQ(1, StartControl());
    ASSERT_TRUE(WaitForMine(MAX_DEVICE, 5000));
    Sleep(200);
    double ms = TimeMs([] { StopControl(); });
    RecordProperty("StopMs", std::to_string(ms));
    EXPECT_LT(ms, 500.0) << "eight threads asleep in 5000 ms waits";
    size_t after = Mine().size();
    Sleep(300);
    EXPECT_EQ(after, Mine().size());
}

TEST_F(LifecycleTest, PauseWritesNothingAndResumeContinues) {
    hookCalls.clear();
    SetControlStateHook(RecordHook);
    SETTING.Timer = 200;
    Enable(0, PLAY_FIXED);
    Pattern(1, "10,30\n90,30\n");
    Enable(1, PLAY_PATTERN);
    ASSERT_EQ(1, StartControl());
    ASSERT_TRUE(WaitForMine(6, 5000));

    SuspendControl();
    EXPECT_EQ(0, ControlActive);
    size_t paused = Mine().size();
    Sleep(700);
    EXPECT_EQ(paused, Mine().size()) << "no LED is written while paused";
    SuspendControl();  // already paused: nothing happens

    ResumeControl();
    EXPECT_EQ(1, ControlActive);
    EXPECT_TRUE(WaitForMine(paused + 6, 5000));
    EXPECT_EQ((std::vector<int> {0, 1}), hookCalls);
}

TEST_F(LifecycleTest, APauseEndsOnlyOnceTheWritesInProgressHave) {
    // A slow driver takes four threads' writes one at a time, 4.8 s in all.
    for (int d = 0; d < 4; ++d) Enable(d, PLAY_FIXED);
    ASSERT_EQ(1, StartControl());
    ASSERT_TRUE(WaitForMine(4, 5000));
    machine.extra = "delay.GPU_SetIllumination = 1200\n";
    Use();
    Sleep(1100);  // every thread's next write has begun
    EXPECT_EQ(1, SuspendControl());
    size_t paused = Mine().size();
    machine.extra.clear();
    Use();
    Sleep(500);
    EXPECT_EQ(paused, Mine().size()) << "an LED changed after the pause";
}

// A thread asleep in a wait that a stop does not shorten (a step no longer
// than a slice) ends by itself: ended by force on its way out, it could die
// holding the loader's lock.
TEST_F(LifecycleTest, AStopWaitsForAThreadInItsOwnWait) {
    SETTING.Resolution = 8000;
    Pattern(0, "30,7000\n");
    Enable(0, PLAY_PATTERN);
    ASSERT_EQ(1, StartControl());
    ASSERT_TRUE(WaitForMine(1, 5000));
    double ms = TimeMs([] { StopControl(); });
    EXPECT_GT(ms, 6000.0) << "terminated at the end of the stop's wait";
}

TEST_F(LifecycleTest, AStopWhilePausedIsPrompt) {
    Enable(0, PLAY_UTILIZATION);
    Pattern(1, "10,50\n90,50\n");
    Enable(1, PLAY_PATTERN);
    Enable(2, PLAY_FIXED, 0, 0, 1);  // unsupported: its thread has ended already
    ASSERT_EQ(1, StartControl());
    ASSERT_TRUE(WaitForMine(2, 5000));
    SuspendControl();
    double ms = TimeMs([] { StopControl(); });
    EXPECT_LT(ms, 1000.0);
    for (int d = 0; d < MAX_DEVICE; ++d) EXPECT_TRUE(SlotIsEmpty(DeviceSlot[d])) << d;
}

TEST_F(LifecycleTest, ThreadsStartedWhilePausedWaitForResume) {
    // A method change from the tray while paused stops and starts the threads
    // without resuming: the new threads must keep to the pause.
    SETTING.Timer = 200;
    Enable(0, PLAY_FIXED);
    ASSERT_EQ(1, StartControl());
    ASSERT_TRUE(WaitForMine(1, 5000));
    SuspendControl();
    StopControl();
    sim.ClearLog();
    ASSERT_EQ(1, StartControl());
    EXPECT_STREQ("NVIDIA GeForce GTX 1080 (0,0,0)", DeviceSlot[0].Name) << "named while paused";
    Sleep(600);
    EXPECT_TRUE(Mine().empty());
    ResumeControl();
    EXPECT_TRUE(WaitForMine(2, 5000));
}
