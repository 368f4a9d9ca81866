#include "gpu/zones.h"

#include <windows.h>

#include <cstddef>
#include <cstring>

#include "base/device.h"

namespace {

// ---- One lock for every zone edit -----------------------------------------

// The record carries every zone of a GPU, so two read-modify-writes that
// overlap undo one another, whether they run in one process or in the
// resident program and the command-line mode side by side. One named mutex
// serialises them all (they are short and a few a second). A holder that died
// inside a hung driver call leaves it abandoned, and the next writer takes it.
HANDLE volatile zoneLock;
thread_local volatile int32_t* zoneWriterRun;

HANDLE ZoneLockHandle() {
    HANDLE lock = zoneLock;
    if (lock) return lock;
    HANDLE made = CreateMutexA(nullptr, FALSE, ZONE_LOCK_NAME);
    if (!made) return nullptr;
    HANDLE prior = InterlockedCompareExchangePointer(reinterpret_cast<PVOID volatile*>(&zoneLock), made, nullptr);
    if (!prior) return made;
    CloseHandle(made);
    return prior;
}

// A bound writer waits while its run flag stays up, looking at it once a
// slice, and gives the write up when the flag drops. A writer already
// stopped (the write that leaves its LED as it ends) and an unbound caller
// wait ZONE_LOCK_BOUND_MS at most.
bool TakeZoneLock(HANDLE lock) {
    volatile int32_t* run = zoneWriterRun;
    if (!run || *run == 0) {
        DWORD r = WaitForSingleObject(lock, ZONE_LOCK_BOUND_MS);
        return r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
    }
    for (;;) {
        DWORD r = WaitForSingleObject(lock, 50);
        if (r == WAIT_OBJECT_0 || r == WAIT_ABANDONED) return true;
        if (r != WAIT_TIMEOUT || *run == 0) return false;
    }
}

// Holds the zone lock at normal priority: an idle-priority control thread
// preempted while it holds the lock would stall the window thread's writes
// and the command-line mode until the scheduler's starvation boost.
class ZoneLock {
public:
    ZoneLock() : lock_(ZoneLockHandle()), priority_(GetThreadPriority(GetCurrentThread())) {
        raised_ = priority_ != THREAD_PRIORITY_ERROR_RETURN && priority_ < THREAD_PRIORITY_NORMAL &&
                  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL);
        held_ = lock_ && TakeZoneLock(lock_);
    }
    ~ZoneLock() {
        if (held_) ReleaseMutex(lock_);
        if (raised_) SetThreadPriority(GetCurrentThread(), priority_);
    }
    ZoneLock(const ZoneLock&) = delete;
    ZoneLock& operator=(const ZoneLock&) = delete;
    bool Held() const { return held_; }

private:
    HANDLE lock_;
    int priority_;
    bool raised_;
    bool held_;
};

// ---- Editing one zone's entry ----------------------------------------------

// The manual parameters of a type sit at the start of the per-type union,
// where a piecewise-linear program keeps its end point A: a colour (3 bytes
// RGB, 4 RGBW) and then the brightness, or the brightness alone.
struct Shape {
    bool known;
    unsigned colorBytes;
};
Shape ShapeOf(uint32_t type) {
    switch (type) {
    case NV_GPU_CLIENT_ILLUM_ZONE_TYPE_RGB: return {true, 3};
    case NV_GPU_CLIENT_ILLUM_ZONE_TYPE_RGBW: return {true, 4};
    case NV_GPU_CLIENT_ILLUM_ZONE_TYPE_COLOR_FIXED:
    case NV_GPU_CLIENT_ILLUM_ZONE_TYPE_SINGLE_COLOR: return {true, 0};
    default: return {false, 0};
    }
}

// One end point (or the manual setting) of an entry: its colour bytes, as
// they are unless the device has a colour of its own (an RGBW zone keeps its
// white), then the brightness.
void SetPoint(NvU8* point, const NvU8* colorFrom, Shape shape, uint32_t brightness, uint32_t color) {
    if (point != colorFrom) std::memmove(point, colorFrom, shape.colorBytes);
    if (shape.colorBytes >= 3 && DeviceHasColor(color)) {
        uint32_t rgb = DeviceColorRgb(color);
        point[0] = static_cast<NvU8>(rgb & 0xFF);
        point[1] = static_cast<NvU8>((rgb >> 8) & 0xFF);
        point[2] = static_cast<NvU8>((rgb >> 16) & 0xFF);
    }
    point[shape.colorBytes] = static_cast<NvU8>(ZoneBrightness(brightness));
}

// The per-type union's bytes, the same for every type.
NvU8* UnionBytes(NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_V1& entry) { return entry.data.rgb.data.rsvd; }

bool EditManual(NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_V1& entry, uint32_t brightness, uint32_t color) {
    Shape shape = ShapeOf(entry.type);
    if (!shape.known) return false;
    NvU8* bytes = UnionBytes(entry);
    SetPoint(bytes, bytes, shape, brightness, color);
    // What a program left behind the manual parameters means nothing now.
    std::memset(bytes + shape.colorBytes + 1, 0, sizeof entry.data.rgb.data.rsvd - shape.colorBytes - 1);
    entry.ctrlMode = NV_GPU_CLIENT_ILLUM_CTRL_MODE_MANUAL;
    return true;
}

NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_DATA_PIECEWISE_LINEAR* TimingOf(NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_V1& entry) {
    switch (entry.type) {
    case NV_GPU_CLIENT_ILLUM_ZONE_TYPE_RGB: return &entry.data.rgb.data.piecewiseLinearRGB.piecewiseLinearData;
    case NV_GPU_CLIENT_ILLUM_ZONE_TYPE_RGBW: return &entry.data.rgbw.data.piecewiseLinearRGBW.piecewiseLinearData;
    case NV_GPU_CLIENT_ILLUM_ZONE_TYPE_COLOR_FIXED:
        return &entry.data.colorFixed.data.piecewiseLinear.piecewiseLinearData;
    default: return &entry.data.singleColor.data.piecewiseLinear.piecewiseLinearData;
    }
}

// End point B, found in the union's bytes like point A.
NvU8* EndPointB(NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_V1& entry) {
    switch (entry.type) {
    case NV_GPU_CLIENT_ILLUM_ZONE_TYPE_RGB:
        return UnionBytes(entry) + offsetof(NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_DATA_PIECEWISE_LINEAR_RGB, rgbParams[1]);
    case NV_GPU_CLIENT_ILLUM_ZONE_TYPE_RGBW:
        return UnionBytes(entry) + offsetof(NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_DATA_PIECEWISE_LINEAR_RGBW, rgbwParams[1]);
    default:
        return UnionBytes(entry) + offsetof(NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_DATA_PIECEWISE_LINEAR_BRIGHTNESS, params[1]);
    }
}

// Both end points take the colour the zone shows now (point A sits where the
// manual colour does), unless the device has one of its own.
bool EditBlink(NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_V1& entry, const ZoneBlink& blink, uint32_t color) {
    Shape shape = ShapeOf(entry.type);
    if (!shape.known) return false;
    NvU8* a = UnionBytes(entry);
    SetPoint(EndPointB(entry), a, shape, blink.bPct, color);
    SetPoint(a, a, shape, blink.aPct, color);
    NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_DATA_PIECEWISE_LINEAR& timing = *TimingOf(entry);
    std::memset(&timing, 0, sizeof timing);
    timing.cycleType = NV_GPU_CLIENT_ILLUM_PIECEWISE_LINEAR_CYCLE_FULL_REPEAT;
    timing.grpCount = 1;
    timing.ATimems = blink.aMs;
    timing.BTimems = blink.bMs;
    entry.ctrlMode = NV_GPU_CLIENT_ILLUM_CTRL_MODE_PIECEWISE_LINEAR;
    return true;
}

// Whether `entry` runs `blink` as EditBlink would have set it from there:
// the mode, both end points and the timing; what lies past them is not
// looked at.
bool RunsBlink(const NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_V1& entry, const ZoneBlink& blink, uint32_t color) {
    NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_V1 wanted = entry;
    if (entry.ctrlMode != NV_GPU_CLIENT_ILLUM_CTRL_MODE_PIECEWISE_LINEAR || !EditBlink(wanted, blink, color))
        return false;
    NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_V1 shown = entry;
    unsigned point = ShapeOf(entry.type).colorBytes + 1;
    return std::memcmp(UnionBytes(wanted), UnionBytes(shown), point) == 0 &&
           std::memcmp(EndPointB(wanted), EndPointB(shown), point) == 0 &&
           std::memcmp(TimingOf(wanted), TimingOf(shown), sizeof *TimingOf(wanted)) == 0;
}

// The active settings of every zone; false when the driver gives none that
// hold `zone`.
bool ReadZones(NvPhysicalGpuHandle gpu, uint32_t zone, NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_PARAMS_V1* params) {
    std::memset(params, 0, sizeof *params);
    params->version = NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_PARAMS_VER;
    if (NvAPI_GPU_ClientIllumZonesGetControl(gpu, params) != NVAPI_OK) return false;
    return zone < params->numIllumZonesControl && params->numIllumZonesControl <= NV_GPU_CLIENT_ILLUM_ZONE_NUM_ZONES_MAX;
}

// Read the active settings of every zone, change one, write them all back.
template <typename Edit>
bool EditZone(NvPhysicalGpuHandle gpu, uint32_t zone, Edit edit) {
    if (zone >= NV_GPU_CLIENT_ILLUM_ZONE_NUM_ZONES_MAX) return false;
    ZoneLock lock;
    if (!lock.Held()) return false;
    NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_PARAMS_V1 params;
    if (!ReadZones(gpu, zone, &params)) return false;
    // The write goes to the active set, whatever the driver left in the word.
    params.flags &= ~NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_DEFAULT;
    if (!edit(params.zones[zone])) return false;
    return NvAPI_GPU_ClientIllumZonesSetControl(gpu, &params) == NVAPI_OK;
}

}  // namespace

uint32_t DescribeZones(NvPhysicalGpuHandle gpu, ZoneDescription* zones) {
    NV_GPU_CLIENT_ILLUM_ZONE_INFO_PARAMS_V1 info;
    std::memset(&info, 0, sizeof info);
    info.version = NV_GPU_CLIENT_ILLUM_ZONE_INFO_PARAMS_VER;
    if (NvAPI_GPU_ClientIllumZonesGetInfo(gpu, &info) != NVAPI_OK) return 0;
    uint32_t count = info.numIllumZones;
    if (count > NV_GPU_CLIENT_ILLUM_ZONE_NUM_ZONES_MAX) count = NV_GPU_CLIENT_ILLUM_ZONE_NUM_ZONES_MAX;
    for (uint32_t z = 0; zones && z < count; ++z) {
        zones[z].type = info.zones[z].type;
        zones[z].location = info.zones[z].zoneLocation;
        zones[z].device = info.zones[z].illumDeviceIdx;
    }
    return count;
}

bool DescribeZone(NvPhysicalGpuHandle gpu, uint32_t zone, ZoneDescription* out) {
    ZoneDescription zones[NV_GPU_CLIENT_ILLUM_ZONE_NUM_ZONES_MAX];
    if (zone >= DescribeZones(gpu, zones)) return false;
    if (out) *out = zones[zone];
    return true;
}

bool ZoneTakesColor(uint32_t type) {
    return type == NV_GPU_CLIENT_ILLUM_ZONE_TYPE_RGB || type == NV_GPU_CLIENT_ILLUM_ZONE_TYPE_RGBW;
}

bool ZoneRunsPrograms(NvPhysicalGpuHandle gpu, uint32_t zone) {
    ZoneDescription description;
    if (!DescribeZone(gpu, zone, &description)) return false;
    NV_GPU_CLIENT_ILLUM_DEVICE_INFO_PARAMS_V1 devices;
    std::memset(&devices, 0, sizeof devices);
    devices.version = NV_GPU_CLIENT_ILLUM_DEVICE_INFO_PARAMS_VER;
    if (NvAPI_GPU_ClientIllumDevicesGetInfo(gpu, &devices) != NVAPI_OK) return false;
    if (description.device >= devices.numIllumDevices ||
        description.device >= NV_GPU_CLIENT_ILLUM_DEVICE_NUM_DEVICES_MAX)
        return false;
    return (devices.devices[description.device].ctrlModeMask >> NV_GPU_CLIENT_ILLUM_CTRL_MODE_PIECEWISE_LINEAR) & 1;
}

void BindZoneWriter(volatile int32_t* run) { zoneWriterRun = run; }

uint32_t ZoneBrightness(uint32_t value) { return value > 100 ? 100 : value; }

uint32_t ZoneBlinkBrightnessAt(const ZoneBlink& blink, uint64_t elapsedMs) {
    uint64_t period = static_cast<uint64_t>(blink.aMs) + blink.bMs;
    if (period == 0) return blink.aPct;
    return elapsedMs % period < blink.aMs ? blink.aPct : blink.bPct;
}

bool WriteZoneManual(NvPhysicalGpuHandle gpu, uint32_t zone, uint32_t brightness, uint32_t color) {
    return EditZone(gpu, zone, [&](NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_V1& entry) {
        return EditManual(entry, brightness, color);
    });
}

bool WriteZoneBlink(NvPhysicalGpuHandle gpu, uint32_t zone, const ZoneBlink& blink, uint32_t color) {
    return EditZone(gpu, zone, [&](NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_V1& entry) {
        return EditBlink(entry, blink, color);
    });
}

bool ZonePlaysBlink(NvPhysicalGpuHandle gpu, uint32_t zone, const ZoneBlink& blink, uint32_t color) {
    if (zone >= NV_GPU_CLIENT_ILLUM_ZONE_NUM_ZONES_MAX) return false;
    NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_PARAMS_V1 params;
    return ReadZones(gpu, zone, &params) && RunsBlink(params.zones[zone], blink, color);
}
