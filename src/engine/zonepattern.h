// Patterns an illumination zone plays by itself. A zone's hardware runs a
// two-point program (hold A, hold B, repeat), so a pattern of exactly two
// steps is handed to it once and the device thread only waits: the board
// animates with no writes from the program. Any other pattern, and any LED
// that is not such a zone, plays step by step (pattern.h).
#pragma once

#include <cstdint>

#include "engine/pattern.h"
#include "gpu/zones.h"

// The program for `area` when it holds exactly two steps whose holds a zone
// can time (1..65535 ms each); brightness as a zone takes it. False otherwise.
bool TwoStepProgram(const PATTERNSTEP* area, ZoneBlink* blink);

// Hands `area` to the device's zone and waits for a stop or a pause, looking
// once a control period whether the zone still runs it (and handing it over
// again when not), then puts the zone back in manual mode at the brightness
// the program shows at that moment, trying that write a few times. While control is paused it first waits for the resume. False,
// having written nothing, when the pattern or the zone does not allow it or
// the driver refuses the program: the caller then plays it step by step.
bool PlayPatternInHardware(const DEVICE& device, CNVGF& adapter, const PATTERNSTEP* area, volatile int32_t* run);
