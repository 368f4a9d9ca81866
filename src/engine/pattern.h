// Pattern files ("*.GLP": one "%d,%d" brightness,milliseconds step per line)
// and their playback, with the two primitives the control threads share:
// one brightness write and the interruptible wait.
#pragma once

#include <cstdint>

#include "engine/setting.h"

class CNVGF;

struct PATTERNSTEP {
    int32_t Luminance;  // written unchanged
    uint32_t Duration;  // ms
};
constexpr int MAX_PATTERNSTEP = 10000;

// Reads `path` into `area` (MAX_PATTERNSTEP steps, zeroed by the caller).
// Returns the number of steps stored; 0 without touching the area when the
// path or the area is null or the file cannot be opened.
int ReadPatternFile(const char* path, PATTERNSTEP* area);

// Waits `total` ms: in one go when total <= slice, otherwise whole slices
// only while *run stays non-zero. Wakes at once on a stop or pause request.
// Device threads only: a thread with no wait context bound returns at once.
void SleepWhileRunning(uint32_t total, uint32_t slice, volatile int32_t* run);

// One brightness to the device's LED (mode 0) or to the debug device (mode
// non-zero; a value it does not confirm ends debug-device mode).
void WriteLuminance(const DEVICE& device, CNVGF& adapter, int32_t value, int32_t mode);

// One pass over `area`, up to its end mark or its last step; a stop request
// ends it before the next step. A pass that holds for no time at all (empty,
// or every step 0 ms) is followed by one wait of SETTING.Resolution.
void PlayPattern(const DEVICE& device, CNVGF& adapter, const PATTERNSTEP* area, volatile int32_t* run);
