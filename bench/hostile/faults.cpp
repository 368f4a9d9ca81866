// Faults of the driver and of the debug device, each held for a while and
// then ended, with the program watched throughout: it must keep answering
// its window, keep its pause and stop within their bounds, and write every
// LED again once the fault is over.
#include <winsock2.h>

#include "hostile.h"

#include <algorithm>
#include <memory>
#include <string>

#include "app/glimmessages.h"
#include "app/traymenu.h"
#include "glimsim.h"
#include "program.h"
#include "simnvapi.h"
#include "testsupport.h"

namespace hostile {
namespace {

const int kLed[4][3] = {{0, 0, 0}, {0, 0, 1}, {0, 1, 0}, {0, 1, 1}};
const char kDeviceLeds[] = "--port 30000 --leds 0,0,0;0,0,1;0,1,0;0,1,1";
const char* const kOperations[] = {
    "Initialize",          "GetInterfaceVersionString",    "EnumNvidiaDisplayHandle", "GetPhysicalGPUsFromDisplay",
    "GetDisplayDriverVersion", "GPU_GetFullName",          "GPU_QueryIlluminationSupport", "GPU_SetIllumination",
    "GPU_GetCurrentPstate", "GPU_GetThermalSettings",      "GPU_GetAllClockFrequencies", "GPU_GetDynamicPstatesInfoEx",
    "GPU_GetUsages",       "GPU_GetCoolerSettings"};

testsupport::SimMachine Machine() {
    testsupport::SimMachine m;
    m.Gpu(0, 0).attributes = {0, 1};
    m.Gpu(0, 1).attributes = {0, 1};
    return m;
}

// The driver reads its file on every call: a replacement can meet it open
// and fail, so it is tried until it lands.
void Rewrite(testsupport::SimNvapi& sim, const testsupport::SimMachine& machine) {
    if (!testsupport::WaitUntil([&] { return sim.Write(machine); }, 10000, 5))
        Fail("faults: the driver's configuration could not be replaced");
}

std::string Settings(bool debug) {
    std::string text = std::string("[GLOBAL]\r\nDebug=") + (debug ? "1" : "0") + "\r\nTimer=1000\r\nResolution=50\r\nBalloon=0\r\n";
    for (int d = 0; d < 4; ++d)
        text += "[DEVICE" + std::to_string(d) + "]\r\nEnable=1\r\nDisplay=0\r\nGPU=" + std::to_string(kLed[d][1]) +
                "\r\nAttribute=" + std::to_string(kLed[d][2]) + "\r\nPlayType=" + std::to_string(d % 2) +
                "\r\nLuminance=70\r\n";
    return text;
}

// Keeps asking the window for an answer for `ms`; the slowest answer, or
// UINT_MAX when one never came.
unsigned Watch(Program& program, unsigned ms) {
    unsigned slowest = 0;
    ULONGLONG end = GetTickCount64() + ms;
    while (GetTickCount64() < end) {
        ULONGLONG before = GetTickCount64();
        if (!program.Send(WM_NULL, 0, 0, 30000)) return UINT_MAX;
        slowest = std::max<unsigned>(slowest, static_cast<unsigned>(GetTickCount64() - before));
        Sleep(100);
    }
    return slowest;
}

// Milliseconds until every LED was written successfully by the program after
// `since` (driver log, or the device's notifications counted from `seen`);
// UINT_MAX when one was not within `timeoutMs`.
unsigned AllWritten(testsupport::SimNvapi& sim, DWORD pid, ULONGLONG since, unsigned timeoutMs,
                    testsupport::Glimsim* device = nullptr, size_t seen = 0) {
    bool all = testsupport::WaitUntil(
        [&] {
            bool got[4] = {};
            for (const auto& s : sim.SetsOf(pid))
                for (int i = 0; i < 4; ++i)
                    if (s.ms >= since && s.status == 0 && s.gpu == kLed[i][1] && s.attribute == kLed[i][2]) got[i] = true;
            if (device) {
                auto lines = device->Datagrams();
                for (size_t n = seen; n < lines.size(); ++n)
                    for (int i = 0; i < 4; ++i)
                        if (lines[n].what == "notify" && lines[n].status == 1 && lines[n].gpu == kLed[i][1] &&
                            lines[n].attribute == kLed[i][2])
                            got[i] = true;
            }
            return got[0] && got[1] && got[2] && got[3];
        },
        timeoutMs, 100);
    return all ? static_cast<unsigned>(GetTickCount64() - since) : UINT_MAX;
}

// Starts the program and waits until it has written every LED once: a device
// whose driver fails while its thread starts is, by design, not driven at
// all, so a fault must begin only once every thread is past that point.
bool StartDriving(testsupport::SimNvapi& sim, Program& program) {
    ULONGLONG since = GetTickCount64();
    if (!program.Start() || AllWritten(sim, program.Pid(), since, 15000) == UINT_MAX) {
        Fail("faults: the program did not start writing its LEDs");
        return false;
    }
    return true;
}

std::string Ms(unsigned ms) { return ms == UINT_MAX ? std::string("never") : std::to_string(ms) + " ms"; }

void Verdict(const char* name, bool ok, const std::string& detail) {
    if (ok) Say("faults: %-36s PASS  %s", name, detail.c_str());
    else Fail("faults: %-36s %s", name, detail.c_str());
}

// A device that answers every datagram with random bytes of random length.
struct NoisyDevice {
    SOCKET socket = INVALID_SOCKET;
    volatile LONG stop = 0;
    HANDLE thread = nullptr;
    static DWORD WINAPI Run(void* self) {
        auto& me = *static_cast<NoisyDevice*>(self);
        Rng rng(99);
        while (!me.stop) {
            char buffer[64];
            sockaddr_in from {};
            int length = sizeof from;
            int got = recvfrom(me.socket, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
            if (got <= 0) continue;
            std::string reply;
            size_t n = rng.OneIn(3) ? 24 : rng.Below(60);
            for (size_t i = 0; i < n; ++i) reply += static_cast<char>(rng.Below(256));
            sendto(me.socket, reply.data(), static_cast<int>(reply.size()), 0, reinterpret_cast<sockaddr*>(&from), length);
        }
        return 0;
    }
    bool Start() {
        WSADATA data;
        WSAStartup(0x0202, &data);
        socket = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        sockaddr_in a {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(30000);
        DWORD timeout = 100;
        setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
        if (bind(socket, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return false;
        thread = CreateThread(nullptr, 0, Run, this, 0, nullptr);
        return thread != nullptr;
    }
    ~NoisyDevice() {
        stop = 1;
        if (thread) WaitForSingleObject(thread, 5000), CloseHandle(thread);
        if (socket != INVALID_SOCKET) closesocket(socket);
        WSACleanup();
    }
};

void DriverFailing(testsupport::SimNvapi& sim) {
    Program program;
    testsupport::WriteFile(program.IniPath(), Settings(false));
    if (!StartDriving(sim, program)) return;
    testsupport::SimMachine failing = Machine();
    for (const char* op : kOperations) failing.status[op] = -1;
    Rewrite(sim, failing);
    ULONGLONG begin = GetTickCount64();
    LRESULT set = 1;
    program.Send(WM_GLIMDECK, 50, static_cast<LPARAM>(PackSelector(0, 0, 0)), 30000, &set);
    unsigned slowest = Watch(program, 5000);
    bool paused = program.Send(WM_CONTROL_SUSPEND, 0, 0, 30000) && program.Send(WM_CONTROL_RESUME, 0, 0, 30000);
    Rewrite(sim, Machine());
    ULONGLONG cleared = GetTickCount64();
    unsigned back = AllWritten(sim, program.Pid(), cleared, 15000);
    if (back == UINT_MAX) {
        // What the driver saw last, to tell where the program stopped.
        auto trace = sim.Trace();
        Say("  trace: %zu lines, %zu initialisations that succeeded; config now:\n%s", trace.size(),
            sim.CountTrace("call Initialize - 0"), testsupport::ReadFile(sim.ConfigPath()).c_str());
        for (size_t i = trace.size() > 12 ? trace.size() - 12 : 0; i < trace.size(); ++i) Say("  trace: %s", trace[i].c_str());
    }
    Verdict("every driver call failing for 5 s", slowest != UINT_MAX && paused && set == 0 && back != UINT_MAX,
            "slowest answer during it " + Ms(slowest) + ", WM_GLIMDECK answered " + std::to_string(set) +
                ", all four LEDs written again " + Ms(back) + " after it ended (" +
                std::to_string((cleared - begin) / 1000) + " s fault)");
}

void SlowDriver(testsupport::SimNvapi& sim) {
    Program program;
    testsupport::WriteFile(program.IniPath(), Settings(false));
    if (!StartDriving(sim, program)) return;
    testsupport::SimMachine slow = Machine();
    slow.extra = "delay.GPU_SetIllumination = 2000\n";
    Rewrite(sim, slow);
    Sleep(3000);
    ULONGLONG t0 = GetTickCount64();
    bool paused = program.Send(WM_CONTROL_SUSPEND, 0, 0, 30000);
    unsigned pauseMs = static_cast<unsigned>(GetTickCount64() - t0);
    program.Send(WM_CONTROL_RESUME, 0, 0, 30000);
    Sleep(2500);
    // A method change stops every thread and starts them again.
    t0 = GetTickCount64();
    bool stopped = program.Send(WM_COMMAND, PlayTypeCommand(0, 0), 0, 120000);
    unsigned stopMs = static_cast<unsigned>(GetTickCount64() - t0);
    Sleep(2500);
    t0 = GetTickCount64();
    bool closed = program.Close(60000);
    unsigned closeMs = static_cast<unsigned>(GetTickCount64() - t0);
    Rewrite(sim, Machine());
    // A thread ended by force inside the driver would leave its lock taken:
    // a fresh start must write every LED again.
    bool again = program.Start();
    unsigned back = again ? AllWritten(sim, program.Pid(), GetTickCount64(), 15000) : UINT_MAX;
    // The pause waits for the writes in progress, which the driver takes one
    // at a time (up to four of 2 s), within a stop's bounds. The close stops
    // four threads that each finish one 2 s write (the driver takes them one
    // at a time): well within the stop's bounds. A restart's threads name
    // their devices one after another, each queueing for the driver behind
    // the 2 s writes of those already running: slow, but it must end.
    Verdict("SetIllumination taking 2 s", paused && pauseMs < 25000 && stopped && closed && closeMs < 30000 && back != UINT_MAX,
            "pause " + Ms(paused ? pauseMs : UINT_MAX) + ", stop and start " + Ms(stopped ? stopMs : UINT_MAX) +
                ", close " + Ms(closed ? closeMs : UINT_MAX) + "; afterwards all LEDs written " + Ms(back));
}

void DeviceSilent(testsupport::SimNvapi& sim) {
    auto device = std::make_unique<testsupport::Glimsim>();
    if (!device->Start(kDeviceLeds)) return Fail("faults: GLIMSIM.EXE did not start");
    Program program;
    testsupport::WriteFile(program.IniPath(), Settings(true));
    if (!program.Start()) return Fail("faults: the program did not start");
    bool before = AllWritten(sim, program.Pid(), GetTickCount64(), 10000, device.get(), device->Datagrams().size()) != UINT_MAX;
    // Silent: a device that takes every datagram and never answers.
    device.reset(new testsupport::Glimsim);
    device->Kill();
    device.reset(new testsupport::Glimsim);
    bool silent = device->Start(std::string(kDeviceLeds) + " --no-answer");
    unsigned slowest = Watch(program, 10000);
    device.reset(new testsupport::Glimsim);
    bool back = device->Start(kDeviceLeds);
    ULONGLONG returned = GetTickCount64();
    unsigned written = AllWritten(sim, program.Pid(), returned, 15000, device.get(), 0);
    size_t toDevice = 0;
    for (const auto& g : device->Datagrams()) toDevice += g.what == "notify";
    Verdict("device silent for 10 s", before && silent && back && slowest != UINT_MAX && written != UINT_MAX,
            "slowest answer during it " + Ms(slowest) + "; all LEDs written again " + Ms(written) +
                " after it returned (" + std::to_string(toDevice) + " notifications to the device, the rest to the driver)");
}

void DeviceNoise(testsupport::SimNvapi& sim) {
    NoisyDevice noise;
    if (!noise.Start()) return Fail("faults: port 30000 is taken");
    Program program;
    testsupport::WriteFile(program.IniPath(), Settings(true));
    bool started = program.Start();
    unsigned slowest = started ? Watch(program, 10000) : UINT_MAX;
    unsigned written = started ? AllWritten(sim, program.Pid(), GetTickCount64(), 15000) : UINT_MAX;
    LRESULT set = 0;
    bool answers = started && program.Send(WM_GLIMDECK, 30, static_cast<LPARAM>(PackSelector(0, 1, 1)), 30000, &set);
    bool closed = started && program.Close(20000);
    Verdict("device answering random bytes", started && slowest != UINT_MAX && answers && closed,
            "slowest answer " + Ms(slowest) + ", WM_GLIMDECK answered " + std::to_string(set) +
                ", LEDs written by the driver " + Ms(written) + ", closed: " + (closed ? "yes" : "NO"));
}

}  // namespace

int RunFaults(const Options& options) {
    testsupport::SimNvapi sim;
    sim.Write(Machine());
    ULONGLONG start = GetTickCount64();
    unsigned long before = Failures;
    // The device cases need port 30000, the program's; "--mode driver" leaves
    // them out while something else holds it.
    bool driver = options.mode != "device", device = options.mode != "driver";
    if (driver) DriverFailing(sim);
    if (driver && options.count != 1) SlowDriver(sim);
    if (device) DeviceSilent(sim), DeviceNoise(sim);
    Say("faults: %d cases in %.0f s", (driver ? 2 : 0) + (device ? 2 : 0), SecondsSince(start));
    return Failures == before ? 0 : 1;
}

}  // namespace hostile
