// Resident mode: one instance per machine, a hidden main window, the tray
// icon and the control threads, until the user ends the program.
#pragma once

#include <windows.h>

// The module the window class, icons and dialogs come from.
extern HINSTANCE AppInstance;

// Runs until the main window is destroyed; every failure ends quietly or with
// its own message box ("既に起動しています。" when another resident instance
// holds the mutex). The caller then returns exit code 0.
void RunResident(HINSTANCE instance);
