#include "enginetest.h"

#include "defaultsettings.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "debuglink/glpcli.h"
#include "debuglink/ws32lib.h"


void EngineTest::SetUp() {
    ResetSettings(dir.Path());
    Use();
    ControlActive = 1;
}

void EngineTest::TearDown() {
    ResumeControl();
    StopControl();
    SetControlStateHook(nullptr);
}

void EngineTest::Use() { ASSERT_TRUE(sim.Write(machine)); }

void EngineTest::Enable(int d, int playType, uint32_t display, uint32_t gpu, int32_t attribute) {
    DEVICE& device = SETTING.Device[d];
    device.Enable = 1;
    device.PlayType = playType;
    device.Display = display;
    device.GPU = gpu;
    device.Attribute = attribute;
}

void EngineTest::Pattern(int d, const std::string& text) {
    std::string path = dir.File("P" + std::to_string(d) + ".GLP");
    ASSERT_TRUE(testsupport::WriteFile(path, text));
    std::snprintf(SETTING.Device[d].PlayFile, sizeof SETTING.Device[d].PlayFile, "%s", path.c_str());
}

std::vector<testsupport::SimSet> EngineTest::Mine() const { return sim.SetsOf(GetCurrentProcessId()); }

bool EngineTest::WaitForMine(size_t count, unsigned timeoutMs) const {
    return testsupport::WaitUntil([&] { return Mine().size() >= count; }, timeoutMs, 20);
}

std::vector<std::pair<DWORD, std::string>> EngineTest::MyTrace() const {
    char path[MAX_PATH] = {};
    GetEnvironmentVariableA("GLIMSIM_NVAPI_TRACE", path, MAX_PATH);
    std::vector<std::pair<DWORD, std::string>> lines;
    std::istringstream in(testsupport::ReadFile(path));
    std::string line;
    while (std::getline(in, line)) {
        unsigned long pid = 0, tid = 0;
        int used = 0;
        if (std::sscanf(line.c_str(), "%lu %lu %n", &pid, &tid, &used) < 2 || used == 0) continue;
        if (pid != GetCurrentProcessId()) continue;
        lines.emplace_back(static_cast<DWORD>(tid), line.substr(static_cast<size_t>(used)));
    }
    return lines;
}

size_t EngineTest::CountMyTrace(const std::string& prefix) const {
    size_t n = 0;
    for (const auto& line : MyTrace()) {
        if (line.second.compare(0, prefix.size(), prefix) == 0) ++n;
    }
    return n;
}

std::vector<double> Intervals(const std::vector<testsupport::SimSet>& sets) {
    std::vector<double> out;
    for (size_t i = 1; i < sets.size(); ++i) out.push_back(static_cast<double>(sets[i].ms - sets[i - 1].ms));
    return out;
}

double Median(std::vector<double> values) {
    if (values.empty()) return -1.0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

namespace {
// A Winsock reference of the test process's own, held to its end: the client
// drops the last one of its own at each shutdown, and Wine does not take
// kindly to starting the library over again in the same process.
bool winsockHeld = false;
}  // namespace

DebugDeviceLink::~DebugDeviceLink() {
    if (open_) GlpClient.Shutdown();
}

bool DebugDeviceLink::Start(const std::string& args) {
    if (!winsockHeld) {
        WSADATA data;
        winsockHeld = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    if (!device.Start(args)) return false;
    if (WS32LIB_LoadDLL() != 0) return false;
    open_ = true;
    return WS32LIB.WSAStartup(0x0002, &GlpWsaData) == 0 && GlpClient.Open(device.Port()) == 0;
}

std::vector<testsupport::GlimsimDatagram> DebugDeviceLink::Of(const std::string& what) {
    std::vector<testsupport::GlimsimDatagram> out;
    for (const auto& d : device.Datagrams()) {
        if (d.what == what) out.push_back(d);
    }
    return out;
}
