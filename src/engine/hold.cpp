// The debug-device client needs Winsock declared before windows.h.
#include <winsock2.h>

#include "engine/hold.h"

#include "debuglink/glpcli.h"
#include "engine/control.h"
#include "engine/waitgate.h"
#include "gpu/cnvgf.h"

namespace {

volatile LONG holds = 0;

// As long as a pause lets a write in flight end.
constexpr DWORD kHoldWriteWaitMs = 3000;

void WaitForWriters() {
    WaitContext* live[MAX_DEVICE];
    int count = 0;
    for (int d = 0; d < MAX_DEVICE; ++d) {
        if (DeviceSlot[d].Thread) live[count++] = SlotWaitContext(d);
    }
    WaitWritersIdle(live, count, kHoldWriteWaitMs);
}

// One LED written from the GUI thread where its own thread would write it:
// the driver, or the debug device in debug-device mode.
void WriteOnce(const DEVICE& device, int32_t value) {
    if (ReadDebugMode()) {
        GlpClient.Notify(static_cast<int32_t>(device.Display), static_cast<int32_t>(device.GPU), device.Attribute,
                         value);
        return;
    }
    SetLuminanceOnce(static_cast<uint32_t>(value), static_cast<uint32_t>(device.Attribute), device.Display,
                     device.GPU, device.Color);
}

// Every enabled LED dark, or (`shown`) back at what it last showed; an LED
// that never showed anything is left alone.
void WriteEvery(bool shown) {
    for (int d = 0; d < MAX_DEVICE; ++d) {
        const DEVICE& device = SETTING.Device[d];
        if (device.Enable == 0) continue;
        int32_t value = 0;
        if (shown) {
            if (!DeviceSlot[d].Thread) continue;
            value = SlotWaitContext(d)->Shown;
            if (value < 0) continue;
        }
        WriteOnce(device, value);
    }
}

}  // namespace

void HoldControl(uint32_t reason) {
    InterlockedOr(&holds, static_cast<LONG>(reason));
    ClosePauseGate();
    WaitForWriters();
    if (reason & HOLD_AWAY) WriteEvery(false);
}

void ReleaseControl(uint32_t reason, bool boardLost) {
    InterlockedAnd(&holds, ~static_cast<LONG>(reason));
    // The driver's handles from before a sleep may be stale.
    if (reason & HOLD_SLEEP) RequestRebindAll();
    if (holds & HOLD_AWAY) {
        if (boardLost) WriteEvery(false);
        return;
    }
    if (holds != 0) return;
    if (ControlActive) {
        RestartSchedules();
        OpenPauseGate();
    } else {
        WriteEvery(true);
    }
}

bool ControlHeld() { return holds != 0; }

bool HeldForSleep() { return (holds & HOLD_SLEEP) != 0; }

void SetEveryLed(uint32_t brightness) {
    SetAllLuminance(SETTING.Device, brightness);
    for (int d = 0; d < MAX_DEVICE; ++d) {
        if (SETTING.Device[d].Enable != 0 && DeviceSlot[d].Thread)
            SlotWaitContext(d)->Shown = static_cast<LONG>(brightness > 100 ? 100 : brightness);
    }
}
