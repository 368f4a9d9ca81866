#include "app/traymenu.h"

#include "app/about.h"
#include "base/bringtofront.h"
#include "engine/control.h"
#include "engine/setting.h"
#include "ui/settingdialog.h"

namespace {

struct MethodItem {
    int PlayType;
    const char* Text;
};

// The core-clock method is chosen in the settings dialog only.
constexpr MethodItem MENU_METHODS[] = {
    {PLAY_FIXED, "固定輝度"},       {PLAY_TEMPERATURE, "コア温度連動"},
    {PLAY_UTILIZATION, "コア稼働率連動"}, {PLAY_FAN, "ファン回転率連動"},
    {PLAY_POWER, "消費電力連動"},    {PLAY_PATTERN, "パターン制御"},
};

void Add(TrayMenuList& list, TrayItemKind kind, UINT id, const char* text, bool checked = false,
         int submenu = -1) {
    if (list.Count >= TRAY_MAX_ITEMS) return;
    list.Items[list.Count++] = TrayMenuItem {kind, id, text, checked, submenu};
}

void AddItem(TrayMenuList& list, UINT id, const char* text, bool checked = false) {
    Add(list, TrayItemKind::Item, id, text, checked);
}

void AddSeparator(TrayMenuList& list) { Add(list, TrayItemKind::Separator, 0, nullptr); }

void AddSubmenu(TrayMenuModel& model, TrayMenuList& list, const char* text, int submenu) {
    Add(list, TrayItemKind::Submenu, 0, text, false, submenu);
    model.Menu[submenu].Used = true;
}

bool AppendItem(HMENU menu, const TrayMenuItem& item, HMENU const (&menus)[TRAY_MENU_COUNT]) {
    switch (item.Kind) {
    case TrayItemKind::Separator:
        return AppendMenuA(menu, MF_SEPARATOR, 0, nullptr) != 0;
    case TrayItemKind::Submenu:
        if (item.Submenu < 0 || item.Submenu >= TRAY_MENU_COUNT || !menus[item.Submenu]) return false;
        return AppendMenuA(menu, MF_STRING | MF_POPUP, reinterpret_cast<UINT_PTR>(menus[item.Submenu]),
                           item.Text ? item.Text : "") != 0;
    case TrayItemKind::Item:
        return AppendMenuA(menu, MF_STRING | (item.Checked ? MF_CHECKED : MF_UNCHECKED), item.Id,
                           item.Text ? item.Text : "") != 0;
    }
    return false;
}

}  // namespace

TrayMenuState CurrentTrayMenuState() {
    TrayMenuState state {};
    state.ControlActive = ControlActive;
    state.SettingOpen = SettingDialog != nullptr;
    state.AboutOpen = AboutOpen != 0;
    for (int d = 0; d < MAX_DEVICE; ++d) {
        state.Device[d].Enable = SETTING.Device[d].Enable;
        state.Device[d].PlayType = SETTING.Device[d].PlayType;
        state.Device[d].Name = DeviceSlot[d].Name;
    }
    return state;
}

void BuildTrayMenuModel(const TrayMenuState& state, TrayMenuModel* model) {
    *model = TrayMenuModel {};
    TrayMenuList& main = model->Menu[TRAY_MENU_MAIN];
    main.Used = true;
    if (state.ControlActive) {
        AddItem(main, IDM_SUSPEND, "制御を停止");
    } else {
        AddItem(main, IDM_RESUME, "制御を開始");
        AddItem(main, IDM_ALL_ON, "全て点灯");
        AddItem(main, IDM_ALL_OFF, "全て消灯");
    }
    AddSeparator(main);
    AddSubmenu(*model, main, "制御方法", TRAY_MENU_METHOD);

    TrayMenuList& methods = model->Menu[TRAY_MENU_METHOD];
    for (int d = 0; d < MAX_DEVICE; ++d) {
        if (!state.Device[d].Enable) continue;
        int index = TRAY_MENU_DEVICE0 + d;
        AddSubmenu(*model, methods, state.Device[d].Name, index);
        for (const MethodItem& method : MENU_METHODS)
            AddItem(model->Menu[index], PlayTypeCommand(d, method.PlayType), method.Text,
                    method.PlayType == state.Device[d].PlayType);
    }

    AddItem(main, IDM_SAVE, "設定を保存");
    AddItem(main, IDM_SETTING, "設定画面...", state.SettingOpen);
    AddSeparator(main);
    AddItem(main, IDM_VERSION, "バージョン情報...", state.AboutOpen);
    AddItem(main, IDM_EXIT, "プログラムの終了");
}

HMENU CreateTrayMenu(const TrayMenuModel& model) {
    HMENU menus[TRAY_MENU_COUNT] = {};
    bool ok = true;
    for (int i = 0; i < TRAY_MENU_COUNT && ok; ++i)
        if (model.Menu[i].Used) ok = (menus[i] = CreatePopupMenu()) != nullptr;
    // Submenus come after the lists that open them, so fill from the last:
    // every handle a Submenu item names exists and is complete when attached.
    for (int i = TRAY_MENU_COUNT - 1; i >= 0 && ok; --i) {
        if (!menus[i]) continue;
        for (int k = 0; k < model.Menu[i].Count && ok; ++k)
            ok = AppendItem(menus[i], model.Menu[i].Items[k], menus);
    }
    if (ok) return menus[TRAY_MENU_MAIN];
    // Attached submenus go with their parent; destroying the main menu first
    // and then whatever is still a menu frees each exactly once.
    if (menus[TRAY_MENU_MAIN]) DestroyMenu(menus[TRAY_MENU_MAIN]);
    for (int i = 1; i < TRAY_MENU_COUNT; ++i)
        if (menus[i] && IsMenu(menus[i])) DestroyMenu(menus[i]);
    return nullptr;
}

void ShowTrayMenu(HWND window) {
    TrayMenuModel model;
    BuildTrayMenuModel(CurrentTrayMenuState(), &model);
    HMENU menu = CreateTrayMenu(model);
    if (!menu) return;
    POINT cursor {};
    GetCursorPos(&cursor);
    // A pop-up menu of a window that is not in the foreground does not close
    // when the user clicks elsewhere.
    BringToFront(window);
    TrackPopupMenu(menu, TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, window, nullptr);
    DestroyMenu(menu);
}

bool DecodePlayTypeCommand(UINT id, int* device, int* playType) {
    if (!IsPlayTypeCommand(id)) return false;
    int d = static_cast<int>((id >> 4) & 0xFu);
    int method = static_cast<int>(id & 0xFu);
    // A device thread ends itself on a method it does not know, and the
    // settings file would keep it.
    if (d >= MAX_DEVICE || method >= PLAY_TYPE_COUNT) return false;
    if (device) *device = d;
    if (playType) *playType = method;
    return true;
}
