// The debug-device client needs Winsock declared before windows.h.
#include <winsock2.h>

#include "engine/control.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "debuglink/glpcli.h"
#include "engine/hold.h"
#include "engine/waitgate.h"
#include "engine/zonepattern.h"
#include "gpu/cnvgf.h"

DEVICESLOT DeviceSlot[MAX_DEVICE];
volatile int32_t ControlActive = 0;

namespace {

// Each slot's wake-up events, beside the slot table so that the table keeps
// its layout (the start-up code clears it, the preview owns one more slot).
WaitContext slotWait[MAX_DEVICE];

ControlStateHook stateHook = nullptr;

// The bounds of a stop, all counted from the request, so that eight threads
// stuck in a stalled driver cost the GUI one bound, not eight.
constexpr DWORD kStopWaitMs = 5000;
// How much longer a stop lets a thread finish the call it is in.
constexpr DWORD kStopCallWaitMs = 20000;
constexpr DWORD kTerminateWaitMs = 1000;
// A pause waits as long for the writes in progress.
constexpr DWORD kPauseWriteWaitMs = kStopWaitMs + kStopCallWaitMs;

// When the stop in progress was requested; 0 when none is.
ULONGLONG stopRequestedAt = 0;

DWORD MsLeftUntil(ULONGLONG deadline) {
    ULONGLONG now = GetTickCount64();
    return now < deadline ? static_cast<DWORD>(deadline - now) : 0;
}

void TellStateHook(int running) {
    if (stateHook) stateHook(running);
}

// A stopped thread still running after the stop wait is either inside a call
// out of the engine (the driver, the debug device), which may hold that
// side's lock: ended there, it would leave the lock taken and every later
// call of the process waiting for ever. It gets until the call returns, up to
// `deadline`. Or it is in a wait of its own, which the stop ends within a
// slice, or on its way out, inside the loader's lock: ended there, the next
// thread start would hang. That one is waited for. True when it ended.
bool EndsAfterItsCall(HANDLE thread, const WaitContext& context, ULONGLONG deadline) {
    for (;;) {
        if (WaitForSingleObject(thread, 10) == WAIT_OBJECT_0) return true;
        if (context.Waiting || context.Leaving) continue;
        if (GetTickCount64() >= deadline) return false;
    }
}

// Names the device, then releases StartControl. True when the thread is to
// drive the LED.
bool NameDevice(DEVICESLOT& slot, const DEVICE& device, const CNVGF& adapter, unsigned result) {
    const char* text;
    bool usable;
    if (ReadDebugMode()) {
        usable = GlpClient.Query(static_cast<int32_t>(device.Display), static_cast<int32_t>(device.GPU),
                                 device.Attribute) != 0;
        text = usable ? DEVICE_TEXT_DEBUG : DEVICE_TEXT_UNSUPPORTED;
    } else {
        usable = result == NVGF_READY;
        text = DeviceTextFor(result, adapter);
    }
    FormatDeviceLabel(slot.Name, sizeof slot.Name, text, device.Display, device.GPU, device.Attribute);
    if (slot.Event) SetEvent(slot.Event);
    return usable;
}

// Binds the adapter again when the driver restarted (at most once a period)
// and keeps the slot's name in step: the device's name while it is there,
// "不明デバイス" while it is gone. `named` is the result the name shows.
bool KeepBound(DEVICESLOT& slot, const DEVICE& device, CNVGF& adapter, unsigned* named) {
    bool bound = adapter.EnsureBound(SETTING.Timer);
    unsigned result = adapter.BindResult();
    if (result != *named) {
        char name[sizeof slot.Name];
        FormatDeviceLabel(name, sizeof name, DeviceTextFor(result, adapter), device.Display, device.GPU,
                          device.Attribute);
        std::memcpy(slot.Name, name, sizeof name);
        *named = result;
    }
    return bound;
}

// The reading of a metric method, turned into a brightness. False: nothing
// is written this cycle.
bool TakeReading(int32_t playType, CNVGF& adapter, int32_t* value) {
    switch (playType) {
    case PLAY_TEMPERATURE: {
        int celsius = 0;
        adapter.GetTemperature(&celsius);
        *value = celsius;
        return true;
    }
    case PLAY_UTILIZATION: {
        int percent = 0;
        adapter.GetUsage(&percent);
        *value = percent;
        return true;
    }
    case PLAY_CLOCK: {
        uint32_t mhz[3] = {0, 0, 0};  // current, base, boost; a failed reading counts as 0
        for (unsigned type = 0; type < 3; ++type) {
            double reading = 0.0;
            if (adapter.GetClock(&reading, type)) mhz[type] = WholeMegahertz(reading);
        }
        *value = ClockLuminance(mhz[0], mhz[1], mhz[2], SETTING.Base, SETTING.Boost);
        return true;
    }
    case PLAY_FAN: {
        unsigned percent = 0;
        adapter.GetFanLevel(&percent);
        *value = static_cast<int32_t>(percent);
        return true;
    }
    case PLAY_POWER: {
        unsigned pstate = 0;
        if (!adapter.GetPstate(&pstate)) return false;
        return PstateLuminance(pstate, SETTING.PState, value);
    }
    default:
        return false;
    }
}

void RunDevice(DEVICESLOT& slot, const DEVICE& device, CNVGF& adapter) {
    // A zone that cannot take the pattern as a program plays it step by step
    // for the thread's life: the answer does not change.
    bool hardware = true;
    unsigned named = NVGF_READY;
    while (slot.Run != 0) {
        int32_t mode = ReadDebugMode();
        int32_t playType = device.PlayType;
        if (mode == 0 && !KeepBound(slot, device, adapter, &named)) {
            SleepWhileRunning(SETTING.Timer, SETTING.Resolution, &slot.Run);
            continue;
        }
        if (playType == PLAY_PATTERN) {
            if (mode == 0 && hardware) {
                hardware = PlayPatternInHardware(device, adapter, slot.Pattern, &slot.Run);
                // A program refused because the driver restarted is sent
                // again once the adapter is bound anew.
                if (!hardware && adapter.HeardLoss()) hardware = true;
                if (hardware) continue;
            }
            // The pass writes and waits for each step itself; the next pass
            // follows at once.
            PlayPattern(device, adapter, slot.Pattern, &slot.Run);
            continue;
        }
        if (playType < PLAY_FIXED || playType > PLAY_PATTERN) {
            slot.Run = 0;
            break;
        }
        int32_t value = 0;
        bool write = true;
        if (playType == PLAY_FIXED) {
            value = static_cast<int32_t>(device.Luminance);
        } else if (mode) {
            // The debug device has no readings: any brightness will do.
            value = std::rand() % 100 + 1;
        } else {
            write = TakeReading(playType, adapter, &value);
            // A reading the restarted driver refused is no reading: bind
            // again (or wait, if this period has had its attempt) first.
            if (adapter.HeardLoss()) continue;
        }
        if (write) WriteLuminance(device, adapter, value, mode);
        SleepWhileRunning(SETTING.Timer, SETTING.Resolution, &slot.Run);
    }
}

}  // namespace

uint32_t WholeMegahertz(double mhz) {
    if (!(mhz >= 0.0)) return 0;
    if (mhz >= 4294967295.0) return 0xFFFFFFFFu;
    return static_cast<uint32_t>(mhz);
}

int32_t ClockLuminance(uint32_t current, uint32_t base, uint32_t boost, uint32_t baseLuminance,
                       uint32_t boostLuminance) {
    if (current < base) return 0;
    if (current < boost) return static_cast<int32_t>(baseLuminance);
    return static_cast<int32_t>(boostLuminance);
}

bool PstateLuminance(unsigned pstate, const uint32_t (&table)[16], int32_t* value) {
    if (pstate >= 16) return false;
    *value = static_cast<int32_t>(table[pstate]);
    return true;
}

void SetControlStateHook(ControlStateHook hook) { stateHook = hook; }

int StartControl() {
    if (!PrepareWaitGate()) return 0;
    int result = 1;
    for (int d = 0; d < MAX_DEVICE; ++d) {
        DEVICESLOT& slot = DeviceSlot[d];
        if (slot.Thread) continue;
        slot.Event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (!slot.Event) continue;
        if (!OpenWaitContext(&slotWait[d], &slot.Run)) {
            CloseHandle(slot.Event);
            slot.Event = nullptr;
            continue;
        }

        // A slot whose thread could not be created keeps its old steps; the
        // reader relies on a zero area.
        std::memset(slot.Pattern, 0, sizeof slot.Pattern);
        char path[sizeof SETTING.Device[d].PlayFile];
        std::memcpy(path, SETTING.Device[d].PlayFile, sizeof path);
        path[sizeof path - 1] = '\0';
        ReadPatternFile(path, slot.Pattern);

        slot.Run = 1;
        DWORD id = 0;
        slot.Thread = CreateThread(nullptr, 0, ControlThread, reinterpret_cast<LPVOID>(static_cast<intptr_t>(d)),
                                   CREATE_SUSPENDED, &id);
        slot.ThreadId = id;
        if (slot.Thread) {
            // Idle before it runs: lowered later, it could be lowered in the
            // middle of a zone write that holds the lock at normal priority.
            SetThreadPriority(slot.Thread, THREAD_PRIORITY_IDLE);
            ResumeThread(slot.Thread);
            // A thread that dies before naming its device must not hang the GUI.
            HANDLE handshake[2] = {slot.Event, slot.Thread};
            WaitForMultipleObjects(2, handshake, FALSE, INFINITE);
        } else {
            CloseWaitContext(&slotWait[d]);
            result = 0;
        }
        CloseHandle(slot.Event);
        slot.Event = nullptr;
    }
    return result;
}

void RequestStopControl() {
    if (stopRequestedAt == 0) stopRequestedAt = GetTickCount64();
    // Every thread hears the request first, so that they end side by side.
    for (int d = 0; d < MAX_DEVICE; ++d) {
        if (!DeviceSlot[d].Thread) continue;
        DeviceSlot[d].Run = 0;
        WakeForStop(&slotWait[d]);
    }
}

void StopControl() {
    RequestStopControl();
    const ULONGLONG requested = stopRequestedAt;
    stopRequestedAt = 0;
    const ULONGLONG waitEnd = requested + kStopWaitMs;
    const ULONGLONG callEnd = waitEnd + kStopCallWaitMs;
    for (int d = 0; d < MAX_DEVICE; ++d) {
        DEVICESLOT& slot = DeviceSlot[d];
        if (!slot.Thread) continue;
        if (WaitForSingleObject(slot.Thread, MsLeftUntil(waitEnd)) != WAIT_OBJECT_0 &&
            !EndsAfterItsCall(slot.Thread, slotWait[d], callEnd)) {
            // Termination is carried out after the call returns: until the
            // thread is really gone it may still use its slot and its wake-up
            // events, so both are released only then.
            TerminateThread(slot.Thread, 0);
            WaitForSingleObject(slot.Thread, kTerminateWaitMs);
        }
        CloseHandle(slot.Thread);
        CloseWaitContext(&slotWait[d]);
        std::memset(&slot, 0, sizeof slot);
    }
}

void ResumeControl() {
    if (ControlActive != 0) return;
    // A sleep or an absence keeps the threads held; its end lets them go.
    if (!ControlHeld()) OpenPauseGate();
    ControlActive = 1;
    TellStateHook(1);
}

int SuspendControl() {
    if (ControlActive == 0) return 1;
    ClosePauseGate();
    // Once the pause is reported no LED changes, and the all-on and all-off
    // commands it offers are not overwritten: a thread finishes the write it
    // is in first. A slow driver takes the writes of several threads one at a
    // time, so this may take seconds.
    WaitContext* live[MAX_DEVICE];
    int count = 0;
    for (int d = 0; d < MAX_DEVICE; ++d) {
        if (DeviceSlot[d].Thread) live[count++] = &slotWait[d];
    }
    if (!WaitWritersIdle(live, count, kPauseWriteWaitMs)) {
        // A write hangs in the driver: the LED may still change whenever it
        // returns, so the pause is not reported; control runs on (unless a
        // sleep or an absence holds it).
        if (!ControlHeld()) OpenPauseGate();
        return 0;
    }
    ControlActive = 0;
    TellStateHook(0);
    return 1;
}

WaitContext* SlotWaitContext(int d) { return &slotWait[d]; }

DWORD WINAPI ControlThread(LPVOID deviceIndex) {
    intptr_t d = reinterpret_cast<intptr_t>(deviceIndex);
    if (d < 0 || d >= MAX_DEVICE) return 0;
    DEVICESLOT& slot = DeviceSlot[d];
    const DEVICE& device = SETTING.Device[d];
    if (slotWait[d].Stop) BindWaitContext(&slotWait[d]);
    BindZoneWriter(&slot.Run);
    // Without its context the thread could not wait: it would flood the LED.
    bool canWait = BoundWaitContext() != nullptr;

    CNVGF adapter;
    unsigned result = adapter.Initialize(device.Display, device.GPU, static_cast<uint32_t>(device.Attribute));
    bool usable = NameDevice(slot, device, adapter, result);
    if (usable && canWait && device.Enable != 0) RunDevice(slot, device, adapter);
    slotWait[d].Leaving = 1;
    adapter.UnloadDLL();
    BindZoneWriter(nullptr);
    BindWaitContext(nullptr);
    return 0;
}
