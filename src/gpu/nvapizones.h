// NVAPI's client illumination records (devices and zones, since driver
// release 400), as the public SDK lays them out. None holds a pointer or a
// handle, so every record has one layout, size and version word on x86 and
// x64; the asserts below pin each size and offset the program relies on.
#pragma once

#include <cstddef>
#include <cstdint>

typedef uint8_t NvU8;
typedef uint16_t NvU16;
typedef uint64_t NvU64;

constexpr unsigned NV_GPU_CLIENT_ILLUM_DEVICE_NUM_DEVICES_MAX = 32;
constexpr unsigned NV_GPU_CLIENT_ILLUM_ZONE_NUM_ZONES_MAX = 32;
constexpr unsigned NV_GPU_CLIENT_ILLUM_CTRL_MODE_PIECEWISE_LINEAR_COLOR_ENDPOINTS = 2;

// Control modes; ctrlModeMask is read as one bit per mode value.
constexpr uint32_t NV_GPU_CLIENT_ILLUM_CTRL_MODE_MANUAL = 0;
constexpr uint32_t NV_GPU_CLIENT_ILLUM_CTRL_MODE_PIECEWISE_LINEAR = 1;

// Zone types: which member of the zone control union applies.
constexpr uint32_t NV_GPU_CLIENT_ILLUM_ZONE_TYPE_INVALID = 0;
constexpr uint32_t NV_GPU_CLIENT_ILLUM_ZONE_TYPE_RGB = 1;
constexpr uint32_t NV_GPU_CLIENT_ILLUM_ZONE_TYPE_COLOR_FIXED = 2;
constexpr uint32_t NV_GPU_CLIENT_ILLUM_ZONE_TYPE_RGBW = 3;
constexpr uint32_t NV_GPU_CLIENT_ILLUM_ZONE_TYPE_SINGLE_COLOR = 4;

// Zone locations.
constexpr uint32_t NV_GPU_CLIENT_ILLUM_ZONE_LOCATION_GPU_TOP_0 = 0x00;
constexpr uint32_t NV_GPU_CLIENT_ILLUM_ZONE_LOCATION_GPU_FRONT_0 = 0x08;
constexpr uint32_t NV_GPU_CLIENT_ILLUM_ZONE_LOCATION_GPU_BACK_0 = 0x0C;
constexpr uint32_t NV_GPU_CLIENT_ILLUM_ZONE_LOCATION_SLI_TOP_0 = 0x20;

constexpr uint32_t NV_GPU_CLIENT_ILLUM_PIECEWISE_LINEAR_CYCLE_HALF_HALT = 0;
constexpr uint32_t NV_GPU_CLIENT_ILLUM_PIECEWISE_LINEAR_CYCLE_FULL_HALT = 1;
constexpr uint32_t NV_GPU_CLIENT_ILLUM_PIECEWISE_LINEAR_CYCLE_FULL_REPEAT = 2;

// ---- Devices --------------------------------------------------------------

struct NV_GPU_CLIENT_ILLUM_DEVICE_INFO_V1 {
    uint32_t type;
    uint32_t ctrlModeMask;
    NvU8 data[64];  // type-specific union (pins, I2C index)
    NvU8 rsvd[64];
};

struct NV_GPU_CLIENT_ILLUM_DEVICE_INFO_PARAMS_V1 {
    uint32_t version;
    uint32_t numIllumDevices;
    NvU8 rsvd[64];
    NV_GPU_CLIENT_ILLUM_DEVICE_INFO_V1 devices[NV_GPU_CLIENT_ILLUM_DEVICE_NUM_DEVICES_MAX];
};

// ---- Zones: static description --------------------------------------------

struct NV_GPU_CLIENT_ILLUM_ZONE_INFO_V1 {
    uint32_t type;
    NvU8 illumDeviceIdx;
    NvU8 provIdx;
    uint32_t zoneLocation;
    NvU8 data[64];  // type-specific union, reserved bytes only
    NvU8 rsvd[64];
};

struct NV_GPU_CLIENT_ILLUM_ZONE_INFO_PARAMS_V1 {
    uint32_t version;
    uint32_t numIllumZones;
    NvU8 rsvd[64];
    NV_GPU_CLIENT_ILLUM_ZONE_INFO_V1 zones[NV_GPU_CLIENT_ILLUM_ZONE_NUM_ZONES_MAX];
};

// ---- Zones: control --------------------------------------------------------

struct NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_DATA_MANUAL_RGB_PARAMS {
    NvU8 colorR;
    NvU8 colorG;
    NvU8 colorB;
    NvU8 brightnessPct;
};
struct NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_DATA_MANUAL_RGBW_PARAMS {
    NvU8 colorR;
    NvU8 colorG;
    NvU8 colorB;
    NvU8 colorW;
    NvU8 brightnessPct;
};
// Colour-fixed and single-colour zones have a brightness only.
struct NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_DATA_MANUAL_BRIGHTNESS_PARAMS {
    NvU8 brightnessPct;
};

struct NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_DATA_PIECEWISE_LINEAR {
    uint32_t cycleType;
    NvU8 grpCount;
    NvU16 riseTimems;
    NvU16 fallTimems;
    NvU16 ATimems;
    NvU16 BTimems;
    NvU16 grpIdleTimems;
    NvU16 phaseOffsetms;
};

struct NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_DATA_PIECEWISE_LINEAR_RGB {
    NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_DATA_MANUAL_RGB_PARAMS rgbParams[2];
    NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_DATA_PIECEWISE_LINEAR piecewiseLinearData;
};
struct NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_DATA_PIECEWISE_LINEAR_RGBW {
    NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_DATA_MANUAL_RGBW_PARAMS rgbwParams[2];
    NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_DATA_PIECEWISE_LINEAR piecewiseLinearData;
};
struct NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_DATA_PIECEWISE_LINEAR_BRIGHTNESS {
    NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_DATA_MANUAL_BRIGHTNESS_PARAMS params[2];
    NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_DATA_PIECEWISE_LINEAR piecewiseLinearData;
};

// The per-type data: the mode's member of a 64-byte union, then 64 reserved
// bytes. The colour-fixed and single-colour members share one shape.
struct NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_DATA_RGB {
    union {
        NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_DATA_MANUAL_RGB_PARAMS manualRGB;
        NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_DATA_PIECEWISE_LINEAR_RGB piecewiseLinearRGB;
        NvU8 rsvd[64];
    } data;
    NvU8 rsvd[64];
};
struct NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_DATA_RGBW {
    union {
        NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_DATA_MANUAL_RGBW_PARAMS manualRGBW;
        NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_DATA_PIECEWISE_LINEAR_RGBW piecewiseLinearRGBW;
        NvU8 rsvd[64];
    } data;
    NvU8 rsvd[64];
};
struct NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_DATA_BRIGHTNESS {
    union {
        NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_DATA_MANUAL_BRIGHTNESS_PARAMS manual;
        NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_DATA_PIECEWISE_LINEAR_BRIGHTNESS piecewiseLinear;
        NvU8 rsvd[64];
    } data;
    NvU8 rsvd[64];
};

struct NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_V1 {
    uint32_t type;
    uint32_t ctrlMode;
    union {
        NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_DATA_RGB rgb;
        NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_DATA_BRIGHTNESS colorFixed;
        NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_DATA_RGBW rgbw;
        NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_DATA_BRIGHTNESS singleColor;
        NvU8 rsvd[64];
    } data;
    NvU8 rsvd[64];
};

constexpr uint32_t NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_DEFAULT = 1;  // bit 0 of `flags`: bDefault

struct NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_PARAMS_V1 {
    uint32_t version;
    uint32_t flags;  // bit 0 bDefault (1 default set, 0 active set); bits 1..31 reserved, 0
    uint32_t numIllumZonesControl;
    NvU8 rsvd[64];
    NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_V1 zones[NV_GPU_CLIENT_ILLUM_ZONE_NUM_ZONES_MAX];
};

constexpr uint32_t NV_GPU_CLIENT_ILLUM_DEVICE_INFO_PARAMS_VER =
    sizeof(NV_GPU_CLIENT_ILLUM_DEVICE_INFO_PARAMS_V1) | (1u << 16);
constexpr uint32_t NV_GPU_CLIENT_ILLUM_ZONE_INFO_PARAMS_VER =
    sizeof(NV_GPU_CLIENT_ILLUM_ZONE_INFO_PARAMS_V1) | (1u << 16);
constexpr uint32_t NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_PARAMS_VER =
    sizeof(NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_PARAMS_V1) | (1u << 16);

// Interface ids.
constexpr uint32_t NVID_GPU_ClientIllumDevicesGetInfo = 0xD4100E58;
constexpr uint32_t NVID_GPU_ClientIllumZonesGetInfo = 0x4B81241B;
constexpr uint32_t NVID_GPU_ClientIllumZonesGetControl = 0x3DBF5764;
constexpr uint32_t NVID_GPU_ClientIllumZonesSetControl = 0x197D065E;

// ---- Layout checks (identical on x86 and x64) ------------------------------

static_assert(sizeof(NV_GPU_CLIENT_ILLUM_DEVICE_INFO_V1) == 136, "device info entry");
static_assert(offsetof(NV_GPU_CLIENT_ILLUM_DEVICE_INFO_V1, ctrlModeMask) == 4, "ctrlModeMask");
static_assert(offsetof(NV_GPU_CLIENT_ILLUM_DEVICE_INFO_V1, data) == 8, "device info data");
static_assert(offsetof(NV_GPU_CLIENT_ILLUM_DEVICE_INFO_V1, rsvd) == 72, "device info reserved");
static_assert(sizeof(NV_GPU_CLIENT_ILLUM_DEVICE_INFO_PARAMS_V1) == 4424, "device info record");
static_assert(offsetof(NV_GPU_CLIENT_ILLUM_DEVICE_INFO_PARAMS_V1, numIllumDevices) == 4, "device count");
static_assert(offsetof(NV_GPU_CLIENT_ILLUM_DEVICE_INFO_PARAMS_V1, devices[1]) == 208, "device 1");
static_assert(offsetof(NV_GPU_CLIENT_ILLUM_DEVICE_INFO_PARAMS_V1, devices[31]) == 4288, "device 31");
static_assert(NV_GPU_CLIENT_ILLUM_DEVICE_INFO_PARAMS_VER == 0x00011148, "device info version word");

static_assert(sizeof(NV_GPU_CLIENT_ILLUM_ZONE_INFO_V1) == 140, "zone info entry");
static_assert(offsetof(NV_GPU_CLIENT_ILLUM_ZONE_INFO_V1, illumDeviceIdx) == 4, "illumDeviceIdx");
static_assert(offsetof(NV_GPU_CLIENT_ILLUM_ZONE_INFO_V1, provIdx) == 5, "provIdx");
static_assert(offsetof(NV_GPU_CLIENT_ILLUM_ZONE_INFO_V1, zoneLocation) == 8, "zoneLocation");
static_assert(offsetof(NV_GPU_CLIENT_ILLUM_ZONE_INFO_V1, data) == 12, "zone info data");
static_assert(offsetof(NV_GPU_CLIENT_ILLUM_ZONE_INFO_V1, rsvd) == 76, "zone info reserved");
static_assert(sizeof(NV_GPU_CLIENT_ILLUM_ZONE_INFO_PARAMS_V1) == 4552, "zone info record");
static_assert(offsetof(NV_GPU_CLIENT_ILLUM_ZONE_INFO_PARAMS_V1, zones) == 72, "zone info 0");
static_assert(offsetof(NV_GPU_CLIENT_ILLUM_ZONE_INFO_PARAMS_V1, zones[1].zoneLocation) == 220, "zone 1 location");
static_assert(offsetof(NV_GPU_CLIENT_ILLUM_ZONE_INFO_PARAMS_V1, zones[31]) == 4412, "zone info 31");
static_assert(NV_GPU_CLIENT_ILLUM_ZONE_INFO_PARAMS_VER == 0x000111C8, "zone info version word");

static_assert(sizeof(NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_DATA_MANUAL_RGBW_PARAMS) == 5, "RGBW parameters");
static_assert(sizeof(NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_DATA_PIECEWISE_LINEAR) == 20, "piecewise-linear timing");
static_assert(offsetof(NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_DATA_PIECEWISE_LINEAR, grpCount) == 4, "grpCount");
static_assert(offsetof(NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_DATA_PIECEWISE_LINEAR, riseTimems) == 6, "riseTimems");
static_assert(offsetof(NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_DATA_PIECEWISE_LINEAR, ATimems) == 10, "ATimems");
static_assert(offsetof(NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_DATA_PIECEWISE_LINEAR, phaseOffsetms) == 16, "phase");
static_assert(sizeof(NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_DATA_PIECEWISE_LINEAR_RGB) == 28, "piecewise RGB");
static_assert(sizeof(NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_DATA_PIECEWISE_LINEAR_RGBW) == 32, "piecewise RGBW");
static_assert(sizeof(NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_DATA_PIECEWISE_LINEAR_BRIGHTNESS) == 24, "piecewise one");
static_assert(sizeof(NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_DATA_RGB) == 128, "RGB data");
static_assert(sizeof(NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_DATA_RGBW) == 128, "RGBW data");
static_assert(sizeof(NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_DATA_BRIGHTNESS) == 128, "brightness-only data");

// Offsets within one zone entry, as the SDK's table of the entry gives them.
static_assert(sizeof(NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_V1) == 200, "zone control entry");
static_assert(offsetof(NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_V1, ctrlMode) == 4, "ctrlMode");
static_assert(offsetof(NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_V1, data) == 8, "zone control data");
static_assert(offsetof(NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_V1, data.rgb.data.manualRGB.brightnessPct) == 11,
              "RGB brightness");
static_assert(offsetof(NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_V1, data.rgb.data.piecewiseLinearRGB.rgbParams[1]) == 12,
              "RGB end point B");
static_assert(offsetof(NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_V1,
                       data.rgb.data.piecewiseLinearRGB.piecewiseLinearData.cycleType) == 16,
              "RGB cycle type");
static_assert(offsetof(NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_V1,
                       data.rgb.data.piecewiseLinearRGB.piecewiseLinearData.phaseOffsetms) == 32,
              "RGB phase");
static_assert(offsetof(NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_V1, data.colorFixed.data.manual.brightnessPct) == 8,
              "fixed-colour brightness");
static_assert(offsetof(NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_V1, data.colorFixed.data.piecewiseLinear.params[1]) == 9,
              "fixed-colour end point B");
static_assert(offsetof(NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_V1,
                       data.colorFixed.data.piecewiseLinear.piecewiseLinearData.cycleType) == 12,
              "fixed-colour cycle type");
static_assert(offsetof(NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_V1,
                       data.colorFixed.data.piecewiseLinear.piecewiseLinearData.riseTimems) == 18,
              "fixed-colour rise");
static_assert(offsetof(NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_V1, data.rgbw.data.manualRGBW.colorW) == 11, "RGBW white");
static_assert(offsetof(NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_V1, data.rgbw.data.manualRGBW.brightnessPct) == 12,
              "RGBW brightness");
static_assert(offsetof(NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_V1, data.rgbw.data.piecewiseLinearRGBW.rgbwParams[1]) == 13,
              "RGBW end point B");
static_assert(offsetof(NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_V1,
                       data.rgbw.data.piecewiseLinearRGBW.piecewiseLinearData.cycleType) == 20,
              "RGBW cycle type");
static_assert(offsetof(NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_V1,
                       data.rgbw.data.piecewiseLinearRGBW.piecewiseLinearData.phaseOffsetms) == 36,
              "RGBW phase");
static_assert(offsetof(NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_V1, data.rgb.rsvd) == 72, "per-type reserved");
static_assert(offsetof(NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_V1, rsvd) == 136, "zone control reserved");

static_assert(sizeof(NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_PARAMS_V1) == 6476, "zone control record");
static_assert(offsetof(NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_PARAMS_V1, flags) == 4, "bDefault word");
static_assert(offsetof(NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_PARAMS_V1, numIllumZonesControl) == 8, "zone count");
static_assert(offsetof(NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_PARAMS_V1, zones) == 76, "zone control 0");
static_assert(offsetof(NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_PARAMS_V1, zones[1]) == 276, "zone control 1");
static_assert(offsetof(NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_PARAMS_V1, zones[31]) == 6276, "zone control 31");
static_assert(NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_PARAMS_VER == 0x0001194C, "zone control version word");
