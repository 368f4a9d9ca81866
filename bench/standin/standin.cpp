// The stand-in driver: every entry answers at once, with no lock, file, log
// or check, so that a benchmark run against it measures the caller alone. It
// counts the sets, which is all a benchmark needs to know of what it did.
#include <windows.h>

#include <cstring>

#include "records.h"

using namespace sim;

namespace {

const int BOARDS = 8;
const uint32_t DISPLAY_HANDLE = 0x0D150000;
const uint32_t GPU_HANDLE = 0x06B00000;

volatile LONG sets = 0;

void* Handle(uint32_t value) { return reinterpret_cast<void*>(static_cast<uintptr_t>(value)); }

void Text(char* to, const char* text) {
    std::memset(to, 0, SHORT_STRING);
    std::strcpy(to, text);
}

Status __cdecl Initialize() { return ST_OK; }

Status __cdecl GetInterfaceVersionString(char* text) {
    Text(text, "NVAPI stand-in");
    return ST_OK;
}

Status __cdecl EnumNvidiaDisplayHandle(uint32_t index, void** handle) {
    if (index > 0) return ST_END_ENUMERATION;
    *handle = Handle(DISPLAY_HANDLE);
    return ST_OK;
}

Status __cdecl GetPhysicalGPUsFromDisplay(void*, void** gpus, uint32_t* count) {
    for (int g = 0; g < MAX_GPUS_PER_DISPLAY; ++g) gpus[g] = g < BOARDS ? Handle(GPU_HANDLE | g) : nullptr;
    *count = BOARDS;
    return ST_OK;
}

Status __cdecl GetDisplayDriverVersion(void*, DriverVersion* version) {
    version->drvVersion = 59500;
    Text(version->szBuildBranchString, "r595_00");
    Text(version->szAdapterString, "Stand-in Board");
    return ST_OK;
}

Status __cdecl GetFullName(void*, char* name) {
    Text(name, "Stand-in Board");
    return ST_OK;
}

Status __cdecl QueryIlluminationSupport(IlluminationParm* parm) {
    parm->value = parm->Attribute == 0 ? 1 : 0;
    return ST_OK;
}

Status __cdecl SetIllumination(IlluminationParm*) {
    InterlockedIncrement(&sets);
    return ST_OK;
}

Status __cdecl GetCurrentPstate(void*, int32_t* pstate) {
    *pstate = 0;
    return ST_OK;
}

Status __cdecl GetThermalSettings(void*, uint32_t, ThermalSettings* settings) {
    settings->count = 1;
    settings->sensor[0].controller = 1;
    settings->sensor[0].currentTemp = 50;
    settings->sensor[0].target = static_cast<int32_t>(TARGET_GPU);
    return ST_OK;
}

Status __cdecl GetAllClockFrequencies(void*, ClockFrequencies* clocks) {
    const uint32_t khz[3] = {1607000, 1607000, 1733000};
    clocks->domain[CLOCK_DOMAIN_GRAPHICS].present = 1;
    clocks->domain[CLOCK_DOMAIN_GRAPHICS].frequencyKhz = khz[(clocks->clockType & 0xF) % 3];
    return ST_OK;
}

Status __cdecl GetDynamicPstatesInfoEx(void*, DynamicPstates* info) {
    info->utilization[0].present = 1;
    info->utilization[0].percentage = 30;
    return ST_OK;
}

Status __cdecl GetUsages(void*, void* table) {
    const uint32_t percent = 30;
    std::memcpy(static_cast<char*>(table) + USAGE_TABLE_GPU, &percent, sizeof percent);
    return ST_OK;
}

Status __cdecl GetCoolerSettings(void*, uint32_t, void* record) {
    const uint32_t count = 1, level = 40;
    std::memcpy(static_cast<char*>(record) + COOLER_COUNT, &count, sizeof count);
    std::memcpy(static_cast<char*>(record) + COOLER_FIRST_LEVEL, &level, sizeof level);
    return ST_OK;
}

struct Entry {
    uint32_t id;
    void* entry;
};

const Entry ENTRIES[] = {
    {ID_Initialize, reinterpret_cast<void*>(&Initialize)},
    {ID_GetInterfaceVersionString, reinterpret_cast<void*>(&GetInterfaceVersionString)},
    {ID_EnumNvidiaDisplayHandle, reinterpret_cast<void*>(&EnumNvidiaDisplayHandle)},
    {ID_GetPhysicalGPUsFromDisplay, reinterpret_cast<void*>(&GetPhysicalGPUsFromDisplay)},
    {ID_GetDisplayDriverVersion, reinterpret_cast<void*>(&GetDisplayDriverVersion)},
    {ID_GPU_GetFullName, reinterpret_cast<void*>(&GetFullName)},
    {ID_GPU_QueryIlluminationSupport, reinterpret_cast<void*>(&QueryIlluminationSupport)},
    {ID_GPU_SetIllumination, reinterpret_cast<void*>(&SetIllumination)},
    {ID_GPU_GetCurrentPstate, reinterpret_cast<void*>(&GetCurrentPstate)},
    {ID_GPU_GetThermalSettings, reinterpret_cast<void*>(&GetThermalSettings)},
    {ID_GPU_GetAllClockFrequencies, reinterpret_cast<void*>(&GetAllClockFrequencies)},
    {ID_GPU_GetDynamicPstatesInfoEx, reinterpret_cast<void*>(&GetDynamicPstatesInfoEx)},
    {ID_GPU_GetUsages, reinterpret_cast<void*>(&GetUsages)},
    {ID_GPU_GetCoolerSettings, reinterpret_cast<void*>(&GetCoolerSettings)},
};

}  // namespace

// The entry for an interface id; no notices, so the caller makes no extra calls.
extern "C" __declspec(dllexport) void* __cdecl nvapi_QueryInterface(uint32_t id) {
    for (const Entry& e : ENTRIES)
        if (e.id == id) return e.entry;
    return nullptr;
}

// The sets answered since the library was loaded.
extern "C" __declspec(dllexport) LONG __cdecl standin_Sets() { return sets; }
