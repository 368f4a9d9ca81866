// Prints the control engine's figures, measured against the simulated NVAPI
// driver in this process (its costs, such as re-reading its configuration on
// every call, are included in the CPU figures).
//
//     engine_bench.exe            full run: 180 s of control, 500 blink passes (~13 min)
//     engine_bench.exe --quick    30 s of control, 40 blink passes
#include <winsock2.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "defaultsettings.h"
#include "engine/control.h"
#include "engine/waitgate.h"
#include "gpu/devicesearch.h"
#include "simnvapi.h"
#include "testsupport.h"

using testsupport::SimMachine;
using testsupport::SimNvapi;
using testsupport::SimSet;

namespace {

// Eight boards on one display, each with its logo LED.
SimMachine EightBoards() {
    SimMachine m;
    for (size_t g = 0; g < MAX_DEVICE; ++g) m.Gpu(0, g).name = "Board";
    return m;
}

double Now() { return TicksToMilliseconds(MonotonicNow()); }

double ProcessCpuMs() {
    FILETIME created, ended, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
    auto ticks = [](const FILETIME& f) { return (static_cast<uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime; };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 10000.0;
}

void EnableAll(int (*playType)(int)) {
    for (int d = 0; d < MAX_DEVICE; ++d) {
        SETTING.Device[d].Enable = 1;
        SETTING.Device[d].PlayType = playType(d);
    }
}

int MetricMethod(int d) { return PLAY_TEMPERATURE + d % 5; }

void CpuAndWakeups(SimNvapi& sim, unsigned seconds) {
    ResetSettings(".");
    sim.Write(EightBoards());
    EnableAll(MetricMethod);
    if (!StartControl()) std::printf("StartControl failed\n");
    Sleep(1500);  // past the start-up
    size_t sets0 = sim.SetsOf(GetCurrentProcessId()).size();
    double cpu0 = ProcessCpuMs();
    uint32_t wake0 = DeviceThreadWakeups();
    double t0 = Now();
    Sleep(seconds * 1000);
    double cpu = ProcessCpuMs() - cpu0;
    uint32_t wakes = DeviceThreadWakeups() - wake0;
    double elapsedS = (Now() - t0) / 1000.0;
    size_t sets = sim.SetsOf(GetCurrentProcessId()).size() - sets0;
    StopControl();

    double periods = elapsedS * 1000.0 / SETTING.Timer;
    double deviceHours = MAX_DEVICE * elapsedS / 3600.0;
    std::printf("control: 8 devices on the metric methods, Timer %u, Resolution %u, %.0f s\n", SETTING.Timer,
                SETTING.Resolution, elapsedS);
    std::printf("  process CPU time          %.1f ms in all, %.0f ms per device-hour\n", cpu, cpu / deviceHours);
    std::printf("  wake-ups per device per control period   %.2f\n", wakes / (MAX_DEVICE * periods));
    std::printf("  sets per device per second               %.2f\n",
                static_cast<double>(sets) / MAX_DEVICE / elapsedS);
}

// Plays `text` on device 0 until `sets` sets were recorded; returns them.
std::vector<SimSet> Play(SimNvapi& sim, const std::string& text, size_t sets, unsigned timeoutS) {
    ResetSettings(".");
    sim.Write(SimMachine());
    sim.ClearLog();
    testsupport::TempDir dir;
    std::string path = dir.File("BENCH.GLP");
    testsupport::WriteFile(path, text);
    std::snprintf(SETTING.Device[0].PlayFile, sizeof SETTING.Device[0].PlayFile, "%s", path.c_str());
    SETTING.Device[0].Enable = 1;
    SETTING.Device[0].PlayType = PLAY_PATTERN;
    StartControl();
    testsupport::WaitUntil([&] { return sim.SetsOf(GetCurrentProcessId()).size() >= sets; }, timeoutS * 1000, 200);
    StopControl();
    return sim.SetsOf(GetCurrentProcessId());
}

void HoldErrors(SimNvapi& sim, unsigned passes) {
    // Holds of at most one slice are exact; longer ones are cut to whole slices.
    const unsigned step[] = {50, 100, 30, 70, 250, 500, 10, 1050};
    const unsigned held[] = {50, 100, 30, 70, 200, 500, 10, 1000};
    std::string text;
    for (size_t i = 0; i < 8; ++i) text += std::to_string(i % 2 ? 0 : 100) + "," + std::to_string(step[i]) + "\n";
    std::vector<SimSet> sets = Play(sim, text, passes * 8 + 1, passes * 3 + 30);
    double sum = 0, worst = 0;
    size_t n = 0;
    for (size_t i = 1; i < sets.size(); ++i) {
        double error = static_cast<double>(sets[i].ms - sets[i - 1].ms) - held[(i - 1) % 8];
        sum += std::fabs(error);
        worst = std::max(worst, std::fabs(error));
        ++n;
    }
    std::printf("pattern holds: %zu steps of 10..1050 ms, Resolution 100\n", n);
    std::printf("  mean |error| %.2f ms, worst %.0f ms (set-log stamps, 1 ms resolution)\n", n ? sum / n : -1.0, worst);
}

void BlinkDrift(SimNvapi& sim, unsigned passes) {
    std::string blink = testsupport::ReadFile(testsupport::BinPath("BLINK.GLP"));
    if (blink.empty()) blink = "100,500\n0,500\n";
    size_t sets = passes * 2 + 1;
    std::vector<SimSet> got = Play(sim, blink, sets, passes * 2 + 60);
    if (got.size() < sets) {
        std::printf("blink: only %zu of %zu sets\n", got.size(), sets);
        return;
    }
    double span = static_cast<double>(got[sets - 1].ms - got[0].ms);
    double worst = 0;
    for (size_t k = 0; k < sets; ++k) {
        worst = std::max(worst, std::fabs(static_cast<double>(got[k].ms - got[0].ms) - 500.0 * k));
    }
    std::printf("blink: %u passes\n", passes);
    std::printf("  drift after %u passes %+.0f ms (span %.0f ms for %u expected); worst offset of a set %.0f ms\n",
                passes, span - 1000.0 * passes, span, 1000 * passes, worst);
}

void StopAndStart(SimNvapi& sim) {
    ResetSettings(".");
    sim.Write(EightBoards());
    EnableAll(MetricMethod);
    std::vector<double> starts, stops;
    for (int run = 0; run < 5; ++run) {
        double t0 = Now();
        StartControl();
        starts.push_back(Now() - t0);
        Sleep(1300 + 170 * run);  // stop at various points of the period
        t0 = Now();
        StopControl();
        stops.push_back(Now() - t0);
    }
    auto report = [](const char* what, const std::vector<double>& v) {
        double sum = 0;
        for (double x : v) sum += x;
        std::printf("  %-34s mean %.1f ms, worst %.1f ms\n", what, sum / v.size(), *std::max_element(v.begin(), v.end()));
    };
    std::printf("start and stop: 8 devices, Timer 1000, Resolution 100, 5 runs\n");
    report("StartControl (8 threads named)", starts);
    report("StopControl (request to all ended)", stops);

    // While paused, too.
    stops.clear();
    for (int run = 0; run < 3; ++run) {
        StartControl();
        Sleep(1200);
        ControlActive = 1;
        SuspendControl();
        double t0 = Now();
        StopControl();
        stops.push_back(Now() - t0);
        ResumeControl();
    }
    report("StopControl while paused", stops);
}

void Search(SimNvapi& sim) {
    ResetSettings(".");
    sim.Write(SimMachine());
    DEVICE records[MAX_DEVICE];
    std::memcpy(records, SETTING.Device, sizeof records);
    char labels[MAX_DEVICE][128];
    std::vector<double> times;
    int found = 0;
    for (int run = 0; run < 5; ++run) {
        double t0 = Now();
        found = SearchDevice(records, labels, 0);
        times.push_back(Now() - t0);
    }
    double sum = 0;
    for (double t : times) sum += t;
    std::printf("SearchDevice: one board, logo LED only (128 probes, %d found)\n", found);
    std::printf("  mean %.1f ms, worst %.1f ms\n", sum / times.size(), *std::max_element(times.begin(), times.end()));
}

}  // namespace

int main(int argc, char** argv) {
    bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    SimNvapi sim;
    // The call trace costs the driver a file append per call; the set log stays.
    testsupport::SetEnv("GLIMSIM_NVAPI_TRACE", nullptr);
    Search(sim);
    StopAndStart(sim);
    HoldErrors(sim, quick ? 10 : 40);
    CpuAndWakeups(sim, quick ? 30 : 180);
    BlinkDrift(sim, quick ? 40 : 500);
    return 0;
}
