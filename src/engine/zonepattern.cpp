#include "engine/zonepattern.h"

#include <windows.h>

#include "engine/hold.h"
#include "engine/waitgate.h"
#include "gpu/cnvgf.h"

namespace {

constexpr uint32_t kLongestHoldMs = 0xFFFF;  // a zone's hold is a 16-bit count of ms

bool IsEndMark(const PATTERNSTEP& step) { return step.Luminance == 0 && step.Duration == 0; }

bool Timeable(const PATTERNSTEP& step) { return step.Duration >= 1 && step.Duration <= kLongestHoldMs; }

// The manual write that ends a program is tried this often, the waits
// between tries doubling from kEndRetryMs: a zone left animating after a
// pause or an exit is what the user sees.
constexpr int kEndWriteTries = 4;
constexpr DWORD kEndRetryMs = 100;

// A thread without wake-up events (none of the engine's own) looks once per
// slice. True on a stop or pause, false at `due`.
bool PollForStopOrPause(volatile int32_t* run, int64_t due) {
    while (*run != 0 && !PauseGateClosed()) {
        if (MonotonicNow() >= due) return false;
        Sleep(SETTING.Resolution ? SETTING.Resolution : 1);
    }
    return true;
}

bool StopOrPause(WaitContext* context, volatile int32_t* run, int64_t due) {
    return context ? WaitForStopOrPause(context, due) : PollForStopOrPause(run, due);
}

// Puts the zone back in manual mode at `brightness`; past the last try
// nothing more can be done for it.
bool EndProgram(const DEVICE& device, CNVGF& adapter, uint32_t brightness) {
    const uint32_t attribute = static_cast<uint32_t>(device.Attribute);
    DWORD retryMs = kEndRetryMs;
    for (int tries = 1; !adapter.SetLuminance(attribute, brightness, device.Color); ++tries) {
        if (tries >= kEndWriteTries) return false;
        Sleep(retryMs);
        retryMs *= 2;
    }
    return true;
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
    // A set from outside (a WM_GLIMDECK, the command-line mode, a second
    // device on the zone) puts the zone in manual mode for good: the thread
    // looks once a period and hands the program over again.
    const int64_t period = MillisecondsToTicks(SETTING.Timer ? SETTING.Timer : 1000);
    for (int64_t due = started + period; !StopOrPause(context, run, due); due = MonotonicNow() + period) {
        // A driver that restarted lost the program with the handles: bound
        // again (at most once a period), the zone gets it anew.
        if (adapter.Lost() && !adapter.EnsureBound(SETTING.Timer)) continue;
        if (adapter.ZoneProgramRuns(attribute, blink, device.Color)) continue;
        if (adapter.StartZoneProgram(attribute, blink, device.Color)) started = MonotonicNow();
    }
    uint64_t elapsedMs = static_cast<uint64_t>(TicksToMilliseconds(MonotonicNow() - started));
    // Before a sleep nothing is written: the board forgets the program
    // anyway, and the resume sends it again.
    if (!HeldForSleep()) {
        uint32_t shown = ZoneBlinkBrightnessAt(blink, elapsedMs);
        if (EndProgram(device, adapter, shown) && context) context->Shown = static_cast<LONG>(shown);
    }
    if (context) EndLedWrite(context);
    return true;
}
