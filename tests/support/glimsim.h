// GLIMSIM.EXE --headless for tests and benchmarks: starts the simulated debug
// device on a free loopback port (or the one asked for), waits until it
// listens, and collects the line it prints for every datagram.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <string>
#include <vector>

namespace testsupport {

// One datagram line: "<seq> <what> kind=.. display=.. gpu=.. attribute=..
// luminance=.. size=.. from=.. to=.. -> status=<n|none> reply=<bytes>".
struct GlimsimDatagram {
    unsigned long seq = 0;
    std::string what;  // query, notify, unknown, malformed
    long kind = 0, display = 0, gpu = 0, attribute = 0, luminance = 0;
    int size = 0;
    unsigned fromPort = 0;
    unsigned toPort = 0;  // the device's port that took it
    int status = -1;   // -1: not answered
    int reply = 0;     // bytes of the answer
};

// False when the line is not a datagram line.
bool ParseGlimsimLine(const std::string& line, GlimsimDatagram& out);

class Glimsim {
public:
    Glimsim();
    // Kills the device if it still runs.
    ~Glimsim();
    Glimsim(const Glimsim&) = delete;
    Glimsim& operator=(const Glimsim&) = delete;

    enum Flags : unsigned {
        WINDOW = 1,  // show the window instead of --headless (no datagram lines)
    };
    // Starts GLIMSIM.EXE --headless `args` (a free port unless `args` holds
    // --port) and waits up to `timeoutMs` for it to listen. A port taken by
    // someone else is tried again until the time is up.
    bool Start(const std::string& args = "", unsigned timeoutMs = 30000, unsigned flags = 0);
    unsigned short Port() const { return port_; }
    unsigned short ReplyPort() const { return replyPort_; }

    // Everything printed so far, one entry per complete line.
    std::vector<std::string> Lines();
    std::vector<GlimsimDatagram> Datagrams();
    // True once at least `count` datagram lines arrived within `timeoutMs`.
    bool WaitForDatagrams(size_t count, unsigned timeoutMs);
    // True once a line starting with `prefix` arrived within `timeoutMs`.
    bool WaitForLine(const std::string& prefix, unsigned timeoutMs);

    // True when the process ended within `timeoutMs`.
    bool Wait(unsigned timeoutMs);
    bool Running() const;
    DWORD ExitCode() const;
    DWORD Pid() const { return process_.dwProcessId; }
    void Kill();

private:
    bool Launch(const std::string& args);
    void StopReader();
    void Close();
    static DWORD WINAPI ReaderMain(void* self);
    void Read();

    CRITICAL_SECTION lock_;
    std::string output_;
    PROCESS_INFORMATION process_ {};
    HANDLE pipe_ = nullptr;
    HANDLE reader_ = nullptr;
    HANDLE stopReader_ = nullptr;
    unsigned short port_ = 0;
    unsigned short replyPort_ = 0;
};

}  // namespace testsupport
