// The settings dialog (resource 200): edits a working copy of the settings,
// searches for devices and previews the selected device.
#pragma once

#include <windows.h>

#include <cstdint>

#include "base/device.h"

// What the dialog edits: the settings record without the preview's logo and
// font, which the preview reads and writes in SETTING itself.
struct DIALOGSETTING {
    int32_t Debug;  // carried through unchanged; no control shows it
    uint32_t Timer;
    uint32_t Resolution;
    int32_t Balloon;
    uint32_t Base;
    uint32_t Boost;
    uint32_t PState[16];
    DEVICE Device[MAX_DEVICE];
};

// The working copy of the open dialog. The preview thread reads the record
// of its device; the dialog changes it only while the preview is stopped.
extern DIALOGSETTING WorkingCopy;
// The device list's texts, "%s (%d,%d,%d)".
extern char DeviceLabel[MAX_DEVICE][128];
// Which device record (0..7) and which P-state entry (0..15) the controls show.
extern int CurrentDevice;
extern int CurrentPState;

// The open dialog's window; null while it is closed.
extern HWND SettingDialog;

// The dialog procedure, for DialogBoxParamA on resource 200.
INT_PTR CALLBACK SettingDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Sets every control from the working copy, for one device and one P-state.
void LoadDialogControls(int device, int pstate);
// Commits the controls into the working copy, for one device and one P-state.
// A number is its spin's position, so a number typed outside the spin's range
// leaves the last valid value.
void StoreDialogControls(int device, int pstate);

// Where the pattern-file chooser starts: `path` split at its last backslash
// into the folder (empty when there is none) and the file name (empty when
// the path ends in a backslash). A bare drive ("C:") becomes its root ("C:\").
void SplitPlayFile(const char* path, char (&folder)[1024], char (&name)[1024]);
