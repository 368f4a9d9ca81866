// The settings dialog in the running program: GLIMDK32.EXE resident against
// the simulated driver, the dialog opened by the tray double click and worked
// through its controls from this process.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <commctrl.h>

#include "dialogdriver.h"
#include "engine/setting.h"
#include "glimsim.h"
#include "res/resource.h"
#include "simnvapi.h"
#include "testsupport.h"
#include "ui/preview.h"

using testsupport::DialogDriver;
using testsupport::ResidentProgram;
using testsupport::ScreenImage;
using testsupport::SimMachine;
using testsupport::SimNvapi;
using testsupport::SimSet;

namespace {

constexpr UINT WM_CONTROL_SUSPEND_MESSAGE = 0x8004;

const char* const BOARD = "NVIDIA GeForce GTX 1080";

// Device 0 lit at 100 on the one board of the default machine. Devices 1..3
// share its LED but stay disabled, so that only device 0 writes it: 1 fixed
// at 0, 2 on the temperature, 3 on a blink pattern.
std::string BaseSettings(const std::string& dir) {
    return "[GLOBAL]\r\nTimer=1000\r\nResolution=100\r\nBalloon=1\r\n"
           "[DEVICE0]\r\nEnable=1\r\nPlayType=0\r\nLuminance=100\r\n"
           "[DEVICE1]\r\nEnable=0\r\nGPU=0\r\nPlayType=0\r\nLuminance=0\r\n"
           "[DEVICE2]\r\nEnable=0\r\nGPU=0\r\nPlayType=1\r\n"
           "[DEVICE3]\r\nEnable=0\r\nGPU=0\r\nPlayType=6\r\nPlayFile=" +
           dir + "\\blink.GLP\r\n";
}

// "Key=value" of a settings file, in a section.
std::string IniValue(const std::string& path, const char* section, const char* key) {
    char value[1024] = {};
    GetPrivateProfileStringA(section, key, "<missing>", value, sizeof value, path.c_str());
    return value;
}

// The last value that `pid` wrote to display 0, GPU 0, attribute 0; -1 when none.
long LastValue(const SimNvapi& sim, DWORD pid) {
    long value = -1;
    for (const SimSet& s : sim.SetsOf(pid)) {
        if (s.display == 0 && s.gpu == 0 && s.attribute == 0) value = s.value;
    }
    return value;
}

// A control of the dialog where it sits in the dialog's client area.
struct Placed {
    HWND window;
    int id;
    RECT rect;
    bool groupBox;
    HWND buddy;  // the field a spin is attached to
};

std::vector<Placed> PlacedControls(HWND dialog) {
    std::vector<Placed> controls;
    for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        char kind[64] = {};
        GetClassNameA(c, kind, sizeof kind);
        Placed p {c, GetDlgCtrlID(c), {}, false, nullptr};
        GetWindowRect(c, &p.rect);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&p.rect), 2);
        p.groupBox = lstrcmpiA(kind, "Button") == 0 && (GetWindowLongA(c, GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX;
        if (lstrcmpiA(kind, UPDOWN_CLASSA) == 0) p.buddy = reinterpret_cast<HWND>(SendMessageA(c, UDM_GETBUDDY, 0, 0));
        controls.push_back(p);
    }
    return controls;
}

bool Overlap(const RECT& a, const RECT& b) {
    RECT both;
    return IntersectRect(&both, &a, &b) != FALSE;
}

bool Inside(const RECT& inner, const RECT& outer) {
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}

std::string Describe(const Placed& p) {
    return std::to_string(p.id) + " \"" + testsupport::WindowText(p.window) + "\" (" + std::to_string(p.rect.left) +
           "," + std::to_string(p.rect.top) + ")-(" + std::to_string(p.rect.right) + "," +
           std::to_string(p.rect.bottom) + ")";
}

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(testsupport::WriteFile(program.Dir().File("blink.GLP"), "100,500\r\n0,500\r\n"));
        settings = BaseSettings(program.Dir().Path());
    }
    void TearDown() override { EXPECT_TRUE(program.Stop()); }

    void StartAndOpen() {
        ASSERT_TRUE(program.WriteSettings(settings));
        ASSERT_TRUE(program.Start());
        ASSERT_TRUE(dialog.Open(program));
    }

    ScreenImage Preview() const { return testsupport::CaptureClient(dialog.Item(IDC_PREVIEW)); }

    // Waits until the preview shows `color`.
    bool PreviewShows(COLORREF color, unsigned timeoutMs = 5000) const {
        return testsupport::WaitUntil([&] { return Preview().TextColor() == color; }, timeoutMs, 20);
    }

    // A common dialog the program opened over the settings dialog; null when
    // none came.
    HWND WaitForChooser() const {
        HWND chooser = nullptr;
        testsupport::WaitUntil(
            [&] {
                for (HWND w : testsupport::FindProcessWindows(program.Pid(), "#32770", nullptr)) {
                    if (w != dialog.Window()) chooser = w;
                }
                return chooser != nullptr;
            },
            15000);
        return chooser;
    }

    // Double-clicks the preview strip and waits for the font dialog; null
    // when none came.
    HWND OpenFontDialog() const {
        PostMessageA(dialog.Item(IDC_PREVIEW), WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(10, 10));
        return WaitForChooser();
    }

    // Picks the size `points` in the font dialog, as a click in its size
    // list does, and confirms. False when the list has no such size.
    static bool ConfirmFontSize(HWND chooser, int points) {
        HWND sizes = GetDlgItem(chooser, 0x472);  // cmb3
        LRESULT count = SendMessageW(sizes, CB_GETCOUNT, 0, 0);
        int found = -1;
        for (int i = 0; i < count && found < 0; ++i) {
            wchar_t text[32] = {};
            if (SendMessageW(sizes, CB_GETLBTEXTLEN, i, 0) < 32 &&
                SendMessageW(sizes, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text)) > 0 && _wtoi(text) == points)
                found = i;
        }
        if (found < 0) return false;
        SendMessageW(sizes, CB_SETCURSEL, found, 0);
        SendMessageW(chooser, WM_COMMAND, MAKEWPARAM(0x472, CBN_SELCHANGE), reinterpret_cast<LPARAM>(sizes));
        PostMessageA(chooser, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(chooser, IDOK)));
        return testsupport::WaitUntil([&] { return !IsWindow(chooser); }, 10000);
    }

    // The height the font dialog gives a size in points on this screen.
    static long HeightOf(int points) {
        HDC screen = GetDC(nullptr);
        long height = -MulDiv(points, GetDeviceCaps(screen, LOGPIXELSY), 72);
        ReleaseDC(nullptr, screen);
        return height;
    }

    // `text` drawn here as the preview draws it, lit at 100, in a strip of
    // `client`'s size.
    static ScreenImage Render(const LOGFONTA& font, const char* text, const RECT& client, UINT prefixFlag) {
        HDC screen = GetDC(nullptr);
        BITMAPINFO info {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = client.right;
        info.bmiHeader.biHeight = -client.bottom;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        void* bits = nullptr;
        HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        HDC memory = CreateCompatibleDC(screen);
        HGDIOBJ oldBitmap = SelectObject(memory, bitmap);
        HFONT hfont = CreateFontIndirectA(&font);
        HGDIOBJ oldFont = SelectObject(memory, hfont);
        FillRect(memory, &client, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        SetBkMode(memory, TRANSPARENT);
        SetTextColor(memory, RGB(31, 231, 31));
        RECT rc = client;
        DrawTextA(memory, text, -1, &rc, DT_SINGLELINE | DT_CENTER | DT_VCENTER | DT_NOCLIP | prefixFlag);
        GdiFlush();
        ScreenImage image;
        image.width = client.right;
        image.height = client.bottom;
        const uint32_t* p = static_cast<const uint32_t*>(bits);
        image.pixels.assign(p, p + image.width * image.height);
        for (uint32_t& px : image.pixels) px &= 0xFFFFFF;
        SelectObject(memory, oldFont);
        SelectObject(memory, oldBitmap);
        DeleteObject(hfont);
        DeleteDC(memory);
        DeleteObject(bitmap);
        ReleaseDC(nullptr, screen);
        return image;
    }

    SimNvapi sim;
    ResidentProgram program;
    DialogDriver dialog;
    std::string settings;
};

}  // namespace

TEST_F(DialogTest, OpensOnDeviceZeroCentredWithTheNamesTheThreadsGave) {
    StartAndOpen();
    HWND window = dialog.Window();
    EXPECT_EQ("設定", testsupport::WindowText(window));

    RECT rc;
    ASSERT_TRUE(GetWindowRect(window, &rc));
    int width = rc.right - rc.left;
    int height = rc.bottom - rc.top;
    EXPECT_NEAR((GetSystemMetrics(SM_CXSCREEN) - width) / 2, rc.left, 1);
    EXPECT_NEAR((GetSystemMetrics(SM_CYSCREEN) - height) / 2, rc.top, 1);

    EXPECT_EQ(0, dialog.ListSelection(IDC_DEVICE_LIST));
    EXPECT_EQ(0, dialog.ListSelection(IDC_PSTATE_LIST));
    std::vector<std::string> pstates = dialog.ListTexts(IDC_PSTATE_LIST);
    ASSERT_EQ(16u, pstates.size());
    for (int n = 0; n < 16; ++n) EXPECT_EQ("P" + std::to_string(n), pstates[n]);

    // Devices 1..3 sit on GPU 0 too; 4..7 on GPUs the machine lacks.
    std::vector<std::string> devices = dialog.ListTexts(IDC_DEVICE_LIST);
    ASSERT_EQ(8u, devices.size());
    for (int d = 0; d < 4; ++d) EXPECT_EQ(std::string(BOARD) + " (0,0,0)", devices[d]);
    for (int d = 4; d < 8; ++d) EXPECT_EQ("不明デバイス (0," + std::to_string(d) + ",0)", devices[d]);

    EXPECT_EQ((std::vector<std::string> {"ビデオカード", "SLIケーブル"}), dialog.ListTexts(IDC_ATTRIBUTE_LIST));
    EXPECT_EQ((std::vector<std::string> {"固定輝度", "コア温度連動", "コア稼働率連動", "コアクロック連動",
                                         "ファン回転率連動", "消費電力連動", "パターン制御"}),
              dialog.ListTexts(IDC_PLAYTYPE_LIST));

    // The controls show the settings of device 0 and P0.
    EXPECT_EQ("1000", dialog.Text(IDC_TIMER));
    EXPECT_EQ("100", dialog.Text(IDC_RESOLUTION));
    EXPECT_TRUE(dialog.Checked(IDC_BALLOON));
    EXPECT_EQ("30", dialog.Text(IDC_BASE));
    EXPECT_EQ("100", dialog.Text(IDC_BOOST));
    EXPECT_EQ("100", dialog.Text(IDC_PSTATE));
    EXPECT_TRUE(dialog.Checked(IDC_ENABLE));
    EXPECT_EQ("0", dialog.Text(IDC_DISPLAY));
    EXPECT_EQ("0", dialog.Text(IDC_GPU));
    EXPECT_EQ(0, dialog.ListSelection(IDC_ATTRIBUTE_LIST));
    EXPECT_EQ(PLAY_FIXED, dialog.ListSelection(IDC_PLAYTYPE_LIST));
    EXPECT_EQ("100", dialog.Text(IDC_LUMINANCE));
    EXPECT_EQ("GLIMDECK.GLP", dialog.Text(IDC_PLAYFILE));

    // A second double click, and the menu command, only bring it forward.
    PostMessageA(program.MainWindow(), 0x8001, 0, WM_LBUTTONDBLCLK);
    PostMessageA(program.MainWindow(), WM_COMMAND, IDM_SETTING, 0);
    Sleep(1000);
    EXPECT_EQ(1u, testsupport::FindProcessWindows(program.Pid(), "#32770", "設定").size());
    EXPECT_TRUE(IsWindow(window));
}

TEST_F(DialogTest, ChangingTheSelectionCommitsTheShownValues) {
    StartAndOpen();
    // Device 0: every device field, and the common values beside it.
    dialog.SetSpin(IDC_LUMINANCE_SPIN, 42);
    dialog.SetSpin(IDC_DISPLAY_SPIN, 2);
    dialog.SetCheck(IDC_ENABLE, false);
    dialog.Select(IDC_ATTRIBUTE_LIST, 1);
    dialog.Select(IDC_PLAYTYPE_LIST, PLAY_PATTERN);
    dialog.SetText(IDC_PLAYFILE, "x.GLP");
    dialog.SetSpin(IDC_TIMER_SPIN, 3000);
    dialog.SetCheck(IDC_BALLOON, false);

    dialog.Select(IDC_DEVICE_LIST, 1);
    EXPECT_EQ("0", dialog.Text(IDC_LUMINANCE));
    EXPECT_EQ("0", dialog.Text(IDC_DISPLAY));
    EXPECT_FALSE(dialog.Checked(IDC_ENABLE));
    EXPECT_EQ(0, dialog.ListSelection(IDC_ATTRIBUTE_LIST));
    EXPECT_EQ(PLAY_FIXED, dialog.ListSelection(IDC_PLAYTYPE_LIST));
    EXPECT_EQ("GLIMDECK.GLP", dialog.Text(IDC_PLAYFILE));
    EXPECT_EQ("3000", dialog.Text(IDC_TIMER));
    EXPECT_FALSE(dialog.Checked(IDC_BALLOON));
    dialog.SetSpin(IDC_LUMINANCE_SPIN, 7);
    dialog.SetSpin(IDC_GPU_SPIN, 1);

    dialog.Select(IDC_DEVICE_LIST, 0);
    EXPECT_EQ("42", dialog.Text(IDC_LUMINANCE));
    EXPECT_EQ("2", dialog.Text(IDC_DISPLAY));
    EXPECT_FALSE(dialog.Checked(IDC_ENABLE));
    EXPECT_EQ(1, dialog.ListSelection(IDC_ATTRIBUTE_LIST));
    EXPECT_EQ(PLAY_PATTERN, dialog.ListSelection(IDC_PLAYTYPE_LIST));
    EXPECT_EQ("x.GLP", dialog.Text(IDC_PLAYFILE));
    EXPECT_EQ(0, dialog.ListSelection(IDC_DEVICE_LIST));
    // The list keeps its texts until it is filled again.
    EXPECT_EQ(std::string(BOARD) + " (0,0,0)", dialog.ListText(IDC_DEVICE_LIST, 0));
    EXPECT_EQ(std::string(BOARD) + " (0,0,0)", dialog.ListText(IDC_DEVICE_LIST, 1));
    // "適用" fills it again: device 1's label was made anew when it was left,
    // device 0's by "適用" itself, each from its new triple.
    dialog.Click(IDC_APPLY);
    EXPECT_EQ("不明デバイス (2,0,1)", dialog.ListText(IDC_DEVICE_LIST, 0));
    EXPECT_EQ("不明デバイス (0,1,0)", dialog.ListText(IDC_DEVICE_LIST, 1));

    // The P-state entry follows the P-state list the same way.
    dialog.Select(IDC_PSTATE_LIST, 3);
    EXPECT_EQ("75", dialog.Text(IDC_PSTATE));
    dialog.SetSpin(IDC_PSTATE_SPIN, 33);
    dialog.Select(IDC_PSTATE_LIST, 5);
    EXPECT_EQ("50", dialog.Text(IDC_PSTATE));
    dialog.Select(IDC_PSTATE_LIST, 3);
    EXPECT_EQ("33", dialog.Text(IDC_PSTATE));
    EXPECT_EQ(0, dialog.ListSelection(IDC_DEVICE_LIST));

    dialog.Click(IDOK);
    ASSERT_TRUE(dialog.WaitClosed());
    std::string ini = program.IniPath();
    EXPECT_EQ("42", IniValue(ini, "DEVICE0", "Luminance"));
    EXPECT_EQ("2", IniValue(ini, "DEVICE0", "Display"));
    EXPECT_EQ("0", IniValue(ini, "DEVICE0", "Enable"));
    EXPECT_EQ("1", IniValue(ini, "DEVICE0", "Attribute"));
    EXPECT_EQ("6", IniValue(ini, "DEVICE0", "PlayType"));
    EXPECT_EQ("x.GLP", IniValue(ini, "DEVICE0", "PlayFile"));
    EXPECT_EQ("7", IniValue(ini, "DEVICE1", "Luminance"));
    EXPECT_EQ("3000", IniValue(ini, "GLOBAL", "Timer"));
    EXPECT_EQ("0", IniValue(ini, "GLOBAL", "Balloon"));
    EXPECT_EQ("33", IniValue(ini, "PSTATE", "P3"));
    EXPECT_EQ("50", IniValue(ini, "PSTATE", "P5"));
}

TEST_F(DialogTest, NumberOutsideTheSpinRangeOrListIsNotTaken) {
    // Edited by hand: an attribute and a method that the lists do not have.
    settings += "[DEVICE4]\r\nAttribute=40\r\nPlayType=9\r\n";
    StartAndOpen();
    // Never moved: the loaded value stands.
    dialog.SetText(IDC_TIMER, "20000");
    // Moved, then overtyped: the last valid position stands.
    dialog.SetSpin(IDC_RESOLUTION_SPIN, 250);
    dialog.SetText(IDC_RESOLUTION, "900");
    dialog.SetText(IDC_LUMINANCE, "150");
    dialog.SetText(IDC_GPU, "9");
    dialog.SetText(IDC_BASE, "-5");
    // In range: taken as typed.
    dialog.SetText(IDC_BOOST, "64");
    // The hand-edited device shows no selection and keeps none.
    dialog.Select(IDC_DEVICE_LIST, 4);
    EXPECT_EQ(-1, dialog.ListSelection(IDC_ATTRIBUTE_LIST));
    EXPECT_EQ(-1, dialog.ListSelection(IDC_PLAYTYPE_LIST));
    dialog.Click(IDOK);
    ASSERT_TRUE(dialog.WaitClosed());
    std::string ini = program.IniPath();
    EXPECT_EQ("-1", IniValue(ini, "DEVICE4", "Attribute"));
    EXPECT_EQ("-1", IniValue(ini, "DEVICE4", "PlayType"));
    EXPECT_EQ("1000", IniValue(ini, "GLOBAL", "Timer"));
    EXPECT_EQ("250", IniValue(ini, "GLOBAL", "Resolution"));
    EXPECT_EQ("100", IniValue(ini, "DEVICE0", "Luminance"));
    EXPECT_EQ("0", IniValue(ini, "DEVICE0", "GPU"));
    EXPECT_EQ("30", IniValue(ini, "CLOCK", "Base"));
    EXPECT_EQ("64", IniValue(ini, "CLOCK", "Boost"));
}

TEST_F(DialogTest, ApplyPutsValuesInForceAndCancelKeepsThemOutOfTheFile) {
    StartAndOpen();
    ASSERT_TRUE(testsupport::WaitUntil([&] { return LastValue(sim, program.Pid()) == 100; }, 5000));
    std::string before = program.Settings();

    dialog.SetSpin(IDC_LUMINANCE_SPIN, 37);
    dialog.Click(IDC_APPLY);
    EXPECT_TRUE(testsupport::WaitUntil([&] { return LastValue(sim, program.Pid()) == 37; }, 5000));
    // Still open, on the same device, with its list filled again.
    EXPECT_TRUE(dialog.IsOpen());
    EXPECT_EQ(0, dialog.ListSelection(IDC_DEVICE_LIST));
    EXPECT_EQ(std::string(BOARD) + " (0,0,0)", dialog.ListText(IDC_DEVICE_LIST, 0));
    EXPECT_EQ("37", dialog.Text(IDC_LUMINANCE));

    dialog.Click(IDCANCEL);
    ASSERT_TRUE(dialog.WaitClosed());
    EXPECT_EQ(before, program.Settings());
    sim.ClearLog();
    EXPECT_TRUE(testsupport::WaitUntil([&] { return LastValue(sim, program.Pid()) == 37; }, 5000));

    // "設定を保存" writes what is in force.
    SendMessageA(program.MainWindow(), WM_COMMAND, IDM_SAVE, 0);
    EXPECT_EQ("37", IniValue(program.IniPath(), "DEVICE0", "Luminance"));
}

TEST_F(DialogTest, OkWhilePausedSavesAndLeavesControlRunning) {
    ASSERT_TRUE(program.WriteSettings(settings));
    ASSERT_TRUE(program.Start());
    // Control has started once it writes.
    ASSERT_TRUE(testsupport::WaitUntil([&] { return LastValue(sim, program.Pid()) == 100; }, 5000));
    SendMessageA(program.MainWindow(), WM_CONTROL_SUSPEND_MESSAGE, 0, 0);
    Sleep(300);
    sim.ClearLog();
    Sleep(1500);
    ASSERT_EQ(-1, LastValue(sim, program.Pid())) << "control did not pause";

    ASSERT_TRUE(dialog.Open(program));
    dialog.SetSpin(IDC_LUMINANCE_SPIN, 64);
    dialog.Click(IDOK);
    ASSERT_TRUE(dialog.WaitClosed());
    EXPECT_EQ("64", IniValue(program.IniPath(), "DEVICE0", "Luminance"));
    EXPECT_TRUE(testsupport::WaitUntil([&] { return LastValue(sim, program.Pid()) == 64; }, 5000));
    // And it goes on: a later cycle writes again.
    sim.ClearLog();
    EXPECT_TRUE(testsupport::WaitUntil([&] { return LastValue(sim, program.Pid()) == 64; }, 5000));
}

TEST_F(DialogTest, SearchShowsTheNewLabelsOnDeviceZero) {
    StartAndOpen();
    // Commit a Timer by changing the device, then type another one.
    dialog.SetSpin(IDC_TIMER_SPIN, 3000);
    dialog.Select(IDC_DEVICE_LIST, 2);
    dialog.SetSpin(IDC_TIMER_SPIN, 4000);
    ASSERT_EQ("4000", dialog.Text(IDC_TIMER));

    SimMachine machine;
    machine.Gpu(0, 0).attributes = {0, 1};
    machine.Gpu(0, 1).attributes = {0};
    ASSERT_TRUE(sim.Write(machine));

    dialog.Click(IDC_SEARCH);
    EXPECT_EQ("3個のデバイスを発見しました。", dialog.TakeMessageBox("確認情報", 60000));
    std::vector<std::string> labels = dialog.ListTexts(IDC_DEVICE_LIST);
    ASSERT_EQ(8u, labels.size());
    EXPECT_EQ(std::string(BOARD) + " (0,0,0)", labels[0]);
    EXPECT_EQ(std::string(BOARD) + " (0,0,1)", labels[1]);
    // The name is the display's adapter string, the same for both GPUs.
    EXPECT_EQ(std::string(BOARD) + " (0,1,0)", labels[2]);
    EXPECT_EQ("未サポートデバイス (0,1,1)", labels[3]);
    EXPECT_EQ("不明デバイス (0,4,0)", labels[4]);
    EXPECT_EQ("不明デバイス (0,5,0)", labels[5]);
    EXPECT_EQ(0, dialog.ListSelection(IDC_DEVICE_LIST));
    EXPECT_EQ("3000", dialog.Text(IDC_TIMER));
    // The triples went into the records.
    dialog.Select(IDC_DEVICE_LIST, 1);
    EXPECT_EQ("0", dialog.Text(IDC_GPU));
    EXPECT_EQ(1, dialog.ListSelection(IDC_ATTRIBUTE_LIST));
    dialog.Select(IDC_DEVICE_LIST, 3);
    EXPECT_EQ("1", dialog.Text(IDC_GPU));
    EXPECT_EQ(1, dialog.ListSelection(IDC_ATTRIBUTE_LIST));

    // A machine without an NVIDIA display.
    machine.displays.clear();
    ASSERT_TRUE(sim.Write(machine));
    dialog.Select(IDC_DEVICE_LIST, 5);
    dialog.Click(IDC_SEARCH);
    EXPECT_EQ("デバイスを発見できませんでした。", dialog.TakeMessageBox("確認情報", 60000));
    EXPECT_EQ(0, dialog.ListSelection(IDC_DEVICE_LIST));
    EXPECT_EQ("不明デバイス (0,0,0)", dialog.ListText(IDC_DEVICE_LIST, 0));
}

// With "Debug" on, the dialog works on the debug device: it names the devices
// and finds them, and "適用" and "設定" leave the mode on, though no control
// shows it. The LED the test watches, 7,5,1, is one that no other program
// (another test run's) drives on the shared device port.
TEST_F(DialogTest, DebugDeviceModeSurvivesApplyAndSetting) {
    testsupport::Glimsim device;
    ASSERT_TRUE(device.Start("--port 30000 --leds 7,5,1;0,0,0;0,1,1"));
    settings.insert(settings.find("[GLOBAL]\r\n") + 10, "Debug=1\r\n");
    settings.insert(settings.find("[DEVICE0]\r\n") + 11, "Display=7\r\nGPU=5\r\nAttribute=1\r\n");
    StartAndOpen();
    EXPECT_EQ("デバッグデバイス (7,5,1)", dialog.ListText(IDC_DEVICE_LIST, 0));
    EXPECT_EQ("未サポートデバイス (0,4,0)", dialog.ListText(IDC_DEVICE_LIST, 4));

    // Notifications of `value` to 7,5,1 that came after datagram `after`.
    auto notifiedAfter = [&](size_t after, long value) {
        std::vector<testsupport::GlimsimDatagram> got = device.Datagrams();
        for (size_t i = after; i < got.size(); ++i)
            if (got[i].what == "notify" && got[i].display == 7 && got[i].gpu == 5 && got[i].attribute == 1 &&
                got[i].luminance == value && got[i].status == 1)
                return true;
        return false;
    };
    dialog.SetSpin(IDC_LUMINANCE_SPIN, 55);
    size_t before = device.Datagrams().size();
    dialog.Click(IDC_APPLY);
    EXPECT_TRUE(testsupport::WaitUntil([&] { return notifiedAfter(before, 55); }, 10000)) << "after 適用";

    // Every candidate answers yes or no here, so the search ends after the
    // first eight.
    dialog.Click(IDC_SEARCH);
    EXPECT_EQ("2個のデバイスを発見しました。", dialog.TakeMessageBox("確認情報", 60000));
    EXPECT_EQ("デバッグデバイス (0,0,0)", dialog.ListText(IDC_DEVICE_LIST, 0));
    EXPECT_EQ("未サポートデバイス (0,0,1)", dialog.ListText(IDC_DEVICE_LIST, 1));
    EXPECT_EQ("デバッグデバイス (0,1,1)", dialog.ListText(IDC_DEVICE_LIST, 3));

    dialog.Select(IDC_DEVICE_LIST, 1);
    dialog.SetSpin(IDC_DISPLAY_SPIN, 7);
    dialog.SetSpin(IDC_GPU_SPIN, 5);
    dialog.Select(IDC_ATTRIBUTE_LIST, 1);
    dialog.SetCheck(IDC_ENABLE, true);
    dialog.Select(IDC_PLAYTYPE_LIST, PLAY_FIXED);
    dialog.SetSpin(IDC_LUMINANCE_SPIN, 66);
    before = device.Datagrams().size();
    dialog.Click(IDOK);
    ASSERT_TRUE(dialog.WaitClosed());
    EXPECT_TRUE(testsupport::WaitUntil([&] { return notifiedAfter(before, 66); }, 10000)) << "after 設定";
    EXPECT_TRUE(sim.SetsOf(program.Pid()).empty()) << "the driver was written in debug-device mode";
}

TEST_F(DialogTest, PatternChooserStartsFromThePlayFile) {
    std::string dir = program.Dir().Path();
    ASSERT_TRUE(CreateDirectoryA((dir + "\\pat").c_str(), nullptr));
    settings += "[DEVICE4]\r\nPlayFile=" + dir + "\\pat\\blink.GLP\r\n";
    settings += "[DEVICE5]\r\nPlayFile=" + dir + "\\pat\\\r\n";
    // A relative pattern file, read from the program's current folder.
    settings += "[DEVICE6]\r\nPlayType=6\r\nPlayFile=blink.GLP\r\n";
    StartAndOpen();

    struct Case {
        int device;
        const char* shownName;  // what the chooser offers as file name
        const char* typed;      // what the user types there
        std::string chosen;     // the path that comes back
    };
    const Case cases[] = {
        {0, "GLIMDECK.GLP", "GLIMDECK.GLP", dir + "\\GLIMDECK.GLP"},  // no folder: the current one
        {4, "blink.GLP", "other.GLP", dir + "\\pat\\other.GLP"},
        {5, "", "third.GLP", dir + "\\pat\\third.GLP"},
    };
    for (const Case& c : cases) {
        dialog.Select(IDC_DEVICE_LIST, c.device);
        dialog.Click(IDC_PATTERN_BROWSE);
        HWND chooser = testsupport::WaitForProcessWindow(program.Pid(), "#32770", "パターンファイルの選択", 15000);
        ASSERT_NE(nullptr, chooser) << c.device;
        // The file name field: an edit (edt1) or an editable combo box (cmb13).
        HWND name = GetDlgItem(chooser, 0x480);
        if (!name) name = GetDlgItem(chooser, 0x47c);
        ASSERT_NE(nullptr, name);
        EXPECT_EQ(c.shownName, testsupport::WindowText(name)) << c.device;
        HWND filter = GetDlgItem(chooser, 0x470);
        EXPECT_EQ(0, SendMessageA(filter, CB_GETCURSEL, 0, 0));
        SendMessageA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(c.typed));
        PostMessageA(chooser, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(chooser, IDOK)));
        ASSERT_TRUE(testsupport::WaitUntil([&] { return !IsWindow(chooser); }, 10000));
        EXPECT_TRUE(testsupport::WaitUntil([&] { return _stricmp(dialog.Text(IDC_PLAYFILE).c_str(), c.chosen.c_str()) == 0; }, 5000))
            << c.device << ": " << dialog.Text(IDC_PLAYFILE);
    }

    // Cancelled: nothing changes.
    dialog.Select(IDC_DEVICE_LIST, 4);
    std::string before = dialog.Text(IDC_PLAYFILE);
    dialog.Click(IDC_PATTERN_BROWSE);
    HWND chooser = testsupport::WaitForProcessWindow(program.Pid(), "#32770", "パターンファイルの選択", 15000);
    ASSERT_NE(nullptr, chooser);
    PostMessageA(chooser, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(chooser, IDCANCEL)));
    ASSERT_TRUE(testsupport::WaitUntil([&] { return !IsWindow(chooser); }, 10000));
    Sleep(200);
    EXPECT_EQ(before, dialog.Text(IDC_PLAYFILE));

    // The user moves to another folder inside the chooser before choosing,
    // which takes the process's current folder along while the chooser runs.
    ASSERT_TRUE(CreateDirectoryA((dir + "\\sub").c_str(), nullptr));
    dialog.Click(IDC_PATTERN_BROWSE);
    chooser = testsupport::WaitForProcessWindow(program.Pid(), "#32770", "パターンファイルの選択", 15000);
    ASSERT_NE(nullptr, chooser);
    HWND name = GetDlgItem(chooser, 0x480);
    if (!name) name = GetDlgItem(chooser, 0x47c);
    for (const std::string& typed : {dir + "\\sub", std::string("nav.GLP")}) {
        Sleep(500);
        SendMessageA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(typed.c_str()));
        PostMessageA(chooser, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(chooser, IDOK)));
    }
    ASSERT_TRUE(testsupport::WaitUntil([&] { return !IsWindow(chooser); }, 10000));
    EXPECT_TRUE(testsupport::WaitUntil([&] { return _stricmp(dialog.Text(IDC_PLAYFILE).c_str(), (dir + "\\sub\\nav.GLP").c_str()) == 0; }, 5000))
        << dialog.Text(IDC_PLAYFILE);

    // The relative pattern is still found where it was, and plays.
    dialog.Select(IDC_DEVICE_LIST, 6);
    EXPECT_TRUE(PreviewShows(RGB(31, 231, 31), 3000)) << "the relative pattern file was not found";
}

TEST_F(DialogTest, PreviewShowsTheSelectedDevicesColour) {
    StartAndOpen();
    EXPECT_TRUE(PreviewShows(RGB(31, 231, 31))) << std::hex << Preview().TextColor();
    dialog.Select(IDC_DEVICE_LIST, 1);  // fixed at 0
    EXPECT_TRUE(PreviewShows(RGB(31, 31, 31))) << std::hex << Preview().TextColor();
    dialog.Select(IDC_DEVICE_LIST, 2);  // temperature: unlit
    EXPECT_TRUE(PreviewShows(PREVIEW_UNLIT)) << std::hex << Preview().TextColor();

    // The blink pattern: lit 100 and lit 0 in turn, each for about 500 ms.
    dialog.Select(IDC_DEVICE_LIST, 3);
    ASSERT_TRUE(PreviewShows(RGB(31, 231, 31)));
    std::vector<std::pair<COLORREF, DWORD>> changes;
    DWORD start = GetTickCount();
    while (GetTickCount() - start < 3200) {
        COLORREF c = Preview().TextColor();
        if (changes.empty() || changes.back().first != c) changes.push_back({c, GetTickCount()});
        Sleep(20);
    }
    ASSERT_GE(changes.size(), 5u);
    for (size_t i = 0; i < changes.size(); ++i) {
        EXPECT_TRUE(changes[i].first == RGB(31, 231, 31) || changes[i].first == RGB(31, 31, 31))
            << std::hex << changes[i].first;
        if (i >= 1 && i + 1 < changes.size()) {
            DWORD held = changes[i + 1].second - changes[i].second;
            EXPECT_GT(held, 250u);
            EXPECT_LT(held, 900u);
        }
    }

    // A committed method change is what the preview shows; an uncommitted one is not.
    dialog.Select(IDC_DEVICE_LIST, 0);
    ASSERT_TRUE(PreviewShows(RGB(31, 231, 31)));
    dialog.Select(IDC_PLAYTYPE_LIST, PLAY_FAN);
    Sleep(500);
    EXPECT_EQ(RGB(31, 231, 31), Preview().TextColor());
}

TEST_F(DialogTest, LogoIsDrawnAsItStands) {
    settings += "[PREVIEW]\r\nLogo=A&B\r\n";
    StartAndOpen();
    HWND strip = dialog.Item(IDC_PREVIEW);
    ASSERT_TRUE(PreviewShows(RGB(31, 231, 31)));
    ScreenImage shown = Preview();

    // The same text drawn here, in the program's start-up font, with and
    // without prefix processing.
    RECT client;
    ASSERT_TRUE(GetClientRect(strip, &client));
    LOGFONTA font;
    MakeStartupFont(&font);
    ScreenImage asItStands = Render(font, "A&B", client, DT_NOPREFIX);
    ScreenImage withPrefix = Render(font, "A&B", client, 0);
    ASSERT_FALSE(asItStands == withPrefix);
    EXPECT_TRUE(shown == asItStands);
}

TEST_F(DialogTest, CancelledFontChoiceRestartsThePreviewWithTheSameFont) {
    StartAndOpen();
    ASSERT_TRUE(PreviewShows(RGB(31, 231, 31)));
    ScreenImage before = Preview();

    // On the blink pattern, so that the restarted preview is seen moving.
    dialog.Select(IDC_DEVICE_LIST, 3);
    HWND chooser = OpenFontDialog();
    ASSERT_NE(nullptr, chooser);
    PostMessageA(chooser, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(chooser, IDCANCEL)));
    ASSERT_TRUE(testsupport::WaitUntil([&] { return !IsWindow(chooser); }, 10000));

    EXPECT_TRUE(PreviewShows(RGB(31, 231, 31), 3000));
    EXPECT_TRUE(PreviewShows(RGB(31, 31, 31), 3000));
    EXPECT_TRUE(PreviewShows(RGB(31, 231, 31), 3000));

    dialog.Select(IDC_DEVICE_LIST, 0);
    ASSERT_TRUE(PreviewShows(RGB(31, 231, 31)));
    Sleep(200);
    EXPECT_TRUE(Preview() == before);
}

// The font is in force once confirmed: "中止" keeps it, "設定" writes it.
TEST_F(DialogTest, ConfirmedFontIsKeptByCancelAndSavedBySetting) {
    StartAndOpen();
    std::string ini = program.IniPath();
    HWND chooser = OpenFontDialog();
    ASSERT_NE(nullptr, chooser);
    ASSERT_TRUE(ConfirmFontSize(chooser, 20));
    dialog.Click(IDCANCEL);
    ASSERT_TRUE(dialog.WaitClosed());
    SendMessageA(program.MainWindow(), WM_COMMAND, IDM_SAVE, 0);
    std::string font = IniValue(ini, "PREVIEW", "Font");
    EXPECT_EQ(std::to_string(HeightOf(20)) + ",", font.substr(0, font.find(',') + 1)) << font;

    ASSERT_TRUE(dialog.Open(program));
    chooser = OpenFontDialog();
    ASSERT_NE(nullptr, chooser);
    ASSERT_TRUE(ConfirmFontSize(chooser, 12));
    dialog.Click(IDOK);
    ASSERT_TRUE(dialog.WaitClosed());
    font = IniValue(ini, "PREVIEW", "Font");
    EXPECT_EQ(std::to_string(HeightOf(12)) + ",", font.substr(0, font.find(',') + 1)) << font;
}

TEST_F(DialogTest, EscapeAndTheCloseBoxCancel) {
    StartAndOpen();
    dialog.SetSpin(IDC_LUMINANCE_SPIN, 55);
    dialog.PressKey(VK_ESCAPE);
    ASSERT_TRUE(dialog.WaitClosed());

    // Nothing was applied; the next opening starts from the settings again.
    ASSERT_TRUE(dialog.Open(program));
    EXPECT_EQ("100", dialog.Text(IDC_LUMINANCE));
    dialog.SetSpin(IDC_LUMINANCE_SPIN, 56);
    PostMessageA(dialog.Window(), WM_SYSCOMMAND, SC_CLOSE, 0);
    ASSERT_TRUE(dialog.WaitClosed());
    SendMessageA(program.MainWindow(), WM_COMMAND, IDM_SAVE, 0);
    EXPECT_EQ("100", IniValue(program.IniPath(), "DEVICE0", "Luminance"));

    // Ending the program while the dialog is open ends it cleanly.
    ASSERT_TRUE(dialog.Open(program));
    PostMessageA(program.MainWindow(), WM_COMMAND, IDM_EXIT, 0);
    EXPECT_TRUE(testsupport::WaitUntil([&] { return !program.Running(); }, 10000));
    EXPECT_EQ(0u, program.ExitCode());
}

TEST_F(DialogTest, ZonesInTheAttributeListAndTheColourOfAZone) {
    SimMachine machine;
    machine.Gpu(0, 0).zones = "rgb@top:0,0,255 fixed@front";
    ASSERT_TRUE(sim.Write(machine));
    // Device 5's colour is one its zone cannot show; device 6 names a zone
    // the board does not describe (a board taken out, a debug device).
    settings += "[DEVICE4]\r\nGPU=0\r\nAttribute=2\r\nPlayType=0\r\nLuminance=100\r\n"
                "[DEVICE5]\r\nGPU=0\r\nAttribute=3\r\nPlayType=0\r\nLuminance=50\r\nColor=255,0,0\r\n"
                "[DEVICE6]\r\nAttribute=5\r\n";
    StartAndOpen();
    EXPECT_EQ((std::vector<std::string> {"ビデオカード", "SLIケーブル", "ゾーン1 上面", "ゾーン2 前面", "ゾーン3",
                                         "ゾーン4"}),
              dialog.ListTexts(IDC_ATTRIBUTE_LIST));

    // "色..." only for a zone that takes a colour, as soon as it is picked.
    EXPECT_FALSE(IsWindowEnabled(dialog.Item(IDC_COLOR))) << "the board logo";
    dialog.Select(IDC_ATTRIBUTE_LIST, 2);
    EXPECT_TRUE(IsWindowEnabled(dialog.Item(IDC_COLOR))) << "zone 1 picked, not yet committed";
    dialog.Select(IDC_ATTRIBUTE_LIST, 0);
    dialog.Select(IDC_DEVICE_LIST, 5);
    EXPECT_EQ(3, dialog.ListSelection(IDC_ATTRIBUTE_LIST));
    EXPECT_FALSE(IsWindowEnabled(dialog.Item(IDC_COLOR))) << "a zone of fixed colour";
    EXPECT_TRUE(PreviewShows(RGB(31, 131, 31))) << "a colour the zone cannot show: " << std::hex
                                                << Preview().TextColor();
    dialog.Select(IDC_DEVICE_LIST, 6);
    EXPECT_EQ(5, dialog.ListSelection(IDC_ATTRIBUTE_LIST));
    dialog.Select(IDC_DEVICE_LIST, 4);
    EXPECT_TRUE(IsWindowEnabled(dialog.Item(IDC_COLOR)));
    EXPECT_TRUE(PreviewShows(RGB(31, 231, 31))) << "no colour of its own: green";

    dialog.Click(IDC_COLOR);
    HWND chooser = WaitForChooser();
    ASSERT_NE(nullptr, chooser);
    const struct {
        int id;
        const char* value;
    } components[] = {{706, "255"}, {707, "102"}, {708, "0"}};  // red, green, blue
    for (const auto& c : components) {
        HWND edit = GetDlgItem(chooser, c.id);
        ASSERT_NE(nullptr, edit) << c.id;
        SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(c.value));
    }
    PostMessageA(chooser, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(chooser, IDOK)));
    ASSERT_TRUE(testsupport::WaitUntil([&] { return !IsWindow(chooser); }, 10000));
    EXPECT_TRUE(PreviewShows(RGB(231, 111, 31))) << std::hex << Preview().TextColor();

    dialog.Click(IDOK);
    ASSERT_TRUE(dialog.WaitClosed());
    EXPECT_EQ("255,102,0", IniValue(program.IniPath(), "DEVICE4", "Color"));
    EXPECT_EQ("255,0,0", IniValue(program.IniPath(), "DEVICE5", "Color"));
    EXPECT_EQ("5", IniValue(program.IniPath(), "DEVICE6", "Attribute"));
}

// At 150 % scaling (144 DPI, which the program reads when it starts) every
// control stays inside the client area and off every other (a spin rides on
// its field; a group box holds whole controls or none of one), and the logo
// is drawn in the start-up font at that DPI, whole inside its band.
TEST_F(DialogTest, LaidOutAt150PercentWithTheLogoScaled) {
    {
        testsupport::ScreenDpi dpi(144);
        ASSERT_TRUE(dpi.Set());
        StartAndOpen();
    }
    ASSERT_TRUE(PreviewShows(RGB(31, 231, 31)));
    RECT client;
    ASSERT_TRUE(GetClientRect(dialog.Window(), &client));
    std::vector<Placed> controls = PlacedControls(dialog.Window());
    ASSERT_GE(controls.size(), 40u);
    for (const Placed& a : controls) {
        EXPECT_TRUE(Inside(a.rect, client)) << Describe(a);
        for (const Placed& b : controls) {
            if (a.window >= b.window || a.buddy == b.window || b.buddy == a.window) continue;
            if (a.groupBox != b.groupBox) {
                const Placed& box = a.groupBox ? a : b;
                const Placed& other = a.groupBox ? b : a;
                EXPECT_TRUE(!Overlap(other.rect, box.rect) || Inside(other.rect, box.rect))
                    << Describe(other) << " across " << Describe(box);
            } else {
                EXPECT_FALSE(Overlap(a.rect, b.rect)) << Describe(a) << " over " << Describe(b);
            }
        }
    }

    LOGFONTA font;
    MakeStartupFont(&font);
    font.lfHeight = MulDiv(font.lfHeight, 144, 96);
    font.lfWidth = MulDiv(font.lfWidth, 144, 96);
    RECT band;
    ASSERT_TRUE(GetClientRect(dialog.Item(IDC_PREVIEW), &band));
    ScreenImage shown = Preview();
    EXPECT_TRUE(shown == Render(font, "GEFORCE GTX", band, DT_NOPREFIX)) << "the logo at 144 DPI";
    // Whole: no lit pixel on the band's edge.
    for (int x = 0; x < shown.width; ++x) {
        EXPECT_EQ(0u, shown.pixels[x] | shown.pixels[(shown.height - 1) * shown.width + x]) << x;
    }
    for (int y = 0; y < shown.height; ++y) {
        EXPECT_EQ(0u, shown.pixels[y * shown.width] | shown.pixels[y * shown.width + shown.width - 1]) << y;
    }
}
