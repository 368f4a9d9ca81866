#include "engine/waitgate.h"

namespace {

// The gate: `gatePaused` is the word the threads look at; `pausedEvent` is
// signalled while paused (it wakes waiting threads), `resumedEvent` while not
// (it releases held ones). Both live as long as the process.
volatile LONG gatePaused = 0;
HANDLE pausedEvent = nullptr;
HANDLE resumedEvent = nullptr;

// The thread-local slot holding each device thread's WaitContext.
DWORD contextTls = TLS_OUT_OF_INDEXES;

volatile LONG wakeups = 0;
volatile LONG restarts = 0;

void CountWakeup() { InterlockedIncrement(&wakeups); }

// Early returns of the platform's timed waits within this margin count as on
// time; waiting again for a fraction of a millisecond would double the
// wake-ups for nothing.
constexpr uint32_t kDueMarginMs = 1;

DWORD WaitMilliseconds(int64_t ticks) { return TicksToWaitMilliseconds(ticks, TicksPerSecond()); }

// Holds the thread while the gate is closed; returns when it opens or the
// thread is asked to stop.
void HoldAtGate(WaitContext* context) {
    HANDLE handles[2] = {context->Stop, resumedEvent};
    context->Waiting = 1;
    DWORD r = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
    context->Waiting = 0;
    CountWakeup();
    if (r == WAIT_FAILED) Sleep(10);  // never spin on a broken handle
}

}  // namespace

int64_t MonotonicNow() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

int64_t TicksPerSecond() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart > 0 ? frequency.QuadPart : 1000;
}

int64_t MillisecondsToTicks(uint32_t ms) { return MillisecondsToTicks(ms, TicksPerSecond()); }

// ms * perSecond overflows 64 bits for the longest holds (a step of -1 ms is
// 4294967295 ms) on a counter of about 2 GHz or more, and the wait would end
// at once: whole seconds and the rest are converted apart, to the same result.
int64_t MillisecondsToTicks(uint32_t ms, int64_t perSecond) {
    return static_cast<int64_t>(ms / 1000) * perSecond + static_cast<int64_t>(ms % 1000) * perSecond / 1000;
}

DWORD TicksToWaitMilliseconds(int64_t ticks, int64_t perSecond) {
    if (ticks <= 0) return 1;
    int64_t ms = ticks / perSecond * 1000 + (ticks % perSecond * 1000 + perSecond - 1) / perSecond;
    if (ms > 0x7FFFFFFF) return 0x7FFFFFFF;
    return static_cast<DWORD>(ms);
}

double TicksToMilliseconds(int64_t ticks) {
    return static_cast<double>(ticks) * 1000.0 / static_cast<double>(TicksPerSecond());
}

bool PrepareWaitGate() {
    if (contextTls == TLS_OUT_OF_INDEXES) {
        DWORD index = TlsAlloc();
        if (index == TLS_OUT_OF_INDEXES) return false;
        contextTls = index;
    }
    if (!pausedEvent) pausedEvent = CreateEventA(nullptr, TRUE, gatePaused ? TRUE : FALSE, nullptr);
    if (!resumedEvent) resumedEvent = CreateEventA(nullptr, TRUE, gatePaused ? FALSE : TRUE, nullptr);
    return pausedEvent && resumedEvent;
}

bool OpenWaitContext(WaitContext* context, volatile int32_t* run) {
    context->Stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    context->Idle = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    context->Run = run;
    context->Anchor = 0;
    context->Waiting = 0;
    context->Writing = 0;
    context->Leaving = 0;
    context->Restarts = restarts;
    context->Shown = -1;
    if (context->Stop && context->Idle) return true;
    CloseWaitContext(context);
    return false;
}

void CloseWaitContext(WaitContext* context) {
    if (context->Stop) CloseHandle(context->Stop);
    if (context->Idle) CloseHandle(context->Idle);
    context->Stop = nullptr;
    context->Idle = nullptr;
    context->Run = nullptr;
    context->Anchor = 0;
}

void WakeForStop(WaitContext* context) {
    if (context->Stop) SetEvent(context->Stop);
}

void BindWaitContext(WaitContext* context) {
    if (contextTls != TLS_OUT_OF_INDEXES) TlsSetValue(contextTls, context);
}

WaitContext* BoundWaitContext() {
    DWORD index = contextTls;
    if (index == TLS_OUT_OF_INDEXES) return nullptr;
    return static_cast<WaitContext*>(TlsGetValue(index));
}

// The order of the three steps matters: a thread that sees the word set must
// find the release event already reset, and a thread that sees it clear must
// not find the wake event still set.
void ClosePauseGate() {
    if (resumedEvent) ResetEvent(resumedEvent);
    InterlockedExchange(&gatePaused, 1);
    if (pausedEvent) SetEvent(pausedEvent);
}

void OpenPauseGate() {
    if (pausedEvent) ResetEvent(pausedEvent);
    InterlockedExchange(&gatePaused, 0);
    if (resumedEvent) SetEvent(resumedEvent);
}

bool PauseGateClosed() { return gatePaused != 0; }

void RestartSchedules() { InterlockedIncrement(&restarts); }

// A write is announced in the context's word, not with its event: a Wine
// event call is a server round trip, and two of them a write were a third of
// a metric thread's time a period. The event is only set for a pause that may
// be waiting, that is while the gate is closed. Closing the gate and the
// writer's announcement are both interlocked, so of a writer and a pause at
// least one sees the other's word.
bool WaitWritersIdle(WaitContext* const* contexts, int count, DWORD timeoutMs) {
    HANDLE handles[MAXIMUM_WAIT_OBJECTS];
    DWORD n = 0;
    for (int i = 0; i < count && n < MAXIMUM_WAIT_OBJECTS; ++i) {
        WaitContext* context = contexts[i];
        if (!context || !context->Idle) continue;
        // Reset before looking: a write that ends after the look sets it again.
        ResetEvent(context->Idle);
        MemoryBarrier();
        if (context->Writing) handles[n++] = context->Idle;
    }
    if (n == 0) return true;
    DWORD r = WaitForMultipleObjects(n, handles, TRUE, timeoutMs);
    return r < WAIT_OBJECT_0 + n;
}

// A stopped thread writes nothing, even once the gate has opened: the exit
// and the settings dialog open it after a stop request, and a thread that
// wrote then could light an LED that the all-off command has just switched off.
bool BeginLedWrite(WaitContext* context) {
    for (;;) {
        if (*context->Run == 0) return false;
        if (PauseGateClosed()) {
            HoldAtGate(context);
            continue;
        }
        // Announce the write, then look again: SuspendControl either sees the
        // thread busy and waits for it, or the thread sees the gate closed. The
        // stop request is looked at after the gate, which is opened after it.
        InterlockedExchange(&context->Writing, 1);
        if (!PauseGateClosed()) {
            if (*context->Run != 0) {
                // This write is the one a restart asks for.
                context->Restarts = restarts;
                return true;
            }
            EndLedWrite(context);
            return false;
        }
        EndLedWrite(context);
    }
}

void EndLedWrite(WaitContext* context) {
    InterlockedExchange(&context->Writing, 0);
    if (PauseGateClosed()) SetEvent(context->Idle);
}

bool WaitUntilDue(WaitContext* context, int64_t due, bool stoppable) {
    const int64_t margin = MillisecondsToTicks(kDueMarginMs);
    for (;;) {
        bool stopping = *context->Run == 0;
        if (stopping && stoppable) return false;
        if (!stopping && PauseGateClosed()) {
            HoldAtGate(context);
            continue;
        }
        if (context->Restarts != restarts) {
            context->Restarts = restarts;
            return true;
        }
        int64_t left = due - MonotonicNow();
        if (left < margin) return true;
        DWORD ms = WaitMilliseconds(left);
        context->Waiting = 1;
        if (stopping) {
            // The stop event stays set now: only the clock can end this wait.
            Sleep(ms);
        } else {
            HANDLE handles[2] = {context->Stop, pausedEvent};
            if (WaitForMultipleObjects(2, handles, FALSE, ms) == WAIT_FAILED) Sleep(ms);
        }
        context->Waiting = 0;
        CountWakeup();
    }
}

bool WaitForStopOrPause(WaitContext* context, int64_t due) {
    while (*context->Run != 0 && !PauseGateClosed()) {
        int64_t left = due - MonotonicNow();
        if (left <= 0) return false;
        DWORD ms = WaitMilliseconds(left);
        HANDLE handles[2] = {context->Stop, pausedEvent};
        if (WaitForMultipleObjects(2, handles, FALSE, ms) == WAIT_FAILED) Sleep(ms < 10 ? ms : 10);
        CountWakeup();
    }
    return true;
}

uint32_t DeviceThreadWakeups() { return static_cast<uint32_t>(wakeups); }
