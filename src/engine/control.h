// The control engine: one thread per configured LED, started one at a time,
// paused and resumed together, stopped with a bounded wait.
#pragma once

#include <windows.h>

#include <cstdint>

#include "engine/pattern.h"

struct DEVICESLOT {
    HANDLE Event;           // start-up handshake
    HANDLE Thread;          // null: the slot has no thread
    DWORD ThreadId;
    volatile int32_t Run;   // cleared by the GUI thread to stop the thread
    char Name[128];         // "%s (%d,%d,%d)", set by the thread before the handshake
    PATTERNSTEP Pattern[MAX_PATTERNSTEP];
};

extern DEVICESLOT DeviceSlot[MAX_DEVICE];
// 1 while control runs, 0 while it is paused.
extern volatile int32_t ControlActive;

// 1 if no thread creation failed. Returns once every new thread has named
// its device.
int StartControl();
void StopControl();
void ResumeControl();
void SuspendControl();
DWORD WINAPI ControlThread(LPVOID deviceIndex);

// The application shows the running state in the tray; the engine calls this
// hook (if set) from ResumeControl and SuspendControl.
typedef void (*ControlStateHook)(int running);
void SetControlStateHook(ControlStateHook hook);

// Display-name texts.
extern const char* const DEVICE_TEXT_DEBUG;        // "デバッグデバイス"
extern const char* const DEVICE_TEXT_UNSUPPORTED;  // "未サポートデバイス"
extern const char* const DEVICE_TEXT_UNKNOWN;      // "不明デバイス"
