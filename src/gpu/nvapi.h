// The NVAPI operations the program calls, under their public names. Each
// finds its driver entry through nvapi_QueryInterface of the driver library
// in the system directory on first use and keeps it. All entries are __cdecl.
// The layer itself answers -1 (NVAPI_ERROR), -2 (NVAPI_LIBRARY_NOT_FOUND) and
// -3 (NVAPI_NO_IMPLEMENTATION).
#pragma once

#include <cstdint>

#include "gpu/nvapizones.h"

#define NVAPI_CALL __cdecl

typedef uint32_t NvU32;
typedef int32_t NvS32;
typedef int32_t NvAPI_Status;

enum : NvAPI_Status {
    NVAPI_OK = 0,
    NVAPI_ERROR = -1,
    NVAPI_LIBRARY_NOT_FOUND = -2,
    NVAPI_NO_IMPLEMENTATION = -3,
    NVAPI_API_NOT_INITIALIZED = -4,
    NVAPI_NVIDIA_DEVICE_NOT_FOUND = -6,
    NVAPI_END_ENUMERATION = -7,
    NVAPI_INVALID_HANDLE = -8,
    NVAPI_INCOMPATIBLE_STRUCT_VERSION = -9,
    NVAPI_HANDLE_INVALIDATED = -10,
    NVAPI_NOT_SUPPORTED = -104,
};

constexpr int NVAPI_SHORT_STRING_MAX = 64;
constexpr int NVAPI_MAX_PHYSICAL_GPUS = 64;
typedef char NvAPI_ShortString[NVAPI_SHORT_STRING_MAX];

struct NvDisplayHandle__ { int unused; };
struct NvPhysicalGpuHandle__ { int unused; };
typedef NvDisplayHandle__* NvDisplayHandle;
typedef NvPhysicalGpuHandle__* NvPhysicalGpuHandle;

// Record version words: size | version << 16.
constexpr NvU32 NvVersionWord(NvU32 size, NvU32 version) { return size | (version << 16); }

struct NV_DISPLAY_DRIVER_VERSION {
    NvU32 version;
    NvU32 drvVersion;
    NvU32 bldChangeListNum;
    NvAPI_ShortString szBuildBranchString;
    NvAPI_ShortString szAdapterString;
};
constexpr NvU32 NV_DISPLAY_DRIVER_VERSION_VER = NvVersionWord(sizeof(NV_DISPLAY_DRIVER_VERSION), 1);

struct NV_GPU_QUERY_ILLUMINATION_SUPPORT_PARM {
    NvU32 version;
    NvPhysicalGpuHandle hPhysicalGpu;
    NvU32 Attribute;
    NvU32 bSupported;
};
constexpr NvU32 NV_GPU_QUERY_ILLUMINATION_SUPPORT_PARM_VER =
    NvVersionWord(sizeof(NV_GPU_QUERY_ILLUMINATION_SUPPORT_PARM), 1);

struct NV_GPU_SET_ILLUMINATION_PARM {
    NvU32 version;
    NvPhysicalGpuHandle hPhysicalGpu;
    NvU32 Attribute;
    NvU32 Value;
};
constexpr NvU32 NV_GPU_SET_ILLUMINATION_PARM_VER = NvVersionWord(sizeof(NV_GPU_SET_ILLUMINATION_PARM), 1);

constexpr NvU32 NVAPI_THERMAL_TARGET_GPU = 1;
constexpr NvU32 NVAPI_THERMAL_TARGET_ALL = 15;

struct NV_GPU_THERMAL_SENSOR {
    NvS32 controller;
    NvU32 defaultMinTemp;
    NvU32 defaultMaxTemp;
    NvU32 currentTemp;
    NvS32 target;
};
struct NV_GPU_THERMAL_SETTINGS {
    NvU32 version;
    NvU32 count;
    NV_GPU_THERMAL_SENSOR sensor[3];
};
constexpr NvU32 NV_GPU_THERMAL_SETTINGS_VER_1 = NvVersionWord(sizeof(NV_GPU_THERMAL_SETTINGS), 1);

struct NV_GPU_CLOCK_DOMAIN {
    NvU32 bIsPresent;  // bit 0
    NvU32 frequency;   // kHz
};
struct NV_GPU_CLOCK_FREQUENCIES {
    NvU32 version;
    NvU32 ClockType;  // bits 0..3: 0 current, 1 base, 2 boost
    NV_GPU_CLOCK_DOMAIN domain[32];
};
constexpr NvU32 NV_GPU_CLOCK_FREQUENCIES_VER_2 = NvVersionWord(sizeof(NV_GPU_CLOCK_FREQUENCIES), 2);

struct NV_GPU_UTILIZATION_DOMAIN {
    NvU32 bIsPresent;  // bit 0
    NvU32 percentage;
};
struct NV_GPU_DYNAMIC_PSTATES_INFO_EX {
    NvU32 version;
    NvU32 flags;
    NV_GPU_UTILIZATION_DOMAIN utilization[8];
};
constexpr NvU32 NV_GPU_DYNAMIC_PSTATES_INFO_EX_VER = NvVersionWord(sizeof(NV_GPU_DYNAMIC_PSTATES_INFO_EX), 1);

typedef NvS32 NV_GPU_PERF_PSTATE_ID;
constexpr NV_GPU_PERF_PSTATE_ID NVAPI_GPU_PERF_PSTATE_UNDEFINED = 16;

// Private records, known only by size, version word and the offsets read.
constexpr NvU32 NV_USAGE_TABLE_SIZE = 136;
constexpr NvU32 NV_USAGE_TABLE_VER = NvVersionWord(NV_USAGE_TABLE_SIZE, 1);
constexpr NvU32 NV_USAGE_TABLE_GPU_OFFSET = 12;
constexpr NvU32 NV_COOLER_RECORD_SIZE = 968;
constexpr NvU32 NV_COOLER_RECORD_VER = NvVersionWord(NV_COOLER_RECORD_SIZE, 2);
constexpr NvU32 NV_COOLER_COUNT_OFFSET = 4;
constexpr NvU32 NV_COOLER_LEVEL_OFFSET = 32;

// Only the two illumination records hold a pointer (the GPU handle) and grow
// on the 64-bit build; every other record is made of 32-bit words.
#ifdef _WIN64
static_assert(sizeof(NV_GPU_SET_ILLUMINATION_PARM) == 24, "illumination record");
static_assert(NV_GPU_SET_ILLUMINATION_PARM_VER == 0x00010018, "illumination version word");
#else
static_assert(sizeof(NV_GPU_SET_ILLUMINATION_PARM) == 16, "illumination record");
static_assert(NV_GPU_SET_ILLUMINATION_PARM_VER == 0x00010010, "illumination version word");
#endif
static_assert(NV_GPU_QUERY_ILLUMINATION_SUPPORT_PARM_VER == NV_GPU_SET_ILLUMINATION_PARM_VER, "one layout");
static_assert(NV_DISPLAY_DRIVER_VERSION_VER == 0x0001008C, "driver version word");
static_assert(NV_GPU_THERMAL_SETTINGS_VER_1 == 0x00010044, "thermal version word");
static_assert(NV_GPU_CLOCK_FREQUENCIES_VER_2 == 0x00020108, "clock version word");
static_assert(NV_GPU_DYNAMIC_PSTATES_INFO_EX_VER == 0x00010048, "utilisation version word");
static_assert(NV_USAGE_TABLE_VER == 0x00010088, "usage table version word");
static_assert(NV_COOLER_RECORD_VER == 0x000203C8, "cooler version word");

// Interface ids.
constexpr NvU32 NVID_Initialize = 0x0150E828;
constexpr NvU32 NVID_GetInterfaceVersionString = 0x01053FA5;
constexpr NvU32 NVID_EnumNvidiaDisplayHandle = 0x9ABDD40D;
constexpr NvU32 NVID_GetPhysicalGPUsFromDisplay = 0x34EF9506;
constexpr NvU32 NVID_GetDisplayDriverVersion = 0xF951A4D1;
constexpr NvU32 NVID_GPU_GetFullName = 0xCEEE8E9F;
constexpr NvU32 NVID_GPU_QueryIlluminationSupport = 0xA629DA31;
constexpr NvU32 NVID_GPU_SetIllumination = 0x0254A187;
constexpr NvU32 NVID_GPU_GetCurrentPstate = 0x927DA4F6;
constexpr NvU32 NVID_GPU_GetThermalSettings = 0xE3640A56;
constexpr NvU32 NVID_GPU_GetAllClockFrequencies = 0xDCB616C3;
constexpr NvU32 NVID_GPU_GetDynamicPstatesInfoEx = 0x60DED2ED;
constexpr NvU32 NVID_GPU_GetUsages = 0x189A1FDF;
constexpr NvU32 NVID_GPU_GetCoolerSettings = 0xDA141340;
constexpr NvU32 NVID_PreCallNotice = 0x33C7358C;
constexpr NvU32 NVID_PostCallNotice = 0x593E8644;

typedef void* (NVAPI_CALL* NvQueryInterfaceProc)(NvU32 id);
typedef NvAPI_Status (NVAPI_CALL* NvDynamicPstatesProc)(NvPhysicalGpuHandle, NV_GPU_DYNAMIC_PSTATES_INFO_EX*);
typedef NvAPI_Status (NVAPI_CALL* NvUsagesProc)(NvPhysicalGpuHandle, void* usageTable);
typedef NvAPI_Status (NVAPI_CALL* NvCoolerProc)(NvPhysicalGpuHandle, NvU32 coolerIndex, void* coolerRecord);

NvAPI_Status NvAPI_Initialize();
NvAPI_Status NvAPI_GetInterfaceVersionString(NvAPI_ShortString szDesc);
NvAPI_Status NvAPI_EnumNvidiaDisplayHandle(NvU32 thisEnum, NvDisplayHandle* pNvDispHandle);
NvAPI_Status NvAPI_GetPhysicalGPUsFromDisplay(NvDisplayHandle hNvDisp,
                                              NvPhysicalGpuHandle nvGPUHandle[NVAPI_MAX_PHYSICAL_GPUS],
                                              NvU32* pGpuCount);
NvAPI_Status NvAPI_GetDisplayDriverVersion(NvDisplayHandle hNvDisplay, NV_DISPLAY_DRIVER_VERSION* pVersion);
NvAPI_Status NvAPI_GPU_GetFullName(NvPhysicalGpuHandle hPhysicalGpu, NvAPI_ShortString szName);
NvAPI_Status NvAPI_GPU_QueryIlluminationSupport(NV_GPU_QUERY_ILLUMINATION_SUPPORT_PARM* pInfo);
NvAPI_Status NvAPI_GPU_SetIllumination(NV_GPU_SET_ILLUMINATION_PARM* pInfo);
NvAPI_Status NvAPI_GPU_GetCurrentPstate(NvPhysicalGpuHandle hPhysicalGpu, NV_GPU_PERF_PSTATE_ID* pCurrentPstate);
NvAPI_Status NvAPI_GPU_GetThermalSettings(NvPhysicalGpuHandle hPhysicalGpu, NvU32 sensorIndex,
                                          NV_GPU_THERMAL_SETTINGS* pThermalSettings);
NvAPI_Status NvAPI_GPU_GetAllClockFrequencies(NvPhysicalGpuHandle hPhysicalGpu,
                                              NV_GPU_CLOCK_FREQUENCIES* pClkFreqs);
NvAPI_Status NvAPI_GPU_ClientIllumDevicesGetInfo(NvPhysicalGpuHandle hPhysicalGpu,
                                                 NV_GPU_CLIENT_ILLUM_DEVICE_INFO_PARAMS_V1* pIllumDevicesInfo);
NvAPI_Status NvAPI_GPU_ClientIllumZonesGetInfo(NvPhysicalGpuHandle hPhysicalGpu,
                                               NV_GPU_CLIENT_ILLUM_ZONE_INFO_PARAMS_V1* pIllumZonesInfo);
NvAPI_Status NvAPI_GPU_ClientIllumZonesGetControl(NvPhysicalGpuHandle hPhysicalGpu,
                                                  NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_PARAMS_V1* pIllumZonesControl);
NvAPI_Status NvAPI_GPU_ClientIllumZonesSetControl(NvPhysicalGpuHandle hPhysicalGpu,
                                                  NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_PARAMS_V1* pIllumZonesControl);

// Full path of the driver library the layer loaded ("" before the first
// successful load), so that adapters take their reference on that very file.
const char* NvApiLibraryPath();

// Whether `status` says that the driver restarted or went away under the
// caller: its handles are no longer valid (-10, -8), the interface is not
// initialised (-4) or no NVIDIA device is there (-6). NVIDIA asks a caller
// that hears so to discard every handle and enumerate again.
bool NvApiBindingLost(NvAPI_Status status);
// True when a driver call of the calling thread answered so since the last
// ask; the answer is cleared. Each thread hears only of its own calls.
bool NvApiTakeBindingLoss();
// Runs the driver's own initialisation again (after a restart the driver
// wants it before anything else), loading the library first if need be.
NvAPI_Status NvApiReinitialize();

// A test seam; the program never calls it. Drops the layer's library reference
// and kept entries so that the next call loads afresh, from `directory`
// instead of the system directory (nullptr restores the system directory). No
// call may be in flight.
void NvApiReloadForTest(const char* directory);
