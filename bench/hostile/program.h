// The real program in a folder of its own (its settings file beside it),
// started, messaged with bounded waits, killed or closed; and a watcher that
// dismisses every box or dialog the program opens, so that no command the
// hostile modes send can leave it waiting for a user.
#pragma once

#include <windows.h>

#include <string>

namespace hostile {

class Program {
public:
    // A fresh temporary folder with the program copied into it.
    Program();
    // `dir`: an existing folder; the program there is used as it is.
    explicit Program(const std::string& dir);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    const std::string& Dir() const { return dir_; }
    std::string File(const char* name) const { return dir_ + "\\" + name; }
    std::string IniPath() const { return File("GLIMDECK.INI"); }

    // Starts it and waits for its window and the end of its creation.
    bool Start(unsigned timeoutMs = 60000);
    // WM_CLOSE and a bounded wait; true when it ended by itself.
    bool Close(unsigned timeoutMs = 15000);
    // TerminateProcess, as a crash or a shutdown would end it.
    void Kill();
    bool Running() const;
    DWORD Pid() const { return pid_; }
    HWND Window() const { return window_; }

    // SendMessageTimeout; false when no answer came in time (or the window went).
    bool Send(UINT message, WPARAM wParam, LPARAM lParam, unsigned timeoutMs, LRESULT* result = nullptr);
    // The main window of `pid`, if it has one.
    static HWND MainWindowOf(DWORD pid);

private:
    void Release();
    std::string dir_;
    bool own_ = false;
    HANDLE process_ = nullptr;
    DWORD pid_ = 0;
    HWND window_ = nullptr;
};

// Closes every visible top-level window of one process but its main window
// (message boxes, the settings dialog, the About box), from a thread of its
// own, until stopped. Counts what it closed.
class Dismisser {
public:
    Dismisser() = default;
    ~Dismisser() { Stop(); }
    Dismisser(const Dismisser&) = delete;
    Dismisser& operator=(const Dismisser&) = delete;
    void Start(DWORD pid);
    void Stop();
    unsigned long Closed() const { return closed_; }

private:
    static DWORD WINAPI Run(void* self);
    volatile DWORD pid_ = 0;
    volatile LONG stop_ = 0;
    volatile LONG closed_ = 0;
    HANDLE thread_ = nullptr;
};

}  // namespace hostile
