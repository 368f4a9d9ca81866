// Helpers shared by the test programs: paths of the built programs, temporary
// folders, child processes with bounded waits, small file utilities.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace testsupport {

// The program of this build, the platform tag its texts show and the driver
// library it loads from the system directory, stated here
// on their own (not taken from the program's constants).
#ifdef _WIN64
#define TEST_PROGRAM "GLIMDK64.EXE"
#define TEST_PLATFORM "x64"
#define TEST_DRIVER "nvapi64.dll"
#else
#define TEST_PROGRAM "GLIMDK32.EXE"
#define TEST_PLATFORM "x86"
#define TEST_DRIVER "nvapi.dll"
#endif

// Folder of the running test program; every built program and DLL lies there.
std::string BinDir();
// Full path of a file beside the test program.
std::string BinPath(const std::string& name);
// The 32-bit product GLIMDK32.EXE: beside the test program on the 32-bit
// build; on the 64-bit build the one of the sibling 32-bit build folder
// (build/x64/bin -> build/x86/bin) or %GLIM_PRODUCT32%, where set.
std::string Product32Path();

std::string ReadFile(const std::string& path);              // "" when missing
bool WriteFile(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);
bool CopyTo(const std::string& from, const std::string& to);

// Polls `done` every `pollMs` until it answers true or `timeoutMs` passed.
bool WaitUntil(const std::function<bool()>& done, unsigned timeoutMs, unsigned pollMs = 10);

// Sets (or with nullptr removes) a variable of this process's environment;
// processes started afterwards inherit it.
void SetEnv(const char* name, const char* value);

// The screen DPI that programs started from now on are given: Wine reads it
// (HKCU\Control Panel\Desktop, LogPixels) when a process starts, so this
// process keeps its own. The prefix's value, or its absence, is put back on
// destruction, for the tests that run after.
class ScreenDpi {
public:
    explicit ScreenDpi(DWORD dpi);
    ~ScreenDpi();
    ScreenDpi(const ScreenDpi&) = delete;
    ScreenDpi& operator=(const ScreenDpi&) = delete;
    bool Set() const { return set_; }

private:
    bool set_ = false;
    bool had_ = false;
    DWORD old_ = 0;
};

// A fresh folder under %TEMP%, removed with everything in it on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "\\" + name; }

private:
    std::string path_;
};

// A child process in this Wine prefix. Destruction kills it if it still runs.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // `exe` is a full path; `args` the rest of the command line; `cwd` may be "".
    // With `captureStdout` the child's standard output is collected (Output()).
    bool Start(const std::string& exe, const std::string& args, const std::string& cwd = "",
               bool captureStdout = false);
    // True when the process ended within `timeoutMs`.
    bool Wait(unsigned timeoutMs);
    bool Running() const;
    DWORD ExitCode() const;
    DWORD Pid() const { return pi_.dwProcessId; }
    HANDLE Handle() const { return pi_.hProcess; }
    void Kill();
    // Everything the child wrote to standard output so far (captureStdout only).
    std::string Output();

private:
    void Drain();
    PROCESS_INFORMATION pi_ {};
    HANDLE out_ = nullptr;
    std::string captured_;
};

}  // namespace testsupport
