#include "ui/settingdialog.h"

#include <commctrl.h>
#include <commdlg.h>

#include <cstdio>
#include <cstring>

#include "base/dbcs.h"
#include "base/dpi.h"
#include "engine/control.h"
#include "engine/setting.h"
#include "gpu/devicesearch.h"
#include "res/resource.h"
#include "ui/preview.h"

DIALOGSETTING WorkingCopy;
char DeviceLabel[MAX_DEVICE][128];
int CurrentDevice;
int CurrentPState;
HWND SettingDialog;

namespace {

// The method list, in PlayType order.
const char* const PLAY_TYPE_CAPTIONS[PLAY_TYPE_COUNT] = {
    "固定輝度", "コア温度連動", "コア稼働率連動", "コアクロック連動",
    "ファン回転率連動", "消費電力連動", "パターン制御",
};
const char* const ATTRIBUTE_CAPTIONS[] = {"ビデオカード", "SLIケーブル"};
// Zone entries of the attribute list: "ゾーン%d" and where the zone sits.
const char* const TEXT_ZONE = "ゾーン%d";
const char* const TEXT_ZONE_AT = "ゾーン%d %s";
struct ZonePlace {
    uint32_t location;
    const char* name;
};
const ZonePlace ZONE_PLACES[] = {
    {NV_GPU_CLIENT_ILLUM_ZONE_LOCATION_GPU_TOP_0, "上面"},
    {NV_GPU_CLIENT_ILLUM_ZONE_LOCATION_GPU_FRONT_0, "前面"},
    {NV_GPU_CLIENT_ILLUM_ZONE_LOCATION_GPU_BACK_0, "背面"},
    {NV_GPU_CLIENT_ILLUM_ZONE_LOCATION_SLI_TOP_0, "SLI上面"},
};

const char* const TEXT_INFO_TITLE = "確認情報";
const char* const TEXT_ERROR_TITLE = "エラー情報";
const char* const TEXT_THREAD_FAILED = "スレッドの生成に失敗しました。";
const char* const TEXT_FOUND = "%d個のデバイスを発見しました。";
const char* const TEXT_NOT_FOUND = "デバイスを発見できませんでした。";

// The colour chooser's sixteen custom colours, kept while the program runs.
COLORREF CustomColors[16];

// ---- Controls -------------------------------------------------------------

void SetSpin(int spinId, int low, int high, uint32_t value) {
    HWND spin = GetDlgItem(SettingDialog, spinId);
    SendMessageA(spin, UDM_SETRANGE32, static_cast<WPARAM>(low), static_cast<LPARAM>(high));
    // The spin holds 16-bit positions.
    SendMessageA(spin, UDM_SETPOS32, 0, static_cast<LPARAM>(value & 0xFFFF));
}

// The spin's position, re-read from its field: text that is not a number in
// range leaves the position as it was.
uint32_t GetSpin(int spinId) {
    BOOL failed = FALSE;
    LRESULT pos = SendMessageA(GetDlgItem(SettingDialog, spinId), UDM_GETPOS32, 0,
                               reinterpret_cast<LPARAM>(&failed));
    return static_cast<uint32_t>(pos);
}

void SetCheck(int id, int32_t value) {
    CheckDlgButton(SettingDialog, id, value ? BST_CHECKED : BST_UNCHECKED);
}

int32_t GetCheck(int id) { return IsDlgButtonChecked(SettingDialog, id) == BST_CHECKED ? 1 : 0; }

// An index with no entry (a settings file edited by hand) leaves the list
// without a selection. It is cleared by asking for -1: given an index past the
// end, some lists (Wine's) keep the selection they had, the previous device's.
void SelectListItem(int id, int32_t index) {
    LRESULT count = SendDlgItemMessageA(SettingDialog, id, CB_GETCOUNT, 0, 0);
    if (index < 0 || index >= count) index = -1;
    SendDlgItemMessageA(SettingDialog, id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int32_t GetListSelection(int id) {
    return static_cast<int32_t>(SendDlgItemMessageA(SettingDialog, id, CB_GETCURSEL, 0, 0));
}

void AddListItem(int id, const char* text) {
    SendDlgItemMessageA(SettingDialog, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
}

void FillDeviceList() {
    SendDlgItemMessageA(SettingDialog, IDC_DEVICE_LIST, CB_RESETCONTENT, 0, 0);
    for (int d = 0; d < MAX_DEVICE; ++d) AddListItem(IDC_DEVICE_LIST, DeviceLabel[d]);
}

// How many zone entries the list needs: the zones some GPU of the machine has,
// and at least up to the highest zone a device of the working copy names, so
// that a zone the driver does not describe now (no driver, a debug device
// without a board) keeps its selection and is not stored as -1.
uint32_t ZoneEntryCount(uint32_t described) {
    uint32_t count = described;
    for (const DEVICE& d : WorkingCopy.Device) {
        uint32_t attribute = static_cast<uint32_t>(d.Attribute);
        if (!IsZoneAttribute(attribute)) continue;
        uint32_t zone = ZoneOfAttribute(attribute);
        if (zone < NV_GPU_CLIENT_ILLUM_ZONE_NUM_ZONES_MAX && zone + 1 > count) count = zone + 1;
    }
    return count;
}

// The logo and the SLI bridge, then one entry per zone index (list index =
// Attribute), named by where that zone sits when the driver says so.
void FillAttributeList() {
    SendDlgItemMessageA(SettingDialog, IDC_ATTRIBUTE_LIST, CB_RESETCONTENT, 0, 0);
    for (const char* caption : ATTRIBUTE_CAPTIONS) AddListItem(IDC_ATTRIBUTE_LIST, caption);
    ZoneDescription zones[NV_GPU_CLIENT_ILLUM_ZONE_NUM_ZONES_MAX];
    uint32_t described = MachineZones(zones);
    uint32_t count = ZoneEntryCount(described);
    for (uint32_t z = 0; z < count; ++z) {
        const char* place = nullptr;
        for (const ZonePlace& p : ZONE_PLACES) {
            if (z < described && p.location == zones[z].location) place = p.name;
        }
        char text[64];
        if (place) std::snprintf(text, sizeof text, TEXT_ZONE_AT, static_cast<int>(z + 1), place);
        else std::snprintf(text, sizeof text, TEXT_ZONE, static_cast<int>(z + 1));
        AddListItem(IDC_ATTRIBUTE_LIST, text);
    }
}

void FillLists() {
    char text[8];
    for (int n = 0; n < 16; ++n) {
        std::snprintf(text, sizeof text, "P%d", n);
        AddListItem(IDC_PSTATE_LIST, text);
    }
    FillDeviceList();
    FillAttributeList();
    for (const char* caption : PLAY_TYPE_CAPTIONS) AddListItem(IDC_PLAYTYPE_LIST, caption);
}

void SelectCurrent() {
    SelectListItem(IDC_PSTATE_LIST, CurrentPState);
    SelectListItem(IDC_DEVICE_LIST, CurrentDevice);
}

// Only a zone with a colour of its own takes one.
void EnableColorButton(const DEVICE& record) {
    EnableWindow(GetDlgItem(SettingDialog, IDC_COLOR), DeviceTakesColor(record) ? TRUE : FALSE);
}

void RelabelCurrentDevice() {
    MakeDeviceLabel(DeviceLabel[CurrentDevice], WorkingCopy.Device[CurrentDevice], ReadDebugMode());
}

// ---- Working copy ---------------------------------------------------------

// The fields the settings record and the working copy share, but Debug.
template <class From, class To>
void CopyCommonFields(const From& from, To& to) {
    to.Timer = from.Timer;
    to.Resolution = from.Resolution;
    to.Balloon = from.Balloon;
    to.Base = from.Base;
    to.Boost = from.Boost;
    std::memcpy(to.PState, from.PState, sizeof to.PState);
    std::memcpy(to.Device, from.Device, sizeof to.Device);
}

void CopyFromSetting() {
    WorkingCopy.Debug = ReadDebugMode();
    CopyCommonFields(SETTING, WorkingCopy);
}

// Only while no control thread runs.
void CopyToSetting() {
    StoreDebugMode(WorkingCopy.Debug);
    CopyCommonFields(WorkingCopy, SETTING);
}

// Puts the working copy in force. The threads are asked to stop before a
// pause is lifted, so that none of them writes again meanwhile.
void ApplyWorkingCopy() {
    RequestStopControl();
    ResumeControl();
    StopControl();
    CopyToSetting();
    if (!StartControl()) {
        MessageBoxA(nullptr, TEXT_THREAD_FAILED, TEXT_ERROR_TITLE,
                    MB_ICONERROR | MB_TOPMOST | MB_SETFOREGROUND);
    }
}

void CloseDialog(HWND dialog, INT_PTR result) {
    StopPreview();
    PreviewFont.Delete();
    SettingDialog = nullptr;
    EndDialog(dialog, result);
}

// ---- Message handlers -----------------------------------------------------

void CentreOnScreen(HWND dialog) {
    RECT rc;
    if (!GetWindowRect(dialog, &rc)) return;
    int width = rc.right - rc.left;
    int height = rc.bottom - rc.top;
    int left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    int top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    MoveWindow(dialog, left, top, width, height, TRUE);
}

// The icons of the sizes the dialog's DPI asks for.
void SetDialogIcons(HWND dialog, UINT dpi) {
    HINSTANCE module = GetModuleHandleA(nullptr);
    HANDLE big = LoadImageA(module, MAKEINTRESOURCEA(IDI_PROGRAM), IMAGE_ICON,
                            MetricForDpi(SM_CXICON, dpi, GetSystemMetrics(SM_CXICON)),
                            MetricForDpi(SM_CYICON, dpi, GetSystemMetrics(SM_CYICON)), LR_SHARED);
    HANDLE small = LoadImageA(module, MAKEINTRESOURCEA(IDI_PROGRAM), IMAGE_ICON,
                              MetricForDpi(SM_CXSMICON, dpi, GetSystemMetrics(SM_CXSMICON)),
                              MetricForDpi(SM_CYSMICON, dpi, GetSystemMetrics(SM_CYSMICON)), LR_SHARED);
    if (big) SendMessageA(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
    if (small) SendMessageA(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
}

INT_PTR OnInitDialog(HWND dialog) {
    SettingDialog = dialog;
    const UINT dpi = WindowDpi(dialog);
    SetDialogIcons(dialog, dpi);
    SetWindowTextA(dialog, "設定");
    CentreOnScreen(dialog);

    CurrentDevice = 0;
    CurrentPState = 0;
    CopyFromSetting();
    for (int d = 0; d < MAX_DEVICE; ++d) {
        std::memcpy(DeviceLabel[d], DeviceSlot[d].Name, sizeof DeviceLabel[d]);
        DeviceLabel[d][sizeof DeviceLabel[d] - 1] = '\0';
    }

    std::memset(&PreviewSlot, 0, sizeof PreviewSlot);
    MakePreviewFont(dpi);

    SendDlgItemMessageA(dialog, IDC_PLAYFILE, EM_LIMITTEXT, sizeof WorkingCopy.Device[0].PlayFile - 1, 0);
    FillLists();
    HWND preview = GetDlgItem(dialog, IDC_PREVIEW);
    SetPreviousPreviewProc(reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(preview, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(PreviewWindowProc))));

    SelectCurrent();
    LoadDialogControls(CurrentDevice, CurrentPState);
    StartPreview(CurrentDevice);
    ShowWindow(dialog, SW_SHOW);
    return TRUE;
}

void OnSelectionChange(int listId, HWND list) {
    if (listId != IDC_PSTATE_LIST && listId != IDC_DEVICE_LIST) return;
    int index = static_cast<int>(SendMessageA(list, CB_GETCURSEL, 0, 0));
    StopPreview();
    StoreDialogControls(CurrentDevice, CurrentPState);
    RelabelCurrentDevice();
    if (listId == IDC_PSTATE_LIST && index >= 0 && index < 16) CurrentPState = index;
    if (listId == IDC_DEVICE_LIST && index >= 0 && index < MAX_DEVICE) CurrentDevice = index;
    LoadDialogControls(CurrentDevice, CurrentPState);
    StartPreview(CurrentDevice);
}

// The colour button follows the zone picked in the attribute list at once, as
// the user is about to choose its colour; the record itself changes only when
// the values are committed.
void OnAttributeChange() {
    DEVICE shown = WorkingCopy.Device[CurrentDevice];
    shown.Display = GetSpin(IDC_DISPLAY_SPIN);
    shown.GPU = GetSpin(IDC_GPU_SPIN);
    shown.Attribute = GetListSelection(IDC_ATTRIBUTE_LIST);
    EnableColorButton(shown);
}

void OnPatternBrowse(HWND dialog) {
    DEVICE& device = WorkingCopy.Device[CurrentDevice];
    char folder[1024];
    char file[1024];
    SplitPlayFile(device.PlayFile, folder, file);

    OPENFILENAMEA ofn;
    std::memset(&ofn, 0, sizeof ofn);
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = dialog;
    ofn.lpstrFilter = "パターンファイル\0*.GLP\0全てのファイル\0*.*\0";
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file;
    ofn.nMaxFile = sizeof file;
    ofn.lpstrInitialDir = folder[0] ? folder : nullptr;
    ofn.lpstrTitle = "パターンファイルの選択";
    ofn.Flags = OFN_HIDEREADONLY;
    // The chooser moves the process's current directory to the folder the
    // user opened, whatever the flags say, and relative pattern files (the
    // default "GLIMDECK.GLP" among them) are read relative to it.
    char current[MAX_PATH];
    DWORD kept = GetCurrentDirectoryA(sizeof current, current);
    BOOL chosen = GetOpenFileNameA(&ofn);
    if (kept > 0 && kept < sizeof current) SetCurrentDirectoryA(current);
    if (!chosen) return;

    // The preview reads this record: it is stopped while the record changes.
    StopPreview();
    std::memcpy(device.PlayFile, file, sizeof device.PlayFile);
    device.PlayFile[sizeof device.PlayFile - 1] = '\0';
    SetDlgItemTextA(dialog, IDC_PLAYFILE, device.PlayFile);
    StartPreview(CurrentDevice);
}

// The colour of the current device's zone, in the working copy.
void OnColorChoose(HWND dialog) {
    DEVICE& device = WorkingCopy.Device[CurrentDevice];
    CHOOSECOLORA cc;
    std::memset(&cc, 0, sizeof cc);
    cc.lStructSize = sizeof cc;
    cc.hwndOwner = dialog;
    cc.lpCustColors = CustomColors;
    cc.rgbResult = DeviceHasColor(device.Color) ? DeviceColorRgb(device.Color) : RGB(255, 255, 255);
    cc.Flags = CC_RGBINIT | CC_FULLOPEN;
    if (!ChooseColorA(&cc)) return;

    // The preview reads this record: it is stopped while the record changes.
    StopPreview();
    device.Color = MakeDeviceColor(cc.rgbResult);
    StartPreview(CurrentDevice);
}

void OnSearch(HWND dialog) {
    StopPreview();
    int found = SearchDevice(WorkingCopy.Device, DeviceLabel, ReadDebugMode());
    char text[128];
    if (found >= 1) {
        std::snprintf(text, sizeof text, TEXT_FOUND, found);
    } else {
        std::snprintf(text, sizeof text, "%s", TEXT_NOT_FOUND);
    }
    MessageBoxA(dialog, text, TEXT_INFO_TITLE, MB_ICONINFORMATION | MB_TOPMOST | MB_SETFOREGROUND);

    CurrentDevice = 0;
    FillDeviceList();
    // The search can name zones the list did not have when the dialog opened.
    FillAttributeList();
    SelectCurrent();
    LoadDialogControls(CurrentDevice, CurrentPState);
    StartPreview(CurrentDevice);
}

void OnOk(HWND dialog) {
    StopPreview();
    StoreDialogControls(CurrentDevice, CurrentPState);
    ApplyWorkingCopy();
    SaveSetting();
    CloseDialog(dialog, TRUE);
}

void OnApply() {
    StopPreview();
    StoreDialogControls(CurrentDevice, CurrentPState);
    RelabelCurrentDevice();
    ApplyWorkingCopy();
    FillDeviceList();
    SelectListItem(IDC_DEVICE_LIST, CurrentDevice);
    StartPreview(CurrentDevice);
}

void OnButton(HWND dialog, HWND sender) {
    if (sender == nullptr) return;
    if (sender == GetDlgItem(dialog, IDOK)) {
        OnOk(dialog);
    } else if (sender == GetDlgItem(dialog, IDCANCEL)) {
        CloseDialog(dialog, FALSE);
    } else if (sender == GetDlgItem(dialog, IDC_APPLY)) {
        OnApply();
    } else if (sender == GetDlgItem(dialog, IDC_SEARCH)) {
        OnSearch(dialog);
    } else if (sender == GetDlgItem(dialog, IDC_PATTERN_BROWSE)) {
        OnPatternBrowse(dialog);
    } else if (sender == GetDlgItem(dialog, IDC_COLOR)) {
        OnColorChoose(dialog);
    }
}

INT_PTR OnCommand(HWND dialog, WPARAM wParam, LPARAM lParam) {
    HWND sender = reinterpret_cast<HWND>(lParam);
    switch (HIWORD(wParam)) {
    case BN_CLICKED:
        OnButton(dialog, sender);
        break;
    case CBN_SELCHANGE:
        if (LOWORD(wParam) == IDC_ATTRIBUTE_LIST) OnAttributeChange();
        else OnSelectionChange(LOWORD(wParam), sender);
        break;
    default:
        break;
    }
    return TRUE;
}

// Moved to a display of another scaling. The platform resizes the dialog and
// its controls, whose font it made from the template; the preview's font and
// the icons are the dialog's own to remake. (wParam: the new DPI, vertical in
// its high word.)
INT_PTR OnDpiChanged(HWND dialog, WPARAM wParam) {
    UINT dpi = HIWORD(wParam);
    if (dpi == 0 || SettingDialog != dialog) return FALSE;
    SetDialogIcons(dialog, dpi);
    MakePreviewFont(dpi);
    InvalidateRect(GetDlgItem(dialog, IDC_PREVIEW), nullptr, FALSE);
    // Left to the platform as well, which does the resizing.
    return FALSE;
}

// The dialog can also go without "設定" or "中止", when its owner is destroyed
// (the program ends while it is open): the preview thread must not outlive it.
INT_PTR OnDestroy(HWND dialog) {
    if (SettingDialog == dialog) {
        StopPreview();
        PreviewFont.Delete();
        SettingDialog = nullptr;
    }
    return FALSE;
}

}  // namespace

void LoadDialogControls(int device, int pstate) {
    SetSpin(IDC_TIMER_SPIN, 1000, 10000, WorkingCopy.Timer);
    SetSpin(IDC_RESOLUTION_SPIN, 10, 500, WorkingCopy.Resolution);
    SetCheck(IDC_BALLOON, WorkingCopy.Balloon);
    SetSpin(IDC_BASE_SPIN, 0, 100, WorkingCopy.Base);
    SetSpin(IDC_BOOST_SPIN, 0, 100, WorkingCopy.Boost);
    SetSpin(IDC_PSTATE_SPIN, 0, 100, WorkingCopy.PState[pstate]);

    const DEVICE& d = WorkingCopy.Device[device];
    SetCheck(IDC_ENABLE, d.Enable);
    SetSpin(IDC_DISPLAY_SPIN, 0, 8, d.Display);
    SetSpin(IDC_GPU_SPIN, 0, 8, d.GPU);
    SelectListItem(IDC_ATTRIBUTE_LIST, d.Attribute);
    SelectListItem(IDC_PLAYTYPE_LIST, d.PlayType);
    SetSpin(IDC_LUMINANCE_SPIN, 0, 100, d.Luminance);
    char file[sizeof d.PlayFile];
    std::memcpy(file, d.PlayFile, sizeof file);
    file[sizeof file - 1] = '\0';
    SetDlgItemTextA(SettingDialog, IDC_PLAYFILE, file);
    EnableColorButton(d);
}

void StoreDialogControls(int device, int pstate) {
    WorkingCopy.Timer = GetSpin(IDC_TIMER_SPIN);
    WorkingCopy.Resolution = GetSpin(IDC_RESOLUTION_SPIN);
    WorkingCopy.Balloon = GetCheck(IDC_BALLOON);
    WorkingCopy.Base = GetSpin(IDC_BASE_SPIN);
    WorkingCopy.Boost = GetSpin(IDC_BOOST_SPIN);
    WorkingCopy.PState[pstate] = GetSpin(IDC_PSTATE_SPIN);

    DEVICE& d = WorkingCopy.Device[device];
    d.Enable = GetCheck(IDC_ENABLE);
    d.Display = GetSpin(IDC_DISPLAY_SPIN);
    d.GPU = GetSpin(IDC_GPU_SPIN);
    d.Attribute = GetListSelection(IDC_ATTRIBUTE_LIST);
    d.PlayType = GetListSelection(IDC_PLAYTYPE_LIST);
    d.Luminance = GetSpin(IDC_LUMINANCE_SPIN);
    GetDlgItemTextA(SettingDialog, IDC_PLAYFILE, d.PlayFile, sizeof d.PlayFile);
}

void SplitPlayFile(const char* path, char (&folder)[1024], char (&name)[1024]) {
    folder[0] = '\0';
    name[0] = '\0';
    if (path == nullptr) return;
    size_t length = strnlen(path, sizeof folder - 1);
    const char* slash = FindLastBackslash(path, length);
    if (slash == nullptr) {
        std::memcpy(name, path, length);
        name[length] = '\0';
        return;
    }
    size_t folderLength = static_cast<size_t>(slash - path);
    std::memcpy(folder, path, folderLength);
    folder[folderLength] = '\0';
    // "C:" alone names the drive's current folder, not its root.
    if (folderLength == 2 && folder[1] == ':') {
        folder[2] = '\\';
        folder[3] = '\0';
    }
    size_t nameLength = length - folderLength - 1;
    std::memcpy(name, slash + 1, nameLength);
    name[nameLength] = '\0';
}

INT_PTR CALLBACK SettingDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog(dialog);
    case WM_COMMAND:
        return OnCommand(dialog, wParam, lParam);
    case WM_DESTROY:
        return OnDestroy(dialog);
    case WM_DPICHANGED:
        return OnDpiChanged(dialog, wParam);
    default:
        return FALSE;
    }
}
