// The simulated NVAPI driver: nvapi_QueryInterface and the entries it hands
// out. Every entry looks whether the configuration changed (its time stamp and
// size; the text is read only when they moved or are too recent to trust),
// answers from the simulated machine and, when asked to, records what it was
// called with.
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "board.h"
#include "machine.h"
#include "records.h"
#include "zones.h"

namespace sim {
namespace {

const char CONFIG_VARIABLE[] = "GLIMSIM_NVAPI_CONFIG";
const char LOG_VARIABLE[] = "GLIMSIM_NVAPI_LOG";
const char TRACE_VARIABLE[] = "GLIMSIM_NVAPI_TRACE";
const char ZONE_LOG_VARIABLE[] = "GLIMSIM_NVAPI_ZONELOG";
// One writer at a time across every process that loaded the simulator.
const char LOG_MUTEX[] = "GlimSimNvapiLogMutex";

const uint32_t DISPLAY_HANDLE_TAG = 0x0D150000;
const uint32_t GPU_HANDLE_TAG = 0x06B00000;
const uint32_t HANDLE_TAG_MASK = 0xFFFF0000;
const uint32_t NOTICE_COOKIE = 0xA5A5A5A5;
// A file written this close (in 100 ns units) to the moment it was read may
// change again within the same time stamp, and to the same size: such a stamp
// is not trusted, and the text is read again on the next call. Two seconds
// cover the coarsest stamps (FAT) and any file system's clock tick.
const int64_t UNSETTLED_STAMP = 2 * 10000000LL;

// What tells a changed configuration file without reading it.
struct FileStamp {
    FILETIME written = {};
    uint64_t size = 0;

    bool operator==(const FileStamp& o) const {
        return written.dwLowDateTime == o.written.dwLowDateTime &&
               written.dwHighDateTime == o.written.dwHighDateTime && size == o.size;
    }
};

struct State {
    // The driver generation (resets so far) at which NvAPI_Initialize last
    // succeeded in this process; a reset asks every process to initialise
    // again.
    uint32_t initializedAt = UINT32_MAX;
    bool loaded = false;
    std::string configPath;
    std::string configText;
    FileStamp configStamp;
    bool stampSettled = false;  // the stamp alone tells whether the file changed
    void* volatile logMutex = nullptr;  // made once, on the first log line
    Machine machine = Machine::Default();
    Boards boards;  // what the machine's boards show, shared with every process on it
    bool staleHandle = false;   // this call named a handle from before a reset
};

CRITICAL_SECTION g_lock;
State* g_state;

class Guard {
public:
    Guard() { EnterCriticalSection(&g_lock); }
    ~Guard() { LeaveCriticalSection(&g_lock); }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
};

std::string Env(const char* name) {
    char buf[MAX_PATH * 2];
    DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
    return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
}

bool ReadWholeFile(const std::string& path, std::string* text) {
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    text->clear();
    char buf[4096];
    DWORD got = 0;
    bool ok = true;
    while ((ok = ReadFile(f, buf, sizeof buf, &got, nullptr) != 0) && got > 0) text->append(buf, got);
    CloseHandle(f);
    return ok;
}

// The log mutex, made on first use and kept: the notices trace without the
// driver's lock, so two threads may race to make it.
HANDLE LogMutex() {
    HANDLE kept = g_state->logMutex;
    if (kept) return kept;
    HANDLE made = CreateMutexA(nullptr, FALSE, LOG_MUTEX);
    if (!made) return nullptr;
    HANDLE prior = InterlockedCompareExchangePointer(&g_state->logMutex, made, nullptr);
    if (!prior) return made;
    CloseHandle(made);
    return prior;
}

void AppendLine(const std::string& path, const std::string& line) {
    HANDLE mutex = LogMutex();
    if (mutex) WaitForSingleObject(mutex, 5000);
    // Opened for appending only: every write goes to the end of the file.
    // Opened afresh for each line, so that a reader may delete the file to
    // start a new log at any time.
    HANDLE f = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(f, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        CloseHandle(f);
    }
    if (mutex) ReleaseMutex(mutex);
}

void Trace(const char* format, ...) {
    std::string path = Env(TRACE_VARIABLE);
    if (path.empty()) return;
    char line[512];
    int n = std::snprintf(line, sizeof line, "%lu %lu ", GetCurrentProcessId(), GetCurrentThreadId());
    va_list args;
    va_start(args, format);
    std::vsnprintf(line + n, sizeof line - n, format, args);
    va_end(args);
    AppendLine(path, std::string(line) + "\n");
}

bool StampOf(const std::string& path, FileStamp* stamp) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
    stamp->written = data.ftLastWriteTime;
    stamp->size = static_cast<uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
    return true;
}

int64_t FileTimeValue(const FILETIME& t) {
    return static_cast<int64_t>(static_cast<uint64_t>(t.dwHighDateTime) << 32 | t.dwLowDateTime);
}

// Takes the configuration named by the environment (the built-in machine
// when none is named or the file cannot be read). A file whose settled stamp
// has not moved is not read; a changed text is parsed again.
void ReadConfiguration() {
    State& s = *g_state;
    std::string path = Env(CONFIG_VARIABLE);
    FileStamp stamp;
    bool named = !path.empty() && StampOf(path, &stamp);
    if (named && s.loaded && s.stampSettled && path == s.configPath && stamp == s.configStamp) return;
    std::string text;
    if (!named || !ReadWholeFile(path, &text)) {
        if (s.loaded && !s.configPath.empty()) Trace("config %s unreadable: built-in machine", path.c_str());
        if (!s.loaded || !s.configPath.empty()) {
            s.machine = Machine::Default();
            if (s.initializedAt != UINT32_MAX) s.initializedAt = 0;  // a machine without resets
            s.boards.Adopt("", "", s.machine, 0);
        }
        s.configPath.clear();
        s.configText.clear();
        s.stampSettled = false;
        s.loaded = true;
        return;
    }
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    int64_t age = FileTimeValue(now) - FileTimeValue(stamp.written);
    s.configStamp = stamp;
    s.stampSettled = age > UNSETTLED_STAMP || age < -UNSETTLED_STAMP;
    if (s.loaded && path == s.configPath && text == s.configText) return;
    std::string problems;
    s.machine = ParseMachine(text, &problems);
    // Boards made afresh for this text start from their defaults: what
    // happened to them before the file was written is moot, what happened
    // since is not.
    uint64_t tick = GetTickCount64();
    uint64_t sinceWritten = age > 0 ? static_cast<uint64_t>(age / 10000) : 0;
    uint64_t writtenAt = sinceWritten < tick ? tick - sinceWritten : 0;
    s.boards.Adopt(path, text, s.machine, s.machine.EventsBy(writtenAt));
    // The same goes for the driver's initialisation: the resets that began
    // before the file was written are behind an initialised process.
    if (s.initializedAt != UINT32_MAX) s.initializedAt = s.machine.ResetsBy(writtenAt);
    s.configPath = path;
    s.configText = text;
    s.loaded = true;
    if (!problems.empty()) {
        OutputDebugStringA(problems.c_str());
        Trace("config %s: %s", path.c_str(), problems.c_str());
    }
}

const Machine& M() { return g_state->machine; }

Boards& TheBoards() { return g_state->boards; }

void LogBoardEvent(const MachineEvent& event);

// Every call starts here: the configuration as it is now, and the boards
// through the resets and sleeps that have begun since (whichever process
// calls first takes them through).
void Refresh() {
    State& s = *g_state;
    s.staleHandle = false;
    ReadConfiguration();
    s.boards.CatchUp(s.machine, s.machine.EventsBy(GetTickCount64()), LogBoardEvent);
}

uint64_t Now() { return GetTickCount64(); }

// Handles carry the number of driver resets so far (the generation, kept to
// 8 bits): a reset hands out new values, and a handle of an older generation
// is refused from then on. Display: tag, generation, display (below 64).
// GPU: tag (12 bits), generation, display and GPU (6 bits each).
const uint32_t GPU_HANDLE_TAG_MASK = 0xFFF00000;

uint32_t Generation() { return M().ResetsBy(Now()) & 0xFF; }

void* DisplayHandle(uint32_t display) {
    return reinterpret_cast<void*>(static_cast<uintptr_t>(DISPLAY_HANDLE_TAG | Generation() << 8 | display));
}

void* GpuHandle(uint32_t display, uint32_t gpu) {
    return reinterpret_cast<void*>(static_cast<uintptr_t>(GPU_HANDLE_TAG | Generation() << 12 | display << 6 | gpu));
}

// A handle of our kind from an older generation marks the call stale.
bool CurrentGeneration(uint32_t generation) {
    if (generation == Generation()) return true;
    g_state->staleHandle = true;
    return false;
}

bool DecodeDisplay(void* handle, uint32_t* display) {
    uint32_t v = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(handle));
    if ((v & HANDLE_TAG_MASK) != DISPLAY_HANDLE_TAG || !CurrentGeneration((v >> 8) & 0xFF)) return false;
    *display = v & 0xFF;
    return *display < M().displays.size();
}

// The GPU a handle names, or null. display/gpu are -1 for a foreign handle.
// Only the zone settings of a GPU change through it.
Gpu* DecodeGpu(void* handle, int* display, int* gpu) {
    *display = *gpu = -1;
    uint32_t v = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(handle));
    if ((v & GPU_HANDLE_TAG_MASK) != GPU_HANDLE_TAG || !CurrentGeneration((v >> 12) & 0xFF)) return nullptr;
    uint32_t d = (v >> 6) & 0x3F, g = v & 0x3F;
    std::vector<std::vector<Gpu>>& displays = g_state->machine.displays;
    if (d >= displays.size() || g >= displays[d].size()) return nullptr;
    *display = static_cast<int>(d);
    *gpu = static_cast<int>(g);
    return &displays[d][g];
}

uint32_t Value(const Reading& r) { return static_cast<uint32_t>(r.At(Now())); }

// A status that replaces the answer: not initialised, or a forced status of
// the machine or of the GPU addressed.
bool Refused(Operation op, const Gpu* gpu, Status* status) {
    // A slow driver: the call is held before it is answered.
    uint32_t delay = M().faults.delayMs[op] + (gpu ? gpu->faults.delayMs[op] : 0);
    if (delay) Sleep(delay);
    // Within a reset's outage there is no driver: no device to initialise
    // or enumerate, and nothing else is initialised.
    if (M().InOutage(Now())) {
        bool device = op == OP_Initialize || op == OP_EnumNvidiaDisplayHandle;
        *status = device ? ST_NVIDIA_DEVICE_NOT_FOUND : ST_API_NOT_INITIALIZED;
        return true;
    }
    if (g_state->staleHandle) {
        *status = ST_HANDLE_INVALIDATED;
        return true;
    }
    if (g_state->initializedAt != M().ResetsBy(Now()) && op != OP_Initialize) {
        *status = ST_API_NOT_INITIALIZED;
        return true;
    }
    if (M().faults.set[op]) {
        *status = M().faults.status[op];
        return true;
    }
    if (gpu && gpu->faults.set[op]) {
        *status = gpu->faults.status[op];
        return true;
    }
    return false;
}

Status Done(Operation op, uint32_t word, Status status) {
    if (word) Trace("call %s 0x%08X %d", OperationName(op), word, status);
    else Trace("call %s - %d", OperationName(op), status);
    return status;
}

// A text of SHORT_STRING characters fills the field without a terminator.
void CopyShort(char* to, const std::string& from) {
    std::memset(to, 0, SHORT_STRING);
    const size_t most = static_cast<size_t>(SHORT_STRING);
    std::memcpy(to, from.data(), from.size() < most ? from.size() : most);
}

uint32_t ReadU32(const void* record, uint32_t offset) {
    uint32_t v;
    std::memcpy(&v, static_cast<const char*>(record) + offset, sizeof v);
    return v;
}

void WriteU32(void* record, uint32_t offset, uint32_t v) { std::memcpy(static_cast<char*>(record) + offset, &v, sizeof v); }

// ---- The entries ---------------------------------------------------------

Status __cdecl Initialize() {
    Guard guard;
    Refresh();
    Status st = ST_OK;
    if (!Refused(OP_Initialize, nullptr, &st)) g_state->initializedAt = M().ResetsBy(Now());
    return Done(OP_Initialize, 0, st);
}

Status __cdecl GetInterfaceVersionString(char* desc) {
    Guard guard;
    Refresh();
    Status st = ST_OK;
    if (!Refused(OP_GetInterfaceVersionString, nullptr, &st)) {
        if (!desc) st = ST_INVALID_ARGUMENT;
        else CopyShort(desc, M().interfaceText);
    }
    return Done(OP_GetInterfaceVersionString, 0, st);
}

Status __cdecl EnumNvidiaDisplayHandle(uint32_t index, void** handle) {
    Guard guard;
    Refresh();
    Status st = ST_OK;
    if (!Refused(OP_EnumNvidiaDisplayHandle, nullptr, &st)) {
        if (!handle) st = ST_INVALID_ARGUMENT;
        else if (M().displays.empty()) st = ST_NVIDIA_DEVICE_NOT_FOUND;
        else if (index >= M().displays.size()) st = ST_END_ENUMERATION;
        else *handle = DisplayHandle(index);
    }
    return Done(OP_EnumNvidiaDisplayHandle, 0, st);
}

Status __cdecl GetPhysicalGPUsFromDisplay(void* display, void** gpus, uint32_t* count) {
    Guard guard;
    Refresh();
    Status st = ST_OK;
    uint32_t d;
    if (!Refused(OP_GetPhysicalGPUsFromDisplay, nullptr, &st)) {
        if (!gpus || !count || !DecodeDisplay(display, &d)) {
            st = g_state->staleHandle ? ST_HANDLE_INVALIDATED : ST_INVALID_ARGUMENT;
        } else {
            const std::vector<Gpu>& list = M().displays[d];
            uint32_t n = static_cast<uint32_t>(list.size());
            for (uint32_t g = 0; g < static_cast<uint32_t>(MAX_GPUS_PER_DISPLAY); ++g)
                gpus[g] = g < n ? GpuHandle(d, g) : nullptr;
            *count = n;
        }
    }
    return Done(OP_GetPhysicalGPUsFromDisplay, 0, st);
}

Status __cdecl GetDisplayDriverVersion(void* display, DriverVersion* version) {
    Guard guard;
    Refresh();
    Status st = ST_OK;
    uint32_t word = version ? version->version : 0;
    uint32_t d;
    if (!Refused(OP_GetDisplayDriverVersion, nullptr, &st)) {
        if (!version) {
            st = ST_INVALID_ARGUMENT;
        } else if (word != DRIVER_VERSION_WORD) {
            st = ST_INCOMPATIBLE_STRUCT_VERSION;
        } else if (!DecodeDisplay(display, &d)) {
            st = g_state->staleHandle ? ST_HANDLE_INVALIDATED : ST_EXPECTED_DISPLAY_HANDLE;
        } else {
            version->drvVersion = M().driverVersion;
            version->bldChangeListNum = 12345678;
            CopyShort(version->szBuildBranchString, M().branch);
            // The display reports the adapter string of its first GPU.
            const std::vector<Gpu>& list = M().displays[d];
            CopyShort(version->szAdapterString, list.empty() ? std::string() : list[0].adapter);
        }
    }
    return Done(OP_GetDisplayDriverVersion, word, st);
}

Status __cdecl GetFullName(void* handle, char* name) {
    Guard guard;
    Refresh();
    int d, g;
    const Gpu* gpu = DecodeGpu(handle, &d, &g);
    Status st = ST_OK;
    if (!Refused(OP_GPU_GetFullName, gpu, &st)) {
        if (!name) st = ST_INVALID_ARGUMENT;
        else if (!gpu) st = ST_EXPECTED_PHYSICAL_GPU_HANDLE;
        else CopyShort(name, gpu->name);
    }
    return Done(OP_GPU_GetFullName, 0, st);
}

// The checks every GPU reading makes before it answers, in the driver's order:
// the arguments, the record's version word, the GPU handle. ST_OK: go on.
Status CheckGpuRecord(bool argumentsValid, uint32_t word, uint32_t expectedWord, const Gpu* gpu) {
    if (!argumentsValid) return ST_INVALID_ARGUMENT;
    if (word != expectedWord) return ST_INCOMPATIBLE_STRUCT_VERSION;
    if (!gpu) return ST_EXPECTED_PHYSICAL_GPU_HANDLE;
    return ST_OK;
}

// The GPU a legacy illumination record names (null for none), and the
// record's version word.
const Gpu* RecordGpu(const IlluminationParm* parm, uint32_t* word) {
    int d, g;
    *word = parm ? parm->version : 0;
    return parm ? DecodeGpu(parm->hPhysicalGpu, &d, &g) : nullptr;
}

Status __cdecl QueryIlluminationSupport(IlluminationParm* parm) {
    Guard guard;
    Refresh();
    uint32_t word;
    const Gpu* gpu = RecordGpu(parm, &word);
    Status st = ST_OK;
    if (!Refused(OP_GPU_QueryIlluminationSupport, gpu, &st)) {
        if (!parm) st = ST_INVALID_ARGUMENT;
        else if (word != ILLUMINATION_WORD) st = ST_INCOMPATIBLE_STRUCT_VERSION;
        else if (!gpu) st = ST_EXPECTED_PHYSICAL_GPU_HANDLE;
        else parm->value = gpu->Supports(parm->Attribute) ? 1 : 0;
    }
    return Done(OP_GPU_QueryIlluminationSupport, word, st);
}

// What the LED shows: the last value any process set, LEGACY_START before.
Status __cdecl GetIllumination(IlluminationParm* parm) {
    Guard guard;
    Refresh();
    uint32_t word;
    const Gpu* gpu = RecordGpu(parm, &word);
    Status st = ST_OK;
    if (!Refused(OP_GPU_GetIllumination, gpu, &st)) {
        st = CheckGpuRecord(parm != nullptr, word, ILLUMINATION_WORD, gpu);
        if (st == ST_OK && !gpu->Supports(parm->Attribute)) st = ST_NOT_SUPPORTED;
        if (st == ST_OK && parm->Attribute >= LEGACY_ATTRIBUTES) st = ST_INVALID_ARGUMENT;
        if (st == ST_OK) {
            BoardLock lock(TheBoards());
            parm->value = gpu->board->legacy[parm->Attribute];
        }
    }
    return Done(OP_GPU_GetIllumination, word, st);
}

Status __cdecl SetIllumination(IlluminationParm* parm) {
    Guard guard;
    Refresh();
    int d = -1, g = -1;
    const Gpu* gpu = parm ? DecodeGpu(parm->hPhysicalGpu, &d, &g) : nullptr;
    uint32_t word = parm ? parm->version : 0;
    Status st = ST_OK;
    if (!Refused(OP_GPU_SetIllumination, gpu, &st)) {
        if (!parm) st = ST_INVALID_ARGUMENT;
        else if (word != ILLUMINATION_WORD) st = ST_INCOMPATIBLE_STRUCT_VERSION;
        else if (!gpu) st = ST_EXPECTED_PHYSICAL_GPU_HANDLE;
        else if (!gpu->Supports(parm->Attribute)) st = ST_NOT_SUPPORTED;
        else if (parm->value > 100) st = ST_INVALID_ARGUMENT;
    }
    if (st == ST_OK && parm->Attribute < LEGACY_ATTRIBUTES) {
        BoardLock lock(TheBoards());
        gpu->board->legacy[parm->Attribute] = parm->value;
    }
    std::string log = Env(LOG_VARIABLE);
    if (!log.empty()) {
        char line[160];
        std::snprintf(line, sizeof line, "%llu %lu %lu %d %d %ld %ld %d\n",
                      static_cast<unsigned long long>(Now()), GetCurrentProcessId(), GetCurrentThreadId(), d, g,
                      parm ? static_cast<long>(parm->Attribute) : -1L, parm ? static_cast<long>(parm->value) : -1L,
                      st);
        AppendLine(log, line);
    }
    return Done(OP_GPU_SetIllumination, word, st);
}

Status __cdecl GetCurrentPstate(void* handle, int32_t* pstate) {
    Guard guard;
    Refresh();
    int d, g;
    const Gpu* gpu = DecodeGpu(handle, &d, &g);
    Status st = ST_OK;
    if (!Refused(OP_GPU_GetCurrentPstate, gpu, &st)) {
        if (!pstate) st = ST_INVALID_ARGUMENT;
        else if (!gpu) st = ST_EXPECTED_PHYSICAL_GPU_HANDLE;
        else *pstate = static_cast<int32_t>(Value(gpu->pstate));
    }
    return Done(OP_GPU_GetCurrentPstate, 0, st);
}

void FillSensor(ThermalSensor* to, const Sensor& from) {
    to->controller = 1;  // GPU internal
    to->defaultMinTemp = 0;
    to->defaultMaxTemp = 127;
    to->currentTemp = Value(from.temperature);
    to->target = from.target;
}

Status __cdecl GetThermalSettings(void* handle, uint32_t index, ThermalSettings* settings) {
    Guard guard;
    Refresh();
    int d, g;
    const Gpu* gpu = DecodeGpu(handle, &d, &g);
    uint32_t word = settings ? settings->version : 0;
    Status st = ST_OK;
    if (!Refused(OP_GPU_GetThermalSettings, gpu, &st)) {
        st = CheckGpuRecord(settings != nullptr, word, THERMAL_WORD, gpu);
        if (st != ST_OK) return Done(OP_GPU_GetThermalSettings, word, st);
        if (index == SENSOR_ALL) {
            uint32_t listed = static_cast<uint32_t>(gpu->sensors.size());
            for (uint32_t i = 0; i < listed; ++i) FillSensor(&settings->sensor[i], gpu->sensors[i]);
            settings->count = gpu->sensorCount >= 0 ? static_cast<uint32_t>(gpu->sensorCount) : listed;
        } else if (index < gpu->sensors.size()) {
            FillSensor(&settings->sensor[0], gpu->sensors[index]);
            settings->count = 1;
        } else {
            st = ST_INVALID_ARGUMENT;
        }
    }
    return Done(OP_GPU_GetThermalSettings, word, st);
}

Status __cdecl GetAllClockFrequencies(void* handle, ClockFrequencies* clocks) {
    Guard guard;
    Refresh();
    int d, g;
    const Gpu* gpu = DecodeGpu(handle, &d, &g);
    uint32_t word = clocks ? clocks->version : 0;
    Status st = ST_OK;
    if (!Refused(OP_GPU_GetAllClockFrequencies, gpu, &st)) {
        uint32_t type = clocks ? clocks->clockType & 0xF : 0;
        st = CheckGpuRecord(clocks && type <= 2, word, CLOCK_WORD, gpu);
        if (st == ST_OK) {
            const Reading& r = gpu->clock[type];
            clocks->domain[CLOCK_DOMAIN_GRAPHICS].present = r.present ? 1 : 0;
            clocks->domain[CLOCK_DOMAIN_GRAPHICS].frequencyKhz = r.present ? Value(r) : 0;
            clocks->domain[CLOCK_DOMAIN_MEMORY].present = 1;
            clocks->domain[CLOCK_DOMAIN_MEMORY].frequencyKhz = 5005000;
        }
    }
    return Done(OP_GPU_GetAllClockFrequencies, word, st);
}

Status __cdecl GetDynamicPstatesInfoEx(void* handle, DynamicPstates* info) {
    Guard guard;
    Refresh();
    int d, g;
    const Gpu* gpu = DecodeGpu(handle, &d, &g);
    uint32_t word = info ? info->version : 0;
    Status st = ST_OK;
    if (!Refused(OP_GPU_GetDynamicPstatesInfoEx, gpu, &st)) {
        st = CheckGpuRecord(info != nullptr, word, DYNAMIC_PSTATES_WORD, gpu);
        if (st == ST_OK) {
            info->flags = 1;
            info->utilization[0].present = gpu->utilization.present ? 1 : 0;
            info->utilization[0].percentage = gpu->utilization.present ? Value(gpu->utilization) : 0;
            const uint32_t others[3] = {12, 0, 3};  // frame buffer, video engine, bus
            for (int i = 0; i < 3; ++i) {
                info->utilization[i + 1].present = 1;
                info->utilization[i + 1].percentage = others[i];
            }
        }
    }
    return Done(OP_GPU_GetDynamicPstatesInfoEx, word, st);
}

Status __cdecl GetUsages(void* handle, void* table) {
    Guard guard;
    Refresh();
    int d, g;
    const Gpu* gpu = DecodeGpu(handle, &d, &g);
    uint32_t word = table ? ReadU32(table, 0) : 0;
    Status st = ST_OK;
    if (!Refused(OP_GPU_GetUsages, gpu, &st)) {
        st = CheckGpuRecord(table != nullptr, word, USAGE_TABLE_WORD, gpu);
        if (st == ST_OK) {
            WriteU32(table, 4, 1);
            WriteU32(table, USAGE_TABLE_GPU, Value(gpu->usageTable));
        }
    }
    return Done(OP_GPU_GetUsages, word, st);
}

Status __cdecl GetCoolerSettings(void* handle, uint32_t cooler, void* record) {
    Guard guard;
    Refresh();
    int d, g;
    const Gpu* gpu = DecodeGpu(handle, &d, &g);
    uint32_t word = record ? ReadU32(record, 0) : 0;
    Status st = ST_OK;
    if (!Refused(OP_GPU_GetCoolerSettings, gpu, &st)) {
        st = CheckGpuRecord(record && cooler == 0, word, COOLER_RECORD_WORD, gpu);
        if (st == ST_OK) {
            WriteU32(record, COOLER_COUNT, gpu->coolers);
            if (gpu->coolers > 0) WriteU32(record, COOLER_FIRST_LEVEL, Value(gpu->fan));
        }
    }
    return Done(OP_GPU_GetCoolerSettings, word, st);
}

// ---- Client illumination ---------------------------------------------------

// Every output record is cleared past its version word (and the bDefault
// word of a zone control read) before it is filled: reserved bytes and the
// entries past the count read as zero.
template <typename Record>
void ClearAfter(Record* record, size_t keep) {
    std::memset(reinterpret_cast<char*>(record) + keep, 0, sizeof(Record) - keep);
}

// The checks and bookkeeping the six calls share. `body` runs on a record
// that passed the argument, version and handle checks, under the lock.
template <typename Record, typename Body>
Status IllumCall(Operation op, void* handle, Record* record, uint32_t expectedWord, Body body) {
    int d, g;
    Gpu* gpu = DecodeGpu(handle, &d, &g);
    uint32_t word = record ? record->version : 0;
    Status st = ST_OK;
    if (!Refused(op, gpu, &st)) {
        st = CheckGpuRecord(record != nullptr, word, expectedWord, gpu);
        if (st == ST_OK) {
            BoardLock lock(TheBoards());
            st = body(*gpu, *record);
        }
    }
    return Done(op, word, st);
}

Status __cdecl DevicesGetInfo(void* handle, IllumDeviceInfoParams* params) {
    Guard guard;
    Refresh();
    return IllumCall(OP_GPU_ClientIllumDevicesGetInfo, handle, params, DEVICE_INFO_WORD,
                     [](Gpu& gpu, IllumDeviceInfoParams& p) {
                         ClearAfter(&p, 4);
                         FillDeviceInfo(gpu, &p);
                         return ST_OK;
                     });
}

Status __cdecl DevicesGetControl(void* handle, IllumDeviceControlParams* params) {
    Guard guard;
    Refresh();
    return IllumCall(OP_GPU_ClientIllumDevicesGetControl, handle, params, DEVICE_CONTROL_WORD,
                     [](Gpu& gpu, IllumDeviceControlParams& p) {
                         ClearAfter(&p, 4);
                         return FillDeviceControl(gpu, &p);
                     });
}

Status __cdecl DevicesSetControl(void* handle, IllumDeviceControlParams* params) {
    Guard guard;
    Refresh();
    return IllumCall(OP_GPU_ClientIllumDevicesSetControl, handle, params, DEVICE_CONTROL_WORD,
                     [](Gpu& gpu, IllumDeviceControlParams& p) { return ApplyDeviceControl(gpu, p); });
}

Status __cdecl ZonesGetInfo(void* handle, ZoneInfoParams* params) {
    Guard guard;
    Refresh();
    return IllumCall(OP_GPU_ClientIllumZonesGetInfo, handle, params, ZONE_INFO_WORD,
                     [](Gpu& gpu, ZoneInfoParams& p) {
                         ClearAfter(&p, 4);
                         FillZoneInfo(gpu, &p);
                         return ST_OK;
                     });
}

// A slow controller answers late: the settings are taken at once, the
// answer leaves `zoneDelayMs` later, and other calls go on meanwhile.
Status __cdecl ZonesGetControl(void* handle, ZoneControlParams* params) {
    uint32_t delay = 0;
    Status st;
    {
        Guard guard;
        Refresh();
        st = IllumCall(OP_GPU_ClientIllumZonesGetControl, handle, params, ZONE_CONTROL_WORD,
                       [&delay](Gpu& gpu, ZoneControlParams& p) {
                           ClearAfter(&p, 8);
                           delay = gpu.zoneDelayMs;
                           return FillZoneControl(gpu, &p);
                       });
    }
    if (delay) Sleep(delay);
    return st;
}

// One line per zone entry of the record (or one with zone -1 when there is
// no readable record): MS PID TID CALL DISPLAY GPU ZONE STATUS, the entry
// as DescribeZoneEntry gives it, default=0|1, prio= the calling thread's
// priority.
volatile LONG g_zoneWrites = 0;

void LogZoneWrite(void* handle, const ZoneControlParams* params, Status st) {
    std::string log = Env(ZONE_LOG_VARIABLE);
    if (log.empty()) return;
    int d, g;
    DecodeGpu(handle, &d, &g);
    char head[128];
    std::snprintf(head, sizeof head, "%llu %lu %lu %ld %d %d", static_cast<unsigned long long>(Now()),
                  GetCurrentProcessId(), GetCurrentThreadId(), InterlockedIncrement(&g_zoneWrites), d, g);
    std::string prio = " prio=" + std::to_string(GetThreadPriority(GetCurrentThread()));
    std::string lines;
    bool readable = params && params->version == ZONE_CONTROL_WORD && params->numIllumZonesControl > 0;
    uint32_t count = readable ? params->numIllumZonesControl : 0;
    if (count > ILLUM_MAX) count = ILLUM_MAX;
    for (uint32_t z = 0; z < count; ++z) {
        lines += std::string(head) + " " + std::to_string(z) + " " + std::to_string(st) + " " +
                 DescribeZoneEntry(params->zones[z]) + " default=" + std::to_string(params->flags & 1) + prio + "\n";
    }
    if (!readable) lines = std::string(head) + " -1 " + std::to_string(st) + " -\n";
    AppendLine(log, lines);
}

// What the zones show after a reset or a sleep, one line per zone in the
// form of a write, at the moment the event began, CALL 0 and STATUS 0, with
// event=reset|sleep: the zone log alone tells what a zone shows at any time.
void LogBoardEvent(const MachineEvent& event) {
    std::string log = Env(ZONE_LOG_VARIABLE);
    if (log.empty()) return;
    std::string lines;
    for (size_t d = 0; d < M().displays.size(); ++d) {
        for (size_t g = 0; g < M().displays[d].size(); ++g) {
            const BoardState& board = *M().displays[d][g].board;
            for (uint32_t z = 0; z < board.zoneCount && z < ILLUM_MAX; ++z) {
                char head[128];
                std::snprintf(head, sizeof head, "%llu %lu %lu 0 %d %d %d 0 ",
                              static_cast<unsigned long long>(event.atMs), GetCurrentProcessId(),
                              GetCurrentThreadId(), static_cast<int>(d), static_cast<int>(g), static_cast<int>(z));
                lines += head + DescribeZoneEntry(board.active[z]) + " default=0 event=" + (event.reset ? "reset" : "sleep") +
                         "\n";
            }
        }
    }
    if (!lines.empty()) AppendLine(log, lines);
}

Status __cdecl ZonesSetControl(void* handle, ZoneControlParams* params) {
    Guard guard;
    Refresh();
    Status st = IllumCall(OP_GPU_ClientIllumZonesSetControl, handle, params, ZONE_CONTROL_WORD,
                          [](Gpu& gpu, ZoneControlParams& p) { return ApplyZoneControl(gpu, p); });
    LogZoneWrite(handle, params, st);
    return st;
}

// The notices bracket every call; the scratch words let the post-call notice
// check that it sees what the pre-call notice left.
void __cdecl PreCallNotice(uint32_t id, uint32_t* scratch) {
    if (scratch) {
        scratch[0] = id ^ NOTICE_COOKIE;
        scratch[1] = GetCurrentThreadId();
    }
    Trace("pre 0x%08X", id);
}

void __cdecl PostCallNotice(uint32_t id, uint32_t* scratch, Status status) {
    bool intact = scratch && scratch[0] == (id ^ NOTICE_COOKIE) && scratch[1] == GetCurrentThreadId();
    Trace("post 0x%08X %d %s", id, status, intact ? "intact" : "broken");
}

void* Entry(uint32_t id) {
    switch (id) {
    case ID_Initialize: return reinterpret_cast<void*>(&Initialize);
    case ID_GetInterfaceVersionString: return reinterpret_cast<void*>(&GetInterfaceVersionString);
    case ID_EnumNvidiaDisplayHandle: return reinterpret_cast<void*>(&EnumNvidiaDisplayHandle);
    case ID_GetPhysicalGPUsFromDisplay: return reinterpret_cast<void*>(&GetPhysicalGPUsFromDisplay);
    case ID_GetDisplayDriverVersion: return reinterpret_cast<void*>(&GetDisplayDriverVersion);
    case ID_GPU_GetFullName: return reinterpret_cast<void*>(&GetFullName);
    case ID_GPU_QueryIlluminationSupport: return reinterpret_cast<void*>(&QueryIlluminationSupport);
    case ID_GPU_GetIllumination: return reinterpret_cast<void*>(&GetIllumination);
    case ID_GPU_SetIllumination: return reinterpret_cast<void*>(&SetIllumination);
    case ID_GPU_GetCurrentPstate: return reinterpret_cast<void*>(&GetCurrentPstate);
    case ID_GPU_GetThermalSettings: return reinterpret_cast<void*>(&GetThermalSettings);
    case ID_GPU_GetAllClockFrequencies: return reinterpret_cast<void*>(&GetAllClockFrequencies);
    case ID_GPU_GetDynamicPstatesInfoEx: return reinterpret_cast<void*>(&GetDynamicPstatesInfoEx);
    case ID_GPU_GetUsages: return reinterpret_cast<void*>(&GetUsages);
    case ID_GPU_GetCoolerSettings: return reinterpret_cast<void*>(&GetCoolerSettings);
    case ID_GPU_ClientIllumDevicesGetInfo: return reinterpret_cast<void*>(&DevicesGetInfo);
    case ID_GPU_ClientIllumDevicesGetControl: return reinterpret_cast<void*>(&DevicesGetControl);
    case ID_GPU_ClientIllumDevicesSetControl: return reinterpret_cast<void*>(&DevicesSetControl);
    case ID_GPU_ClientIllumZonesGetInfo: return reinterpret_cast<void*>(&ZonesGetInfo);
    case ID_GPU_ClientIllumZonesGetControl: return reinterpret_cast<void*>(&ZonesGetControl);
    case ID_GPU_ClientIllumZonesSetControl: return reinterpret_cast<void*>(&ZonesSetControl);
    case ID_PreCallNotice: return reinterpret_cast<void*>(&PreCallNotice);
    case ID_PostCallNotice: return reinterpret_cast<void*>(&PostCallNotice);
    default: return nullptr;
    }
}

}  // namespace
}  // namespace sim

extern "C" __declspec(dllexport) void* __cdecl nvapi_QueryInterface(uint32_t id) {
    sim::Guard guard;
    sim::Refresh();
    void* entry = sim::M().Offers(id) ? sim::Entry(id) : nullptr;
    sim::Trace("query 0x%08X %s", id, entry ? "found" : "null");
    return entry;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        InitializeCriticalSection(&sim::g_lock);
        sim::g_state = new (std::nothrow) sim::State;
        return sim::g_state != nullptr;
    }
    // At process exit other threads are gone mid-call: leave everything as is.
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        if (sim::g_state->logMutex) CloseHandle(sim::g_state->logMutex);
        delete sim::g_state;
        sim::g_state = nullptr;
        DeleteCriticalSection(&sim::g_lock);
    }
    return TRUE;
}
