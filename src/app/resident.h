// Resident mode: the single running instance with its hidden main window,
// tray icon and control threads.
#pragma once

#include <windows.h>

// Runs until the main window is destroyed; every failure ends quietly or
// with its own message box. The caller then returns exit code 0.
void RunResident(HINSTANCE instance);
