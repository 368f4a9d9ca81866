// Times the command-line mode from process start to exit, as a ratio to a GUI
// program with the same manifest that only returns, all started the same way
// in the same prefix and run alternately so that load on the machine hits
// each alike.
//
//     cmdline_bench.exe [runs] [--stand-in]
//
// With --stand-in the program also runs against the stand-in driver, which
// answers at once: the difference is the simulated driver's share. This
// replaces the driver library in the prefix's system directory between runs
// (and puts the simulated one back at the end), so scripts/bench gives it a
// prefix of its own.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/platform.h"
#include "figure.h"

namespace {

const int DEFAULT_RUNS = 25;
const int WARM_UP_RUNS = 2;
const DWORD RUN_TIMEOUT_MS = 30000;
const double GOAL_RATIO = 1.3;

std::string BinPath(const std::string& name) {
    char path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path, n);
    return s.substr(0, s.find_last_of('\\') + 1) + name;
}

std::string InstalledDriver() {
    char path[MAX_PATH] = {};
    UINT n = GetSystemDirectoryA(path, MAX_PATH);
    return std::string(path, n < MAX_PATH ? n : 0) + "\\" + DRIVER_LIBRARY;
}

// Milliseconds from CreateProcess to the end of the process; -1 on failure
// (a message box, which only a failed set shows, runs into the time-out).
double TimeRun(const std::string& exe, const std::string& args) {
    std::string line = "\"" + exe + "\"" + (args.empty() ? "" : " " + args);
    std::vector<char> cmd(line.begin(), line.end());
    cmd.push_back('\0');
    STARTUPINFOA si {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi {};
    LARGE_INTEGER freq, start, end;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&start);
    if (!CreateProcessA(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return -1;
    DWORD wait = WaitForSingleObject(pi.hProcess, RUN_TIMEOUT_MS);
    QueryPerformanceCounter(&end);
    DWORD code = 1;
    if (wait != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 1);
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    if (wait != WAIT_OBJECT_0 || code != 0) return -1;
    return 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(freq.QuadPart);
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Start-to-exit times under Wine spread over two groups some 15 ms apart, for
// the empty program as for this one, so a median of 25 can land in either:
// the lower quartile, inside the faster group, is shown beside it.
double LowerQuartile(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 4];
}

void Print(const std::string& name, const std::vector<double>& v) {
    std::printf("%-44s median %7.1f ms   min %7.1f ms   max %7.1f ms   (%zu runs)\n", name.c_str(), Median(v),
                *std::min_element(v.begin(), v.end()), *std::max_element(v.begin(), v.end()), v.size());
}

// One kind of run: a program, its arguments and the driver library installed
// before it starts ("" leaves the installed one).
struct Kind {
    std::string name;
    std::string exe;
    std::string args;
    std::string driver;
    std::vector<double> times;
};

}  // namespace

int main(int argc, char** argv) {
    int runs = DEFAULT_RUNS;
    bool standIn = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--stand-in") == 0) standIn = true;
        else if (std::atoi(argv[i]) > 0) runs = std::atoi(argv[i]);
    }
    const std::string program = BinPath(PROGRAM_FILE);
    const std::string simulated = BinPath(DRIVER_LIBRARY);
    const std::string installed = InstalledDriver();
    const std::string line = std::string(PROGRAM_FILE) + " 0 0 0 100";

    std::vector<Kind> kinds;
    kinds.push_back({"empty GUI program (same manifest)", BinPath("cmdline_bench_trivial.exe"), "", "", {}});
    kinds.push_back({line + ", simulated driver", program, "0 0 0 100", standIn ? simulated : "", {}});
    if (standIn) kinds.push_back({line + ", stand-in driver", program, "0 0 0 100", BinPath(std::string("standin\\") + DRIVER_LIBRARY), {}});

    bool failed = false;
    for (int round = -WARM_UP_RUNS; round < runs && !failed; ++round) {
        for (Kind& kind : kinds) {
            if (!kind.driver.empty() && !CopyFileA(kind.driver.c_str(), installed.c_str(), FALSE)) {
                std::fprintf(stderr, "cmdline_bench: cannot install %s as %s\n", kind.driver.c_str(), installed.c_str());
                failed = true;
                break;
            }
            double t = TimeRun(kind.exe, kind.args);
            if (t < 0) {
                std::fprintf(stderr, "cmdline_bench: a run of %s failed (is the driver installed?)\n", kind.name.c_str());
                failed = true;
                break;
            }
            if (round >= 0) kind.times.push_back(t);
        }
    }
    if (standIn) CopyFileA(simulated.c_str(), installed.c_str(), FALSE);
    if (failed) return 1;

    std::printf("Start to exit, median of %d runs each after %d warm-ups, alternated\n", runs, WARM_UP_RUNS);
    for (const Kind& kind : kinds) Print(kind.name, kind.times);
    const double base = Median(kinds[0].times);
    const double withSimulator = Median(kinds[1].times);
    std::printf("ratio to the empty GUI program, simulated driver  %6.2f\n", withSimulator / base);
    Figure("command line 0 0 0 100 / empty GUI program, simulated driver", Format("%.2f", withSimulator / base));
    if (standIn) {
        const double own = Median(kinds[2].times);
        std::printf("ratio to the empty GUI program, stand-in driver   %6.2f\n", own / base);
        std::printf("the simulated driver's share                      %6.1f ms\n", withSimulator - own);
        Figure("command line 0 0 0 100 / empty GUI program, stand-in driver", Format("%.2f", own / base),
               Format("<= %.2f", GOAL_RATIO), true, own / base <= GOAL_RATIO);
        Figure("command line: the simulated driver's share", Format("%.1f ms", withSimulator - own));
        const double quartile = LowerQuartile(kinds[2].times) / LowerQuartile(kinds[0].times);
        std::printf("the same by lower quartiles, stand-in driver       %6.2f\n", quartile);
        Figure("command line / empty GUI program, stand-in, lower quartiles", Format("%.2f", quartile));
    }
    return 0;
}
