#include "machine.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <sstream>

#include "zones.h"

namespace sim {

namespace {

const char* const OPERATION_NAMES[OP_COUNT] = {
    "Initialize",
    "GetInterfaceVersionString",
    "EnumNvidiaDisplayHandle",
    "GetPhysicalGPUsFromDisplay",
    "GetDisplayDriverVersion",
    "GPU_GetFullName",
    "GPU_QueryIlluminationSupport",
    "GPU_GetIllumination",
    "GPU_SetIllumination",
    "GPU_GetCurrentPstate",
    "GPU_GetThermalSettings",
    "GPU_GetAllClockFrequencies",
    "GPU_GetDynamicPstatesInfoEx",
    "GPU_GetUsages",
    "GPU_GetCoolerSettings",
    "GPU_ClientIllumDevicesGetInfo",
    "GPU_ClientIllumDevicesGetControl",
    "GPU_ClientIllumDevicesSetControl",
    "GPU_ClientIllumZonesGetInfo",
    "GPU_ClientIllumZonesGetControl",
    "GPU_ClientIllumZonesSetControl",
};

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool ParseInt(const std::string& text, int64_t* out) {
    std::string t = Trim(text);
    if (t.empty()) return false;
    char* end = nullptr;
    long long v = std::strtoll(t.c_str(), &end, 0);
    if (*end != '\0') return false;
    *out = v;
    return true;
}

// "absent" / "-", a number, or "LO..HI/PERIOD".
bool ParseReading(const std::string& text, Reading* out) {
    std::string t = Lower(Trim(text));
    if (t == "absent" || t == "-") {
        *out = Reading();
        out->present = false;
        return true;
    }
    size_t dots = t.find("..");
    if (dots == std::string::npos) {
        int64_t v;
        if (!ParseInt(t, &v)) return false;
        *out = Reading::Constant(v);
        return true;
    }
    size_t slash = t.find('/', dots);
    int64_t lo, hi, period;
    if (slash == std::string::npos || !ParseInt(t.substr(0, dots), &lo) ||
        !ParseInt(t.substr(dots + 2, slash - dots - 2), &hi) || !ParseInt(t.substr(slash + 1), &period) ||
        period <= 0 || period > 0x7FFFFFFF)
        return false;
    *out = Reading::Wave(lo, hi, static_cast<uint32_t>(period));
    return true;
}

std::vector<std::string> Items(const std::string& text) {
    std::vector<std::string> items;
    std::string cur;
    for (char c : text + " ") {
        if (c == ' ' || c == '\t' || c == ',') {
            if (!cur.empty()) items.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    return items;
}

bool ParseIdList(const std::string& text, std::vector<uint32_t>* out) {
    std::vector<uint32_t> ids;
    for (const std::string& item : Items(text)) {
        int64_t v;
        if (!ParseInt(item, &v)) return false;
        ids.push_back(static_cast<uint32_t>(v));
    }
    *out = ids;
    return true;
}

bool ParseSensors(const std::string& text, std::vector<Sensor>* out) {
    std::vector<Sensor> sensors;
    for (const std::string& item : Items(text)) {
        size_t colon = item.find(':');
        Sensor s;
        int64_t target;
        if (colon == std::string::npos || !ParseInt(item.substr(0, colon), &target) ||
            !ParseReading(item.substr(colon + 1), &s.temperature) || !s.temperature.present)
            return false;
        s.target = static_cast<int32_t>(target);
        sensors.push_back(s);
    }
    if (sensors.size() > static_cast<size_t>(MAX_SENSORS)) return false;
    *out = sensors;
    return true;
}

// "status.OP = STATUS" or "delay.OP = MS".
bool ParseStatusKey(const std::string& key, Faults* faults, const std::string& value) {
    bool delay = key.compare(0, 6, "delay.") == 0;
    std::string name = Lower(key.substr(delay ? 6 : 7));
    if (name.compare(0, 6, "nvapi_") == 0) name = name.substr(6);
    for (int op = 0; op < OP_COUNT; ++op) {
        if (name != Lower(OPERATION_NAMES[op])) continue;
        int64_t v;
        if (!ParseInt(value, &v)) return false;
        if (delay) {
            if (v < 0 || v > 600000) return false;
            faults->delayMs[op] = static_cast<uint32_t>(v);
            return true;
        }
        faults->set[op] = true;
        faults->status[op] = static_cast<Status>(v);
        return true;
    }
    return false;
}

// Per-section parse state: which keys were given, so that defaults that
// follow other keys (adapter after name, usage table after utilisation)
// are settled once the whole section is read.
struct GpuSection {
    Gpu gpu;
    bool adapterSet = false;
    bool usageTableSet = false;
};

bool ApplyGpuKey(GpuSection& sec, const std::string& key, const std::string& value) {
    Gpu& g = sec.gpu;
    // A name of all 64 characters fills the field with no terminator, as
    // some drivers answer.
    if (key == "name") {
        if (value.size() > static_cast<size_t>(SHORT_STRING)) return false;
        g.name = value;
        return true;
    }
    if (key == "adapter") {
        if (value.size() > static_cast<size_t>(SHORT_STRING)) return false;
        g.adapter = value;
        sec.adapterSet = true;
        return true;
    }
    if (key == "attributes") return ParseIdList(value, &g.attributes);
    if (key == "sensors") return ParseSensors(value, &g.sensors);
    if (key == "sensorcount") return ParseInt(value, &g.sensorCount) && g.sensorCount >= 0;
    if (key == "pstate") return ParseReading(value, &g.pstate) && g.pstate.present;
    if (key == "clock.current") return ParseReading(value, &g.clock[0]);
    if (key == "clock.base") return ParseReading(value, &g.clock[1]);
    if (key == "clock.boost") return ParseReading(value, &g.clock[2]);
    if (key == "utilization") return ParseReading(value, &g.utilization);
    if (key == "usagetable") {
        sec.usageTableSet = true;
        return ParseReading(value, &g.usageTable) && g.usageTable.present;
    }
    if (key == "coolers") {
        int64_t v;
        if (!ParseInt(value, &v) || v < 0) return false;
        g.coolers = static_cast<uint32_t>(v);
        return true;
    }
    if (key == "fan") return ParseReading(value, &g.fan) && g.fan.present;
    if (key == "zones") return ParseZones(value, &g.zones);
    if (key == "illumdevices") return ParseIllumDevices(value, &g.illumDevices);
    if (key == "zonedelay") {
        int64_t v;
        if (!ParseInt(value, &v) || v < 0 || v > 60000) return false;
        g.zoneDelayMs = static_cast<uint32_t>(v);
        return true;
    }
    if (key.compare(0, 7, "status.") == 0 || key.compare(0, 6, "delay.") == 0) return ParseStatusKey(key, &g.faults, value);
    return false;
}

// "reset = AT[:OUTAGE] ..." or "sleep = AT ...", AT on the machine-wide
// clock in ms; an outage lasts 3000 ms unless given.
bool ParseEvents(const std::string& value, bool reset, std::vector<MachineEvent>* events) {
    std::vector<MachineEvent> parsed;
    for (const std::string& item : Items(value)) {
        MachineEvent e;
        e.reset = reset;
        e.outageMs = reset ? 3000 : 0;
        size_t colon = item.find(':');
        int64_t at, outage;
        if (!ParseInt(item.substr(0, colon), &at) || at < 0) return false;
        if (colon != std::string::npos) {
            if (!reset || !ParseInt(item.substr(colon + 1), &outage) || outage < 0 || outage > 600000) return false;
            e.outageMs = static_cast<uint32_t>(outage);
        }
        e.atMs = static_cast<uint64_t>(at);
        parsed.push_back(e);
    }
    events->insert(events->end(), parsed.begin(), parsed.end());
    std::stable_sort(events->begin(), events->end(),
                     [](const MachineEvent& a, const MachineEvent& b) { return a.atMs < b.atMs; });
    return true;
}

bool ApplyMachineKey(Machine& m, int64_t* displays, const std::string& key, const std::string& value) {
    if (key == "reset" || key == "sleep") return ParseEvents(value, key == "reset", &m.events);
    if (key == "displays") return ParseInt(value, displays) && *displays >= 0 && *displays <= 64;
    if (key == "interface") {
        if (value.size() >= static_cast<size_t>(SHORT_STRING)) return false;
        m.interfaceText = value;
        return true;
    }
    if (key == "branch") {
        if (value.size() >= static_cast<size_t>(SHORT_STRING)) return false;
        m.branch = value;
        return true;
    }
    if (key == "driver") {
        int64_t v;
        if (!ParseInt(value, &v)) return false;
        m.driverVersion = static_cast<uint32_t>(v);
        return true;
    }
    if (key == "missing") return ParseIdList(value, &m.missing);
    if (key == "notices") {
        int64_t v;
        if (!ParseInt(value, &v)) return false;
        m.notices = v != 0;
        return true;
    }
    if (key == "usage") {
        std::string v = Lower(value);
        if (v == "both") m.usage = UsageEntries::Both;
        else if (v == "dynamic") m.usage = UsageEntries::Dynamic;
        else if (v == "table") m.usage = UsageEntries::Table;
        else if (v == "none") m.usage = UsageEntries::None;
        else return false;
        return true;
    }
    if (key.compare(0, 7, "status.") == 0 || key.compare(0, 6, "delay.") == 0) return ParseStatusKey(key, &m.faults, value);
    return false;
}

// "[gpu D G]"
bool ParseGpuHeader(const std::string& line, int64_t* display, int64_t* gpu) {
    std::istringstream in(line.substr(1, line.size() - 2));
    std::string word;
    if (!(in >> word) || Lower(word) != "gpu" || !(in >> *display >> *gpu)) return false;
    std::string rest;
    if (in >> rest) return false;
    return *display >= 0 && *display < 64 && *gpu >= 0 && *gpu < MAX_GPUS_PER_DISPLAY;
}

}  // namespace

const char* OperationName(Operation op) { return op >= 0 && op < OP_COUNT ? OPERATION_NAMES[op] : "?"; }

int64_t Reading::At(uint64_t ms) const {
    if (periodMs == 0 || lo == hi) return lo;
    uint64_t phase = ms % periodMs;
    uint64_t half = periodMs / 2;
    if (half == 0) return lo;
    int64_t span = hi - lo;
    if (phase < half) return lo + span * static_cast<int64_t>(phase) / static_cast<int64_t>(half);
    uint64_t down = phase - half;
    uint64_t rest = periodMs - half;
    return hi - span * static_cast<int64_t>(down) / static_cast<int64_t>(rest);
}

bool Gpu::Supports(uint32_t attribute) const {
    return std::find(attributes.begin(), attributes.end(), attribute) != attributes.end();
}

Machine Machine::Default() {
    Machine m;
    Gpu g;
    g.sensors = {Sensor{static_cast<int32_t>(TARGET_GPU), Reading::Wave(35, 85, 30000)}};
    g.clock[0] = Reading::Wave(1607000, 1733000, 12000);
    g.utilization = Reading::Wave(0, 100, 20000);
    g.usageTable = g.utilization;
    g.fan = Reading::Wave(30, 70, 24000);
    m.displays.push_back({g});
    return m;
}

uint32_t Machine::ResetsBy(uint64_t ms) const {
    uint32_t n = 0;
    for (const MachineEvent& e : events)
        if (e.reset && e.atMs <= ms) ++n;
    return n;
}

bool Machine::InOutage(uint64_t ms) const {
    for (const MachineEvent& e : events)
        if (e.reset && e.atMs <= ms && ms - e.atMs < e.outageMs) return true;
    return false;
}

size_t Machine::EventsBy(uint64_t ms) const {
    size_t n = 0;
    while (n < events.size() && events[n].atMs <= ms) ++n;
    return n;
}

bool Machine::Offers(uint32_t id) const {
    if (std::find(missing.begin(), missing.end(), id) != missing.end()) return false;
    if (id == ID_PreCallNotice || id == ID_PostCallNotice) return notices;
    if (id == ID_GPU_GetDynamicPstatesInfoEx) return usage == UsageEntries::Both || usage == UsageEntries::Dynamic;
    if (id == ID_GPU_GetUsages) return usage == UsageEntries::Both || usage == UsageEntries::Table;
    return true;
}

Machine ParseMachine(const std::string& text, std::string* problems) {
    Machine m;
    int64_t displays = -1;
    std::map<std::pair<int64_t, int64_t>, GpuSection> sections;
    GpuSection* current = nullptr;
    std::istringstream in(text);
    std::string raw;
    int lineNo = 0;
    while (std::getline(in, raw)) {
        ++lineNo;
        std::string line = Trim(raw);
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        bool ok;
        if (line.front() == '[' && line.back() == ']') {
            int64_t d, g;
            ok = ParseGpuHeader(line, &d, &g);
            current = ok ? &sections[{d, g}] : nullptr;
        } else {
            size_t eq = line.find('=');
            ok = eq != std::string::npos;
            if (ok) {
                std::string key = Lower(Trim(line.substr(0, eq)));
                std::string value = Trim(line.substr(eq + 1));
                ok = current ? ApplyGpuKey(*current, key, value) : ApplyMachineKey(m, &displays, key, value);
            }
        }
        if (!ok && problems) *problems += "line " + std::to_string(lineNo) + " ignored: " + line + "\n";
    }

    int64_t count = displays;
    if (count < 0) {
        count = 0;
        for (const auto& s : sections) count = std::max(count, s.first.first + 1);
    }
    m.displays.assign(static_cast<size_t>(count), {});
    for (auto& s : sections) {
        GpuSection& sec = s.second;
        if (!sec.adapterSet) sec.gpu.adapter = sec.gpu.name;
        if (!sec.usageTableSet && sec.gpu.utilization.present) sec.gpu.usageTable = sec.gpu.utilization;
        DefaultIllumDevices(sec.gpu);
        if (s.first.first >= count) continue;
        std::vector<Gpu>& gpus = m.displays[static_cast<size_t>(s.first.first)];
        if (gpus.size() <= static_cast<size_t>(s.first.second)) gpus.resize(static_cast<size_t>(s.first.second) + 1);
        gpus[static_cast<size_t>(s.first.second)] = sec.gpu;
    }
    return m;
}

}  // namespace sim
