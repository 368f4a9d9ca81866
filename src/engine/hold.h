// Holding control while the machine sleeps or the user is away, and bringing
// the LEDs back afterwards. A hold closes the pause gate like a pause, but
// leaves ControlActive and the tray as they are: what the user chose
// (running or paused) is what comes back.
#pragma once

#include <cstdint>

enum : uint32_t {
    HOLD_SLEEP = 1,  // the machine is going to sleep: nothing is written
    HOLD_AWAY = 2,   // locked or the display off, with AwayOff set: every LED dark
};

// Holds every device thread at the gate for `reason`, after the writes in
// flight have ended. HOLD_AWAY then writes 0 to every enabled LED. GUI
// thread only, like every operation here.
void HoldControl(uint32_t reason);
// Ends the hold for `reason`. Once nothing holds: running control writes
// every LED again at once and counts its periods from now; paused control
// puts each LED back at what it last showed. While the user is still away
// the LEDs are only written dark again when `boardLost` says the board has
// forgotten them (a resume).
void ReleaseControl(uint32_t reason, bool boardLost);
// Whether any hold is in place; ResumeControl opens the gate only when not.
bool ControlHeld();
// Whether the machine is going to sleep: a zone's program is then left as it
// is instead of being written back to manual mode.
bool HeldForSleep();

// "全て点灯" and "全て消灯": SetAllLuminance on every enabled device, noted as
// what each LED shows for a paused control to come back to.
void SetEveryLed(uint32_t brightness);
