// What the main window hears of the machine besides its own messages: the
// session's lock and unlock, and the console display going off and on. The
// services that announce them are resolved at run time, so the program still
// starts on systems that lack them (it then only misses those events).
#pragma once

#include <windows.h>

// Asks for WM_WTSSESSION_CHANGE and for PBT_POWERSETTINGCHANGE of the console
// display state to be sent to `window`. Each that the system lacks or
// refuses is left out.
void WatchSession(HWND window);
// Withdraws what WatchSession asked for.
void UnwatchSession(HWND window);

// The console display state that a PBT_POWERSETTINGCHANGE's lParam carries:
// 0 off, 1 on, 2 dimmed; -1 for another setting or a record that cannot be
// read (any program can send the message, with any lParam).
int ConsoleDisplayState(LPARAM setting);
