// TRAYICON: the program's presence in the notification area: the two tray
// icons (running, stopped) and the record handed to Shell_NotifyIconA.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <cstdint>

struct IconSlot {
    HICON Icon;
    int32_t Owned;  // 1: loaded by SetIcon and destroyed with the slot
};

// The record size the program hands to the shell: up to and including the
// item GUID (NOTIFYICONDATAA_V3_SIZE: 504 bytes on x86, 520 on x64).
constexpr DWORD TRAYICON_RECORD_SIZE = NOTIFYICONDATAA_V3_SIZE;

// The icon's identifier, the same at every start.
constexpr uint32_t TRAYICON_ID = 1;

class TRAYICON {
public:
    TRAYICON() = default;
    virtual ~TRAYICON();
    TRAYICON(const TRAYICON&) = delete;
    TRAYICON& operator=(const TRAYICON&) = delete;

    // 1 on success; 0 when already created or the slots cannot be allocated.
    int Create(HINSTANCE instance, HWND window);
    // Loads icon `iconId` into `slot` at the small-icon size of the DPI of
    // the record's window (16 x 16 where the system cannot tell).
    void SetIcon(uint32_t slot, UINT iconId);
    void Destroy();
    static uint32_t MakeId();  // TRAYICON_ID

    bool IsCreated() const { return slots != nullptr; }

    uint32_t count = 0;
    IconSlot* slots = nullptr;
    HINSTANCE instance = nullptr;
    NOTIFYICONDATAA data {};
    uint32_t current = 0;
    uint32_t loaded = 0;
};

// The one call that reaches the shell. Tests put a recorder in its place;
// null restores Shell_NotifyIconA. Returns the previous one.
typedef BOOL (*TrayNotifyProc)(DWORD message, NOTIFYICONDATAA* data);
TrayNotifyProc SetTrayNotifyProc(TrayNotifyProc proc);
// Hands `data` to the shell through that call (the main window adds the icon
// this way, so tests see every message). Returns the shell's answer.
BOOL SendTrayNotify(DWORD message, NOTIFYICONDATAA* data);

// The program's one tray object (built first among the globals).
extern TRAYICON TrayIcon;

// Tooltip "Glimmerdeck - 実行中" or "- 停止中", and the matching icon.
void UpdateTrayTip(int running);
// The "外部制御" balloon for a start or stop requested by another program.
void ShowControlBalloon(HWND window, int started);
