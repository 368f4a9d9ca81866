#include "engine/zonepattern.h"

#include <windows.h>

#include "engine/hold.h"
#include "engine/waitgate.h"
#include "gpu/cnvgf.h"

namespace {

constexpr uint32_t kLongestHoldMs = 0xFFFF;  // a zone's hold is a 16-bit count of ms

bool IsEndMark(const PATTERNSTEP& step) { return step.Luminance == 0 && step.Duration == 0; }

bool Timeable(const PATTERNSTEP& step) { return step.Duration >= 1 && step.Duration <= kLongestHoldMs; }

// A thread without wake-up events (none of the engine's own) looks once per
// slice.
void PollForStopOrPause(volatile int32_t* run) {
    while (*run != 0 && !PauseGateClosed()) Sleep(SETTING.Resolution ? SETTING.Resolution : 1);
}

}  // namespace

bool TwoStepProgram(const PATTERNSTEP* area, ZoneBlink* blink) {
    if (!area || IsEndMark(area[0]) || IsEndMark(area[1]) || !IsEndMark(area[2]))
        return false;
    if (!Timeable(area[0]) || !Timeable(area[1])) return false;
    blink->aPct = ZoneBrightness(static_cast<uint32_t>(area[0].Luminance));
    blink->aMs = static_cast<uint16_t>(area[0].Duration);
    blink->bPct = ZoneBrightness(static_cast<uint32_t>(area[1].Luminance));
    blink->bMs = static_cast<uint16_t>(area[1].Duration);
    return true;
}

bool PlayPatternInHardware(const DEVICE& device, CNVGF& adapter, const PATTERNSTEP* area, volatile int32_t* run) {
    const uint32_t attribute = static_cast<uint32_t>(device.Attribute);
    ZoneBlink blink;
    if (!IsZoneAttribute(attribute) || !TwoStepProgram(area, &blink) || !adapter.ZoneRunsPrograms(attribute))
        return false;
    // While the board animates the thread counts as writing its LED: a pause
    // then waits until the zone stands still again.
    WaitContext* context = BoundWaitContext();
    if (context && !BeginLedWrite(context)) return true;  // stopped while paused
    if (!adapter.StartZoneProgram(attribute, blink, device.Color)) {
        if (context) EndLedWrite(context);
        return false;
    }
    int64_t started = MonotonicNow();
    if (context) WaitForStopOrPause(context);
    else PollForStopOrPause(run);
    uint64_t elapsedMs = static_cast<uint64_t>(TicksToMilliseconds(MonotonicNow() - started));
    // Before a sleep nothing is written: the board forgets the program
    // anyway, and the resume sends it again.
    if (!HeldForSleep()) {
        uint32_t shown = ZoneBlinkBrightnessAt(blink, elapsedMs);
        if (adapter.SetLuminance(attribute, shown, device.Color) && context) context->Shown = static_cast<LONG>(shown);
    }
    if (context) EndLedWrite(context);
    return true;
}
