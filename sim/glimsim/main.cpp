// GLIMSIM.EXE: a simulated debug device for Glimmerdeck. It answers the 24-byte
// datagrams on 127.0.0.1 and shows its LEDs in a window, or with --headless
// prints one line per datagram.
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "device.h"
#include "options.h"
#include "server.h"
#include "window.h"

namespace {

enum ExitCode { EXIT_OK = 0, EXIT_USAGE = 2, EXIT_PORT_IN_USE = 3, EXIT_NETWORK = 4 };

// Reached from the console's control handler, which runs on a thread of its own.
HANDLE StopEvent = nullptr;
HANDLE StdOut = INVALID_HANDLE_VALUE;

// Written straight to the handle: every line reaches a reading pipe at once.
void WriteLine(const std::string& text) {
    if (StdOut == INVALID_HANDLE_VALUE || StdOut == nullptr) return;
    std::string line = text + "\n";
    DWORD written = 0;
    WriteFile(StdOut, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

void PrintDatagram(const LogEntry& entry) { WriteLine(FormatLine(entry)); }

BOOL WINAPI OnConsoleControl(DWORD type) {
    switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
        SetEvent(StopEvent);
        RequestWindowClose();
        return TRUE;
    default:
        return FALSE;
    }
}

// Printed in both modes once the ports are bound: scripts learn the port
// from it (with --port 0) and know they can start sending.
void PrintReady(const SimOptions& options, const Server& server) {
    char ready[256];
    std::snprintf(ready, sizeof ready, "ready port=%u reply-port=%u leds=%s", server.Port(),
                  server.ReplyPort() ? server.ReplyPort() : server.Port(),
                  FormatLeds(options.leds).c_str());
    WriteLine(ready);
}

int RunHeadless(const SimOptions& options, Server& server, SimDevice& device) {
    if (!server.Start()) {
        WriteLine("stopped error=thread");
        return EXIT_NETWORK;
    }
    WaitForSingleObject(StopEvent, options.seconds ? options.seconds * 1000 : INFINITE);
    server.Stop();
    WriteLine("stopped datagrams=" + std::to_string(device.Take().datagrams));
    return EXIT_OK;
}

// A console made for this process alone (started from the desktop) is only
// in the way of the window.
void DropOwnConsole() {
    DWORD processes[2];
    if (GetConsoleProcessList(processes, 2) == 1) FreeConsole();
}

}  // namespace

int main(int argc, char** argv) {
    StdOut = GetStdHandle(STD_OUTPUT_HANDLE);
    std::vector<std::string> args(argv + 1, argv + argc);
    SimOptions options;
    std::string error;
    if (!ParseOptions(args, options, error)) {
        std::fprintf(stderr, "glimsim: %s\n%s", error.c_str(), USAGE);
        return EXIT_USAGE;
    }
    if (options.help) {
        std::string usage = USAGE;
        usage.pop_back();  // WriteLine ends the line itself
        WriteLine(usage);
        return EXIT_OK;
    }
    StopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    WSADATA wsa;
    if (!StopEvent || WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
        std::fprintf(stderr, "glimsim: Winsock is not available\n");
        return EXIT_NETWORK;
    }
    int code;
    {
        SimDevice device(options);
        Server server(options, device, options.headless ? PrintDatagram : nullptr);
        bool inUse = false;
        if (!server.Open(error, inUse)) {
            std::fprintf(stderr, "glimsim: %s\n", error.c_str());
            code = inUse ? EXIT_PORT_IN_USE : EXIT_NETWORK;
        } else {
            SetConsoleCtrlHandler(OnConsoleControl, TRUE);
            PrintReady(options, server);
            if (options.headless) {
                code = RunHeadless(options, server, device);
            } else {
                DropOwnConsole();
                code = RunWindow(options, device, server) ? EXIT_OK : EXIT_NETWORK;
            }
        }
    }
    WSACleanup();
    return code;
}
