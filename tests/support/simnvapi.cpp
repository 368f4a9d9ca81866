#include "simnvapi.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace testsupport {

namespace {

const char CONFIG_VARIABLE[] = "GLIMSIM_NVAPI_CONFIG";
const char LOG_VARIABLE[] = "GLIMSIM_NVAPI_LOG";
const char TRACE_VARIABLE[] = "GLIMSIM_NVAPI_TRACE";
const char ZONE_LOG_VARIABLE[] = "GLIMSIM_NVAPI_ZONELOG";

void AppendStatuses(std::ostringstream& out, const std::map<std::string, int>& status) {
    for (const auto& s : status) out << "status." << s.first << " = " << s.second << "\n";
}

std::string JoinIds(const std::vector<unsigned>& ids) {
    std::string s;
    for (unsigned id : ids) s += (s.empty() ? "" : " ") + std::to_string(id);
    return s;
}

}  // namespace

SimGpu& SimMachine::Gpu(size_t display, size_t gpu) {
    if (displays.size() <= display) displays.resize(display + 1);
    if (displays[display].size() <= gpu) displays[display].resize(gpu + 1);
    return displays[display][gpu];
}

std::string SimMachine::Text() const {
    std::ostringstream out;
    out << "displays = " << displays.size() << "\n";
    out << "usage = " << usage << "\n";
    out << "notices = " << (notices ? 1 : 0) << "\n";
    if (!missing.empty()) {
        out << "missing =";
        for (uint32_t id : missing) {
            char hex[16];
            std::snprintf(hex, sizeof hex, " 0x%08X", id);
            out << hex;
        }
        out << "\n";
    }
    AppendStatuses(out, status);
    out << extra << (extra.empty() || extra.back() == '\n' ? "" : "\n");
    for (size_t d = 0; d < displays.size(); ++d) {
        for (size_t g = 0; g < displays[d].size(); ++g) {
            const SimGpu& gpu = displays[d][g];
            out << "\n[gpu " << d << " " << g << "]\n";
            out << "name = " << gpu.name << "\n";
            if (!gpu.adapter.empty()) out << "adapter = " << gpu.adapter << "\n";
            out << "attributes = " << JoinIds(gpu.attributes) << "\n";
            out << "sensors = " << gpu.sensors << "\n";
            if (gpu.sensorCount >= 0) out << "sensorcount = " << gpu.sensorCount << "\n";
            out << "pstate = " << gpu.pstate << "\n";
            out << "clock.current = " << gpu.clockCurrent << "\n";
            out << "clock.base = " << gpu.clockBase << "\n";
            out << "clock.boost = " << gpu.clockBoost << "\n";
            out << "utilization = " << gpu.utilization << "\n";
            if (!gpu.usageTable.empty()) out << "usagetable = " << gpu.usageTable << "\n";
            out << "coolers = " << gpu.coolers << "\n";
            out << "fan = " << gpu.fan << "\n";
            if (!gpu.zones.empty()) out << "zones = " << gpu.zones << "\n";
            if (!gpu.illumDevices.empty()) out << "illumdevices = " << gpu.illumDevices << "\n";
            if (gpu.zoneDelayMs) out << "zonedelay = " << gpu.zoneDelayMs << "\n";
            AppendStatuses(out, gpu.status);
            out << gpu.extra << (gpu.extra.empty() || gpu.extra.back() == '\n' ? "" : "\n");
        }
    }
    return out.str();
}

SimNvapi::SimNvapi()
    : config_(dir_.File("nvapi.cfg")),
      log_(dir_.File("sets.log")),
      zoneLog_(dir_.File("zones.log")),
      trace_(dir_.File("trace.log")) {
    Write(SimMachine());
    SetEnv(CONFIG_VARIABLE, config_.c_str());
    SetEnv(LOG_VARIABLE, log_.c_str());
    SetEnv(ZONE_LOG_VARIABLE, zoneLog_.c_str());
    SetEnv(TRACE_VARIABLE, trace_.c_str());
}

SimNvapi::~SimNvapi() {
    SetEnv(CONFIG_VARIABLE, nullptr);
    SetEnv(LOG_VARIABLE, nullptr);
    SetEnv(ZONE_LOG_VARIABLE, nullptr);
    SetEnv(TRACE_VARIABLE, nullptr);
}

bool SimNvapi::Write(const SimMachine& machine) { return WriteText(machine.Text()); }

bool SimNvapi::WriteText(const std::string& text) {
    std::string part = config_ + ".new";
    return WriteFile(part, text) &&
           MoveFileExA(part.c_str(), config_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

std::vector<SimSet> ParseSimSets(const std::string& text) {
    std::vector<SimSet> sets;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        SimSet s {};
        unsigned long long ms;
        unsigned long pid, tid;
        if (std::sscanf(line.c_str(), "%llu %lu %lu %d %d %ld %ld %d", &ms, &pid, &tid, &s.display, &s.gpu,
                        &s.attribute, &s.value, &s.status) != 8)
            continue;  // a line being written right now
        s.ms = ms;
        s.pid = pid;
        s.tid = tid;
        sets.push_back(s);
    }
    return sets;
}

std::string SimZoneWrite::Field(const std::string& key) const {
    auto it = fields.find(key);
    return it == fields.end() ? std::string() : it->second;
}

std::vector<SimZoneWrite> ParseSimZoneWrites(const std::string& text) {
    std::vector<SimZoneWrite> writes;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        std::istringstream words(line);
        SimZoneWrite w {};
        unsigned long long ms;
        unsigned long pid, tid;
        if (!(words >> ms >> pid >> tid >> w.call >> w.display >> w.gpu >> w.zone >> w.status >> w.mode))
            continue;  // a line being written right now
        w.ms = ms;
        w.pid = pid;
        w.tid = tid;
        std::string pair;
        while (words >> pair) {
            size_t eq = pair.find('=');
            if (eq != std::string::npos) w.fields[pair.substr(0, eq)] = pair.substr(eq + 1);
        }
        writes.push_back(w);
    }
    return writes;
}

std::string ZoneShownAt(const std::vector<SimZoneWrite>& writes, int display, int gpu, int zone, uint64_t ms) {
    const SimZoneWrite* last = nullptr;
    for (const SimZoneWrite& w : writes) {
        if (w.display != display || w.gpu != gpu || w.zone != zone || w.status != 0 || w.ms > ms) continue;
        if (!last || w.ms >= last->ms) last = &w;
    }
    if (!last) return "";
    std::string pct = last->Field("pct");
    if (last->mode != "piecewise") return pct;
    size_t slash = pct.find('/');
    unsigned long a = std::strtoul(last->Field("a").c_str(), nullptr, 10);
    unsigned long b = std::strtoul(last->Field("b").c_str(), nullptr, 10);
    if (slash == std::string::npos || a + b == 0) return pct;
    return (ms - last->ms) % (a + b) < a ? pct.substr(0, slash) : pct.substr(slash + 1);
}

std::vector<SimZoneWrite> SimNvapi::ZoneWrites() const { return ParseSimZoneWrites(ReadFile(zoneLog_)); }

std::vector<SimSet> SimNvapi::Sets() const { return ParseSimSets(ReadFile(log_)); }

std::vector<SimSet> SimNvapi::SetsOf(DWORD pid) const {
    std::vector<SimSet> mine;
    for (const SimSet& s : Sets())
        if (s.pid == pid) mine.push_back(s);
    return mine;
}

bool SimNvapi::WaitForSets(size_t count, unsigned timeoutMs) const {
    return WaitUntil([&] { return Sets().size() >= count; }, timeoutMs, 20);
}

void SimNvapi::ClearLog() {
    DeleteFileA(log_.c_str());
    DeleteFileA(zoneLog_.c_str());
    DeleteFileA(trace_.c_str());
}

std::vector<std::string> SimNvapi::Trace() const {
    std::vector<std::string> lines;
    std::istringstream in(ReadFile(trace_));
    std::string line;
    while (std::getline(in, line)) {
        // Drop "pid tid ".
        size_t first = line.find(' ');
        size_t second = first == std::string::npos ? first : line.find(' ', first + 1);
        if (second != std::string::npos) lines.push_back(line.substr(second + 1));
    }
    return lines;
}

size_t SimNvapi::CountTrace(const std::string& prefix) const {
    size_t n = 0;
    for (const std::string& line : Trace())
        if (line.compare(0, prefix.size(), prefix) == 0) ++n;
    return n;
}

}  // namespace testsupport
