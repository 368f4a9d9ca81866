// Times the command-line mode from process start to exit, as a ratio to a GUI
// program that only returns, both started the same way in the same prefix.
// The two are run alternately so that load on the machine hits both alike.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/platform.h"

namespace {

const int DEFAULT_RUNS = 25;
const int WARM_UP_RUNS = 2;
const DWORD RUN_TIMEOUT_MS = 30000;

std::string BinPath(const char* name) {
    char path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path, n);
    return s.substr(0, s.find_last_of('\\') + 1) + name;
}

// Milliseconds from CreateProcess to the end of the process; -1 on failure.
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

void Print(const char* name, const std::vector<double>& v) {
    std::printf("%-28s median %8.1f ms   min %8.1f ms   max %8.1f ms   (%zu runs)\n", name, Median(v),
                *std::min_element(v.begin(), v.end()), *std::max_element(v.begin(), v.end()), v.size());
}

}  // namespace

int main(int argc, char** argv) {
    int runs = argc > 1 ? std::atoi(argv[1]) : DEFAULT_RUNS;
    if (runs < 1) runs = DEFAULT_RUNS;
    const std::string program = BinPath(PROGRAM_FILE);
    const std::string trivial = BinPath("cmdline_bench_trivial.exe");
    const std::string args = "0 0 0 100";

    for (int i = 0; i < WARM_UP_RUNS; ++i) {
        if (TimeRun(program, args) < 0 || TimeRun(trivial, "") < 0) {
            std::fprintf(stderr, "cmdline_bench: a run failed (is the simulated driver installed?)\n");
            return 1;
        }
    }
    std::vector<double> mine, base;
    for (int i = 0; i < runs; ++i) {
        double a = TimeRun(program, args);
        double b = TimeRun(trivial, "");
        if (a < 0 || b < 0) {
            std::fprintf(stderr, "cmdline_bench: run %d failed\n", i);
            return 1;
        }
        mine.push_back(a);
        base.push_back(b);
    }
    Print((std::string(PROGRAM_FILE) + " 0 0 0 100").c_str(), mine);
    Print("trivial GUI program", base);
    std::printf("ratio of medians             %8.2f\n", Median(mine) / Median(base));
    return 0;
}
