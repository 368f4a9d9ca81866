// The simulated machine: displays, the GPUs behind each, what every GPU
// answers, and the faults to inject. Parsed from the configuration text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "records.h"
#include "zonerecords.h"

namespace sim {

// Every driver operation, for forced statuses and the trace.
enum Operation {
    OP_Initialize,
    OP_GetInterfaceVersionString,
    OP_EnumNvidiaDisplayHandle,
    OP_GetPhysicalGPUsFromDisplay,
    OP_GetDisplayDriverVersion,
    OP_GPU_GetFullName,
    OP_GPU_QueryIlluminationSupport,
    OP_GPU_GetIllumination,
    OP_GPU_SetIllumination,
    OP_GPU_GetCurrentPstate,
    OP_GPU_GetThermalSettings,
    OP_GPU_GetAllClockFrequencies,
    OP_GPU_GetDynamicPstatesInfoEx,
    OP_GPU_GetUsages,
    OP_GPU_GetCoolerSettings,
    OP_GPU_ClientIllumDevicesGetInfo,
    OP_GPU_ClientIllumDevicesGetControl,
    OP_GPU_ClientIllumDevicesSetControl,
    OP_GPU_ClientIllumZonesGetInfo,
    OP_GPU_ClientIllumZonesGetControl,
    OP_GPU_ClientIllumZonesSetControl,
    OP_COUNT
};
const char* OperationName(Operation op);

// A reading: a constant, a triangle wave (lo at phase 0, hi at half the
// period, back to lo) on the machine-wide millisecond clock, or absent.
struct Reading {
    bool present = true;
    int64_t lo = 0;
    int64_t hi = 0;
    uint32_t periodMs = 0;  // 0: constant lo

    static Reading Constant(int64_t v) {
        Reading r;
        r.lo = r.hi = v;
        return r;
    }
    static Reading Wave(int64_t lo, int64_t hi, uint32_t periodMs) {
        Reading r;
        r.lo = lo;
        r.hi = hi;
        r.periodMs = periodMs;
        return r;
    }
    int64_t At(uint64_t ms) const;
};

struct Sensor {
    int32_t target = static_cast<int32_t>(TARGET_GPU);
    Reading temperature;
};

// Forced statuses: set[op] says whether status[op] replaces the answer.
// delayMs[op] holds every call of op that long before it answers.
struct Faults {
    bool set[OP_COUNT] = {};
    Status status[OP_COUNT] = {};
    uint32_t delayMs[OP_COUNT] = {};
};

// One illumination zone as configured: what ZonesGetInfo describes and the
// control settings it starts with.
struct Zone {
    uint32_t type = ZONE_TYPE_RGB;
    uint32_t location = 0;
    uint8_t color[4] = {255, 255, 255, 0};  // R G B W; only RGB and RGBW zones have one
    uint8_t brightness = 100;
    uint8_t device = 0;                     // index of the illumination device behind it
};

// One illumination device (a controller behind one or more zones).
struct IllumDevice {
    uint32_t type = DEVICE_TYPE_MCUV10;
    uint32_t modes = 3;  // ctrlModeMask: bit 0 manual, bit 1 piecewise linear
};

struct BoardState;

// Something that happens to the simulated machine at a moment of the
// machine-wide clock (GetTickCount64()), the same for every process: a driver
// reset (an outage of `outageMs`, then new handles, the old ones refused for
// good, the board back at its defaults) or a sleep (the board back at its
// defaults).
struct MachineEvent {
    uint64_t atMs = 0;
    bool reset = false;
    uint32_t outageMs = 0;
};

// Which utilisation entries the driver offers.
enum class UsageEntries { Both, Dynamic, Table, None };

struct Gpu {
    std::string name = "NVIDIA GeForce GTX 1080";
    std::string adapter = "NVIDIA GeForce GTX 1080";
    std::vector<uint32_t> attributes = {0};
    std::vector<Sensor> sensors = {Sensor{static_cast<int32_t>(TARGET_GPU), Reading::Constant(50)}};
    int64_t sensorCount = -1;  // reported count; -1: as many as listed
    Reading pstate = Reading::Constant(0);
    Reading clock[3] = {Reading::Constant(1607000), Reading::Constant(1607000), Reading::Constant(1733000)};
    Reading utilization = Reading::Constant(30);
    Reading usageTable = Reading::Constant(30);
    uint32_t coolers = 1;
    Reading fan = Reading::Constant(40);
    std::vector<Zone> zones;     // none: a board without client illumination
    std::vector<IllumDevice> illumDevices;  // none given: one MCU, both modes, when there are zones
    uint32_t zoneDelayMs = 0;    // how long ZonesGetControl takes to answer
    BoardState* board = nullptr;  // what the zones and LEDs show now (board.h), shared by every process
    Faults faults;

    bool Supports(uint32_t attribute) const;
};

struct Machine {
    std::vector<std::vector<Gpu>> displays;  // the GPUs behind each display
    std::string interfaceText = "NVAPI simulated driver";
    std::string branch = "r595_00";
    uint32_t driverVersion = 59500;
    std::vector<uint32_t> missing;  // interface ids answered with null
    bool notices = false;
    UsageEntries usage = UsageEntries::Both;
    Faults faults;
    std::vector<MachineEvent> events;  // in time order

    // Driver resets that have begun by `ms`: the handle generation.
    uint32_t ResetsBy(uint64_t ms) const;
    // Whether a reset's outage covers `ms`.
    bool InOutage(uint64_t ms) const;
    // How many events (resets and sleeps) have begun by `ms`.
    size_t EventsBy(uint64_t ms) const;

    // One display, one GPU with the logo LED only, readings that rise and fall.
    static Machine Default();
    bool Offers(uint32_t id) const;
};

// Parses a configuration text. Lines it cannot use are skipped and described
// in `problems` (one per line).
Machine ParseMachine(const std::string& text, std::string* problems);

}  // namespace sim
