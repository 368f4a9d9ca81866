#include "app/resident.h"

#include <commctrl.h>

#include <cstring>

#include "app/about.h"
#include "app/glimmessages.h"
#include "app/mainwindow.h"
#include "app/mutex.h"
#include "app/trayicon.h"
#include "engine/control.h"
#include "engine/setting.h"
#include "res/resource.h"

HINSTANCE AppInstance = nullptr;

namespace {

constexpr UINT INFO_STYLE = MB_ICONINFORMATION | MB_TOPMOST | MB_SETFOREGROUND;

void PrepareProcessState(HINSTANCE instance) {
    AppInstance = instance;
    ControlActive = 0;
    AboutOpen = 0;
    MakeStartupFont(&SETTING.Font);
    std::memset(DeviceSlot, 0, sizeof DeviceSlot);
    // The engine reports pause and resume through this; it knows nothing of the tray.
    SetControlStateHook(UpdateTrayTip);
    // The settings dialog's spin controls are common controls, which must be
    // registered before the dialog is first made.
    INITCOMMONCONTROLSEX controls {sizeof controls, ICC_STANDARD_CLASSES | ICC_UPDOWN_CLASS};
    InitCommonControlsEx(&controls);
}

bool RegisterMainClass(HINSTANCE instance) {
    WNDCLASSA wc {};
    wc.style = 0;
    wc.lpfnWndProc = MainWindowProc;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = 0;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_PROGRAM));
    wc.lpszMenuName = nullptr;
    wc.lpszClassName = GLIM_CLASS_NAME;
    return RegisterClassA(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

HWND CreateMainWindow(HINSTANCE instance) {
    // WM_CREATE brings up settings, tray icon and control threads in here.
    HWND window = CreateWindowExA(0, GLIM_CLASS_NAME, GLIM_WINDOW_NAME, 0, 0, 0, 0, 0, nullptr,
                                  nullptr, instance, nullptr);
    if (window) {
        ShowWindow(window, SW_HIDE);
        UpdateWindow(window);
    }
    return window;
}

void RunMessageLoop() {
    MSG msg;
    // GetMessage answers -1 on failure; looping on it would never end.
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

}  // namespace

void RunResident(HINSTANCE instance) {
    MUTEX mutex;
    if (!mutex.Create()) {
        MessageBoxA(nullptr, "既に起動しています。", "確認情報", INFO_STYLE);
        return;
    }
    PrepareProcessState(instance);
    if (RegisterMainClass(instance)) {
        if (CreateMainWindow(instance)) RunMessageLoop();
        UnregisterClassA(GLIM_CLASS_NAME, instance);
    }
    mutex.Release();
}
