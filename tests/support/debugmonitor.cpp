#include "debugmonitor.h"

#include <cstring>

#include "testsupport.h"

namespace testsupport {

namespace {
constexpr DWORD BUFFER_SIZE = 4096;
}

DebugMonitor::DebugMonitor() {
    InitializeCriticalSection(&lock_);
    bufferReady_ = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_BUFFER_READY");
    bool first = bufferReady_ && GetLastError() != ERROR_ALREADY_EXISTS;
    dataReady_ = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_DATA_READY");
    mapping_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, BUFFER_SIZE, "DBWIN_BUFFER");
    if (mapping_) view_ = static_cast<const char*>(MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, BUFFER_SIZE));
    stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (first && dataReady_ && view_ && stop_) thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
}

DebugMonitor::~DebugMonitor() {
    if (thread_) {
        SetEvent(stop_);
        WaitForSingleObject(thread_, 5000);
        CloseHandle(thread_);
    }
    if (view_) UnmapViewOfFile(view_);
    for (HANDLE h : {mapping_, dataReady_, bufferReady_, stop_})
        if (h) CloseHandle(h);
    DeleteCriticalSection(&lock_);
}

DWORD WINAPI DebugMonitor::Run(LPVOID self) {
    static_cast<DebugMonitor*>(self)->Loop();
    return 0;
}

void DebugMonitor::Loop() {
    HANDLE waits[2] = {stop_, dataReady_};
    for (;;) {
        SetEvent(bufferReady_);
        if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) return;
        DWORD pid = 0;
        std::memcpy(&pid, view_, sizeof pid);
        const char* text = view_ + sizeof pid;
        size_t length = strnlen(text, BUFFER_SIZE - sizeof pid);
        EnterCriticalSection(&lock_);
        lines_.push_back(Line {pid, std::string(text, length)});
        LeaveCriticalSection(&lock_);
    }
}

std::vector<std::string> DebugMonitor::Lines(DWORD pid) {
    std::vector<std::string> out;
    EnterCriticalSection(&lock_);
    for (const Line& line : lines_)
        if (pid == 0 || line.pid == pid) out.push_back(line.text);
    LeaveCriticalSection(&lock_);
    return out;
}

bool DebugMonitor::WaitForLine(const std::string& text, unsigned timeoutMs, DWORD pid) {
    return WaitUntil(
        [&] {
            for (const std::string& line : Lines(pid))
                if (line.find(text) != std::string::npos) return true;
            return false;
        },
        timeoutMs, 20);
}

void DebugMonitor::Clear() {
    EnterCriticalSection(&lock_);
    lines_.clear();
    LeaveCriticalSection(&lock_);
}

}  // namespace testsupport
