#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/trayicon.h"
#include "res/resource.h"
#include "testsupport.h"

namespace {

struct Sent {
    DWORD message;
    NOTIFYICONDATAA data;
};
std::vector<Sent> sent;

BOOL Record(DWORD message, NOTIFYICONDATAA* data) {
    Sent s;
    s.message = message;
    std::memcpy(&s.data, data, sizeof s.data);
    sent.push_back(s);
    return TRUE;
}

// Every case starts and ends with the global tray object destroyed and the
// shell replaced by a recorder.
class TrayIconTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous = SetTrayNotifyProc(Record);
        TrayIcon.Destroy();
        sent.clear();
    }
    void TearDown() override {
        TrayIcon.Destroy();
        SetTrayNotifyProc(previous);
    }
    // The slots get distinct stand-in handles (not owned, so never
    // destroyed): a test that mixes up the icons then tells them apart.
    void CreateTray() {
        window = reinterpret_cast<HWND>(0x1234);
        ASSERT_EQ(1, TrayIcon.Create(GetModuleHandleA(nullptr), window));
        TrayIcon.slots[0].Icon = reinterpret_cast<HICON>(0x1010);
        TrayIcon.slots[1].Icon = reinterpret_cast<HICON>(0x1020);
    }
    TrayNotifyProc previous = nullptr;
    HWND window = nullptr;
};

// The width of an icon's image, in pixels; 0 for no icon.
int IconWidth(HICON icon) {
    ICONINFO info;
    if (!icon || !GetIconInfo(icon, &info)) return 0;
    BITMAP bitmap = {};
    GetObjectA(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
    return bitmap.bmWidth;
}

// Set for this test program's run of its own at another DPI.
const char AT_DPI[] = "GLIM_TRAY_TEST_AT_DPI";

}  // namespace

TEST_F(TrayIconTest, NothingReachesTheShellBeforeCreate) {
    UpdateTrayTip(1);
    UpdateTrayTip(0);
    ShowControlBalloon(nullptr, 1);
    TrayIcon.SetIcon(0, 101);
    TrayIcon.Destroy();
    EXPECT_TRUE(sent.empty());
    EXPECT_FALSE(TrayIcon.IsCreated());
    EXPECT_EQ(0u, TrayIcon.count);
    EXPECT_EQ('\0', TrayIcon.data.szTip[0]);
    EXPECT_EQ(0u, TrayIcon.data.uFlags & NIF_INFO) << "the balloon flag is not left behind";
}

// The shell's version-3 record: up to the item GUID, padded around the
// pointers on x64.
#ifdef _WIN64
const DWORD RECORD_SIZE = 520;
#else
const DWORD RECORD_SIZE = 504;
#endif

TEST_F(TrayIconTest, CreatePreparesTheRecordOnce) {
    EXPECT_EQ(RECORD_SIZE, TRAYICON_RECORD_SIZE);
    EXPECT_EQ(static_cast<DWORD>(NOTIFYICONDATAA_V3_SIZE), TRAYICON_RECORD_SIZE);
    CreateTray();
    EXPECT_TRUE(sent.empty()) << "the icon is added by the main window, not here";
    EXPECT_EQ(RECORD_SIZE, TrayIcon.data.cbSize);
    EXPECT_EQ(window, TrayIcon.data.hWnd);
    EXPECT_EQ(static_cast<UINT>(NIF_ICON), TrayIcon.data.uFlags);
    EXPECT_EQ(2u, TrayIcon.count);
    EXPECT_EQ(0, TrayIcon.Create(GetModuleHandleA(nullptr), window)) << "already created";

    TrayIcon.SetIcon(1, 102);
    EXPECT_EQ(1, TrayIcon.slots[1].Owned);
    TrayIcon.SetIcon(2, 102);  // beyond the slots: ignored
    EXPECT_TRUE(sent.empty());
}

TEST_F(TrayIconTest, TooltipAndIconFollowTheRunningState) {
    CreateTray();
    UpdateTrayTip(1);
    ASSERT_EQ(1u, sent.size());
    EXPECT_EQ(static_cast<DWORD>(NIM_MODIFY), sent[0].message);
    EXPECT_STREQ("Glimmerdeck - 実行中", sent[0].data.szTip);
    EXPECT_EQ(static_cast<UINT>(NIF_ICON | NIF_TIP), sent[0].data.uFlags);
    EXPECT_EQ(RECORD_SIZE, sent[0].data.cbSize);
    EXPECT_EQ(TrayIcon.slots[0].Icon, sent[0].data.hIcon);
    EXPECT_EQ(0u, TrayIcon.current);

    UpdateTrayTip(0);
    ASSERT_EQ(2u, sent.size());
    EXPECT_STREQ("Glimmerdeck - 停止中", sent[1].data.szTip);
    EXPECT_EQ(TrayIcon.slots[1].Icon, sent[1].data.hIcon);
    EXPECT_EQ(std::strlen("Glimmerdeck - ") + 6, std::strlen(sent[1].data.szTip)) << "code page 932 text";
    EXPECT_EQ(1u, TrayIcon.current);
}

TEST_F(TrayIconTest, BalloonRidesOnOneModification) {
    CreateTray();
    UpdateTrayTip(0);
    ShowControlBalloon(nullptr, 1);
    ASSERT_EQ(2u, sent.size());
    const NOTIFYICONDATAA& b = sent[1].data;
    EXPECT_EQ(static_cast<DWORD>(NIM_MODIFY), sent[1].message);
    EXPECT_TRUE(b.uFlags & NIF_INFO);
    EXPECT_STREQ("外部制御", b.szInfoTitle);
    EXPECT_STREQ("制御を開始しました。", b.szInfo);
    EXPECT_EQ(20u, std::strlen(b.szInfo));
    EXPECT_EQ(3000u, b.uTimeout);
    EXPECT_EQ(static_cast<DWORD>(NIIF_INFO), b.dwInfoFlags);
    EXPECT_EQ(TrayIcon.slots[1].Icon, b.hIcon) << "the icon of the current state";
    EXPECT_EQ(0u, TrayIcon.data.uFlags & NIF_INFO);

    ShowControlBalloon(nullptr, 0);
    ASSERT_EQ(3u, sent.size());
    EXPECT_STREQ("制御を停止しました。", sent[2].data.szInfo);

    UpdateTrayTip(1);
    EXPECT_EQ(0u, sent.back().data.uFlags & NIF_INFO) << "later modifications show no balloon";
}

TEST_F(TrayIconTest, DestroyRemovesTheIconOnce) {
    CreateTray();
    UpdateTrayTip(1);
    sent.clear();
    TrayIcon.Destroy();
    ASSERT_EQ(1u, sent.size());
    EXPECT_EQ(static_cast<DWORD>(NIM_DELETE), sent[0].message);
    EXPECT_EQ(nullptr, sent[0].data.hIcon);
    EXPECT_FALSE(TrayIcon.IsCreated());
    EXPECT_EQ(0u, TrayIcon.count);
    EXPECT_EQ(0u, TrayIcon.data.cbSize);
    TrayIcon.Destroy();
    UpdateTrayTip(1);
    EXPECT_EQ(1u, sent.size());
}

// The shell is handed the small-icon size of the window's DPI: 16 pixels at
// 96 DPI, 24 at 144 (150 %), the latter seen by this case in a run of this
// program that starts at 144 DPI.
TEST_F(TrayIconTest, ShellGetsTheSmallIconOfTheWindowsDpi) {
    HMODULE resources = LoadLibraryExA(testsupport::BinPath(TEST_PROGRAM).c_str(), nullptr,
                                       LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(nullptr, resources);
    HWND hidden = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, hidden);
    ASSERT_EQ(1, TrayIcon.Create(resources, hidden));
    TrayIcon.SetIcon(0, IDI_TRAY_RUNNING);
    TrayIcon.SetIcon(1, IDI_TRAY_STOPPED);
    UpdateTrayTip(1);
    UpdateTrayTip(0);
    const bool child = std::getenv(AT_DPI) != nullptr;
    ASSERT_EQ(2u, sent.size());
    for (const Sent& s : sent) EXPECT_EQ(child ? 24 : 16, IconWidth(s.data.hIcon));
    TrayIcon.Destroy();
    DestroyWindow(hidden);
    FreeLibrary(resources);
    if (child) return;

    testsupport::ScreenDpi dpi(144);
    ASSERT_TRUE(dpi.Set());
    testsupport::SetEnv(AT_DPI, "144");
    testsupport::ChildProcess run;
    bool started = run.Start(testsupport::BinPath("tray_tests.exe"),
                             "--gtest_filter=TrayIconTest.ShellGetsTheSmallIconOfTheWindowsDpi");
    testsupport::SetEnv(AT_DPI, nullptr);
    ASSERT_TRUE(started);
    ASSERT_TRUE(run.Wait(60000));
    EXPECT_EQ(0u, run.ExitCode()) << "at 144 DPI";
}
