#include "gpu/cnvgf.h"

#include <cstring>

namespace {

// 0.001 as the single-precision value the clock conversion has always used,
// widened: callers' thresholds were tuned against exactly these figures.
const double KHZ_TO_MHZ = static_cast<double>(0.001f);

const char NOT_IMPLEMENTED_ADAPTER[] = "not implemented yet";

NvU32 ReadWord(const unsigned char* record, NvU32 offset) {
    NvU32 word;
    std::memcpy(&word, record + offset, sizeof word);
    return word;
}

// Byte-wise, ASCII letters only: the text is 8-bit and may hold lead bytes.
bool EqualsIgnoringCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        unsigned char x = static_cast<unsigned char>(*a), y = static_cast<unsigned char>(*b);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y) return false;
        if (x == 0) return true;
    }
}

void WriteWord(unsigned char* record, NvU32 offset, NvU32 word) { std::memcpy(record + offset, &word, sizeof word); }

// Raised by RequestRebindAll; each adapter notes the value it bound at.
volatile LONG rebindGeneration = 0;

// The private entries are called past the NVAPI layer: their answers are
// looked at here.
bool Failed(NvAPI_Status status, bool* lost) {
    if (NvApiBindingLost(status)) *lost = true;
    return status != NVAPI_OK;
}

}  // namespace

CNVGF::CNVGF()
    : interfaceVersion_(),
      driverVersion_(),
      query_(nullptr),
      dynamicPstates_(nullptr),
      usages_(nullptr),
      cooler_(nullptr),
      display_(0),
      gpu_(0),
      gpuCount_(0),
      displayHandle_(nullptr),
      gpus_(),
      library_(nullptr),
      asked_(),
      bindResult_(NVGF_NO_DRIVER),
      lost_(false),
      seenGeneration_(0),
      lastAttempt_(0) {}

CNVGF::~CNVGF() { UnloadDLL(); }

unsigned CNVGF::Initialize(uint32_t display, uint32_t gpu, uint32_t attribute) {
    asked_ = GpuSelector {display, gpu, attribute};
    seenGeneration_ = rebindGeneration;
    NvApiTakeBindingLoss();  // what came before this selection is not its concern
    lost_ = false;
    bindResult_ = Select(display, gpu, attribute);
    return bindResult_;
}

unsigned CNVGF::Select(uint32_t display, uint32_t gpu, uint32_t attribute) {
    if (NvAPI_Initialize() != NVAPI_OK) return NVGF_NO_DRIVER;
    if (NvAPI_GetInterfaceVersionString(interfaceVersion_) != NVAPI_OK) return NVGF_NO_DRIVER;
    driverVersion_.version = NV_DISPLAY_DRIVER_VERSION_VER;
    if (!LoadDLL()) return NVGF_NO_DRIVER;
    if (!SelectGpu(display, gpu)) return NVGF_NOT_FOUND;
    if (!IsSupported(attribute)) return NVGF_UNSUPPORTED;
    return NVGF_READY;
}

unsigned CNVGF::Rebind() {
    UnloadDLL();
    NvApiReinitialize();
    return Initialize(asked_.Display, asked_.GPU, asked_.Attribute);
}

bool CNVGF::HeardLoss() {
    if (NvApiTakeBindingLoss()) lost_ = true;
    return lost_;
}

bool CNVGF::Lost() { return HeardLoss() || bindResult_ != NVGF_READY || seenGeneration_ != rebindGeneration; }

bool CNVGF::EnsureBound(uint32_t retryMs) {
    if (!Lost()) return true;
    ULONGLONG now = GetTickCount64();
    if (lastAttempt_ != 0 && now - lastAttempt_ < retryMs) return false;
    lastAttempt_ = now;
    return Rebind() == NVGF_READY;
}

// The adapter's own reference is taken on the very file the NVAPI layer
// loaded from the system directory, by its full path: a search by name could
// pick up an NVAPI.DLL planted beside the program or in the current folder.
bool CNVGF::LoadDLL() {
    if (library_) return false;
    const char* path = NvApiLibraryPath();
    if (!path[0]) return false;
    library_ = LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!library_) return false;
    query_ = reinterpret_cast<NvQueryInterfaceProc>(reinterpret_cast<void*>(GetProcAddress(library_, "nvapi_QueryInterface")));
    if (!query_) return false;
    usages_ = reinterpret_cast<NvUsagesProc>(query_(NVID_GPU_GetUsages));
    dynamicPstates_ = reinterpret_cast<NvDynamicPstatesProc>(query_(NVID_GPU_GetDynamicPstatesInfoEx));
    cooler_ = reinterpret_cast<NvCoolerProc>(query_(NVID_GPU_GetCoolerSettings));
    return true;
}

bool CNVGF::UnloadDLL() {
    if (!library_) return false;
    FreeLibrary(library_);
    library_ = nullptr;
    query_ = nullptr;
    dynamicPstates_ = nullptr;
    usages_ = nullptr;
    cooler_ = nullptr;
    return true;
}

bool CNVGF::SelectGpu(uint32_t display, uint32_t gpu) {
    if (NvAPI_EnumNvidiaDisplayHandle(display, &displayHandle_) != NVAPI_OK) return false;
    display_ = display;
    NvU32 count = 0;
    if (NvAPI_GetPhysicalGPUsFromDisplay(displayHandle_, gpus_, &count) != NVAPI_OK) return false;
    // Only 64 slots exist whatever count a driver reports.
    gpuCount_ = count < static_cast<NvU32>(NVAPI_MAX_PHYSICAL_GPUS) ? count : NVAPI_MAX_PHYSICAL_GPUS;
    if (gpu >= gpuCount_) return false;
    gpu_ = gpu;
    // A driver may fill all 64 bytes of a name with no terminator: the name
    // would run into the fields after it in every label.
    char* name = driverVersion_.szAdapterString;
    if (NvAPI_GetDisplayDriverVersion(displayHandle_, &driverVersion_) != NVAPI_OK) return false;
    name[NVAPI_SHORT_STRING_MAX - 1] = '\0';
    // Some drivers answer with a placeholder instead of the board's name.
    if (EqualsIgnoringCase(name, NOT_IMPLEMENTED_ADAPTER)) {
        if (NvAPI_GPU_GetFullName(Gpu(), name) != NVAPI_OK) return false;
        name[NVAPI_SHORT_STRING_MAX - 1] = '\0';
    }
    return true;
}

bool CNVGF::IsSupported(uint32_t attribute) {
    if (IsZoneAttribute(attribute)) return ::DescribeZone(Gpu(), ZoneOfAttribute(attribute), nullptr);
    NV_GPU_QUERY_ILLUMINATION_SUPPORT_PARM parm;
    std::memset(&parm, 0, sizeof parm);
    parm.version = NV_GPU_QUERY_ILLUMINATION_SUPPORT_PARM_VER;
    parm.hPhysicalGpu = Gpu();
    parm.Attribute = attribute;
    return NvAPI_GPU_QueryIlluminationSupport(&parm) == NVAPI_OK && parm.bSupported != 0;
}

bool CNVGF::SetLuminance(uint32_t attribute, uint32_t value, uint32_t color) {
    if (IsZoneAttribute(attribute)) return WriteZoneManual(Gpu(), ZoneOfAttribute(attribute), value, color);
    if (!IsSupported(attribute)) return false;
    NV_GPU_SET_ILLUMINATION_PARM parm;
    std::memset(&parm, 0, sizeof parm);
    parm.version = NV_GPU_SET_ILLUMINATION_PARM_VER;
    parm.hPhysicalGpu = Gpu();
    parm.Attribute = attribute;
    parm.Value = value;
    return NvAPI_GPU_SetIllumination(&parm) == NVAPI_OK;
}

uint32_t CNVGF::DescribeZones(ZoneDescription* zones) { return ::DescribeZones(Gpu(), zones); }

bool CNVGF::DescribeZone(uint32_t attribute, ZoneDescription* out) {
    return IsZoneAttribute(attribute) && ::DescribeZone(Gpu(), ZoneOfAttribute(attribute), out);
}

bool CNVGF::ZoneRunsPrograms(uint32_t attribute) {
    return IsZoneAttribute(attribute) && ::ZoneRunsPrograms(Gpu(), ZoneOfAttribute(attribute));
}

bool CNVGF::StartZoneProgram(uint32_t attribute, const ZoneBlink& blink, uint32_t color) {
    return IsZoneAttribute(attribute) && WriteZoneBlink(Gpu(), ZoneOfAttribute(attribute), blink, color);
}

bool CNVGF::ZoneProgramRuns(uint32_t attribute, const ZoneBlink& blink, uint32_t color) {
    return IsZoneAttribute(attribute) && ZonePlaysBlink(Gpu(), ZoneOfAttribute(attribute), blink, color);
}

bool CNVGF::GetPstate(unsigned* pstate) {
    NV_GPU_PERF_PSTATE_ID current = NVAPI_GPU_PERF_PSTATE_UNDEFINED;
    if (NvAPI_GPU_GetCurrentPstate(Gpu(), &current) != NVAPI_OK) return false;
    *pstate = static_cast<unsigned>(current);
    return true;
}

bool CNVGF::GetTemperature(int* celsius) {
    NV_GPU_THERMAL_SETTINGS settings;
    std::memset(&settings, 0, sizeof settings);
    settings.version = NV_GPU_THERMAL_SETTINGS_VER_1;
    if (NvAPI_GPU_GetThermalSettings(Gpu(), NVAPI_THERMAL_TARGET_ALL, &settings) != NVAPI_OK) return false;
    NvU32 count = settings.count < 3 ? settings.count : 3;
    for (NvU32 i = 0; i < count; ++i) {
        if (settings.sensor[i].target == static_cast<NvS32>(NVAPI_THERMAL_TARGET_GPU) && celsius)
            *celsius = static_cast<int>(settings.sensor[i].currentTemp);
    }
    return true;
}

bool CNVGF::GetFanLevel(unsigned* percent) {
    if (!cooler_) return false;
    unsigned char record[NV_COOLER_RECORD_SIZE];
    std::memset(record, 0, sizeof record);
    WriteWord(record, 0, NV_COOLER_RECORD_VER);
    if (Failed(cooler_(Gpu(), 0, record), &lost_)) return false;
    if (ReadWord(record, NV_COOLER_COUNT_OFFSET) == 0) return false;
    if (percent) *percent = ReadWord(record, NV_COOLER_LEVEL_OFFSET);
    return true;
}

bool CNVGF::GetClock(double* mhz, unsigned clockType) {
    NV_GPU_CLOCK_FREQUENCIES clocks;
    std::memset(&clocks, 0, sizeof clocks);
    clocks.version = NV_GPU_CLOCK_FREQUENCIES_VER_2;
    clocks.ClockType = clockType & 3;
    if (NvAPI_GPU_GetAllClockFrequencies(Gpu(), &clocks) != NVAPI_OK) return false;
    if (!mhz) return true;
    *mhz = 0.0;
    if (clocks.domain[0].bIsPresent & 1) *mhz = static_cast<double>(clocks.domain[0].frequency) * KHZ_TO_MHZ;
    return true;
}

bool CNVGF::GetUsage(int* percent) {
    if (dynamicPstates_) {
        NV_GPU_DYNAMIC_PSTATES_INFO_EX info;
        std::memset(&info, 0, sizeof info);
        info.version = NV_GPU_DYNAMIC_PSTATES_INFO_EX_VER;
        if (!Failed(dynamicPstates_(Gpu(), &info), &lost_)) {
            // An absent domain is an answer too: no fallback to the usage table.
            if (percent && info.utilization[0].bIsPresent != 0)
                *percent = static_cast<int>(info.utilization[0].percentage);
            return true;
        }
    }
    if (!usages_) return false;
    unsigned char table[NV_USAGE_TABLE_SIZE];
    std::memset(table, 0, sizeof table);
    WriteWord(table, 0, NV_USAGE_TABLE_VER);
    if (Failed(usages_(Gpu(), table), &lost_)) return false;
    if (percent) *percent = static_cast<int>(ReadWord(table, NV_USAGE_TABLE_GPU_OFFSET));
    return true;
}

void RequestRebindAll() { InterlockedIncrement(&rebindGeneration); }

int SetLuminanceOnce(uint32_t brightness, uint32_t attribute, uint32_t display, uint32_t gpu, uint32_t color) {
    if (brightness > 100) brightness = 100;
    CNVGF adapter;
    int result = 0;
    if (adapter.Initialize(display, gpu, attribute) == NVGF_READY &&
        adapter.SetLuminance(attribute, brightness, color))
        result = 1;
    else if (adapter.HeardLoss() && adapter.Rebind() == NVGF_READY && adapter.SetLuminance(attribute, brightness, color))
        result = 1;
    adapter.UnloadDLL();
    return result;
}
