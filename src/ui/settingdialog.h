// The settings dialog (resource 200): edits a working copy of the settings,
// searches for devices and previews the selected device.
#pragma once

#include <windows.h>

#include "base/device.h"

// The open dialog's window; null while it is closed.
extern HWND SettingDialog;

// The dialog procedure, for DialogBoxParamA on resource 200.
INT_PTR CALLBACK SettingDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
