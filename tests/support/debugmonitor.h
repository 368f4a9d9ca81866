// Collects the debugger output lines (OutputDebugStringA) of every process in
// this Wine prefix through the system-wide DBWIN buffer, as a debug viewer
// does. One monitor at a time per prefix.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace testsupport {

class DebugMonitor {
public:
    DebugMonitor();
    ~DebugMonitor();
    DebugMonitor(const DebugMonitor&) = delete;
    DebugMonitor& operator=(const DebugMonitor&) = delete;

    // False when the DBWIN objects could not be made (another monitor runs).
    bool Ok() const { return thread_ != nullptr; }
    // Every line a process wrote since the monitor started (pid 0: any process).
    std::vector<std::string> Lines(DWORD pid = 0);
    // Waits up to `timeoutMs` for a line of `pid` that contains `text`.
    bool WaitForLine(const std::string& text, unsigned timeoutMs, DWORD pid = 0);
    void Clear();

private:
    static DWORD WINAPI Run(LPVOID self);
    void Loop();

    struct Line {
        DWORD pid;
        std::string text;
    };
    CRITICAL_SECTION lock_;
    std::vector<Line> lines_;
    HANDLE bufferReady_ = nullptr;
    HANDLE dataReady_ = nullptr;
    HANDLE mapping_ = nullptr;
    const char* view_ = nullptr;
    HANDLE stop_ = nullptr;
    HANDLE thread_ = nullptr;
};

}  // namespace testsupport
