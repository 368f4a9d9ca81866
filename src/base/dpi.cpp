#include "base/dpi.h"

namespace {

typedef UINT(WINAPI* GetDpiForWindowProc)(HWND);
typedef int(WINAPI* GetSystemMetricsForDpiProc)(int, UINT);

// An entry of the window manager's library, which every caller (it has a
// window) has loaded already; null on systems that lack it.
void* WindowManagerEntry(const char* name) {
    HMODULE user32 = GetModuleHandleA("user32.dll");
    return user32 ? reinterpret_cast<void*>(GetProcAddress(user32, name)) : nullptr;
}

UINT ScreenDpi() {
    HDC screen = GetDC(nullptr);
    int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
    if (screen) ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : BASE_DPI;
}

}  // namespace

UINT WindowDpi(HWND window) {
    auto forWindow = reinterpret_cast<GetDpiForWindowProc>(WindowManagerEntry("GetDpiForWindow"));
    UINT dpi = forWindow && window ? forWindow(window) : 0;
    return dpi != 0 ? dpi : ScreenDpi();
}

int MetricForDpi(int index, UINT dpi, int fallback) {
    auto forDpi = reinterpret_cast<GetSystemMetricsForDpiProc>(WindowManagerEntry("GetSystemMetricsForDpi"));
    int value = forDpi && dpi != 0 ? forDpi(index, dpi) : 0;
    return value > 0 ? value : fallback;
}

int ScaleToDpi(int value, UINT dpi) { return MulDiv(value, static_cast<int>(dpi), static_cast<int>(BASE_DPI)); }
