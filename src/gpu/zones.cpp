#include "gpu/zones.h"

#include <windows.h>

#include <cstring>

#include "base/device.h"

namespace {

// ---- One lock per GPU ------------------------------------------------------

// The GPUs whose zones were written, each with its lock. A process drives a
// handful of boards; should more handles than slots turn up, they share the
// last lock, which is still correct, only coarser.
constexpr int kLockSlots = 64;
struct GpuLockSlot {
    NvPhysicalGpuHandle gpu;
    SRWLOCK lock;
};
GpuLockSlot lockSlots[kLockSlots];
int lockSlotsUsed = 0;
SRWLOCK lockTable = SRWLOCK_INIT;

SRWLOCK* LockOf(NvPhysicalGpuHandle gpu) {
    AcquireSRWLockExclusive(&lockTable);
    int i = 0;
    while (i < lockSlotsUsed && lockSlots[i].gpu != gpu) ++i;
    if (i == lockSlotsUsed) {
        if (lockSlotsUsed < kLockSlots) {
            lockSlots[i].gpu = gpu;
            ++lockSlotsUsed;
        } else {
            i = kLockSlots - 1;
        }
    }
    SRWLOCK* lock = &lockSlots[i].lock;
    ReleaseSRWLockExclusive(&lockTable);
    return lock;
}

class GpuZoneLock {
public:
    explicit GpuZoneLock(NvPhysicalGpuHandle gpu) : lock_(LockOf(gpu)) { AcquireSRWLockExclusive(lock_); }
    ~GpuZoneLock() { ReleaseSRWLockExclusive(lock_); }
    GpuZoneLock(const GpuZoneLock&) = delete;
    GpuZoneLock& operator=(const GpuZoneLock&) = delete;

private:
    SRWLOCK* lock_;
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

NvU8* EndPointB(NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_V1& entry) {
    switch (entry.type) {
    case NV_GPU_CLIENT_ILLUM_ZONE_TYPE_RGB: return &entry.data.rgb.data.piecewiseLinearRGB.rgbParams[1].colorR;
    case NV_GPU_CLIENT_ILLUM_ZONE_TYPE_RGBW: return &entry.data.rgbw.data.piecewiseLinearRGBW.rgbwParams[1].colorR;
    case NV_GPU_CLIENT_ILLUM_ZONE_TYPE_COLOR_FIXED:
        return &entry.data.colorFixed.data.piecewiseLinear.params[1].brightnessPct;
    default: return &entry.data.singleColor.data.piecewiseLinear.params[1].brightnessPct;
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

// Read the active settings of every zone, change one, write them all back.
template <typename Edit>
bool EditZone(NvPhysicalGpuHandle gpu, uint32_t zone, Edit edit) {
    if (zone >= NV_GPU_CLIENT_ILLUM_ZONE_NUM_ZONES_MAX) return false;
    GpuZoneLock lock(gpu);
    NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_PARAMS_V1 params;
    std::memset(&params, 0, sizeof params);
    params.version = NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_PARAMS_VER;
    if (NvAPI_GPU_ClientIllumZonesGetControl(gpu, &params) != NVAPI_OK) return false;
    if (zone >= params.numIllumZonesControl || params.numIllumZonesControl > NV_GPU_CLIENT_ILLUM_ZONE_NUM_ZONES_MAX)
        return false;
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
