#include "ui/preview.h"

#include <commdlg.h>

#include <cstring>

#include "base/dpi.h"
#include "base/initorder.h"
#include "engine/pattern.h"
#include "engine/setting.h"
#include "engine/waitgate.h"
#include "gpu/devicesearch.h"
#include "res/resource.h"
#include "ui/settingdialog.h"

WINFONT PreviewFont GLIM_INIT_ORDER(GLIM_INIT_PREVIEWFONT);
volatile COLORREF PreviewColor = PREVIEW_UNLIT;
DEVICESLOT PreviewSlot;

namespace {

WNDPROC PreviousPreviewProc;
PreviewColorObserver ColorObserver;
// The colour the preview shows its device in: the record's, where the LED
// takes one (a logo or a zone of fixed colour shows green whatever the file
// says). Set before the thread starts.
uint32_t ShownColor;

// ---- The preview thread ---------------------------------------------------

// The preview waits as a device thread does (whole slices of `slice` when
// `total` is longer than one, the remainder not slept), measured on the
// monotonic clock, and a stop request (the slot's Event, set once Run is
// cleared) ends any wait at once. It never waits at the engine's pause gate:
// the strip keeps moving while control is paused.
void PreviewSleep(uint32_t total, uint32_t slice) {
    if (slice == 0) slice = 1;
    uint32_t span = total <= slice ? total : total / slice * slice;
    int64_t due = MonotonicNow() + MillisecondsToTicks(span);
    for (;;) {
        if (PreviewSlot.Run == 0) return;
        int64_t left = due - MonotonicNow();
        if (left <= 0) return;
        DWORD ms = TicksToWaitMilliseconds(left, TicksPerSecond());
        if (WaitForSingleObject(PreviewSlot.Event, ms) == WAIT_FAILED) Sleep(ms);
    }
}

void ShowColor(HWND window, COLORREF color) {
    PreviewColor = color;
    InvalidateRect(window, nullptr, FALSE);
    PreviewColorObserver observer = ColorObserver;
    if (observer) observer(color);
}

// One pass over the pattern; true when any step held for some time. Unlike a
// device's pass, which must leave its LED at the last step, a stopped preview
// has nothing to finish: it leaves at the next step, so that a long run of
// short steps cannot hold up the dialog.
bool PlayPreviewPass(HWND window) {
    bool waited = false;
    for (int n = 0; n < MAX_PATTERNSTEP && PreviewSlot.Run; ++n) {
        const PATTERNSTEP& step = PreviewSlot.Pattern[n];
        if (step.Luminance == 0 && step.Duration == 0) break;
        ShowColor(window, PreviewDeviceColor(step.Luminance, ShownColor));
        PreviewSleep(step.Duration, SETTING.Resolution);
        if (step.Duration != 0) waited = true;
    }
    return waited;
}

DWORD WINAPI PreviewThread(LPVOID argument) {
    const int device = static_cast<int>(reinterpret_cast<INT_PTR>(argument));
    HWND window = GetDlgItem(SettingDialog, IDC_PREVIEW);
    while (PreviewSlot.Run) {
        const DEVICE& record = WorkingCopy.Device[device];
        if (record.PlayType == PLAY_FIXED) {
            ShowColor(window, PreviewDeviceColor(static_cast<int32_t>(record.Luminance), ShownColor));
            break;
        }
        if (record.PlayType != PLAY_PATTERN) {
            // The brightness would follow live GPU readings.
            ShowColor(window, PREVIEW_UNLIT);
            break;
        }
        bool waited = PlayPreviewPass(window);
        ShowColor(window, PREVIEW_UNLIT);
        // A pattern that holds for no time (an empty or unreadable file, or
        // only 0 ms steps) would otherwise spin a core repainting.
        if (!waited && PreviewSlot.Run) {
            PreviewSleep(SETTING.Resolution, SETTING.Resolution);
        }
    }
    InvalidateRect(window, nullptr, FALSE);
    PreviewSlot.Run = 0;
    return 0;
}

// ---- The preview window ---------------------------------------------------

// `font` with its size taken from one DPI to another. The settings file holds
// the font at BASE_DPI, as the program always wrote it, so that one file
// serves any scaling.
LOGFONTA FontAtDpi(const LOGFONTA& font, UINT from, UINT to) {
    LOGFONTA scaled = font;
    if (from == 0 || from == to) return scaled;
    scaled.lfHeight = MulDiv(font.lfHeight, static_cast<int>(to), static_cast<int>(from));
    scaled.lfWidth = MulDiv(font.lfWidth, static_cast<int>(to), static_cast<int>(from));
    return scaled;
}

LRESULT OnPaint(HWND window) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    if (dc == nullptr) return 0;
    RECT client;
    GetClientRect(window, &client);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, PreviewColor);
    HGDIOBJ oldFont = PreviewFont.Handle() ? SelectObject(dc, PreviewFont.Handle()) : nullptr;
    FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    int length = static_cast<int>(strnlen(SETTING.Logo, sizeof SETTING.Logo));
    DrawTextA(dc, SETTING.Logo, length, &client,
              DT_SINGLELINE | DT_CENTER | DT_VCENTER | DT_NOCLIP | DT_NOPREFIX);
    if (oldFont) SelectObject(dc, oldFont);
    EndPaint(window, &ps);
    return 0;
}

LRESULT OnDoubleClick(HWND window) {
    // The font dialog speaks in the pixels of the window's DPI.
    const UINT dpi = WindowDpi(window);
    LOGFONTA chosen = FontAtDpi(SETTING.Font, BASE_DPI, dpi);
    CHOOSEFONTA choose;
    std::memset(&choose, 0, sizeof choose);
    choose.lStructSize = sizeof choose;
    choose.hwndOwner = window;
    choose.lpLogFont = &chosen;
    choose.Flags = CF_SCREENFONTS | CF_INITTOLOGFONTSTRUCT | CF_NOVERTFONTS;
    if (ChooseFontA(&choose)) SETTING.Font = FontAtDpi(chosen, dpi, BASE_DPI);

    StopPreview();
    PreviewFont.Delete();
    MakePreviewFont(dpi);
    StartPreview(CurrentDevice);
    return 0;
}

}  // namespace

WINFONT::WINFONT() : handle_(nullptr) {
    std::memset(&font_, 0, sizeof font_);
    font_.lfWeight = FW_NORMAL;
    std::strcpy(font_.lfFaceName, "System");
}

WINFONT::~WINFONT() { Delete(); }

bool WINFONT::Create() {
    Delete();
    handle_ = CreateFontIndirectA(&font_);
    return handle_ != nullptr;
}

void WINFONT::Delete() {
    if (handle_) DeleteObject(handle_);
    handle_ = nullptr;
}

bool MakePreviewFont(UINT dpi) {
    PreviewFont.Font() = FontAtDpi(SETTING.Font, BASE_DPI, dpi);
    return PreviewFont.Create();
}

COLORREF PreviewLitColor(int32_t luminance) {
    const unsigned low = static_cast<uint32_t>(luminance) & 0xFF;
    return RGB(31, (2 * low + 31) & 0xFF, 31);
}

COLORREF PreviewDeviceColor(int32_t luminance, uint32_t color) {
    if (!DeviceHasColor(color)) return PreviewLitColor(luminance);
    // A zone shows at most 100 %; a negative value, taken unsigned, too.
    uint32_t percent = static_cast<uint32_t>(luminance) > 100 ? 100 : static_cast<uint32_t>(luminance);
    uint32_t rgb = DeviceColorRgb(color);
    auto component = [percent](uint32_t c) { return static_cast<BYTE>(31 + c * percent * 200 / (255 * 100)); };
    return RGB(component(rgb & 0xFF), component((rgb >> 8) & 0xFF), component((rgb >> 16) & 0xFF));
}

int StartPreview(int device) {
    if (PreviewSlot.Thread) return 1;
    // The dialog can go during a nested modal loop (the font dialog, a message
    // box) when the program ends: a preview then has no window to paint.
    if (SettingDialog == nullptr) return 0;
    if (device < 0 || device >= MAX_DEVICE) return 0;

    char path[sizeof WorkingCopy.Device[0].PlayFile];
    std::memcpy(path, WorkingCopy.Device[device].PlayFile, sizeof path);
    path[sizeof path - 1] = '\0';
    // The reader writes no end mark of its own.
    std::memset(PreviewSlot.Pattern, 0, sizeof PreviewSlot.Pattern);
    ReadPatternFile(path, PreviewSlot.Pattern);
    // Asking the driver costs a load of it: only a record with a colour asks.
    const DEVICE& record = WorkingCopy.Device[device];
    ShownColor = DeviceHasColor(record.Color) && DeviceTakesColor(record) ? record.Color : 0;

    // The slot's handshake event is of no use to the preview: it carries the
    // stop request instead.
    PreviewSlot.Event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (PreviewSlot.Event == nullptr) return 0;
    PreviewSlot.Run = 1;
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, PreviewThread,
                                 reinterpret_cast<LPVOID>(static_cast<INT_PTR>(device)), 0, &id);
    if (thread == nullptr) {
        PreviewSlot.Run = 0;
        CloseHandle(PreviewSlot.Event);
        PreviewSlot.Event = nullptr;
        return 0;
    }
    PreviewSlot.Thread = thread;
    PreviewSlot.ThreadId = id;
    SetThreadPriority(thread, THREAD_PRIORITY_IDLE);
    return 1;
}

void StopPreview() {
    if (PreviewSlot.Thread == nullptr) return;
    PreviewSlot.Run = 0;
    SetEvent(PreviewSlot.Event);
    if (WaitForSingleObject(PreviewSlot.Thread, 5000) != WAIT_OBJECT_0) {
        TerminateThread(PreviewSlot.Thread, 0);
    }
    CloseHandle(PreviewSlot.Thread);
    CloseHandle(PreviewSlot.Event);
    std::memset(&PreviewSlot, 0, sizeof PreviewSlot);
}

LRESULT CALLBACK PreviewWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
        return OnPaint(window);
    case WM_LBUTTONDBLCLK:
        return OnDoubleClick(window);
    default:
        break;
    }
    if (PreviousPreviewProc) return CallWindowProcA(PreviousPreviewProc, window, message, wParam, lParam);
    return DefWindowProcA(window, message, wParam, lParam);
}

void SetPreviousPreviewProc(WNDPROC previous) { PreviousPreviewProc = previous; }

void SetPreviewColorObserver(PreviewColorObserver observer) { ColorObserver = observer; }
