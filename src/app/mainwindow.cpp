// Winsock must come before windows.h.
#include <winsock2.h>

#include "app/mainwindow.h"

#include <dbt.h>

#include <cstring>

#include "app/about.h"
#include "app/glimmessages.h"
#include "app/resident.h"
#include "app/sessionwatch.h"
#include "app/trayicon.h"
#include "app/traymenu.h"
#include "base/bringtofront.h"
#include "base/debugprint.h"
#include "base/initorder.h"
#include "debuglink/glpcli.h"
#include "debuglink/ws32lib.h"
#include "engine/control.h"
#include "engine/hold.h"
#include "engine/setting.h"
#include "gpu/devicesearch.h"
#include "res/resource.h"
#include "ui/settingdialog.h"

namespace {

// A window message number registered by name. The object is built before
// WinMain, but the name is registered when the number is first asked for, by
// the resident program's window: the command-line mode must not load the
// window manager's library just to build it.
class REGISTEREDMESSAGE {
public:
    explicit REGISTEREDMESSAGE(const char* name) : name_(name), number_(0) {}
    virtual ~REGISTEREDMESSAGE() = default;
    UINT Number() {
        if (number_ == 0) number_ = RegisterWindowMessageA(name_);
        return number_;
    }

private:
    const char* name_;
    UINT number_;
};

REGISTEREDMESSAGE TaskbarCreated GLIM_INIT_ORDER(GLIM_INIT_TASKBARMSG)("TaskbarCreated");

constexpr UINT ERROR_STYLE = MB_ICONERROR | MB_TOPMOST | MB_SETFOREGROUND;
constexpr const char* ERROR_TITLE = "エラー情報";
constexpr WORD WINSOCK_VERSION_2_0 = 0x0002;

// All four steps must succeed; a failure leaves the earlier steps done.
bool BringUpDebugClient() {
    return WS32LIB_GetLoadCount() == 0 && WS32LIB_LoadDLL() == 0 &&
           WS32LIB.WSAStartup(WINSOCK_VERSION_2_0, &GlpWsaData) == 0 && GlpClient.Open() == 0;
}

// Where the main window is in its life, kept in the window's user data (a
// new window starts at 0). Creation dispatches messages that other programs
// send meanwhile (the shell call that adds the tray icon, the failure boxes),
// and any program can send the window a WM_CREATE or WM_DESTROY of its own.
constexpr LONG_PTR STAGE_CREATING = 1;
constexpr LONG_PTR STAGE_CREATED = 2;
constexpr LONG_PTR STAGE_CLOSE_DEFERRED = 4;
constexpr LONG_PTR STAGE_DESTROYING = 8;
// What the machine is doing around the program, kept beside the stage.
constexpr LONG_PTR STAGE_ASLEEP = 16;
constexpr LONG_PTR STAGE_LOCKED = 32;
constexpr LONG_PTR STAGE_DISPLAY_OFF = 64;
constexpr LONG_PTR STAGE_AWAY = STAGE_LOCKED | STAGE_DISPLAY_OFF;

LONG_PTR Stage(HWND window) { return GetWindowLongPtrA(window, GWLP_USERDATA); }
void MarkStage(HWND window, LONG_PTR bits) { SetWindowLongPtrA(window, GWLP_USERDATA, Stage(window) | bits); }
void ClearStage(HWND window, LONG_PTR bits) { SetWindowLongPtrA(window, GWLP_USERDATA, Stage(window) & ~bits); }
bool IsCreated(HWND window) { return (Stage(window) & STAGE_CREATED) != 0; }

// Adds the tray icon showing slot `slot`'s icon, with the record's tooltip:
// at start-up, and again when the shell's taskbar has been recreated.
void AddTrayIcon(uint32_t slot) {
    if (!TrayIcon.IsCreated() || slot >= TrayIcon.count) return;
    TrayIcon.data.hIcon = TrayIcon.slots[slot].Icon;
    TrayIcon.current = slot;
    SendTrayNotify(NIM_ADD, &TrayIcon.data);
}

// Explorer broadcasts "TaskbarCreated" at the user's normal level. Started
// "as administrator", the program filters that message from lower levels
// unless its window lets it through, and after Explorer restarts the icon would
// never come back. Only this message: the program's own messages stay closed
// to lower-level programs (GLIMCTL.EXE says so). Looked up rather than
// imported, as systems before Windows 7 lack it; there is nothing to do where
// it is missing or refuses, beyond saying so.
void LetTaskbarCreatedThrough(HWND window) {
    using ChangeWindowMessageFilterExProc = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
    HMODULE user = GetModuleHandleA("USER32.DLL");
    auto allow = reinterpret_cast<ChangeWindowMessageFilterExProc>(
        reinterpret_cast<void*>(user ? GetProcAddress(user, "ChangeWindowMessageFilterEx") : nullptr));
    if (!allow || !allow(window, TaskbarCreatedMessage(), MSGFLT_ALLOW, nullptr))
        DebugPrint("TaskbarCreated stays filtered : %lu\n", static_cast<unsigned long>(GetLastError()));
}

bool CreationSequence(HWND window) {
    LoadSetting();
    if (SETTING.Debug) StoreDebugMode(BringUpDebugClient() ? 1 : 0);

    if (!TrayIcon.Create(AppInstance, window)) {
        MessageBoxA(nullptr, "トレイアイコンの生成に失敗しました。", ERROR_TITLE, ERROR_STYLE);
        return false;
    }
    if (TrayIcon.IsCreated()) {
        TrayIcon.data.uFlags |= NIF_MESSAGE;
        TrayIcon.data.uCallbackMessage = WM_TRAYNOTIFY;
    }
    if (TrayIcon.loaded < TrayIcon.count) TrayIcon.SetIcon(TrayIcon.loaded++, IDI_TRAY_RUNNING);
    if (TrayIcon.loaded < TrayIcon.count) TrayIcon.SetIcon(TrayIcon.loaded++, IDI_TRAY_STOPPED);
    if (TrayIcon.IsCreated()) {
        TrayIcon.data.uFlags |= NIF_TIP;
        std::strncpy(TrayIcon.data.szTip, "Glimmerdeck", sizeof TrayIcon.data.szTip - 1);
    }
    LetTaskbarCreatedThrough(window);
    AddTrayIcon(0);

    // Threads started now would outlive the window: its close is already due.
    if (Stage(window) & STAGE_CLOSE_DEFERRED) return false;
    if (!StartControl()) {
        MessageBoxA(nullptr, "スレッドの生成に失敗しました。", ERROR_TITLE, ERROR_STYLE);
        return false;
    }
    ControlActive = 1;
    UpdateTrayTip(1);
    return true;
}

void DestructionSequence(HWND window) {
    UnwatchSession(window);
    // The threads hear the stop before the gate opens for them: released
    // first, they would write again after the all-off command.
    RequestStopControl();
    ResumeControl();
    StopControl();
    TrayIcon.Destroy();
    if (ReadDebugMode()) GlpClient.Shutdown();
    PostQuitMessage(0);
}

void OnPlayTypeCommand(UINT id) {
    int device = 0;
    int playType = 0;
    if (!DecodePlayTypeCommand(id, &device, &playType)) return;
    // The threads read the method without a lock, so they are stopped while
    // it changes.
    StopControl();
    SETTING.Device[device].PlayType = playType;
    StartControl();
}

LRESULT OnCreate(HWND window) {
    // The program starts once, whoever sends WM_CREATE again.
    if (Stage(window) != 0) return 0;
    MarkStage(window, STAGE_CREATING);
    bool started = CreationSequence(window);
    if (started) WatchSession(window);
    MarkStage(window, STAGE_CREATED);
    if (!started || (Stage(window) & STAGE_CLOSE_DEFERRED)) PostMessageA(window, WM_CLOSE, 0, 0);
    return 0;
}

// Only the destruction the program began takes it down: a WM_DESTROY sent
// by another program, during creation in particular, would leave creation to
// start control threads after the quit message.
LRESULT OnDestroy(HWND window) {
    if (Stage(window) & STAGE_DESTROYING) DestructionSequence(window);
    return 0;
}

LRESULT OnClose(HWND window) {
    // Destroyed in the middle of its creation, the window would leave that
    // creation to start control threads that nobody stops.
    if (!IsCreated(window)) {
        MarkStage(window, STAGE_CLOSE_DEFERRED);
        return 0;
    }
    MarkStage(window, STAGE_DESTROYING);
    DestroyWindow(window);
    return 0;
}

LRESULT OnCommand(HWND window, UINT id) {
    // Nothing the menu offers can run before the program is up.
    if (!IsCreated(window)) return 0;
    switch (id) {
    case IDM_RESUME: ResumeControl(); break;
    case IDM_SUSPEND: SuspendControl(); break;
    case IDM_ALL_ON: SetEveryLed(100); break;
    case IDM_ALL_OFF: SetEveryLed(0); break;
    case IDM_SAVE: SaveSetting(); break;
    case IDM_SETTING: ShowSettingDialog(window); break;
    case IDM_VERSION: ShowVersion(window); break;
    case IDM_EXIT: PostMessageA(window, WM_CLOSE, 0, 0); break;
    default:
        if (IsPlayTypeCommand(id)) OnPlayTypeCommand(id);
        break;
    }
    return 0;
}

LRESULT OnTrayNotify(HWND window, LPARAM mouseMessage) {
    if (!IsCreated(window)) return 0;
    switch (static_cast<UINT>(mouseMessage)) {
    case WM_LBUTTONDBLCLK:
        ShowSettingDialog(window);
        break;
    case WM_RBUTTONDOWN:
        BringToFront(GetDesktopWindow());
        ShowTrayMenu(window);
        // Lets the menu close when the user clicks elsewhere.
        PostMessageA(window, WM_NULL, 0, 0);
        break;
    default:
        break;
    }
    return 0;
}

LRESULT OnExternalSet(WPARAM brightness, LPARAM selector) {
    GpuSelector led = UnpackSelector(selector);
    uint32_t luminance = static_cast<uint32_t>(brightness);
    int result = SetLuminanceOnce(luminance, led.Attribute, led.Display, led.GPU) ? 1 : 0;
    DebugPrint("WM_GLIMDECK DSP=%d GPU=%d ATR=%d LUM=%d : %d\n", static_cast<int>(led.Display),
               static_cast<int>(led.GPU), static_cast<int>(led.Attribute),
               static_cast<int>(luminance), result);
    return result;
}

// Until creation has ended there is no control to pause or resume, and its
// end would undo the change: the sender hears 0.
LRESULT OnControlResume(HWND window) {
    if (!IsCreated(window)) return 0;
    ResumeControl();
    if (SETTING.Balloon) ShowControlBalloon(window, 1);
    return 1;
}

// A pause that a hung driver write keeps from completing is refused.
LRESULT OnControlSuspend(HWND window) {
    if (!IsCreated(window) || !SuspendControl()) return 0;
    if (SETTING.Balloon) ShowControlBalloon(window, 0);
    return 1;
}

// The user is away while the session is locked or the console display is
// off (dimmed counts as on). With AwayOff the LEDs go dark for that time.
void SetAway(HWND window, LONG_PTR reason, bool on) {
    bool wasAway = (Stage(window) & STAGE_AWAY) != 0;
    if (on) MarkStage(window, reason);
    else ClearStage(window, reason);
    bool away = (Stage(window) & STAGE_AWAY) != 0;
    if (!SETTING.AwayOff || away == wasAway) return;
    if (away) HoldControl(HOLD_AWAY);
    else ReleaseControl(HOLD_AWAY, false);
}

// Before a sleep the threads hold without writing; the board forgets its
// LEDs meanwhile, so the first resume event (either kind) writes them again.
LRESULT OnPowerBroadcast(HWND window, WPARAM event, LPARAM data) {
    if (!IsCreated(window)) return TRUE;
    switch (event) {
    case PBT_APMSUSPEND:
        if (Stage(window) & STAGE_ASLEEP) break;
        MarkStage(window, STAGE_ASLEEP);
        HoldControl(HOLD_SLEEP);
        break;
    case PBT_APMRESUMEAUTOMATIC:
    case PBT_APMRESUMESUSPEND:
        if (!(Stage(window) & STAGE_ASLEEP)) break;
        ClearStage(window, STAGE_ASLEEP);
        ReleaseControl(HOLD_SLEEP, true);
        break;
    case PBT_POWERSETTINGCHANGE: {
        int display = ConsoleDisplayState(data);
        if (display >= 0) SetAway(window, STAGE_DISPLAY_OFF, display == 0);
        break;
    }
    default:
        break;
    }
    return TRUE;
}

LRESULT OnSessionChange(HWND window, WPARAM event) {
    if (!IsCreated(window)) return 0;
    if (event == WTS_SESSION_LOCK) SetAway(window, STAGE_LOCKED, true);
    else if (event == WTS_SESSION_UNLOCK) SetAway(window, STAGE_LOCKED, false);
    return 0;
}

// New displays, or a driver that Windows restarted: every thread binds again
// before its next write.
LRESULT OnDisplayChange() {
    RequestRebindAll();
    return 0;
}

LRESULT OnDeviceChange(HWND window, WPARAM event, LPARAM data) {
    if (event == DBT_DEVNODES_CHANGED) RequestRebindAll();
    return DefWindowProcA(window, WM_DEVICECHANGE, event, data);
}

// Loads both tray icons again at the window's present DPI.
void ReloadTrayIcons() {
    if (!TrayIcon.IsCreated() || TrayIcon.loaded < TrayIcon.count) return;
    TrayIcon.SetIcon(0, IDI_TRAY_RUNNING);
    TrayIcon.SetIcon(1, IDI_TRAY_STOPPED);
}

// The display's scaling changed: the icons of the old size would be stretched.
LRESULT OnDpiChanged() {
    ReloadTrayIcons();
    if (TrayIcon.IsCreated() && TrayIcon.current < TrayIcon.count) {
        TrayIcon.data.hIcon = TrayIcon.slots[TrayIcon.current].Icon;
        SendTrayNotify(NIM_MODIFY, &TrayIcon.data);
    }
    return 0;
}

// The shell forgot every icon when its taskbar went away: show ours again,
// as it was. The shell also rebuilds its taskbar when the scaling changes,
// which a hidden window may not hear of otherwise: the icons are made anew
// at the present size.
void OnTaskbarCreated() {
    ReloadTrayIcons();
    AddTrayIcon(TrayIcon.current);
}

}  // namespace

UINT TaskbarCreatedMessage() { return TaskbarCreated.Number(); }

GpuSelector UnpackSelector(LPARAM selector) {
    uint32_t bits = static_cast<uint32_t>(selector);
    return GpuSelector {SelectorDisplay(bits), SelectorGpu(bits), SelectorAttribute(bits)};
}

void ShowSettingDialog(HWND owner) {
    if (SettingDialog) {
        BringToFront(SettingDialog);
        return;
    }
    DialogBoxParamA(AppInstance, MAKEINTRESOURCEA(IDD_SETTING), owner, SettingDialogProc, 0);
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    switch (message) {
    case WM_CREATE: result = OnCreate(window); break;
    case WM_DESTROY: result = OnDestroy(window); break;
    case WM_CLOSE: result = OnClose(window); break;
    case WM_COMMAND: result = OnCommand(window, LOWORD(wParam)); break;
    case WM_TRAYNOTIFY: result = OnTrayNotify(window, lParam); break;
    case WM_GLIMDECK: result = OnExternalSet(wParam, lParam); break;
    case WM_CONTROL_RESUME: result = OnControlResume(window); break;
    case WM_CONTROL_SUSPEND: result = OnControlSuspend(window); break;
    case WM_POWERBROADCAST: result = OnPowerBroadcast(window, wParam, lParam); break;
    case WM_WTSSESSION_CHANGE: result = OnSessionChange(window, wParam); break;
    case WM_DISPLAYCHANGE: result = OnDisplayChange(); break;
    case WM_DEVICECHANGE: result = OnDeviceChange(window, wParam, lParam); break;
    case WM_DPICHANGED: result = OnDpiChanged(); break;
    default: result = DefWindowProcA(window, message, wParam, lParam); break;
    }
    if (message != 0 && message == TaskbarCreatedMessage()) OnTaskbarCreated();
    return result;
}
