#include "app/trayicon.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "base/bringtofront.h"
#include "base/dpi.h"
#include "base/initorder.h"

TRAYICON TrayIcon GLIM_INIT_ORDER(GLIM_INIT_TRAYICON);

namespace {

TrayNotifyProc trayNotify = nullptr;

constexpr const char* kProductName = "Glimmerdeck";
constexpr const char* kStateRunning = "実行中";
constexpr const char* kStateStopped = "停止中";
constexpr const char* kBalloonTitle = "外部制御";
constexpr const char* kBalloonStarted = "制御を開始しました。";
constexpr const char* kBalloonStopped = "制御を停止しました。";
constexpr UINT kBalloonTimeoutMs = 3000;
// The small-icon size of systems that cannot tell one per DPI.
constexpr int kIconSize = 16;

// Copies `text` into a fixed field, cut so that the terminator fits.
template <size_t N>
void CopyField(char (&field)[N], const char* text) {
    size_t length = std::strlen(text);
    if (length > N - 1) length = N - 1;
    std::memcpy(field, text, length);
    field[length] = '\0';
}

}  // namespace

BOOL SendTrayNotify(DWORD message, NOTIFYICONDATAA* data) {
    return trayNotify ? trayNotify(message, data) : Shell_NotifyIconA(message, data);
}

TrayNotifyProc SetTrayNotifyProc(TrayNotifyProc proc) {
    TrayNotifyProc previous = trayNotify;
    trayNotify = proc;
    return previous;
}

TRAYICON::~TRAYICON() { Destroy(); }

int TRAYICON::Create(HINSTANCE module, HWND window) {
    if (slots) return 0;
    IconSlot* made = new (std::nothrow) IconSlot[2]();
    if (!made) return 0;
    slots = made;
    count = 2;
    instance = module;
    std::memset(&data, 0, sizeof data);
    data.cbSize = TRAYICON_RECORD_SIZE;
    data.hWnd = window;
    data.uFlags = NIF_ICON;
    data.uID = MakeId();
    return 1;
}

void TRAYICON::SetIcon(uint32_t slot, UINT iconId) {
    if (!slots || slot >= count) return;
    IconSlot& target = slots[slot];
    if (target.Owned) {
        if (target.Icon) DestroyIcon(target.Icon);
        target.Icon = nullptr;
        target.Owned = 0;
    }
    // The notification area shows small icons at the DPI of the window that
    // owns them; a 16-pixel image would be stretched into a larger slot.
    UINT dpi = WindowDpi(data.hWnd);
    int width = MetricForDpi(SM_CXSMICON, dpi, kIconSize);
    int height = MetricForDpi(SM_CYSMICON, dpi, kIconSize);
    target.Icon = static_cast<HICON>(
        LoadImageA(instance, MAKEINTRESOURCEA(iconId), IMAGE_ICON, width, height, LR_DEFAULTCOLOR));
    target.Owned = 1;
}

void TRAYICON::Destroy() {
    if (!slots) return;
    // The shell's answers change nothing here: a missing notification area
    // simply shows no icon.
    data.hIcon = nullptr;
    SendTrayNotify(NIM_DELETE, &data);
    std::memset(&data, 0, sizeof data);
    for (uint32_t i = 0; i < count; ++i) {
        if (slots[i].Owned && slots[i].Icon) DestroyIcon(slots[i].Icon);
    }
    delete[] slots;
    slots = nullptr;
    count = 0;
    loaded = 0;
}

uint32_t TRAYICON::MakeId() {
    // The shell remembers what the user chose for an icon ("always show",
    // hide) by the program's path and this number, so it must not change from
    // one start to the next. It needs no uniqueness beyond the window: the
    // shell tells icons apart by window and number, and only one instance
    // runs. A GUID of our own would be bound by the shell to the path the
    // program first ran from, and refused after a move or for the other
    // architecture's program.
    return TRAYICON_ID;
}

void UpdateTrayTip(int running) {
    char tip[64];
    std::snprintf(tip, sizeof tip, "%s - %s", kProductName, running ? kStateRunning : kStateStopped);
    if (TrayIcon.IsCreated()) {
        TrayIcon.data.uFlags |= NIF_TIP;
        CopyField(TrayIcon.data.szTip, tip);
    }
    uint32_t index = running ? 0 : 1;
    if (TrayIcon.IsCreated() && index < TrayIcon.count) {
        // The record is complete before the shell sees it: the shell call can
        // dispatch messages sent to the window meanwhile (another state change).
        TrayIcon.data.hIcon = TrayIcon.slots[index].Icon;
        TrayIcon.current = index;
        SendTrayNotify(NIM_MODIFY, &TrayIcon.data);
    }
}

void ShowControlBalloon(HWND window, int started) {
    const char* text = started ? kBalloonStarted : kBalloonStopped;
    if (TrayIcon.IsCreated()) {
        CopyField(TrayIcon.data.szInfoTitle, kBalloonTitle);
        TrayIcon.data.dwInfoFlags = NIIF_INFO;
        CopyField(TrayIcon.data.szInfo, text);
        TrayIcon.data.uTimeout = kBalloonTimeoutMs;
    }
    BringToFront(window);

    // The balloon rides on one modification only.
    UINT saved = TrayIcon.data.uFlags;
    TrayIcon.data.uFlags |= NIF_INFO;
    if (TrayIcon.IsCreated() && TrayIcon.current < TrayIcon.count) {
        TrayIcon.data.hIcon = TrayIcon.slots[TrayIcon.current].Icon;
        SendTrayNotify(NIM_MODIFY, &TrayIcon.data);
    }
    TrayIcon.data.uFlags = saved;
}
