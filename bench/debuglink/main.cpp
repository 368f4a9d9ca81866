// Prints how many exchanges per second the debug-device client makes against
// GLIMSIM.EXE --headless, and what each costs this process in CPU time, with
// one calling thread and with eight (as eight control threads would call).
//
//   debuglink_bench.exe [seconds per run, default 3]
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "debuglink/glpcli.h"
#include "debuglink/ws32lib.h"
#include "figure.h"
#include "glimsim.h"

namespace {

double Seconds(const FILETIME& t) {
    return ((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
}

double ProcessCpuSeconds() {
    FILETIME created, ended, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user)) return 0;
    return Seconds(kernel) + Seconds(user);
}

double Now() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) / frequency.QuadPart;
}

struct Run {
    long exchanges;
    long refused;
    double wall;
    double cpu;
    long contention;
};

Run Measure(CGLPCLI& client, int threads, double seconds) {
    std::vector<long> counts(threads, 0), refused(threads, 0);
    volatile bool stop = false;
    LONG contentionBefore = client.Contention();
    double cpuBefore = ProcessCpuSeconds();
    double start = Now();
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            for (int n = 0; !stop; ++n) {
                if (client.Notify(0, 0, t % 2, n % 101) != 1) ++refused[t];
                ++counts[t];
            }
        });
    }
    Sleep(static_cast<DWORD>(seconds * 1000));
    stop = true;
    for (std::thread& worker : workers) worker.join();
    Run run;
    run.wall = Now() - start;
    run.cpu = ProcessCpuSeconds() - cpuBefore;
    run.exchanges = 0;
    run.refused = 0;
    for (int t = 0; t < threads; ++t) {
        run.exchanges += counts[t];
        run.refused += refused[t];
    }
    run.contention = client.Contention() - contentionBefore;
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = argc > 1 ? std::atof(argv[1]) : 3.0;
    if (seconds <= 0) seconds = 3.0;

    testsupport::Glimsim sim;
    if (!sim.Start()) {
        std::fprintf(stderr, "debuglink_bench: GLIMSIM.EXE did not start\n");
        return 1;
    }
    if (WS32LIB_LoadDLL() != 0 || WS32LIB.WSAStartup(0x0002, &GlpWsaData) != 0) {
        std::fprintf(stderr, "debuglink_bench: Winsock is not available\n");
        return 1;
    }
    int status = 0;
    {
        CGLPCLI client;
        if (client.Open(sim.Port()) != 0) {
            std::fprintf(stderr, "debuglink_bench: the client cannot open\n");
            status = 1;
        } else {
            Measure(client, 1, 0.3);  // warm-up
            std::printf("Debug-device client against GLIMSIM.EXE --headless, %.1f s per run\n",
                        seconds);
            std::printf("The pause of 1 to 5 ms (3 ms on average) after each exchange bounds one "
                        "thread to about 330 exchanges/s.\n\n");
            std::printf("threads  exchanges/s  ideal/s  per thread/s  CPU us/exchange  "
                        "refused  contention\n");
            for (int threads : {1, 8}) {
                Run run = Measure(client, threads, seconds);
                double rate = run.exchanges / run.wall;
                std::printf("%7d  %11.0f  %7d  %12.0f  %15.1f  %7ld  %10ld\n", threads, rate,
                            330 * threads, rate / threads,
                            run.exchanges ? run.cpu * 1e6 / run.exchanges : 0.0, run.refused,
                            run.contention);
                Figure(Format("debug device: exchanges/s, %d thread%s", threads, threads > 1 ? "s" : ""),
                       Format("%.0f", rate), Format("ideal %d (the pause bounds it)", 330 * threads), false, false);
                Figure(Format("debug device: CPU per exchange, %d thread%s", threads, threads > 1 ? "s" : ""),
                       Format("%.1f us", run.exchanges ? run.cpu * 1e6 / run.exchanges : 0.0));
                if (run.refused) status = 1;
            }
        }
        client.Shutdown();
    }
    return status;
}
