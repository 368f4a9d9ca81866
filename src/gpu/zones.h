// Illumination zones as LEDs of their own: attribute 2 + z names zone z of a
// GPU's client illumination. The driver takes the settings of all zones of a
// GPU in one record, so a write reads the record, changes one zone and writes
// it back, under one named lock for the session: two threads or two
// processes driving two zones of one board never undo each other's write.
#pragma once

#include <cstdint>

#include "gpu/nvapi.h"

constexpr uint32_t ZONE_ATTRIBUTE_BASE = 2;
constexpr bool IsZoneAttribute(uint32_t attribute) { return attribute >= ZONE_ATTRIBUTE_BASE; }
constexpr uint32_t ZoneOfAttribute(uint32_t attribute) { return attribute - ZONE_ATTRIBUTE_BASE; }

// The session-wide mutex every zone edit holds, in any process.
constexpr char ZONE_LOCK_NAME[] = "GlimmerdeckZoneEdit";
// How long a caller without a run flag, or one whose flag is down, waits for
// that lock before it gives the write up.
constexpr unsigned long ZONE_LOCK_BOUND_MS = 1000;

// Binds the calling thread's run flag (null unbinds): a zone write of that
// thread waits for the lock while the flag is up, however long it takes, and
// is given up when the flag drops meanwhile; once it is down, the thread
// waits as an unbound caller does.
void BindZoneWriter(volatile int32_t* run);

// What the driver says of one zone.
struct ZoneDescription {
    uint32_t type;      // NV_GPU_CLIENT_ILLUM_ZONE_TYPE_*
    uint32_t location;  // NV_GPU_CLIENT_ILLUM_ZONE_LOCATION_*
    uint32_t device;    // index of the illumination device behind it
};

// The zones of `gpu`, up to 32 into `zones` (may be null); 0 when it has none
// or the driver does not answer.
uint32_t DescribeZones(NvPhysicalGpuHandle gpu, ZoneDescription* zones);
// Zone `zone` of `gpu`; false when there is no such zone. `out` may be null.
bool DescribeZone(NvPhysicalGpuHandle gpu, uint32_t zone, ZoneDescription* out);
// RGB and RGBW zones take a colour; colour-fixed and single-colour ones do not.
bool ZoneTakesColor(uint32_t type);
// Whether the device behind the zone runs piecewise-linear programs.
bool ZoneRunsPrograms(NvPhysicalGpuHandle gpu, uint32_t zone);

// The percentage a zone is given for a brightness: a zone's field holds
// 0..100, so anything above 100 (taken unsigned: a negative value too) is 100.
uint32_t ZoneBrightness(uint32_t value);

// A two-point program for the zone's hardware: A for aMs, then B for bMs,
// switching at once, repeated without end.
struct ZoneBlink {
    uint32_t aPct;
    uint16_t aMs;
    uint32_t bPct;
    uint16_t bMs;
};
// Where the program stands `elapsedMs` after it started: aPct or bPct.
uint32_t ZoneBlinkBrightnessAt(const ZoneBlink& blink, uint64_t elapsedMs);

// Zone `zone` in manual mode at `brightness`; `color` is a DEVICE colour
// (DEVICE_COLOR_SET | rgb), or 0 to leave the zone's colour as the board has
// it. RGBW zones keep their white, zones without a colour ignore it.
bool WriteZoneManual(NvPhysicalGpuHandle gpu, uint32_t zone, uint32_t brightness, uint32_t color);
// Zone `zone` running `blink` in piecewise-linear mode; colour as above.
bool WriteZoneBlink(NvPhysicalGpuHandle gpu, uint32_t zone, const ZoneBlink& blink, uint32_t color);
// Whether zone `zone` still runs `blink` (mode, end points, timing) as
// WriteZoneBlink left it; one read, no write. False when the driver does not
// answer.
bool ZonePlaysBlink(NvPhysicalGpuHandle gpu, uint32_t zone, const ZoneBlink& blink, uint32_t color);
