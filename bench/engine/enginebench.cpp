// Prints the control engine's figures. The CPU time of resident control is
// split: the control threads' own time (the kernel's exact run time of their
// tasks, and GetThreadTimes on each) with the driver replaced by a stand-in
// that answers at once, the same threads with the simulated driver (whose
// entries run on those threads: the difference is the simulator's share), the
// whole process with each, and the Wine server meanwhile. Then what each part
// of one control period costs.
//
//     engine_bench.exe            full run: 10 minutes of control per driver at
//                                 Timer 1000, 2 at Timer 100 and on patterns,
//                                 200 blink passes (about 35 minutes)
//     engine_bench.exe --quick    20 s per load and driver, 40 blink passes
//     engine_bench.exe --parts    only the parts of one control period
#include <winsock2.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "defaultsettings.h"
#include "engine/control.h"
#include "engine/waitgate.h"
#include "figure.h"
#include "gpu/cnvgf.h"
#include "gpu/devicesearch.h"
#include "gpu/nvapi.h"
#include "simnvapi.h"
#include "testsupport.h"

using testsupport::SimMachine;
using testsupport::SimNvapi;
using testsupport::SimSet;

namespace {

// The goal for the control threads' own CPU time at Timer 1000.
const double OWN_CPU_GOAL_MS_PER_DEVICE_HOUR = 100.0;
// Threads run this long before a slice is measured: past the start-up.
const DWORD WARM_UP_MS = 1500;

// Eight boards on one display, each with its logo LED.
SimMachine EightBoards() {
    SimMachine m;
    for (size_t g = 0; g < MAX_DEVICE; ++g) m.Gpu(0, g).name = "Board";
    return m;
}

double Now() { return TicksToMilliseconds(MonotonicNow()); }

double Milliseconds(const FILETIME& kernel, const FILETIME& user) {
    auto ticks = [](const FILETIME& f) { return (static_cast<uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime; };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 10000.0;
}

double ProcessCpuMs() {
    FILETIME created, ended, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
    return Milliseconds(kernel, user);
}

// The kernel's own count of the time a Unix task spent on a CPU, in
// nanoseconds (the first field of its schedstat). Exact: GetThreadTimes under
// Wine reports the /proc tick counts, 10 ms apiece, which for threads that
// run some 30 us a second is most of the figure's noise. -1 where the kernel
// keeps no such count.
double TaskRunMs(const std::string& path) {
    std::string text = testsupport::ReadFile(path);
    if (text.empty() || text[0] < '0' || text[0] > '9') return -1.0;
    return std::strtoull(text.c_str(), nullptr, 10) / 1e6;
}

// The numbered entries of a /proc folder.
std::vector<std::string> Numbered(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        if (found.cFileName[0] >= '0' && found.cFileName[0] <= '9') names.push_back(found.cFileName);
    } while (FindNextFileA(find, &found));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

// This process's /proc folder. Not /proc/self: Wine's server opens files, so
// that names the server. The Unix process that Wine named after this program
// (the kernel keeps 15 characters of it), when there is exactly one; empty
// otherwise.
std::string OwnProcFolder() {
    static std::string folder = [] {
        char path[MAX_PATH];
        DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
        std::string exe(path, n);
        exe = exe.substr(exe.find_last_of('\\') + 1).substr(0, 15) + "\n";
        std::string found;
        for (const std::string& pid : Numbered("Z:\\proc")) {
            std::string name = testsupport::ReadFile("Z:\\proc\\" + pid + "\\comm");
            if (_stricmp(name.c_str(), exe.c_str()) != 0) continue;
            if (!found.empty()) return std::string();  // another copy runs: cannot tell
            found = "Z:\\proc\\" + pid;
        }
        return found;
    }();
    return folder;
}

// The Unix tasks (threads) of this process now.
std::vector<std::string> Tasks() {
    std::string own = OwnProcFolder();
    return own.empty() ? std::vector<std::string>() : Numbered(own + "\\task");
}

// The Wine server's run time: the one process for which /proc/self stands
// when this program opens it. Its waits, events and timers are what the
// Windows kernel does on Windows; while the bench runs alone in its prefix,
// all of it is on this process's behalf.
double ServerRunMs() { return TaskRunMs("Z:\\proc\\self\\schedstat"); }

// The run time of `tasks` of this process added up; -1 when one cannot be read.
double TasksRunMs(const std::vector<std::string>& tasks) {
    double sum = 0;
    for (const std::string& t : tasks) {
        double ms = TaskRunMs(OwnProcFolder() + "\\task\\" + t + "\\schedstat");
        if (ms < 0) return -1.0;
        sum += ms;
    }
    return sum;
}

// The CPU time of every running control thread, added up.
double ControlThreadsCpuMs() {
    double sum = 0;
    for (const DEVICESLOT& slot : DeviceSlot) {
        FILETIME created, ended, kernel, user;
        if (slot.Thread && GetThreadTimes(slot.Thread, &created, &ended, &kernel, &user))
            sum += Milliseconds(kernel, user);
    }
    return sum;
}

void EnableAll(int (*playType)(int)) {
    for (int d = 0; d < MAX_DEVICE; ++d) {
        SETTING.Device[d].Enable = 1;
        SETTING.Device[d].PlayType = playType(d);
    }
}

int MetricMethod(int d) { return PLAY_TEMPERATURE + d % 5; }
int PatternMethod(int) { return PLAY_PATTERN; }

// ---- CPU time of resident control, the program's own and the simulator's ----

enum Driver { SIMULATED, STAND_IN, DRIVERS };
const char* const DRIVER_NAMES[DRIVERS] = {"simulated driver", "stand-in"};

// Loads the driver library from the system directory (the simulated driver)
// or the stand-in's folder from the next driver call on.
void Use(Driver driver) {
    static const std::string standIn = testsupport::BinPath("standin");
    NvApiReloadForTest(driver == STAND_IN ? standIn.c_str() : nullptr);
}

// The sets the driver in use answered so far in this process.
size_t SetsSoFar(const SimNvapi& sim, Driver driver) {
    if (driver == SIMULATED) return sim.SetsOf(GetCurrentProcessId()).size();
    HMODULE module = GetModuleHandleA(NvApiLibraryPath());
    typedef LONG(__cdecl * SetsProc)();
    SetsProc sets = module ? reinterpret_cast<SetsProc>(reinterpret_cast<void*>(GetProcAddress(module, "standin_Sets")))
                           : nullptr;
    return sets ? static_cast<size_t>(sets()) : 0;
}

struct Load {
    const char* name;
    uint32_t timer;
    int (*playType)(int);
};

struct Sample {
    double seconds = 0;
    double threadsMs = 0;
    double exactMs = 0;  // < 0: the control threads' tasks could not be told apart
    double serverMs = 0;  // < 0: the Wine server's run time could not be read
    double processMs = 0;
    uint32_t wakeups = 0;
    size_t sets = 0;

    void Add(const Sample& o) {
        seconds += o.seconds;
        threadsMs += o.threadsMs;
        exactMs = exactMs < 0 || o.exactMs < 0 ? -1.0 : exactMs + o.exactMs;
        serverMs = serverMs < 0 || o.serverMs < 0 ? -1.0 : serverMs + o.serverMs;
        processMs += o.processMs;
        wakeups += o.wakeups;
        sets += o.sets;
    }
    double PerDeviceHour(double ms) const { return seconds > 0 ? ms / (MAX_DEVICE * seconds / 3600.0) : 0; }
};

// Runs `load` on eight devices against `driver` for `seconds` after the
// warm-up. The set counts are taken outside the measured span: reading the
// set log costs this process time.
Sample RunSlice(SimNvapi& sim, const Load& load, Driver driver, unsigned seconds, const std::string& pattern) {
    ResetSettings(".");
    SETTING.Timer = load.timer;
    EnableAll(load.playType);
    for (DEVICE& device : SETTING.Device)
        std::snprintf(device.PlayFile, sizeof device.PlayFile, "%s", pattern.c_str());
    sim.ClearLog();
    Use(driver);
    // The tasks that appear with StartControl are the control threads.
    std::vector<std::string> before = Tasks(), after;
    if (!StartControl()) std::printf("StartControl failed\n");
    std::vector<std::string> now = Tasks();
    std::set_difference(now.begin(), now.end(), before.begin(), before.end(), std::back_inserter(after));
    if (after.size() != MAX_DEVICE) after.clear();
    Sleep(WARM_UP_MS);
    size_t sets0 = SetsSoFar(sim, driver);
    Sample s;
    double exact0 = after.empty() ? -1.0 : TasksRunMs(after);
    double server0 = ServerRunMs();
    double threads0 = ControlThreadsCpuMs();
    double process0 = ProcessCpuMs();
    uint32_t wake0 = DeviceThreadWakeups();
    double t0 = Now();
    Sleep(seconds * 1000);
    s.threadsMs = ControlThreadsCpuMs() - threads0;
    double exact1 = exact0 < 0 ? -1.0 : TasksRunMs(after);
    s.exactMs = exact1 < 0 ? -1.0 : exact1 - exact0;
    double server1 = server0 < 0 ? -1.0 : ServerRunMs();
    s.serverMs = server1 < 0 ? -1.0 : server1 - server0;
    s.processMs = ProcessCpuMs() - process0;
    s.wakeups = DeviceThreadWakeups() - wake0;
    s.seconds = (Now() - t0) / 1000.0;
    s.sets = SetsSoFar(sim, driver) - sets0;
    StopControl();
    return s;
}

// Measures `load` with both drivers, in `slices` slices each, alternated
// (simulated, stand-in, stand-in, simulated, ...) so that a change of the
// machine's load falls on both alike.
void ControlCpu(SimNvapi& sim, const Load& load, unsigned slices, unsigned sliceSeconds, const std::string& pattern,
                bool goal) {
    Sample total[DRIVERS];
    for (unsigned i = 0; i < slices; ++i) {
        Driver first = i % 2 ? STAND_IN : SIMULATED;
        Driver second = i % 2 ? SIMULATED : STAND_IN;
        total[first].Add(RunSlice(sim, load, first, sliceSeconds, pattern));
        total[second].Add(RunSlice(sim, load, second, sliceSeconds, pattern));
    }
    Use(SIMULATED);

    std::printf("control: 8 devices, %s, Resolution 100; %u s with each driver (%u slices, alternated)\n",
                load.name, slices * sliceSeconds, slices);
    std::printf("  %-44s %16s %16s\n", "per device-hour, ms of CPU", DRIVER_NAMES[SIMULATED], DRIVER_NAMES[STAND_IN]);
    auto row = [&](const char* what, double sim, double own) {
        std::printf("  %-44s %16.1f %16.1f\n", what, sim, own);
    };
    const Sample& s = total[SIMULATED];
    const Sample& o = total[STAND_IN];
    bool exact = s.exactMs >= 0 && o.exactMs >= 0;
    if (exact) row("control threads (kernel run time, exact)", s.PerDeviceHour(s.exactMs), o.PerDeviceHour(o.exactMs));
    else std::printf("  control threads' kernel run time: not readable here\n");
    row("control threads (GetThreadTimes, 10 ms ticks)", s.PerDeviceHour(s.threadsMs), o.PerDeviceHour(o.threadsMs));
    row("whole process (GetProcessTimes)", s.PerDeviceHour(s.processMs), o.PerDeviceHour(o.processMs));
    if (s.serverMs >= 0 && o.serverMs >= 0)
        row("the Wine server meanwhile (kernel run time)", s.PerDeviceHour(s.serverMs), o.PerDeviceHour(o.serverMs));
    double periods[DRIVERS], setsPerSecond[DRIVERS];
    for (int d = 0; d < DRIVERS; ++d) {
        periods[d] = total[d].seconds * 1000.0 / load.timer;
        setsPerSecond[d] = total[d].seconds > 0 ? static_cast<double>(total[d].sets) / MAX_DEVICE / total[d].seconds : 0;
    }
    std::printf("  %-44s %16.2f %16.2f\n", "wake-ups per device per control period",
                s.wakeups / (MAX_DEVICE * periods[SIMULATED]), o.wakeups / (MAX_DEVICE * periods[STAND_IN]));
    std::printf("  %-44s %16.2f %16.2f\n", "sets per device per second", setsPerSecond[SIMULATED],
                setsPerSecond[STAND_IN]);
    // The exact count where the kernel keeps one; the tick count otherwise.
    double own = o.PerDeviceHour(exact ? o.exactMs : o.threadsMs);
    double share = s.PerDeviceHour(exact ? s.exactMs : s.threadsMs) - own;
    const char* how = exact ? "kernel run time" : "GetThreadTimes";
    std::printf("  the simulated driver's share of the control threads: %.1f ms per device-hour\n", share);

    std::string what = std::string(load.name) + ": ";
    if (goal) {
        Figure(what + "control threads' own CPU (stand-in driver, " + how + ")", Format("%.1f ms/device-hour", own),
               Format("<= %.0f ms/device-hour", OWN_CPU_GOAL_MS_PER_DEVICE_HOUR), true,
               own <= OWN_CPU_GOAL_MS_PER_DEVICE_HOUR);
        double wakes = s.wakeups / (MAX_DEVICE * periods[SIMULATED]);
        Figure(what + "wake-ups per device per control period", Format("%.2f", wakes), "1.00", true,
               std::fabs(wakes - 1.0) < 0.05);
        Figure(what + "sets per device per control period", Format("%.2f", setsPerSecond[SIMULATED] * load.timer / 1000.0),
               "1.00", true, std::fabs(setsPerSecond[SIMULATED] * load.timer / 1000.0 - 1.0) < 0.05);
    } else {
        Figure(what + "control threads' own CPU (stand-in driver, " + how + ")", Format("%.1f ms/device-hour", own));
    }
    Figure(what + "the simulated driver's share", Format("%.1f ms/device-hour", share));
    Figure(what + "whole process CPU, simulated driver", Format("%.1f ms/device-hour", s.PerDeviceHour(s.processMs)));
}

// ---- What one control period costs a thread, part by part ----

double ThisThreadCpuMs() {
    // The bench runs on the process's first thread, the Unix task that leads it.
    double exact = OwnProcFolder().empty() ? -1.0 : TaskRunMs(OwnProcFolder() + "\\schedstat");
    if (exact >= 0) return exact;
    FILETIME created, ended, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &ended, &kernel, &user);
    return Milliseconds(kernel, user);
}

// What one round of a part costs: this thread's CPU time and the Wine
// server's, in microseconds (the server's -1 where it cannot be read).
struct Cost {
    double own;
    double server;
};

template <typename Part>
Cost CostPer(unsigned rounds, Part part) {
    double server0 = ServerRunMs();
    double t0 = ThisThreadCpuMs();
    for (unsigned i = 0; i < rounds; ++i) part();
    double own = (ThisThreadCpuMs() - t0) * 1000.0 / rounds;
    double server1 = server0 < 0 ? -1.0 : ServerRunMs();
    return {own, server1 < 0 ? -1.0 : (server1 - server0) * 1000.0 / rounds};
}

// Each period a device thread on a metric law takes a reading, marks itself
// busy for the write (so that a pause can wait for it), sets the LED (a
// support query and the set) and waits for the next period until it is due
// or a stop or pause cuts the wait short. The parts, timed one by one on this
// thread against the stand-in driver, with what each costs the Wine server
// (the kernel's part on Windows). Beside them, the busy mark as it was made
// before (an event reset and set) and a plain timed wait.
void PartsOfAPeriod() {
    Use(STAND_IN);
    CNVGF adapter;
    if (adapter.Initialize(0, 0, 0) != NVGF_READY) {
        std::printf("parts of a period: the stand-in driver did not answer\n");
        Use(SIMULATED);
        return;
    }
    int celsius = 0;
    volatile int32_t run = 1;
    WaitContext context;
    bool bound = PrepareWaitGate() && OpenWaitContext(&context, &run);
    HANDLE events[2] = {CreateEventA(nullptr, TRUE, FALSE, nullptr), CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    // Every part in turn, seven times over, and the median of each: the
    // machine's pace drifts more over a part's run than the parts differ.
    const std::vector<std::pair<unsigned, std::function<void()>>> parts = {
        {4000, [&] { adapter.GetTemperature(&celsius); }},
        {4000, [&] { adapter.SetLuminance(0, 50); }},
        {4000, [&] { if (bound && BeginLedWrite(&context)) EndLedWrite(&context); }},
        // Waits of 2 ms, expiring: each costs what a period's wait costs.
        {300, [&] { if (bound) WaitUntilDue(&context, MonotonicNow() + MillisecondsToTicks(2), true); }},
        {4000, [&] { ResetEvent(events[0]); SetEvent(events[0]); }},
        {300, [] { Sleep(2); }},
    };
    std::vector<std::vector<Cost>> costs(parts.size());
    for (int turn = 0; turn < 7; ++turn) {
        for (size_t p = 0; p < parts.size(); ++p) {
            costs[p].push_back(CostPer(parts[p].first, parts[p].second));
            ResetEvent(events[0]);
        }
    }
    auto median = [&](size_t p) {
        std::vector<double> own, server;
        for (const Cost& c : costs[p]) {
            own.push_back(c.own);
            server.push_back(c.server);
        }
        std::sort(own.begin(), own.end());
        std::sort(server.begin(), server.end());
        return Cost {own[own.size() / 2], server[server.size() / 2]};
    };
    Cost reading = median(0), write = median(1), busy = median(2), wait = median(3);
    Cost eventBusy = median(4), sleep = median(5);
    if (!bound) busy = wait = Cost {-1.0, -1.0};
    if (bound) CloseWaitContext(&context);
    CloseHandle(events[0]);
    CloseHandle(events[1]);
    adapter.UnloadDLL();
    Use(SIMULATED);

    std::printf("parts of one control period (CPU time per part, stand-in driver)\n");
    std::printf("  %-56s %9s %13s\n", "", "thread, us", "Wine server, us");
    auto row = [](const char* what, const Cost& c) { std::printf("  %-56s %9.2f %13.2f\n", what, c.own, c.server); };
    row("a reading (temperature: one driver call)", reading);
    row("the LED write (support query and set: two calls)", write);
    row("marking the write busy", busy);
    row("the wait for the next period (2 ms, expiring)", wait);
    Cost sum {reading.own + write.own + busy.own + wait.own, reading.server + write.server + busy.server + wait.server};
    row("together", sum);
    std::printf("  = %.0f ms of the thread's and %.0f ms of the server's per device-hour at Timer 1000\n", sum.own * 3.6,
                sum.server * 3.6);
    std::printf("  for comparison:\n");
    row("  marking the write busy: an event reset and set", eventBusy);
    row("  a plain timed wait: Sleep(2)", sleep);
    Figure("one period's parts, thread: reading / LED write / busy mark / wait",
           Format("%.2f / %.2f / %.2f / %.1f us", reading.own, write.own, busy.own, wait.own));
    Figure("one period's parts together, at Timer 1000: thread / Wine server",
           Format("%.0f / %.0f ms/device-hour", sum.own * 3.6, sum.server * 3.6));
    Figure("a plain timed wait (Sleep) once a period, at Timer 1000", Format("%.0f ms/device-hour", sleep.own * 3.6));
}

// ---- Pattern timing ----

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
    double mean = n ? sum / n : -1.0;
    std::printf("pattern holds: %zu steps of 10..1050 ms, Resolution 100\n", n);
    std::printf("  mean |error| %.2f ms, worst %.0f ms (set-log stamps, 1 ms resolution)\n", mean, worst);
    Figure("pattern step hold error, mean (worst)", Format("%.2f ms (%.0f ms)", mean, worst));
}

void BlinkDrift(SimNvapi& sim, unsigned passes) {
    std::string blink = testsupport::ReadFile(testsupport::BinPath("BLINK.GLP"));
    if (blink.empty()) blink = "100,500\n0,500\n";
    size_t sets = passes * 2 + 1;
    std::vector<SimSet> got = Play(sim, blink, sets, passes * 2 + 60);
    if (got.size() < sets) {
        std::printf("blink: only %zu of %zu sets\n", got.size(), sets);
        Figure(Format("blink drift after %u passes", passes), "run failed");
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
    Figure(Format("blink drift after %u passes (worst offset)", passes),
           Format("%+.0f ms (%.0f ms)", span - 1000.0 * passes, worst));
}

// ---- Start, stop, search ----

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
        return *std::max_element(v.begin(), v.end());
    };
    std::printf("start and stop: 8 devices, Timer 1000, Resolution 100, 5 runs\n");
    double start = report("StartControl (8 threads named)", starts);
    double stop = report("StopControl (request to all ended)", stops);

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
    double paused = report("StopControl while paused", stops);
    Figure("StartControl, 8 threads named (worst)", Format("%.1f ms", start));
    const double slice = SETTING.Resolution;
    Figure("StopControl, request to all ended (worst)", Format("%.1f ms", stop), Format("<= %.0f ms (one slice)", slice),
           true, stop <= slice);
    Figure("StopControl while paused (worst)", Format("%.1f ms", paused), Format("<= %.0f ms (one slice)", slice), true,
           paused <= slice);
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
    Figure("SearchDevice, 128 probes (mean)", Format("%.1f ms", sum / times.size()));
}

}  // namespace

int main(int argc, char** argv) {
    bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    SimNvapi sim;
    // The call trace costs the driver a file append per call; the set log stays.
    testsupport::SetEnv("GLIMSIM_NVAPI_TRACE", nullptr);
    if (argc > 1 && std::strcmp(argv[1], "--parts") == 0) {
        PartsOfAPeriod();
        return 0;
    }
    Search(sim);
    StopAndStart(sim);
    HoldErrors(sim, quick ? 10 : 40);

    // One configuration for every CPU slice, written well before the first:
    // the simulated driver then checks its stamp and reads nothing.
    sim.Write(EightBoards());
    Sleep(2500);
    testsupport::TempDir dir;
    std::string pattern = dir.File("STEPS10.GLP");
    testsupport::WriteFile(pattern, "100,10\n0,10\n");
    // The goal's load ten minutes per driver; the busier loads, counted
    // exactly, two.
    const unsigned slices = quick ? 1 : 2, sliceSeconds = quick ? 20 : 300, busySeconds = quick ? 20 : 60;
    ControlCpu(sim, Load {"metric laws, Timer 1000", 1000, MetricMethod}, slices, sliceSeconds, pattern, true);
    ControlCpu(sim, Load {"metric laws, Timer 100", 100, MetricMethod}, slices, busySeconds, pattern, false);
    ControlCpu(sim, Load {"10 ms pattern steps", 1000, PatternMethod}, slices, busySeconds, pattern, false);
    PartsOfAPeriod();

    BlinkDrift(sim, quick ? 40 : 200);
    return 0;
}
