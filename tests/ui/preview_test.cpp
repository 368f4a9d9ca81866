// The preview's colour law and its thread, run in this process against a
// window that stands in for the dialog's preview strip.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/setting.h"
#include "res/resource.h"
#include "testsupport.h"
#include "ui/preview.h"
#include "ui/settingdialog.h"

namespace {

struct ColorEvent {
    COLORREF color;
    DWORD tick;
};

CRITICAL_SECTION EventLock;
std::vector<ColorEvent> Events;

void RecordColor(COLORREF color) {
    EnterCriticalSection(&EventLock);
    Events.push_back({color, GetTickCount()});
    LeaveCriticalSection(&EventLock);
}

std::vector<ColorEvent> TakeEvents() {
    EnterCriticalSection(&EventLock);
    std::vector<ColorEvent> out = Events;
    LeaveCriticalSection(&EventLock);
    return out;
}

size_t EventCount() { return TakeEvents().size(); }

// A hidden stand-in for the dialog, holding a static control 1120.
class PreviewThreadTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { InitializeCriticalSection(&EventLock); }
    static void TearDownTestSuite() { DeleteCriticalSection(&EventLock); }

    void SetUp() override {
        Events.clear();
        host = CreateWindowExA(0, "STATIC", "host", WS_POPUP, 0, 0, 300, 60, nullptr, nullptr,
                               nullptr, nullptr);
        ASSERT_NE(nullptr, host);
        strip = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE, 0, 0, 300, 60, host,
                                reinterpret_cast<HMENU>(IDC_PREVIEW), nullptr, nullptr);
        ASSERT_NE(nullptr, strip);
        SettingDialog = host;
        std::memset(&WorkingCopy, 0, sizeof WorkingCopy);
        std::memset(&PreviewSlot, 0, sizeof PreviewSlot);
        SETTING.Resolution = 100;
        SetPreviewColorObserver(RecordColor);
    }

    void TearDown() override {
        StopPreview();
        SetPreviewColorObserver(nullptr);
        SettingDialog = nullptr;
        DestroyWindow(host);
    }

    // Device 0 of the working copy on the pattern method, reading `steps`.
    void UsePattern(const std::string& steps) {
        std::string path = dir.File("preview.GLP");
        ASSERT_TRUE(testsupport::WriteFile(path, steps));
        UsePatternFile(path);
    }
    void UsePatternFile(const std::string& path) {
        WorkingCopy.Device[0].PlayType = PLAY_PATTERN;
        std::strcpy(WorkingCopy.Device[0].PlayFile, path.c_str());
    }

    bool ThreadEnded() {
        return PreviewSlot.Thread != nullptr && WaitForSingleObject(PreviewSlot.Thread, 0) == WAIT_OBJECT_0;
    }

    testsupport::TempDir dir;
    HWND host = nullptr;
    HWND strip = nullptr;
};

}  // namespace

TEST(PreviewColorTest, GreenFollowsTheLowByteOfTheBrightness) {
    EXPECT_EQ(RGB(31, 231, 31), PreviewLitColor(100));
    EXPECT_EQ(RGB(31, 31, 31), PreviewLitColor(0));
    EXPECT_EQ(PREVIEW_UNLIT, PreviewLitColor(0));
    EXPECT_EQ(RGB(31, 131, 31), PreviewLitColor(50));
    // Beyond 112 the green wraps at 256, and only the low 8 bits count.
    EXPECT_EQ(RGB(31, 255, 31), PreviewLitColor(112));
    EXPECT_EQ(RGB(31, 1, 31), PreviewLitColor(113));
    EXPECT_EQ(RGB(31, 31, 31), PreviewLitColor(256));
    EXPECT_EQ(RGB(31, 231, 31), PreviewLitColor(356));
    EXPECT_EQ(RGB(31, 29, 31), PreviewLitColor(-1));

    // A device's own colour: the same 31..231 run per component, at most 100 %.
    const uint32_t green = MakeDeviceColor(RGB(0, 255, 0));
    for (int32_t l : {0, 37, 100}) EXPECT_EQ(PreviewLitColor(l), PreviewDeviceColor(l, green)) << l;
    const uint32_t orange = MakeDeviceColor(RGB(255, 102, 0));
    EXPECT_EQ(RGB(231, 111, 31), PreviewDeviceColor(100, orange));
    EXPECT_EQ(RGB(131, 71, 31), PreviewDeviceColor(50, orange));
    EXPECT_EQ(RGB(231, 111, 31), PreviewDeviceColor(356, orange));
    EXPECT_EQ(RGB(231, 111, 31), PreviewDeviceColor(-1, orange));
    EXPECT_EQ(PreviewLitColor(50), PreviewDeviceColor(50, 0)) << "no colour: today's green";
}

TEST(WinFontTest, StartsAsTheSystemFontWithoutAHandle) {
    WINFONT font;
    EXPECT_EQ(nullptr, font.Handle());
    EXPECT_EQ(400, font.Font().lfWeight);
    EXPECT_STREQ("System", font.Font().lfFaceName);
    EXPECT_EQ(0, font.Font().lfHeight);
    EXPECT_EQ(0, font.Font().lfCharSet);
    ASSERT_TRUE(font.Create());
    EXPECT_EQ(static_cast<DWORD>(OBJ_FONT), GetObjectType(font.Handle()));
    font.Delete();
    EXPECT_EQ(nullptr, font.Handle());
}

TEST_F(PreviewThreadTest, FixedAndMetricMethodsPaintOnceAndEnd) {
    struct Case {
        int32_t playType;
        uint32_t luminance;
        COLORREF expected;
    };
    const Case cases[] = {
        {PLAY_FIXED, 100, RGB(31, 231, 31)},
        {PLAY_FIXED, 0, RGB(31, 31, 31)},
        {PLAY_TEMPERATURE, 100, PREVIEW_UNLIT},
        {PLAY_POWER, 60, PREVIEW_UNLIT},
        {7, 100, PREVIEW_UNLIT},
    };
    for (const Case& c : cases) {
        Events.clear();
        WorkingCopy.Device[3].PlayType = c.playType;
        WorkingCopy.Device[3].Luminance = c.luminance;
        ASSERT_EQ(1, StartPreview(3));
        ASSERT_TRUE(testsupport::WaitUntil([&] { return ThreadEnded(); }, 5000)) << c.playType;
        EXPECT_EQ(c.expected, PreviewColor) << c.playType;
        std::vector<ColorEvent> events = TakeEvents();
        ASSERT_EQ(1u, events.size()) << c.playType;
        EXPECT_EQ(c.expected, events[0].color);
        EXPECT_EQ(0, PreviewSlot.Run);
        // The finished thread keeps its slot until the next stop.
        HANDLE ended = PreviewSlot.Thread;
        EXPECT_EQ(1, StartPreview(3));
        EXPECT_EQ(ended, PreviewSlot.Thread);
        StopPreview();
        EXPECT_EQ(nullptr, PreviewSlot.Thread);
    }
}

TEST_F(PreviewThreadTest, BlinkPatternAlternatesWithItsTimingAndIsUnlitBetweenPasses) {
    UsePattern("100,500\n0,500\n");
    ASSERT_EQ(1, StartPreview(0));
    ASSERT_TRUE(testsupport::WaitUntil([] { return EventCount() >= 8; }, 8000));
    StopPreview();
    std::vector<ColorEvent> events = TakeEvents();
    const COLORREF pass[3] = {PreviewLitColor(100), PreviewLitColor(0), PREVIEW_UNLIT};
    for (size_t i = 0; i < events.size(); ++i) {
        EXPECT_EQ(pass[i % 3], events[i].color) << "event " << i;
    }
    // Lit 100 and lit 0 each hold 500 ms; the unlit colour comes at once
    // after the last step and the next pass starts straight after it.
    for (size_t i = 0; i + 1 < 7; ++i) {
        DWORD held = events[i + 1].tick - events[i].tick;
        if (i % 3 == 2) {
            EXPECT_LT(held, 150u) << "event " << i;
        } else {
            EXPECT_GE(held, 450u) << "event " << i;
            EXPECT_LT(held, 900u) << "event " << i;
        }
    }
}

TEST_F(PreviewThreadTest, StepsAreWaitedInWholeSlicesOfTheLiveResolution) {
    // 250 ms with slices of 100 is held for two slices; 50 ms in one sleep.
    UsePattern("100,250\n40,50\n");
    SETTING.Resolution = 100;
    WorkingCopy.Resolution = 10;  // the working copy's value is not the one used
    ASSERT_EQ(1, StartPreview(0));
    ASSERT_TRUE(testsupport::WaitUntil([] { return EventCount() >= 7; }, 8000));
    StopPreview();
    std::vector<ColorEvent> events = TakeEvents();
    ASSERT_EQ(PreviewLitColor(100), events[3].color);
    ASSERT_EQ(PreviewLitColor(40), events[4].color);
    DWORD long_step = events[4].tick - events[3].tick;
    DWORD short_step = events[5].tick - events[4].tick;
    EXPECT_GE(long_step, 180u);
    EXPECT_LT(long_step, 245u + 100u);
    EXPECT_GE(short_step, 40u);
    EXPECT_LT(short_step, 150u);
}

TEST_F(PreviewThreadTest, PatternThatHoldsForNoTimeWaitsASliceBetweenPasses) {
    // An empty file, a missing file and a pattern of 0 ms steps: none of them
    // may make the thread spin.
    SETTING.Resolution = 100;
    const char* const patterns[] = {"", nullptr, "100\n"};
    for (const char* steps : patterns) {
        Events.clear();
        if (steps) {
            UsePattern(steps);
        } else {
            UsePatternFile(dir.File("missing.GLP"));
        }
        ASSERT_EQ(1, StartPreview(0));
        Sleep(1000);
        StopPreview();
        std::vector<ColorEvent> events = TakeEvents();
        size_t unlit = 0;
        for (const ColorEvent& e : events) unlit += e.color == PREVIEW_UNLIT;
        EXPECT_GE(unlit, 3u) << (steps ? steps : "missing");
        EXPECT_LE(unlit, 15u) << (steps ? steps : "missing");
        EXPECT_LE(events.size(), 30u) << (steps ? steps : "missing");
    }
}

TEST_F(PreviewThreadTest, StopEndsTheThreadAtOnceAndClearsTheSlot) {
    // A one-minute step in slices of 500 ms, and a long run of 1 ms steps:
    // either is left at once, not at the end of a slice. Several rounds, so
    // that a stop seen only between slices could not pass by luck.
    std::string shortSteps;
    for (int i = 0; i < 9000; ++i) shortSteps += (i % 2 ? "0,1\n" : "100,1\n");
    const std::string patterns[] = {"100,60000\n", shortSteps};
    SETTING.Resolution = 500;
    for (const std::string& steps : patterns) {
        UsePattern(steps);
        for (int round = 0; round < 4; ++round) {
            Events.clear();
            ASSERT_EQ(1, StartPreview(0));
            ASSERT_TRUE(testsupport::WaitUntil([] { return EventCount() >= 1; }, 5000));
            Sleep(100 + 70 * round);
            DWORD start = GetTickCount();
            StopPreview();
            DWORD took = GetTickCount() - start;
            EXPECT_LT(took, 200u) << steps.size() << " round " << round;
            EXPECT_EQ(nullptr, PreviewSlot.Thread);
            EXPECT_EQ(nullptr, PreviewSlot.Event);
            EXPECT_EQ(0u, PreviewSlot.ThreadId);
            EXPECT_EQ(0, PreviewSlot.Pattern[0].Luminance);
            EXPECT_EQ(0u, PreviewSlot.Pattern[0].Duration);
        }
    }
}

TEST_F(PreviewThreadTest, RestartReadsThePatternAfresh) {
    UsePattern("30,100\n60,100\n90,100\n");
    ASSERT_EQ(1, StartPreview(0));
    ASSERT_TRUE(testsupport::WaitUntil([] { return EventCount() >= 4; }, 5000));
    StopPreview();
    // A shorter file: nothing of the longer one may be left behind.
    UsePattern("20,100\n");
    Events.clear();
    ASSERT_EQ(1, StartPreview(0));
    ASSERT_TRUE(testsupport::WaitUntil([] { return EventCount() >= 6; }, 5000));
    StopPreview();
    for (const ColorEvent& e : TakeEvents()) {
        EXPECT_TRUE(e.color == PreviewLitColor(20) || e.color == PREVIEW_UNLIT);
    }
}

TEST_F(PreviewThreadTest, DeviceOutsideTheRecordsOrNoDialogStartsNothing) {
    EXPECT_EQ(0, StartPreview(-1));
    EXPECT_EQ(0, StartPreview(MAX_DEVICE));
    EXPECT_EQ(nullptr, PreviewSlot.Thread);
    // The dialog went while a nested loop ran (the program ended).
    SettingDialog = nullptr;
    WorkingCopy.Device[0].PlayType = PLAY_FIXED;
    EXPECT_EQ(0, StartPreview(0));
    EXPECT_EQ(nullptr, PreviewSlot.Thread);
}
