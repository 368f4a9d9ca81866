// The tray menu's structure, read back from the real menu handles.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/about.h"
#include "app/traymenu.h"
#include "engine/control.h"
#include "engine/setting.h"
#include "ui/settingdialog.h"

namespace {

struct Entry {
    std::string text;  // "-" for a separator
    UINT id;           // 0 for separators and submenus
    bool checked;
    HMENU submenu;
};

std::vector<Entry> Read(HMENU menu) {
    std::vector<Entry> out;
    int n = GetMenuItemCount(menu);
    for (int i = 0; i < n; ++i) {
        char text[256] = {};
        MENUITEMINFOA info {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STATE | MIIM_SUBMENU | MIIM_STRING;
        info.dwTypeData = text;
        info.cch = sizeof text;
        EXPECT_TRUE(GetMenuItemInfoA(menu, i, TRUE, &info));
        Entry e;
        e.text = (info.fType & MFT_SEPARATOR) ? "-" : text;
        e.submenu = info.hSubMenu;
        e.id = info.hSubMenu ? 0 : info.wID;
        e.checked = (info.fState & MFS_CHECKED) != 0;
        if (e.text != "-") {
            EXPECT_EQ(info.fState & (MFS_GRAYED | MFS_DISABLED), 0u) << "nothing is greyed: " << e.text;
        }
        out.push_back(e);
    }
    return out;
}

TrayMenuState MakeState(int controlActive) {
    TrayMenuState state {};
    state.ControlActive = controlActive;
    for (int d = 0; d < MAX_DEVICE; ++d) state.Device[d].Name = "";
    return state;
}

// The menu as the program would show it for `state`; destroyed afterwards.
class BuiltMenu {
public:
    explicit BuiltMenu(const TrayMenuState& state) {
        TrayMenuModel model;
        BuildTrayMenuModel(state, &model);
        menu_ = CreateTrayMenu(model);
    }
    ~BuiltMenu() {
        if (menu_) DestroyMenu(menu_);
    }
    HMENU Handle() const { return menu_; }

private:
    HMENU menu_;
};

const char* const METHODS[] = {"固定輝度", "コア温度連動", "コア稼働率連動",
                               "ファン回転率連動", "消費電力連動", "パターン制御"};
const int METHOD_TYPES[] = {0, 1, 2, 4, 5, 6};

TEST(TrayMenu, WhileRunningBeginsWithStopAlone) {
    BuiltMenu built(MakeState(1));
    ASSERT_NE(built.Handle(), nullptr);
    std::vector<Entry> items = Read(built.Handle());
    ASSERT_EQ(items.size(), 8u);
    EXPECT_EQ(items[0].text, "制御を停止");
    EXPECT_EQ(items[0].id, static_cast<UINT>(IDM_SUSPEND));
    EXPECT_EQ(items[1].text, "-");
    EXPECT_EQ(items[2].text, "制御方法");
    ASSERT_NE(items[2].submenu, nullptr);
    EXPECT_EQ(GetMenuItemCount(items[2].submenu), 0) << "no enabled device: empty submenu";
    EXPECT_EQ(items[3].text, "設定を保存");
    EXPECT_EQ(items[3].id, static_cast<UINT>(IDM_SAVE));
    EXPECT_EQ(items[4].text, "設定画面...");
    EXPECT_EQ(items[4].id, static_cast<UINT>(IDM_SETTING));
    EXPECT_EQ(items[5].text, "-");
    EXPECT_EQ(items[6].text, "バージョン情報...");
    EXPECT_EQ(items[6].id, static_cast<UINT>(IDM_VERSION));
    EXPECT_EQ(items[7].text, "プログラムの終了");
    EXPECT_EQ(items[7].id, static_cast<UINT>(IDM_EXIT));
    for (const Entry& e : items) EXPECT_FALSE(e.checked) << e.text;
}

TEST(TrayMenu, WhilePausedOffersStartAllOnAndAllOff) {
    BuiltMenu built(MakeState(0));
    std::vector<Entry> items = Read(built.Handle());
    ASSERT_EQ(items.size(), 10u);
    EXPECT_EQ(items[0].text, "制御を開始");
    EXPECT_EQ(items[0].id, static_cast<UINT>(IDM_RESUME));
    EXPECT_EQ(items[1].text, "全て点灯");
    EXPECT_EQ(items[1].id, static_cast<UINT>(IDM_ALL_ON));
    EXPECT_EQ(items[2].text, "全て消灯");
    EXPECT_EQ(items[2].id, static_cast<UINT>(IDM_ALL_OFF));
    EXPECT_EQ(items[3].text, "-");
    EXPECT_EQ(items[4].text, "制御方法");
    EXPECT_EQ(items[9].text, "プログラムの終了");
}

TEST(TrayMenu, EnabledDevicesGetMethodSubmenusWithTheirCheckMark) {
    TrayMenuState state = MakeState(1);
    state.Device[1] = {1, 4, "GeForce Sim (0,1,0)"};
    state.Device[3] = {0, 1, "disabled (0,3,0)"};
    state.Device[6] = {1, 3, "clock device (1,0,1)"};  // core clock: no item
    BuiltMenu built(state);
    std::vector<Entry> items = Read(built.Handle());
    ASSERT_EQ(items.size(), 8u);
    std::vector<Entry> devices = Read(items[2].submenu);
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].text, "GeForce Sim (0,1,0)");
    EXPECT_EQ(devices[1].text, "clock device (1,0,1)");

    const int indexes[] = {1, 6};
    for (int k = 0; k < 2; ++k) {
        int d = indexes[k];
        ASSERT_NE(devices[k].submenu, nullptr);
        std::vector<Entry> methods = Read(devices[k].submenu);
        ASSERT_EQ(methods.size(), 6u);
        int checks = 0;
        for (int i = 0; i < 6; ++i) {
            EXPECT_EQ(methods[i].text, METHODS[i]);
            EXPECT_EQ(methods[i].id, 0x8100u + d * 16 + METHOD_TYPES[i]);
            EXPECT_EQ(methods[i].checked, METHOD_TYPES[i] == state.Device[d].PlayType) << methods[i].text;
            checks += methods[i].checked;
        }
        EXPECT_EQ(checks, d == 1 ? 1 : 0);
    }
}

TEST(TrayMenu, SettingAndAboutItemsAreCheckedWhileTheirWindowsShow) {
    TrayMenuState state = MakeState(0);
    state.SettingOpen = true;
    state.AboutOpen = true;
    BuiltMenu built(state);
    std::vector<Entry> items = Read(built.Handle());
    ASSERT_EQ(items.size(), 10u);
    EXPECT_TRUE(items[6].checked);   // 設定画面...
    EXPECT_TRUE(items[8].checked);   // バージョン情報...
    EXPECT_FALSE(items[5].checked);  // 設定を保存
}

TEST(TrayMenu, ReadsTheProgramStateItShows) {
    int32_t savedActive = ControlActive;
    HWND savedDialog = SettingDialog;
    int savedAbout = AboutOpen;
    DEVICE savedDevice = SETTING.Device[2];
    char savedName[sizeof DeviceSlot[2].Name];
    memcpy(savedName, DeviceSlot[2].Name, sizeof savedName);

    ControlActive = 0;
    SettingDialog = GetDesktopWindow();
    AboutOpen = 1;
    SETTING.Device[2].Enable = 1;
    SETTING.Device[2].PlayType = PLAY_PATTERN;
    strcpy(DeviceSlot[2].Name, "named by its thread (0,2,0)");
    TrayMenuState state = CurrentTrayMenuState();
    std::string name = state.Device[2].Name ? state.Device[2].Name : "";

    ControlActive = savedActive;
    SettingDialog = savedDialog;
    AboutOpen = savedAbout;
    SETTING.Device[2] = savedDevice;
    memcpy(DeviceSlot[2].Name, savedName, sizeof savedName);

    EXPECT_EQ(state.ControlActive, 0);
    EXPECT_TRUE(state.SettingOpen);
    EXPECT_TRUE(state.AboutOpen);
    EXPECT_EQ(state.Device[2].Enable, 1);
    EXPECT_EQ(state.Device[2].PlayType, PLAY_PATTERN);
    EXPECT_EQ(name, "named by its thread (0,2,0)");
}

}  // namespace
