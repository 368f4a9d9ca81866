// The hidden main window: brings the program up and down, follows the tray
// icon, carries out the menu commands and serves the private messages.
#pragma once

#include <windows.h>

#include "gpu/cnvgf.h"

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The number the shell broadcasts when its taskbar is (re)created; 0 when it
// could not be registered.
UINT TaskbarCreatedMessage();

// Opens the settings dialog owned by `owner`, or brings the open one forward.
void ShowSettingDialog(HWND owner);

// The LED a WM_GLIMDECK selector names.
GpuSelector UnpackSelector(LPARAM selector);
