// How device threads wait and pause. Waits are measured against a monotonic
// clock and end early only on a stop or pause request, which arrive as events:
// a sleeping device thread wakes once per wait, not once per slice. Pausing is
// cooperative: a thread is held at the engine-wide pause gate before each LED
// write and inside each wait, so it is never frozen inside a driver call or
// inside the debug-device client's lock.
#pragma once

#include <windows.h>

#include <cstdint>

// Monotonic clock, in ticks of TicksPerSecond().
int64_t MonotonicNow();
int64_t TicksPerSecond();
int64_t MillisecondsToTicks(uint32_t ms);
// The same on a clock of `perSecond` ticks; exact for every `ms`.
int64_t MillisecondsToTicks(uint32_t ms, int64_t perSecond);
// The platform wait that covers `ticks` of such a clock: milliseconds rounded
// up, at least 1 and at most 0x7FFFFFFF.
DWORD TicksToWaitMilliseconds(int64_t ticks, int64_t perSecond);
double TicksToMilliseconds(int64_t ticks);

// What one device thread waits on besides the clock.
struct WaitContext {
    HANDLE Stop;             // manual-reset; set right after Run is cleared
    HANDLE Idle;             // manual-reset; set when a write ends while the gate is closed
    volatile int32_t* Run;   // the thread's run flag
    int64_t Anchor;          // when the thread's previous wait was due; 0 none
    volatile LONG Waiting;   // 1 while the thread is blocked in a wait of its own
    volatile LONG Writing;   // 1 while the thread is inside an LED write
    volatile LONG Leaving;   // 1 once the thread is past its last write and wait
    LONG Restarts;           // the RestartSchedules count the thread has followed
    volatile LONG Shown;     // the brightness the thread last wrote; -1 none yet
};

// Creates the gate's events and the per-thread binding once; GUI thread only,
// before any device thread is started. False when the platform refuses.
bool PrepareWaitGate();

// Creates the context's events; false (nothing left open) on failure.
bool OpenWaitContext(WaitContext* context, volatile int32_t* run);
void CloseWaitContext(WaitContext* context);
// Wakes the context's thread; the caller has cleared its run flag first.
void WakeForStop(WaitContext* context);

// The context the calling thread waits with; null for threads that have none
// (they pass the gate freely and cannot wait in SleepWhileRunning).
void BindWaitContext(WaitContext* context);
WaitContext* BoundWaitContext();

// The pause gate. Closing it holds every bound thread at its next write or
// wait; opening it lets them go on.
void ClosePauseGate();
void OpenPauseGate();
bool PauseGateClosed();
// Makes every thread end the wait it is in, or the next one, at once, and
// count its schedule afresh from then: after a sleep or an absence the LEDs
// are written again now, not at their next period, and with no catch-up.
void RestartSchedules();
// Waits until none of the threads is inside an LED write; false on time-out.
bool WaitWritersIdle(WaitContext* const* contexts, int count, DWORD timeoutMs);

// Bracket an LED write of the bound thread. BeginLedWrite holds the thread at
// the gate while control is paused and answers false once the thread is asked
// to stop, paused or not: the write is then skipped (and EndLedWrite not
// called).
bool BeginLedWrite(WaitContext* context);
void EndLedWrite(WaitContext* context);

// Waits until `due`. A stoppable wait ends early (false) once the run flag is
// 0; otherwise a stop request only stops the gate from holding the thread.
// A wait that RestartSchedules ends answers true as well.
bool WaitUntilDue(WaitContext* context, int64_t due, bool stoppable);

// Waits until the thread is asked to stop (its run flag is 0) or control is
// paused (true), or until `due` (false): for a thread whose LED runs by
// itself and is looked at now and then.
bool WaitForStopOrPause(WaitContext* context, int64_t due);

// How many times device threads have woken from a blocking wait, in total.
uint32_t DeviceThreadWakeups();
