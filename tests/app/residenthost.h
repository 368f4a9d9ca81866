// Runs the resident program inside the test process: RunResident on a thread
// of its own, with a settings file of the test's making beside this test
// program. The test then reaches the program's state (control flag, tray
// record, slots) directly while it talks to the window by messages.
#pragma once

#include <windows.h>

#include <string>

namespace apptest {

class ResidentHost {
public:
    // `ini` becomes GLIMDECK.INI beside the test program for the host's life.
    explicit ResidentHost(const std::string& ini);
    ~ResidentHost();
    ResidentHost(const ResidentHost&) = delete;
    ResidentHost& operator=(const ResidentHost&) = delete;

    // Starts RunResident with the program's own resources (GLIMDK32.EXE loaded
    // as data) and waits for the main window. With `suspended` the thread is
    // created but not run until Resume().
    bool Start(bool suspended = false);
    void Resume();
    HWND Window() const { return window_; }
    // Waits for the main window; false after `timeoutMs`.
    bool WaitForWindow(unsigned timeoutMs);
    LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    void Command(UINT id) { Send(WM_COMMAND, id, 0); }
    // True once RunResident has returned (within `timeoutMs`).
    bool WaitForEnd(unsigned timeoutMs);
    // Asks the window to close and waits for RunResident to return.
    bool Stop();
    DWORD ThreadId() const { return threadId_; }
    HINSTANCE Resources() const { return resources_; }

private:
    static DWORD WINAPI Run(LPVOID self);

    std::string iniPath_;
    HINSTANCE resources_ = nullptr;
    HANDLE thread_ = nullptr;
    DWORD threadId_ = 0;
    HWND window_ = nullptr;
};

// The main window of this process, if one exists.
HWND FindOwnMainWindow();

}  // namespace apptest
