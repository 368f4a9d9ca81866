// CNVGF: one LED of one NVIDIA board. Brings the driver interface up, selects
// display, physical GPU and illumination attribute, sets the brightness and
// takes the GPU readings the control laws follow. Each user builds its own;
// an adapter is never shared between threads.
#pragma once

#include <windows.h>

#include "gpu/nvapi.h"
#include "gpu/zones.h"

// Names one LED.
struct GpuSelector {
    uint32_t Display;
    uint32_t GPU;
    uint32_t Attribute;  // 0 board logo, 1 SLI bridge, 2 + z illumination zone z
};

// Results of CNVGF::Initialize.
enum : unsigned {
    NVGF_READY = 0,
    NVGF_NO_DRIVER = 1,
    NVGF_NOT_FOUND = 2,
    NVGF_UNSUPPORTED = 3,
};

class CNVGF {
public:
    CNVGF();
    virtual ~CNVGF();
    CNVGF(const CNVGF&) = delete;
    CNVGF& operator=(const CNVGF&) = delete;

    // 0 ready, 1 driver interface unavailable, 2 display or GPU not found,
    // 3 attribute not supported (for a zone: the GPU has no such zone). The
    // library reference taken on the way stays held until UnloadDLL or
    // destruction, whatever the result.
    unsigned Initialize(uint32_t display, uint32_t gpu, uint32_t attribute);
    bool LoadDLL();
    bool UnloadDLL();
    bool SelectGpu(uint32_t display, uint32_t gpu);
    bool IsSupported(uint32_t attribute);
    // A zone is put in manual mode at the brightness (at most 100); `color`
    // (a DEVICE colour, 0 for none) is given only to zones that take one.
    bool SetLuminance(uint32_t attribute, uint32_t value, uint32_t color = 0);

    // Zones of the selected GPU (attribute 2 + z): what the driver says of
    // the zone, whether its hardware runs programs, handing it one, and
    // whether it still runs it.
    uint32_t DescribeZones(ZoneDescription* zones);  // up to 32; `zones` may be null
    bool DescribeZone(uint32_t attribute, ZoneDescription* out);
    bool ZoneRunsPrograms(uint32_t attribute);
    bool StartZoneProgram(uint32_t attribute, const ZoneBlink& blink, uint32_t color);
    bool ZoneProgramRuns(uint32_t attribute, const ZoneBlink& blink, uint32_t color);

    // Readings: true on success; the out value is left untouched otherwise.
    bool GetPstate(unsigned* pstate);
    bool GetTemperature(int* celsius);
    bool GetFanLevel(unsigned* percent);
    bool GetClock(double* mhz, unsigned clockType);  // 0 current, 1 base, 2 boost
    bool GetUsage(int* percent);

    // Binding again. A driver that restarted (an update, a reset, a resume)
    // hands out new handles and refuses the old ones. Rebind drops the
    // library reference, runs the driver's initialisation again and makes the
    // selection that Initialize was asked for afresh; it answers as
    // Initialize does. EnsureBound rebinds when a driver call of this thread
    // said the handles are gone, or when RequestRebindAll asked every adapter
    // to, but at most once per `retryMs`: true when the adapter may be used.
    unsigned Rebind();
    bool EnsureBound(uint32_t retryMs);
    // Whether the last selection failed or a call since answered that the
    // handles are gone; the next EnsureBound then tries again.
    bool Lost();
    // Only the latter: a call answered that the handles are gone.
    bool HeardLoss();
    // What the last Initialize or Rebind answered.
    unsigned BindResult() const { return bindResult_; }

    // The device name: the driver's adapter string, or the GPU's full name.
    const char* DeviceName() const { return driverVersion_.szAdapterString; }
    uint32_t GpuCount() const { return gpuCount_; }

private:
    unsigned Select(uint32_t display, uint32_t gpu, uint32_t attribute);
    NvPhysicalGpuHandle Gpu() const { return gpus_[gpu_ < NVAPI_MAX_PHYSICAL_GPUS ? gpu_ : 0]; }

    NvAPI_ShortString interfaceVersion_;
    NV_DISPLAY_DRIVER_VERSION driverVersion_;
    NvQueryInterfaceProc query_;
    NvDynamicPstatesProc dynamicPstates_;
    NvUsagesProc usages_;
    NvCoolerProc cooler_;
    uint32_t display_;
    uint32_t gpu_;
    uint32_t gpuCount_;
    NvDisplayHandle displayHandle_;
    NvPhysicalGpuHandle gpus_[NVAPI_MAX_PHYSICAL_GPUS];
    HMODULE library_;
    GpuSelector asked_;
    unsigned bindResult_;
    bool lost_;
    LONG seenGeneration_;
    ULONGLONG lastAttempt_;
};

// Asks every adapter to bind again before its next write: the displays
// changed, or the system announced that the driver restarted.
void RequestRebindAll();

// Sets one LED once through a fresh adapter: a brightness above 100 (taken
// unsigned, so also a negative one) becomes 100. 1 when the LED was set.
// A driver that answers that it restarted is initialised again and asked
// once more before the set is given up.
// Always drives the GPU, also in debug-device mode.
// `color` as for CNVGF::SetLuminance.
int SetLuminanceOnce(uint32_t brightness, uint32_t attribute, uint32_t display, uint32_t gpu, uint32_t color = 0);
