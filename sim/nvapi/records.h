// The NVAPI records as the simulated driver sees them, written from the
// published layouts on purpose apart from the program's own
// declarations: a layout mistake must not hide in both sides of a test.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sim {

typedef int32_t Status;

enum : Status {
    ST_OK = 0,
    ST_ERROR = -1,
    ST_API_NOT_INITIALIZED = -4,
    ST_INVALID_ARGUMENT = -5,
    ST_NVIDIA_DEVICE_NOT_FOUND = -6,
    ST_END_ENUMERATION = -7,
    ST_INCOMPATIBLE_STRUCT_VERSION = -9,
    ST_HANDLE_INVALIDATED = -10,
    ST_EXPECTED_PHYSICAL_GPU_HANDLE = -101,
    ST_EXPECTED_DISPLAY_HANDLE = -102,
    ST_NOT_SUPPORTED = -104,
};

const int SHORT_STRING = 64;
const int MAX_GPUS_PER_DISPLAY = 64;
const int MAX_SENSORS = 3;
const uint32_t SENSOR_ALL = 15;
const uint32_t TARGET_GPU = 1;

constexpr uint32_t Word(uint32_t size, uint32_t version) { return size | (version << 16); }

struct DriverVersion {
    uint32_t version;
    uint32_t drvVersion;
    uint32_t bldChangeListNum;
    char szBuildBranchString[SHORT_STRING];
    char szAdapterString[SHORT_STRING];
};
static_assert(sizeof(DriverVersion) == 140, "driver version record");
static_assert(offsetof(DriverVersion, szAdapterString) == 76, "adapter string offset");
const uint32_t DRIVER_VERSION_WORD = Word(140, 1);

// Shared by the support query and the set: version, GPU, attribute, value.
struct IlluminationParm {
    uint32_t version;
    void* hPhysicalGpu;
    uint32_t Attribute;
    uint32_t value;  // bSupported (out) for the query, Value (in) for the set
};
// The GPU handle is a pointer: 16 bytes on x86, 24 on x64.
#ifdef _WIN64
static_assert(sizeof(IlluminationParm) == 24, "illumination record");
#else
static_assert(sizeof(IlluminationParm) == 16, "illumination record");
#endif
const uint32_t ILLUMINATION_WORD = Word(sizeof(IlluminationParm), 1);

struct ThermalSensor {
    int32_t controller;
    uint32_t defaultMinTemp;
    uint32_t defaultMaxTemp;
    uint32_t currentTemp;
    int32_t target;
};
struct ThermalSettings {
    uint32_t version;
    uint32_t count;
    ThermalSensor sensor[MAX_SENSORS];
};
static_assert(sizeof(ThermalSettings) == 68, "thermal record");
static_assert(offsetof(ThermalSettings, sensor[1].target) == 44, "thermal sensor 1 target");
const uint32_t THERMAL_WORD = Word(68, 1);

struct ClockDomain {
    uint32_t present;  // bit 0
    uint32_t frequencyKhz;
};
struct ClockFrequencies {
    uint32_t version;
    uint32_t clockType;  // bits 0..3
    ClockDomain domain[32];
};
static_assert(sizeof(ClockFrequencies) == 264, "clock record");
static_assert(offsetof(ClockFrequencies, domain[0].frequencyKhz) == 12, "graphics clock offset");
const uint32_t CLOCK_WORD = Word(264, 2);
const uint32_t CLOCK_DOMAIN_GRAPHICS = 0;
const uint32_t CLOCK_DOMAIN_MEMORY = 4;

struct UtilizationDomain {
    uint32_t present;  // bit 0
    uint32_t percentage;
};
struct DynamicPstates {
    uint32_t version;
    uint32_t flags;
    UtilizationDomain utilization[8];
};
static_assert(sizeof(DynamicPstates) == 72, "dynamic P-state record");
const uint32_t DYNAMIC_PSTATES_WORD = Word(72, 1);

// Private records: only the size, the version word and a few offsets are
// known; the rest is ours to fill.
const uint32_t USAGE_TABLE_SIZE = 136;
const uint32_t USAGE_TABLE_WORD = Word(136, 1);
const uint32_t USAGE_TABLE_GPU = 12;
const uint32_t COOLER_RECORD_SIZE = 968;
const uint32_t COOLER_RECORD_WORD = Word(968, 2);
const uint32_t COOLER_COUNT = 4;
const uint32_t COOLER_FIRST_LEVEL = 32;

// Interface ids.
const uint32_t ID_Initialize = 0x0150E828;
const uint32_t ID_GetInterfaceVersionString = 0x01053FA5;
const uint32_t ID_EnumNvidiaDisplayHandle = 0x9ABDD40D;
const uint32_t ID_GetPhysicalGPUsFromDisplay = 0x34EF9506;
const uint32_t ID_GetDisplayDriverVersion = 0xF951A4D1;
const uint32_t ID_GPU_GetFullName = 0xCEEE8E9F;
const uint32_t ID_GPU_QueryIlluminationSupport = 0xA629DA31;
const uint32_t ID_GPU_GetIllumination = 0x9A1B9365;
const uint32_t ID_GPU_SetIllumination = 0x0254A187;
const uint32_t ID_GPU_GetCurrentPstate = 0x927DA4F6;
const uint32_t ID_GPU_GetThermalSettings = 0xE3640A56;
const uint32_t ID_GPU_GetAllClockFrequencies = 0xDCB616C3;
const uint32_t ID_GPU_GetDynamicPstatesInfoEx = 0x60DED2ED;
const uint32_t ID_GPU_GetUsages = 0x189A1FDF;
const uint32_t ID_GPU_GetCoolerSettings = 0xDA141340;
const uint32_t ID_PreCallNotice = 0x33C7358C;
const uint32_t ID_PostCallNotice = 0x593E8644;

}  // namespace sim
