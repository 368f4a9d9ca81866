// The tray icon's pop-up menu. The menu is first described as plain data
// (TrayMenuModel, built from a TrayMenuState) and only then turned into
// menu handles, so that its structure can be checked without a shell.
#pragma once

#include <windows.h>

#include "base/device.h"
#include "res/resource.h"

enum class TrayItemKind { Item, Separator, Submenu };

struct TrayMenuItem {
    TrayItemKind Kind;
    UINT Id;           // command id (Item only)
    const char* Text;  // caption; points at a literal or at the device slot's name
    bool Checked;
    int Submenu;       // index into TrayMenuModel::Menu (Submenu only)
};

constexpr int TRAY_MAX_ITEMS = 12;

struct TrayMenuList {
    bool Used;  // a list that no Submenu item opens is not created
    int Count;
    TrayMenuItem Items[TRAY_MAX_ITEMS];
};

// Menu 0 is the main menu, 1 the method submenu, 2 + d device d's submenu.
constexpr int TRAY_MENU_MAIN = 0;
constexpr int TRAY_MENU_METHOD = 1;
constexpr int TRAY_MENU_DEVICE0 = 2;
constexpr int TRAY_MENU_COUNT = TRAY_MENU_DEVICE0 + MAX_DEVICE;

struct TrayMenuModel {
    TrayMenuList Menu[TRAY_MENU_COUNT];
};

// What the menu shows: the pause state, which dialogs are open, and per
// device whether it is enabled, its method and its display name.
struct TrayMenuState {
    int ControlActive;
    bool SettingOpen;
    bool AboutOpen;
    struct {
        int Enable;
        int PlayType;
        const char* Name;
    } Device[MAX_DEVICE];
};

// The state as the program holds it now (GUI thread).
TrayMenuState CurrentTrayMenuState();
void BuildTrayMenuModel(const TrayMenuState& state, TrayMenuModel* model);

// The pop-up menu for `model`, with its submenus attached; one DestroyMenu on
// the result frees them all. Null when a menu cannot be created.
HMENU CreateTrayMenu(const TrayMenuModel& model);

// Shows the menu at the cursor; the chosen command arrives later as
// WM_COMMAND to `window`.
void ShowTrayMenu(HWND window);

// Method commands: IDM_PLAYTYPE + device * 16 + method.
constexpr UINT PlayTypeCommand(int device, int playType) {
    return IDM_PLAYTYPE + static_cast<UINT>(device) * 16 + static_cast<UINT>(playType);
}
constexpr bool IsPlayTypeCommand(UINT id) { return (id & 0xFF00u) == IDM_PLAYTYPE; }
// True, with the device (0..7) and method (0..6), for a method command that
// names one of the eight devices and a known method (the core-clock method 3
// too, which the menu does not offer). Anything else, including device bits
// of 8 or more and methods 7..15 that only another program could send, is
// false.
bool DecodePlayTypeCommand(UINT id, int* device, int* playType);
