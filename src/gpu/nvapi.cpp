#include "gpu/nvapi.h"

#include <windows.h>

#include <cstring>

#include "base/platform.h"

// The driver library is loaded once per process from the system directory and
// never unloaded. Control threads and the window thread call in at once: the
// lock guards only the first load; everything else is plain shared words.

namespace {

typedef NvAPI_Status(NVAPI_CALL* NvInitializeProc)();
typedef void(NVAPI_CALL* NvPreNoticeProc)(NvU32 id, NvU32* scratch);
typedef void(NVAPI_CALL* NvPostNoticeProc)(NvU32 id, NvU32* scratch, NvAPI_Status status);

enum Operation {
    OP_GetInterfaceVersionString,
    OP_EnumNvidiaDisplayHandle,
    OP_GetPhysicalGPUsFromDisplay,
    OP_GetDisplayDriverVersion,
    OP_GPU_GetFullName,
    OP_GPU_QueryIlluminationSupport,
    OP_GPU_SetIllumination,
    OP_GPU_GetCurrentPstate,
    OP_GPU_GetThermalSettings,
    OP_GPU_GetAllClockFrequencies,
    OP_GPU_ClientIllumDevicesGetInfo,
    OP_GPU_ClientIllumZonesGetInfo,
    OP_GPU_ClientIllumZonesGetControl,
    OP_GPU_ClientIllumZonesSetControl,
    OP_COUNT
};

const NvU32 OPERATION_IDS[OP_COUNT] = {
    NVID_GetInterfaceVersionString, NVID_EnumNvidiaDisplayHandle,
    NVID_GetPhysicalGPUsFromDisplay, NVID_GetDisplayDriverVersion,
    NVID_GPU_GetFullName,           NVID_GPU_QueryIlluminationSupport,
    NVID_GPU_SetIllumination,       NVID_GPU_GetCurrentPstate,
    NVID_GPU_GetThermalSettings,    NVID_GPU_GetAllClockFrequencies,
    NVID_GPU_ClientIllumDevicesGetInfo, NVID_GPU_ClientIllumZonesGetInfo,
    NVID_GPU_ClientIllumZonesGetControl, NVID_GPU_ClientIllumZonesSetControl,
};

HMODULE volatile g_module;
NvQueryInterfaceProc volatile g_query;
NvPreNoticeProc volatile g_preNotice;
NvPostNoticeProc volatile g_postNotice;
volatile LONG g_generation;
char g_libraryPath[MAX_PATH];
char g_testDirectory[MAX_PATH];  // "" for the system directory

INIT_ONCE g_lockOnce = INIT_ONCE_STATIC_INIT;
CRITICAL_SECTION g_lock;

// The entry kept for each operation and the load generation it was fetched
// at, under a sequence count (odd while a writer is in), so that a reader
// never pairs an entry with another load's generation. An entry is a full
// pointer: no packing of entry and generation into one word.
struct KeptSlot {
    volatile LONG sequence;
    void* volatile entry;
    volatile LONG generation;
};
KeptSlot g_kept[OP_COUNT];

BOOL CALLBACK InitLock(PINIT_ONCE, PVOID, PVOID*) {
    InitializeCriticalSection(&g_lock);
    return TRUE;
}

CRITICAL_SECTION* Lock() {
    InitOnceExecuteOnce(&g_lockOnce, InitLock, nullptr, nullptr);
    return &g_lock;
}

// Per thread: each control thread owns one adapter and rebinds it alone.
thread_local bool t_bindingLost = false;

NvAPI_Status Noted(NvAPI_Status status) {
    if (NvApiBindingLost(status)) t_bindingLost = true;
    return status;
}

// Loads `name` from the system directory only: never from the program's
// folder or the current directory, where anyone could plant a library.
HMODULE LoadFromSystemDirectory(const char* name) {
    if (std::strchr(name, '\\') || std::strchr(name, '/')) return nullptr;
    char path[MAX_PATH];
    UINT n;
    if (g_testDirectory[0]) {
        n = static_cast<UINT>(std::strlen(g_testDirectory));
        std::memcpy(path, g_testDirectory, n + 1);
    } else {
        n = GetSystemDirectoryA(path, MAX_PATH);
        if (n == 0 || n >= MAX_PATH) return nullptr;
    }
    if (n + 1 + std::strlen(name) + 1 > sizeof path) return nullptr;
    path[n] = '\\';
    std::strcpy(path + n + 1, name);
    return LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// Loads and initialises the driver. On success the generation is raised and
// everything a caller reads is filled before the new module is published, so
// a thread that sees the module on the fast path also sees its generation,
// entries and path; on failure the library is freed. Under the lock.
NvAPI_Status LoadDriver() {
    HMODULE module = LoadFromSystemDirectory(DRIVER_LIBRARY);
    if (!module) return NVAPI_LIBRARY_NOT_FOUND;
    NvAPI_Status status = NVAPI_ERROR;
    NvQueryInterfaceProc query =
        reinterpret_cast<NvQueryInterfaceProc>(reinterpret_cast<void*>(GetProcAddress(module, "nvapi_QueryInterface")));
    NvInitializeProc initialize = query ? reinterpret_cast<NvInitializeProc>(query(NVID_Initialize)) : nullptr;
    if (initialize) status = initialize();
    if (status != NVAPI_OK) {
        FreeLibrary(module);
        return status;
    }
    void* pre = query(NVID_PreCallNotice);
    void* post = query(NVID_PostCallNotice);
    bool notices = pre && post;
    g_preNotice = notices ? reinterpret_cast<NvPreNoticeProc>(pre) : nullptr;
    g_postNotice = notices ? reinterpret_cast<NvPostNoticeProc>(post) : nullptr;
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(module, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) path[0] = '\0';
    std::memcpy(g_libraryPath, path, sizeof path);
    g_query = query;
    InterlockedIncrement(&g_generation);
    InterlockedExchangePointer(reinterpret_cast<void* volatile*>(&g_module), module);
    return NVAPI_OK;
}

// Makes sure the driver is loaded. Returns NVAPI_OK (with *fresh telling a
// load that happened just now) or a failure status.
NvAPI_Status Acquire(bool* fresh) {
    *fresh = false;
    if (g_module) return NVAPI_OK;
    EnterCriticalSection(Lock());
    NvAPI_Status status = NVAPI_OK;
    if (!g_module) {
        status = LoadDriver();
        *fresh = status == NVAPI_OK;
    }
    LeaveCriticalSection(Lock());
    return status;
}

// The entry kept for `op` at `generation`, or null when there is none or a
// writer is busy with the slot (the caller then asks the driver).
void* KeptEntry(Operation op, LONG generation) {
    KeptSlot& slot = g_kept[op];
    LONG before = slot.sequence;
    MemoryBarrier();
    if (before & 1) return nullptr;
    void* entry = slot.entry;
    LONG kept = slot.generation;
    MemoryBarrier();
    if (slot.sequence != before || kept != generation) return nullptr;
    return entry;
}

// Keeps `entry` unless another thread is keeping one for the same operation
// just now: either entry is right for this call, and the next call asks again.
void Keep(Operation op, void* entry, LONG generation) {
    KeptSlot& slot = g_kept[op];
    LONG sequence = slot.sequence;
    if ((sequence & 1) || InterlockedCompareExchange(&slot.sequence, sequence + 1, sequence) != sequence) return;
    slot.entry = entry;
    slot.generation = generation;
    InterlockedExchange(&slot.sequence, sequence + 2);
}

template <typename... Args>
NvAPI_Status Call(Operation op, Args... args) {
    typedef NvAPI_Status(NVAPI_CALL * Entry)(Args...);
    bool fresh;
    NvAPI_Status status = Acquire(&fresh);
    if (status != NVAPI_OK) return Noted(status);
    LONG generation = g_generation;
    void* entry = fresh ? nullptr : KeptEntry(op, generation);
    if (!entry) {
        entry = g_query(OPERATION_IDS[op]);
        if (!entry) return NVAPI_NO_IMPLEMENTATION;
        Keep(op, entry, generation);
    }
    NvU32 scratch[2] = {0, 0};
    NvPreNoticeProc pre = g_preNotice;
    NvPostNoticeProc post = g_postNotice;
    if (pre) pre(OPERATION_IDS[op], scratch);
    status = reinterpret_cast<Entry>(entry)(args...);
    if (post) post(OPERATION_IDS[op], scratch, status);
    return Noted(status);
}

}  // namespace

NvAPI_Status NvAPI_Initialize() {
    bool fresh;
    return Noted(Acquire(&fresh));
}

bool NvApiBindingLost(NvAPI_Status status) {
    return status == NVAPI_HANDLE_INVALIDATED || status == NVAPI_INVALID_HANDLE ||
           status == NVAPI_API_NOT_INITIALIZED || status == NVAPI_NVIDIA_DEVICE_NOT_FOUND;
}

bool NvApiTakeBindingLoss() {
    bool lost = t_bindingLost;
    t_bindingLost = false;
    return lost;
}

// A fresh load has just run the driver's initialisation; a library loaded
// before is asked to run it again.
NvAPI_Status NvApiReinitialize() {
    bool fresh;
    NvAPI_Status status = Acquire(&fresh);
    if (status != NVAPI_OK || fresh) return Noted(status);
    NvInitializeProc initialize = reinterpret_cast<NvInitializeProc>(g_query(NVID_Initialize));
    return Noted(initialize ? initialize() : NVAPI_NO_IMPLEMENTATION);
}

NvAPI_Status NvAPI_GetInterfaceVersionString(NvAPI_ShortString szDesc) {
    return Call(OP_GetInterfaceVersionString, static_cast<char*>(szDesc));
}

NvAPI_Status NvAPI_EnumNvidiaDisplayHandle(NvU32 thisEnum, NvDisplayHandle* pNvDispHandle) {
    return Call(OP_EnumNvidiaDisplayHandle, thisEnum, pNvDispHandle);
}

NvAPI_Status NvAPI_GetPhysicalGPUsFromDisplay(NvDisplayHandle hNvDisp,
                                              NvPhysicalGpuHandle nvGPUHandle[NVAPI_MAX_PHYSICAL_GPUS],
                                              NvU32* pGpuCount) {
    return Call(OP_GetPhysicalGPUsFromDisplay, hNvDisp, static_cast<NvPhysicalGpuHandle*>(nvGPUHandle),
                pGpuCount);
}

NvAPI_Status NvAPI_GetDisplayDriverVersion(NvDisplayHandle hNvDisplay, NV_DISPLAY_DRIVER_VERSION* pVersion) {
    return Call(OP_GetDisplayDriverVersion, hNvDisplay, pVersion);
}

NvAPI_Status NvAPI_GPU_GetFullName(NvPhysicalGpuHandle hPhysicalGpu, NvAPI_ShortString szName) {
    return Call(OP_GPU_GetFullName, hPhysicalGpu, static_cast<char*>(szName));
}

NvAPI_Status NvAPI_GPU_QueryIlluminationSupport(NV_GPU_QUERY_ILLUMINATION_SUPPORT_PARM* pInfo) {
    return Call(OP_GPU_QueryIlluminationSupport, pInfo);
}

NvAPI_Status NvAPI_GPU_SetIllumination(NV_GPU_SET_ILLUMINATION_PARM* pInfo) {
    return Call(OP_GPU_SetIllumination, pInfo);
}

NvAPI_Status NvAPI_GPU_GetCurrentPstate(NvPhysicalGpuHandle hPhysicalGpu, NV_GPU_PERF_PSTATE_ID* pCurrentPstate) {
    return Call(OP_GPU_GetCurrentPstate, hPhysicalGpu, pCurrentPstate);
}

NvAPI_Status NvAPI_GPU_GetThermalSettings(NvPhysicalGpuHandle hPhysicalGpu, NvU32 sensorIndex,
                                          NV_GPU_THERMAL_SETTINGS* pThermalSettings) {
    return Call(OP_GPU_GetThermalSettings, hPhysicalGpu, sensorIndex, pThermalSettings);
}

NvAPI_Status NvAPI_GPU_GetAllClockFrequencies(NvPhysicalGpuHandle hPhysicalGpu,
                                              NV_GPU_CLOCK_FREQUENCIES* pClkFreqs) {
    return Call(OP_GPU_GetAllClockFrequencies, hPhysicalGpu, pClkFreqs);
}

NvAPI_Status NvAPI_GPU_ClientIllumDevicesGetInfo(NvPhysicalGpuHandle hPhysicalGpu,
                                                 NV_GPU_CLIENT_ILLUM_DEVICE_INFO_PARAMS_V1* pIllumDevicesInfo) {
    return Call(OP_GPU_ClientIllumDevicesGetInfo, hPhysicalGpu, pIllumDevicesInfo);
}

NvAPI_Status NvAPI_GPU_ClientIllumZonesGetInfo(NvPhysicalGpuHandle hPhysicalGpu,
                                               NV_GPU_CLIENT_ILLUM_ZONE_INFO_PARAMS_V1* pIllumZonesInfo) {
    return Call(OP_GPU_ClientIllumZonesGetInfo, hPhysicalGpu, pIllumZonesInfo);
}

NvAPI_Status NvAPI_GPU_ClientIllumZonesGetControl(NvPhysicalGpuHandle hPhysicalGpu,
                                                  NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_PARAMS_V1* pIllumZonesControl) {
    return Call(OP_GPU_ClientIllumZonesGetControl, hPhysicalGpu, pIllumZonesControl);
}

NvAPI_Status NvAPI_GPU_ClientIllumZonesSetControl(NvPhysicalGpuHandle hPhysicalGpu,
                                                  NV_GPU_CLIENT_ILLUM_ZONE_CONTROL_PARAMS_V1* pIllumZonesControl) {
    return Call(OP_GPU_ClientIllumZonesSetControl, hPhysicalGpu, pIllumZonesControl);
}

const char* NvApiLibraryPath() { return g_libraryPath; }

void NvApiReloadForTest(const char* directory) {
    EnterCriticalSection(Lock());
    HMODULE module = g_module;
    g_module = nullptr;
    g_query = nullptr;
    g_preNotice = nullptr;
    g_postNotice = nullptr;
    g_libraryPath[0] = '\0';
    if (module) FreeLibrary(module);
    g_testDirectory[0] = '\0';
    if (directory && std::strlen(directory) < sizeof g_testDirectory) std::strcpy(g_testDirectory, directory);
    LeaveCriticalSection(Lock());
}
