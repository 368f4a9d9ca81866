// Driving the simulated NVAPI driver (sim/nvapi) from a test.
//
// The driver reads its machine from the file named by GLIMSIM_NVAPI_CONFIG on
// every call and records every NvAPI_GPU_SetIllumination in the file named by
// GLIMSIM_NVAPI_LOG, every zone of every NvAPI_GPU_ClientIllumZonesSetControl
// in GLIMSIM_NVAPI_ZONELOG (GLIMSIM_NVAPI_TRACE: every query and call). SimNvapi points
// those variables of the test process at files of its own temporary folder, so
// the driver loaded in the test process and every program the test starts
// afterwards (they inherit the environment) use them.
//
//     testsupport::SimNvapi sim;                 // one display, one GPU, logo LED only
//     testsupport::SimMachine m;
//     m.Gpu(0, 0).attributes = {0, 1};           // SLI bridge too
//     m.Gpu(0, 0).sensors = "1:72";              // GPU sensor at 72 degrees
//     m.Gpu(0, 1).name = "Second board";         // display 0 now has two GPUs
//     m.Gpu(0, 1).zones = "rgb@top:255,0,0 fixed@front";  // with two illumination zones
//     m.status["GPU_GetThermalSettings"] = -5;   // every thermal query fails
//     ASSERT_TRUE(sim.Write(m));
//     ... run the code under test ...
//     auto sets = sim.Sets();                    // what was set, in order
//     ASSERT_TRUE(sim.WaitForSets(3, 5000));     // or wait for a running program
//
// Readings take a number, "absent" (clocks, utilisation: the domain is marked
// absent) or a triangle wave "LO..HI/PERIOD_MS" on the machine-wide clock.
// Operation names for forced statuses are those of NVAPI without "NvAPI_":
// Initialize, GetInterfaceVersionString, EnumNvidiaDisplayHandle,
// GetPhysicalGPUsFromDisplay, GetDisplayDriverVersion, GPU_GetFullName,
// GPU_QueryIlluminationSupport, GPU_SetIllumination, GPU_GetCurrentPstate,
// GPU_GetThermalSettings, GPU_GetAllClockFrequencies,
// GPU_GetDynamicPstatesInfoEx, GPU_GetUsages, GPU_GetCoolerSettings,
// GPU_ClientIllumDevicesGetInfo, GPU_ClientIllumDevicesGetControl,
// GPU_ClientIllumDevicesSetControl, GPU_ClientIllumZonesGetInfo,
// GPU_ClientIllumZonesGetControl, GPU_ClientIllumZonesSetControl.
// sim/nvapi/README.md describes the file format in full.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "testsupport.h"

namespace testsupport {

// One GPU; the defaults answer every query successfully with fixed values.
struct SimGpu {
    std::string name = "NVIDIA GeForce GTX 1080";
    std::string adapter;                      // "" reports the name
    std::vector<unsigned> attributes = {0};   // supported LEDs: 0 logo, 1 SLI bridge
    std::string sensors = "1:50";             // "TARGET:TEMP ..." at most 3; target 1 is the GPU
    int sensorCount = -1;                     // count reported; -1 as many as listed
    std::string pstate = "0";
    std::string clockCurrent = "1607000";     // kHz
    std::string clockBase = "1607000";
    std::string clockBoost = "1733000";
    std::string utilization = "30";           // through the dynamic P-state entry
    std::string usageTable;                   // through the usage table; "" as utilisation
    unsigned coolers = 1;
    std::string fan = "40";                   // first cooler's level, percent
    std::string zones;                        // "TYPE@LOCATION[:R,G,B[,W]][%PCT][#DEVICE] ..."; "" none
    std::string illumDevices;                 // "TYPE[:MASK] ..."; "" one MCU running both modes
    unsigned zoneDelayMs = 0;                 // how long ZonesGetControl takes
    std::map<std::string, int> status;        // forced statuses for calls on this GPU
    std::string extra;                        // raw lines for the section
};

struct SimMachine {
    std::vector<std::vector<SimGpu>> displays = {{SimGpu()}};
    std::string usage = "both";               // utilisation entries: both, dynamic, table, none
    bool notices = false;                     // offer the pre-/post-call notice entries
    std::vector<uint32_t> missing;            // interface ids the driver lacks
    std::map<std::string, int> status;        // forced statuses for every call
    std::string extra;                        // raw machine-wide lines

    // The GPU, adding displays and GPUs (with defaults) up to it.
    SimGpu& Gpu(size_t display, size_t gpu);
    // The configuration file's text.
    std::string Text() const;
};

// One NvAPI_GPU_SetIllumination as the driver recorded it. `ms` is
// GetTickCount64() of the calling process: the same clock in every process.
// display and gpu are -1 for a handle the driver did not know.
struct SimSet {
    uint64_t ms;
    DWORD pid;
    DWORD tid;
    int display;
    int gpu;
    long attribute;
    long value;
    int status;
};

// One zone of one NvAPI_GPU_ClientIllumZonesSetControl as the driver recorded
// it: every zone the record carried, one line each, with the call's number
// (per process) to group them. `mode` is "manual", "piecewise" or "-" (no
// readable record, zone -1); `fields` holds type, color, pct, default and,
// for a program, cycle, grp, rise, fall, a, b, idle, phase.
struct SimZoneWrite {
    uint64_t ms;
    DWORD pid;
    DWORD tid;
    long call;
    int display;
    int gpu;
    int zone;
    int status;
    std::string mode;
    std::map<std::string, std::string> fields;

    std::string Field(const std::string& key) const;
};

class SimNvapi {
public:
    // Writes the default SimMachine and points the variables at this object's
    // files; the destructor removes the variables again.
    SimNvapi();
    ~SimNvapi();
    SimNvapi(const SimNvapi&) = delete;
    SimNvapi& operator=(const SimNvapi&) = delete;

    // Replaces the configuration in one step (a running driver never reads
    // half a file). The next driver call answers from it.
    bool Write(const SimMachine& machine);
    bool WriteText(const std::string& text);

    // The sets recorded so far, oldest first.
    std::vector<SimSet> Sets() const;
    // Sets recorded by one process.
    std::vector<SimSet> SetsOf(DWORD pid) const;
    bool WaitForSets(size_t count, unsigned timeoutMs) const;
    // The zone writes recorded so far, oldest first.
    std::vector<SimZoneWrite> ZoneWrites() const;
    // Forgets the recorded sets, zone writes and the trace.
    void ClearLog();

    // Trace lines without their "pid tid " head: "query 0xID found|null",
    // "call NAME 0xVERSIONWORD|- STATUS", "pre 0xID", "post 0xID STATUS intact|broken".
    std::vector<std::string> Trace() const;
    // How many trace lines begin with `prefix`.
    size_t CountTrace(const std::string& prefix) const;

    const std::string& ConfigPath() const { return config_; }
    const std::string& LogPath() const { return log_; }

private:
    TempDir dir_;
    std::string config_;
    std::string log_;
    std::string zoneLog_;
    std::string trace_;
};

// What zone `zone` of (display, gpu) shows at `ms` by the zone log: its last
// successful entry at or before then (a write, or the defaults a reset or a
// sleep put back, lines with event=reset|sleep); a program shows end point A
// for a ms and B for b ms in turn from the moment it was written. "" when the
// log knows nothing of the zone by then.
std::string ZoneShownAt(const std::vector<SimZoneWrite>& writes, int display, int gpu, int zone, uint64_t ms);

// Parses the set log's text (exposed for tests of the parser itself).
std::vector<SimSet> ParseSimSets(const std::string& text);
std::vector<SimZoneWrite> ParseSimZoneWrites(const std::string& text);

}  // namespace testsupport
