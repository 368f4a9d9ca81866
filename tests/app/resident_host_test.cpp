// The resident program run inside the test process (RunResident on a thread
// of its own, the program's resources loaded from GLIMDK32.EXE), so that the
// control flag, the tray record and the device slots can be checked while the
// window is driven by its messages; LED writes are read from the simulated
// driver's log.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "app/about.h"
#include "app/glimmessages.h"
#include "app/mainwindow.h"
#include "app/trayicon.h"
#include "app/traymenu.h"
#include "appini.h"
#include "importpatch.h"
#include "engine/control.h"
#include "engine/setting.h"
#include "msgbox.h"
#include "residenthost.h"
#include "simnvapi.h"
#include "testsupport.h"
#include "ui/settingdialog.h"

namespace {

using apptest::IniDevice;
using apptest::IniGlobal;
using apptest::MakeIni;
using apptest::ResidentHost;
using testsupport::SimSet;

const char* const TIP_RUNNING = "Glimmerdeck - 実行中";
const char* const TIP_STOPPED = "Glimmerdeck - 停止中";

// Device 0 fixed at 40 on the logo, device 1 on the temperature (65) of the
// SLI bridge, device 2 configured but disabled.
std::string TwoDevices(int balloon) {
    IniGlobal global;
    global.Balloon = balloon;
    return MakeIni({{0, 1, 0, 0, 0, PLAY_FIXED, 40},
                    {1, 1, 0, 0, 1, PLAY_TEMPERATURE, 100},
                    {2, 0, 0, 0, 0, PLAY_FIXED, 90}},
                   global);
}

// The last message the program handed to the shell, and its icon.
std::atomic<DWORD> lastTrayMessage {~0ul};
std::atomic<HICON> lastTrayIcon {nullptr};
// The identifier of the icon last added.
std::atomic<UINT> lastAddedId {0};

// Messages that another program sends while the window is being created: the
// shell call that adds the icon dispatches them. Sent at the first add after
// they are armed, each answer kept.
struct SentDuringAdd {
    UINT message;
    WPARAM wParam;
    LRESULT answer;
};
std::vector<SentDuringAdd> duringAdd;
bool duringAddArmed = false;

bool MutexExists() {
    HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, GLIM_MUTEX_NAME);
    if (mutex) CloseHandle(mutex);
    return mutex != nullptr;
}

BOOL RecordTrayMessage(DWORD message, NOTIFYICONDATAA* data) {
    lastTrayMessage = message;
    lastTrayIcon = data->hIcon;
    if (message == NIM_ADD) lastAddedId = data->uID;
    if (message == NIM_ADD && duringAddArmed) {
        duringAddArmed = false;
        for (SentDuringAdd& m : duringAdd) m.answer = SendMessageA(data->hWnd, m.message, m.wParam, 0);
    }
    return Shell_NotifyIconA(message, data);
}

// The message filter changes the program asks for, by a function it looks up
// (the platform's own filter cannot be seen: there are no integrity levels
// under Wine).
struct FilterChange {
    HWND window;
    UINT message;
    DWORD action;
};
std::vector<FilterChange> filterChanges;
// Kept after the patch has gone: a thread may still be inside the replacement.
FARPROC(WINAPI* originalLookup)(HMODULE, LPCSTR) = nullptr;
BOOL WINAPI RecordFilterChange(HWND window, UINT message, DWORD action, void*) {
    filterChanges.push_back({window, message, action});
    return TRUE;
}
FARPROC WINAPI LookUpWithFilterRecorder(HMODULE module, LPCSTR name) {
    if (reinterpret_cast<uintptr_t>(name) > 0xFFFF && std::strcmp(name, "ChangeWindowMessageFilterEx") == 0)
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&RecordFilterChange));
    return originalLookup(module, name);
}

class ResidentHostTest : public ::testing::Test {
protected:
    void TearDown() override {
        SetTrayNotifyProc(nullptr);
        duringAddArmed = false;
    }
    void SetUp() override {
        lastTrayMessage = ~0ul;
        SetTrayNotifyProc(RecordTrayMessage);
        testsupport::SimMachine machine;
        machine.Gpu(0, 0).attributes = {0, 1};
        machine.Gpu(0, 0).sensors = "1:65";
        ASSERT_TRUE(sim_.Write(machine));
    }

    // Sets of this process to display 0, GPU 0, `attribute`, from now on.
    size_t CountSets(long attribute, long value = -1) {
        size_t n = 0;
        for (const SimSet& s : sim_.SetsOf(GetCurrentProcessId()))
            if (s.display == 0 && s.gpu == 0 && s.attribute == attribute && (value < 0 || s.value == value)) ++n;
        return n;
    }
    bool WaitForSet(long attribute, long value, unsigned timeoutMs = 8000) {
        return testsupport::WaitUntil([&] { return CountSets(attribute, value) > 0; }, timeoutMs, 50);
    }
    // No LED write for a good two control periods.
    bool StaysDark() {
        sim_.ClearLog();
        Sleep(2500);
        return sim_.SetsOf(GetCurrentProcessId()).empty();
    }

    static void ClearBalloon() {
        std::memset(TrayIcon.data.szInfo, 0, sizeof TrayIcon.data.szInfo);
        std::memset(TrayIcon.data.szInfoTitle, 0, sizeof TrayIcon.data.szInfoTitle);
    }
    static void ExpectTray(bool running) {
        ASSERT_TRUE(TrayIcon.IsCreated());
        EXPECT_STREQ(TrayIcon.data.szTip, running ? TIP_RUNNING : TIP_STOPPED);
        EXPECT_EQ(TrayIcon.current, running ? 0u : 1u);
        EXPECT_EQ(TrayIcon.data.hIcon, TrayIcon.slots[running ? 0 : 1].Icon);
        EXPECT_EQ(lastTrayIcon.load(), TrayIcon.data.hIcon) << "the shell was last given this icon";
        EXPECT_EQ(ControlActive, running ? 1 : 0);
    }

    testsupport::SimNvapi sim_;
};

TEST_F(ResidentHostTest, StartDrivesEnabledDevicesAndEndWhilePausedLeavesNothingBehind) {
    UINT firstId = 0;
    {
        ResidentHost host(TwoDevices(1));
        ASSERT_TRUE(host.Start());
        ExpectTray(true);
        EXPECT_NE(TrayIcon.slots[0].Icon, nullptr) << "icon 101 loaded";
        EXPECT_NE(TrayIcon.slots[1].Icon, nullptr) << "icon 102 loaded";
        EXPECT_NE(TrayIcon.slots[0].Icon, TrayIcon.slots[1].Icon);
        EXPECT_EQ(TrayIcon.data.cbSize, TRAYICON_RECORD_SIZE);
        EXPECT_TRUE(TrayIcon.data.uFlags & NIF_MESSAGE);
        EXPECT_EQ(TrayIcon.data.uCallbackMessage, static_cast<UINT>(WM_TRAYNOTIFY));
        EXPECT_EQ(TrayIcon.data.hWnd, host.Window());
        firstId = lastAddedId;
        EXPECT_EQ(AboutOpen, 0);

        EXPECT_TRUE(WaitForSet(0, 40)) << "device 0: fixed 40";
        EXPECT_TRUE(WaitForSet(1, 65)) << "device 1: temperature 65";
        EXPECT_NE(DeviceSlot[2].Thread, nullptr) << "a disabled device is still named";
        EXPECT_NE(std::string(DeviceSlot[0].Name).find("(0,0,0)"), std::string::npos) << DeviceSlot[0].Name;
        EXPECT_EQ(CountSets(0, 90), 0u) << "the disabled device 2 is never written";

        EXPECT_TRUE(MutexExists()) << "the instance holds the mutex";

        // Ended while paused: the held threads still hear the stop at once.
        host.Command(IDM_SUSPEND);
        ExpectTray(false);
        DWORD start = GetTickCount();
        host.Command(IDM_EXIT);
        ASSERT_TRUE(host.WaitForEnd(20000));
        EXPECT_LT(GetTickCount() - start, 3000u) << "a paused thread held up the end";
        EXPECT_FALSE(TrayIcon.IsCreated()) << "the tray icon is removed";
        for (const DEVICESLOT& slot : DeviceSlot) EXPECT_EQ(slot.Thread, nullptr);
        WNDCLASSA wc;
        EXPECT_FALSE(GetClassInfoA(host.Resources(), GLIM_CLASS_NAME, &wc)) << "class unregistered";
        EXPECT_FALSE(MutexExists()) << "mutex released";
    }
    // And the next start works. Paused past the threads' next writes, all
    // switched off and ended: the end releases the held threads, and none
    // of them may write again. A few rounds, for the race.
    for (int round = 0; round < 3; ++round) {
        ResidentHost again(TwoDevices(1));
        ASSERT_TRUE(again.Start());
        EXPECT_EQ(lastAddedId.load(), firstId) << "the shell knows the icon by the last start's identifier";
        ASSERT_TRUE(WaitForSet(0, 40));
        again.Command(IDM_SUSPEND);
        Sleep(1100);
        again.Command(IDM_ALL_OFF);
        sim_.ClearLog();
        EXPECT_TRUE(again.Stop());
        EXPECT_TRUE(sim_.SetsOf(GetCurrentProcessId()).empty()) << "written after the all-off, round " << round;
    }
}

TEST_F(ResidentHostTest, PauseAndResumeByMessageFollowTrayAndShowBalloons) {
    ResidentHost host(TwoDevices(1));
    ASSERT_TRUE(host.Start());
    ASSERT_TRUE(WaitForSet(0, 40));

    ClearBalloon();
    EXPECT_EQ(host.Send(WM_CONTROL_SUSPEND), 1);
    ExpectTray(false);
    EXPECT_STREQ(TrayIcon.data.szInfoTitle, "外部制御");
    EXPECT_STREQ(TrayIcon.data.szInfo, "制御を停止しました。");
    EXPECT_EQ(TrayIcon.data.uFlags & NIF_INFO, 0u) << "later modifications show no balloon";
    EXPECT_TRUE(StaysDark()) << "no LED written while paused";

    ClearBalloon();
    EXPECT_EQ(host.Send(WM_CONTROL_RESUME), 1);
    ExpectTray(true);
    EXPECT_STREQ(TrayIcon.data.szInfo, "制御を開始しました。");
    EXPECT_TRUE(WaitForSet(0, 40)) << "writes continue";

    // Already running: nothing changes, but the balloon still tells so.
    ClearBalloon();
    EXPECT_EQ(host.Send(WM_CONTROL_RESUME), 1);
    ExpectTray(true);
    EXPECT_STREQ(TrayIcon.data.szInfo, "制御を開始しました。");
    EXPECT_TRUE(host.Stop());
}

TEST_F(ResidentHostTest, MenuPauseAndResumeAndMessagesWithoutBalloon) {
    ResidentHost host(TwoDevices(0));
    ASSERT_TRUE(host.Start());
    ClearBalloon();

    host.Command(IDM_SUSPEND);
    ExpectTray(false);
    EXPECT_TRUE(StaysDark());
    host.Command(IDM_RESUME);
    ExpectTray(true);
    EXPECT_TRUE(WaitForSet(0, 40));

    EXPECT_EQ(host.Send(WM_CONTROL_SUSPEND), 1);
    ExpectTray(false);
    EXPECT_EQ(host.Send(WM_CONTROL_RESUME), 1);
    ExpectTray(true);
    EXPECT_STREQ(TrayIcon.data.szInfo, "") << "Balloon=0: no balloon";
    EXPECT_STREQ(TrayIcon.data.szInfoTitle, "");
    EXPECT_TRUE(host.Stop());
}

TEST_F(ResidentHostTest, MethodCommandRestartsThreadsAndKeepsThePauseState) {
    ResidentHost host(TwoDevices(1));
    ASSERT_TRUE(host.Start());
    ASSERT_TRUE(WaitForSet(0, 40));

    // Running: device 0 switches from fixed 40 to the temperature, 65.
    host.Command(PlayTypeCommand(0, PLAY_TEMPERATURE));
    EXPECT_EQ(SETTING.Device[0].PlayType, PLAY_TEMPERATURE);
    sim_.ClearLog();
    EXPECT_TRUE(WaitForSet(0, 65));
    ExpectTray(true);

    // Paused: the threads are restarted but stay held, and the tray says so.
    host.Command(IDM_SUSPEND);
    host.Command(PlayTypeCommand(0, PLAY_FIXED));
    EXPECT_EQ(SETTING.Device[0].PlayType, PLAY_FIXED);
    EXPECT_NE(DeviceSlot[0].Thread, nullptr);
    ExpectTray(false);
    EXPECT_TRUE(StaysDark()) << "no LED written until control is started";
    host.Command(IDM_RESUME);
    ExpectTray(true);
    EXPECT_TRUE(WaitForSet(0, 40));
    EXPECT_TRUE(host.Stop());
}

// What only another program can send: method commands for a device or a
// method the program does not have, and a WM_CREATE of its own.
TEST_F(ResidentHostTest, MessagesTheMenuNeverSendsChangeNothing) {
    ResidentHost host(TwoDevices(1));
    ASSERT_TRUE(host.Start());
    DEVICE before[MAX_DEVICE];
    std::memcpy(before, SETTING.Device, sizeof before);
    DWORD threadIds[MAX_DEVICE];
    for (int d = 0; d < MAX_DEVICE; ++d) threadIds[d] = DeviceSlot[d].ThreadId;

    for (UINT id : {0x8180u, 0x8186u, 0x81F5u, 0x8107u, 0x811Fu}) host.Command(id);
    // The start-up again would meet its own tray icon and stop at an error box.
    DWORD_PTR result = 0;
    EXPECT_TRUE(SendMessageTimeoutA(host.Window(), WM_CREATE, 0, 0, SMTO_NORMAL, 3000, &result))
        << "WM_CREATE ran the start-up again";
    EXPECT_EQ(testsupport::CloseAllMessageBoxes(GetCurrentProcessId()), 0);

    EXPECT_EQ(std::memcmp(before, SETTING.Device, sizeof before), 0) << "no device record changed";
    for (int d = 0; d < MAX_DEVICE; ++d) EXPECT_EQ(DeviceSlot[d].ThreadId, threadIds[d]) << "not restarted";
    ExpectTray(true);
    EXPECT_TRUE(WaitForSet(0, 40));
    EXPECT_TRUE(host.Stop());
}

TEST_F(ResidentHostTest, TaskbarRestartShowsTheIconOfTheCurrentState) {
    ResidentHost host(TwoDevices(1));
    filterChanges.clear();
    {
        originalLookup = &GetProcAddress;  // read from the import slot before it changes
        testsupport::ImportPatch lookup("kernel32.dll", "GetProcAddress",
                                        reinterpret_cast<void*>(&LookUpWithFilterRecorder));
        ASSERT_TRUE(lookup.Ok());
        ASSERT_TRUE(host.Start());
    }
    ASSERT_NE(TaskbarCreatedMessage(), 0u);
    // An elevated instance still hears Explorer's broadcast, and only that.
    ASSERT_EQ(1u, filterChanges.size());
    EXPECT_EQ(host.Window(), filterChanges[0].window);
    EXPECT_EQ(TaskbarCreatedMessage(), filterChanges[0].message);
    EXPECT_EQ(static_cast<DWORD>(MSGFLT_ALLOW), filterChanges[0].action);
    for (bool running : {false, true}) {
        host.Command(running ? IDM_RESUME : IDM_SUSPEND);
        lastTrayMessage = ~0ul;
        host.Send(TaskbarCreatedMessage());
        EXPECT_EQ(lastTrayMessage.load(), static_cast<DWORD>(NIM_ADD)) << "the icon is added again";
        ExpectTray(running);
    }
    // A change of scaling: the icons are loaded anew and the shell shown the
    // one of the current state.
    RECT suggested = {0, 0, 1, 1};
    lastTrayMessage = ~0ul;
    host.Send(WM_DPICHANGED, MAKEWPARAM(96, 96), reinterpret_cast<LPARAM>(&suggested));
    EXPECT_EQ(lastTrayMessage.load(), static_cast<DWORD>(NIM_MODIFY));
    ExpectTray(true);
    EXPECT_TRUE(host.Stop());
}

// The menu the user gets on a right click, read from its window.
TEST_F(ResidentHostTest, RightClickShowsTheMenuAndItClosesAgain) {
    ResidentHost host(TwoDevices(1));
    ASSERT_TRUE(host.Start());
    PostMessageA(host.Window(), WM_TRAYNOTIFY, 0, WM_RBUTTONDOWN);
    HWND popup = nullptr;
    ASSERT_TRUE(testsupport::WaitUntil(
        [&] {
            popup = FindWindowA("#32768", nullptr);
            return popup && IsWindowVisible(popup);
        },
        10000));
    HMENU menu = reinterpret_cast<HMENU>(SendMessageA(popup, MN_GETHMENU, 0, 0));
    ASSERT_NE(menu, nullptr);
    char first[64] = {};
    GetMenuStringA(menu, 0, first, sizeof first, MF_BYPOSITION);
    EXPECT_STREQ(first, "制御を停止");
    EXPECT_EQ(GetMenuItemCount(menu), 8);
    HMENU methods = GetSubMenu(menu, 2);
    ASSERT_NE(methods, nullptr);
    EXPECT_EQ(GetMenuItemCount(methods), 2) << "devices 0 and 1 are enabled";
    char device[128] = {};
    GetMenuStringA(methods, 0, device, sizeof device, MF_BYPOSITION);
    EXPECT_STREQ(device, DeviceSlot[0].Name);

    PostMessageA(popup, WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_TRUE(testsupport::WaitUntil([&] { return !IsWindowVisible(popup); }, 10000));
    EXPECT_EQ(host.Send(WM_CONTROL_RESUME), 1) << "the window answers again";
    EXPECT_TRUE(host.Stop());
}

TEST_F(ResidentHostTest, DoubleClickOpensOneSettingsDialogAndTheMenuMarksIt) {
    ResidentHost host(TwoDevices(1));
    ASSERT_TRUE(host.Start());
    PostMessageA(host.Window(), WM_TRAYNOTIFY, 0, WM_LBUTTONDBLCLK);
    ASSERT_TRUE(testsupport::WaitUntil([] { return SettingDialog != nullptr; }, 15000));
    HWND dialog = SettingDialog;
    EXPECT_TRUE(CurrentTrayMenuState().SettingOpen);

    PostMessageA(host.Window(), WM_TRAYNOTIFY, 0, WM_LBUTTONDBLCLK);
    host.Command(IDM_SETTING);
    Sleep(500);
    EXPECT_EQ(SettingDialog, dialog) << "no second dialog";
    int dialogs = 0;
    HWND w = nullptr;
    while ((w = FindWindowExA(nullptr, w, "#32770", "設定")) != nullptr) ++dialogs;
    EXPECT_EQ(dialogs, 1);

    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
    EXPECT_TRUE(testsupport::WaitUntil([] { return SettingDialog == nullptr; }, 10000));
    EXPECT_FALSE(CurrentTrayMenuState().SettingOpen);
    EXPECT_TRUE(host.Stop());
}

// This test program's own version block names two languages: no box.
TEST_F(ResidentHostTest, VersionBlockWithTwoLanguagesShowsNoBox) {
    ResidentHost host(TwoDevices(1));
    ASSERT_TRUE(host.Start());
    host.Command(IDM_VERSION);
    Sleep(1500);
    EXPECT_TRUE(testsupport::FindMessageBoxes(GetCurrentProcessId()).empty());
    EXPECT_EQ(AboutOpen, 0);
    EXPECT_TRUE(host.Stop());
}

TEST_F(ResidentHostTest, MessagesSentWhileTheWindowIsCreatedWaitForItsEnd) {
    {
        // Pause and resume are refused, commands, a second WM_CREATE and a
        // WM_DESTROY the program did not cause do nothing: creation then ends
        // with control running as configured.
        duringAdd = {{WM_CONTROL_SUSPEND, 0, -1},
                     {WM_CONTROL_RESUME, 0, -1},
                     {WM_COMMAND, IDM_SUSPEND, -1},
                     {WM_COMMAND, PlayTypeCommand(0, PLAY_TEMPERATURE), -1},
                     {WM_CREATE, 0, -1},
                     {WM_DESTROY, 0, -1}};
        duringAddArmed = true;
        ResidentHost host(TwoDevices(1));
        ASSERT_TRUE(host.Start());
        ASSERT_FALSE(duringAddArmed) << "nothing was sent during the add";
        EXPECT_EQ(duringAdd[0].answer, 0) << "a pause that did not happen was reported";
        EXPECT_EQ(duringAdd[1].answer, 0);
        ExpectTray(true);
        EXPECT_EQ(SETTING.Device[0].PlayType, PLAY_FIXED);
        EXPECT_TRUE(WaitForSet(0, 40));
        EXPECT_TRUE(testsupport::FindMessageBoxes(GetCurrentProcessId()).empty());
        EXPECT_TRUE(host.Stop());
    }
    // A close is carried out once creation has ended, and no control thread
    // is started for a window that is closing.
    duringAdd = {{WM_CLOSE, 0, -1}};
    duringAddArmed = true;
    ResidentHost host(TwoDevices(1));
    sim_.ClearLog();
    ASSERT_TRUE(host.Start(true));
    host.Resume();
    ASSERT_TRUE(host.WaitForEnd(20000));
    EXPECT_FALSE(duringAddArmed);
    EXPECT_TRUE(sim_.SetsOf(GetCurrentProcessId()).empty()) << "control started for a closing window";
    bool threadLeft = false;
    for (const DEVICESLOT& slot : DeviceSlot) threadLeft = threadLeft || slot.Thread != nullptr;
    EXPECT_FALSE(threadLeft) << "a control thread outlives the window";
    EXPECT_FALSE(TrayIcon.IsCreated());
    EXPECT_EQ(apptest::FindOwnMainWindow(), nullptr);
    if (threadLeft) {
        ResumeControl();
        StopControl();
    }
}

TEST_F(ResidentHostTest, TrayObjectFailureShowsItsBoxAndEndsCleanly) {
    // A tray object that already exists cannot be created again.
    ASSERT_EQ(TrayIcon.Create(GetModuleHandleA(nullptr), nullptr), 1);
    ResidentHost host(TwoDevices(1));
    ASSERT_TRUE(host.Start(true));
    host.Resume();
    testsupport::MessageBoxInfo box;
    ASSERT_TRUE(testsupport::WaitForMessageBox(GetCurrentProcessId(), 15000, &box));
    EXPECT_EQ(box.title, "エラー情報");
    EXPECT_EQ(box.text, "トレイアイコンの生成に失敗しました。");
    EXPECT_EQ(box.owner, nullptr);
    EXPECT_TRUE(testsupport::CloseMessageBox(box));
    ASSERT_TRUE(host.WaitForEnd(20000)) << "the window closes and the loop ends";
    EXPECT_EQ(apptest::FindOwnMainWindow(), nullptr);
    for (const DEVICESLOT& slot : DeviceSlot) EXPECT_EQ(slot.Thread, nullptr) << "no thread was started";
    EXPECT_FALSE(MutexExists());
    TrayIcon.Destroy();
}

}  // namespace

namespace {

// Replaces one import of this test program while it lives: the program's
// code, linked into it, then calls the replacement.
class ImportPatch {
public:
    ImportPatch(const char* library, const char* name, void* replacement) {
        BYTE* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
        auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
        auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
        const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        for (auto* imp = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); imp->Name; ++imp) {
            if (lstrcmpiA(reinterpret_cast<char*>(base + imp->Name), library) != 0) continue;
            auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->OriginalFirstThunk);
            auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->FirstThunk);
            for (; names->u1.AddressOfData; ++names, ++slots) {
                if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
                auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
                if (std::strcmp(reinterpret_cast<char*>(byName->Name), name) != 0) continue;
                slot_ = &slots->u1.Function;
                Write(reinterpret_cast<uintptr_t>(replacement));
                return;
            }
        }
    }
    ~ImportPatch() {
        if (slot_) Write(original_);
    }
    bool Ok() const { return slot_ != nullptr; }

private:
    void Write(uintptr_t value) {
        DWORD old = 0;
        VirtualProtect(slot_, sizeof *slot_, PAGE_READWRITE, &old);
        if (!original_) original_ = *slot_;
        *slot_ = value;
        VirtualProtect(slot_, sizeof *slot_, old, &old);
    }
    decltype(IMAGE_THUNK_DATA::u1.Function)* slot_ = nullptr;
    uintptr_t original_ = 0;
};

HWND WINAPI RefuseWindow(DWORD, LPCSTR, LPCSTR, DWORD, int, int, int, int, HWND, HMENU, HINSTANCE, LPVOID) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

HANDLE WINAPI RefuseThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

TEST_F(ResidentHostTest, ThreadCreationFailureShowsItsBoxAndEndsCleanly) {
    ResidentHost host(TwoDevices(1));
    ASSERT_TRUE(host.Start(true));
    {
        ImportPatch refuse("kernel32.dll", "CreateThread", reinterpret_cast<void*>(RefuseThread));
        ASSERT_TRUE(refuse.Ok());
        host.Resume();
        testsupport::MessageBoxInfo box;
        ASSERT_TRUE(testsupport::WaitForMessageBox(GetCurrentProcessId(), 15000, &box));
        EXPECT_EQ(box.title, "エラー情報");
        EXPECT_EQ(box.text, "スレッドの生成に失敗しました。");
        EXPECT_EQ(box.owner, nullptr);
        EXPECT_TRUE(testsupport::CloseMessageBox(box));
    }
    ASSERT_TRUE(host.WaitForEnd(20000)) << "the window closes and the loop ends";
    EXPECT_EQ(apptest::FindOwnMainWindow(), nullptr);
    EXPECT_FALSE(TrayIcon.IsCreated()) << "the icon added before the failure is removed";
    for (const DEVICESLOT& slot : DeviceSlot) EXPECT_EQ(slot.Thread, nullptr);
    EXPECT_FALSE(MutexExists());
}

TEST_F(ResidentHostTest, WindowCreationFailureUnregistersTheClassAndReleasesTheMutex) {
    ResidentHost host(TwoDevices(1));
    ASSERT_TRUE(host.Start(true));
    {
        ImportPatch refuse("user32.dll", "CreateWindowExA", reinterpret_cast<void*>(RefuseWindow));
        ASSERT_TRUE(refuse.Ok());
        host.Resume();
        ASSERT_TRUE(host.WaitForEnd(20000));
    }
    EXPECT_TRUE(testsupport::FindMessageBoxes(GetCurrentProcessId()).empty()) << "no message";
    WNDCLASSA wc;
    EXPECT_FALSE(GetClassInfoA(host.Resources(), GLIM_CLASS_NAME, &wc)) << "class unregistered";
    EXPECT_FALSE(MutexExists()) << "mutex released";
}

}  // namespace
