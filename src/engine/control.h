// The control engine: one thread per configured LED, started one at a time,
// paused and resumed together, stopped with a bounded wait.
#pragma once

#include <windows.h>

#include <cstdint>

#include "engine/pattern.h"
#include "gpu/devicesearch.h"

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
// Asks every thread to stop and wakes it; StopControl, which always follows,
// then waits for them, its bounds counted from this request. Whoever resumes
// paused threads before a stop asks first, so that no thread the resumption
// releases writes its LED again.
void RequestStopControl();
void StopControl();
void ResumeControl();
// 1 once control is paused (or was already) and no LED write is in progress;
// 0 when a write did not end within a stop's bounds: control then runs on.
int SuspendControl();
DWORD WINAPI ControlThread(LPVOID deviceIndex);

struct WaitContext;
// Slot d's wake-up events and write state (engine only).
WaitContext* SlotWaitContext(int d);

// The application shows the running state in the tray; the engine calls this
// hook (if set) from ResumeControl and SuspendControl, on the GUI thread.
typedef void (*ControlStateHook)(int running);
void SetControlStateHook(ControlStateHook hook);

// The control laws on their readings (the thread supplies the readings).
// Whole MHz of a clock reading, truncated toward zero.
uint32_t WholeMegahertz(double mhz);
// 0 below base, `baseLuminance` from base up to below boost, `boostLuminance`
// at boost and above; ties fall upward.
int32_t ClockLuminance(uint32_t current, uint32_t base, uint32_t boost, uint32_t baseLuminance,
                       uint32_t boostLuminance);
// The table entry of P-state `pstate`; false (nothing to write) outside P0..P15.
bool PstateLuminance(unsigned pstate, const uint32_t (&table)[16], int32_t* value);
