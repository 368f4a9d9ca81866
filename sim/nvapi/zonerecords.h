// The client illumination records (illumination devices and zones) as the
// simulated driver sees them, written from the published layouts apart from
// the program's declarations. No record holds a pointer: one layout, size
// and version word on x86 and x64.
#pragma once

#include <cstddef>
#include <cstdint>

#include "records.h"

namespace sim {

const uint32_t ILLUM_MAX = 32;  // devices and zones per GPU

const uint32_t ZONE_TYPE_RGB = 1;
const uint32_t ZONE_TYPE_COLOR_FIXED = 2;
const uint32_t ZONE_TYPE_RGBW = 3;
const uint32_t ZONE_TYPE_SINGLE_COLOR = 4;
const uint32_t MODE_MANUAL = 0;
const uint32_t MODE_PIECEWISE_LINEAR = 1;
const uint32_t DEVICE_TYPE_MCUV10 = 1;
const uint32_t DEVICE_TYPE_GPIO_PWM_RGBW = 2;
const uint32_t DEVICE_TYPE_GPIO_PWM_SINGLE_COLOR = 3;

struct IllumDeviceInfo {
    uint32_t type;
    uint32_t ctrlModeMask;
    uint8_t data[64];
    uint8_t reserved[64];
};
struct IllumDeviceInfoParams {
    uint32_t version;
    uint32_t numIllumDevices;
    uint8_t reserved[64];
    IllumDeviceInfo devices[ILLUM_MAX];
};
static_assert(sizeof(IllumDeviceInfo) == 136, "device info entry");
static_assert(sizeof(IllumDeviceInfoParams) == 4424, "device info record");
static_assert(offsetof(IllumDeviceInfoParams, devices[1]) == 208, "device info 1");
const uint32_t DEVICE_INFO_WORD = Word(4424, 1);

// The sync record holds an 8-byte time stamp, aligned to 8 on both targets.
struct IllumDeviceSync {
    uint8_t bSync;
    uint64_t timeStampms;
    uint8_t reserved[64];
};
struct IllumDeviceControl {
    uint32_t type;
    IllumDeviceSync syncData;
    uint8_t reserved[64];
};
struct IllumDeviceControlParams {
    uint32_t version;
    uint32_t numIllumDevices;
    uint8_t reserved[64];
    IllumDeviceControl devices[ILLUM_MAX];
};
static_assert(sizeof(IllumDeviceSync) == 80, "device sync");
static_assert(offsetof(IllumDeviceSync, timeStampms) == 8, "time stamp");
static_assert(sizeof(IllumDeviceControl) == 152, "device control entry");
static_assert(offsetof(IllumDeviceControl, syncData) == 8, "sync data");
static_assert(sizeof(IllumDeviceControlParams) == 4936, "device control record");
static_assert(offsetof(IllumDeviceControlParams, devices[1].syncData.timeStampms) == 240, "device 1 time stamp");
const uint32_t DEVICE_CONTROL_WORD = Word(4936, 1);

struct ZoneInfo {
    uint32_t type;
    uint8_t illumDeviceIdx;
    uint8_t provIdx;
    uint32_t zoneLocation;
    uint8_t data[64];
    uint8_t reserved[64];
};
struct ZoneInfoParams {
    uint32_t version;
    uint32_t numIllumZones;
    uint8_t reserved[64];
    ZoneInfo zones[ILLUM_MAX];
};
static_assert(sizeof(ZoneInfo) == 140, "zone info entry");
static_assert(offsetof(ZoneInfo, zoneLocation) == 8, "zone location");
static_assert(sizeof(ZoneInfoParams) == 4552, "zone info record");
static_assert(offsetof(ZoneInfoParams, zones[1].type) == 212, "zone info 1");
const uint32_t ZONE_INFO_WORD = Word(4552, 1);

// One zone's control entry. The 128 bytes after the mode are a union chosen
// by type and mode; the simulator reads and writes it byte by byte at the
// published offsets (relative to the entry) below.
struct ZoneControl {
    uint32_t type;
    uint32_t ctrlMode;
    uint8_t data[128];
    uint8_t reserved[64];
};
struct ZoneControlParams {
    uint32_t version;
    uint32_t flags;  // bit 0: bDefault
    uint32_t numIllumZonesControl;
    uint8_t reserved[64];
    ZoneControl zones[ILLUM_MAX];
};
static_assert(sizeof(ZoneControl) == 200, "zone control entry");
static_assert(sizeof(ZoneControlParams) == 6476, "zone control record");
static_assert(offsetof(ZoneControlParams, zones[1]) == 276, "zone control 1");
const uint32_t ZONE_CONTROL_WORD = Word(6476, 1);

// Offsets within a zone control entry.
const uint32_t ZC_MANUAL = 8;           // R G B [W] brightness, or brightness alone
const uint32_t ZC_TYPE_RESERVED = 72;   // the per-type reserved bytes, then the entry's own, to the end
const uint32_t ZC_RGB_B = 12;           // RGB end point B (A is at ZC_MANUAL)
const uint32_t ZC_RGB_TIMING = 16;
const uint32_t ZC_RGBW_B = 13;
const uint32_t ZC_RGBW_TIMING = 20;
const uint32_t ZC_ONE_B = 9;            // colour-fixed and single-colour end point B
const uint32_t ZC_ONE_TIMING = 12;
// Within the 20-byte timing record.
const uint32_t PL_CYCLE = 0, PL_GROUP = 4, PL_RISE = 6, PL_FALL = 8, PL_A = 10, PL_B = 12, PL_IDLE = 14,
               PL_PHASE = 16;

const uint32_t ID_GPU_ClientIllumDevicesGetInfo = 0xD4100E58;
const uint32_t ID_GPU_ClientIllumDevicesGetControl = 0x73C01D58;
const uint32_t ID_GPU_ClientIllumDevicesSetControl = 0x57024C62;
const uint32_t ID_GPU_ClientIllumZonesGetInfo = 0x4B81241B;
const uint32_t ID_GPU_ClientIllumZonesGetControl = 0x3DBF5764;
const uint32_t ID_GPU_ClientIllumZonesSetControl = 0x197D065E;

}  // namespace sim
