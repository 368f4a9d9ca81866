#include "program.h"

#include <cstdio>
#include <string>
#include <vector>

#include "app/glimmessages.h"
#include "dialogdriver.h"
#include "testsupport.h"

namespace hostile {

Program::Program() : own_(true) {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    // A fresh Wine prefix names its temporary folder before it exists.
    CreateDirectoryA(temp, nullptr);
    char name[MAX_PATH];
    GetTempFileNameA(temp, "hst", 0, name);
    DeleteFileA(name);
    CreateDirectoryA(name, nullptr);
    dir_ = name;
    testsupport::CopyTo(testsupport::BinPath(TEST_PROGRAM), File(TEST_PROGRAM));
}

Program::Program(const std::string& dir) : dir_(dir) {}

Program::~Program() {
    if (Running() && !Close()) Kill();
    Release();
    if (own_) {
        for (const char* f : {TEST_PROGRAM, "GLIMDECK.INI", "GLIMDECK.INI.new"}) DeleteFileA(File(f).c_str());
        RemoveDirectoryA(dir_.c_str());
    }
}

void Program::Release() {
    if (process_) CloseHandle(process_);
    process_ = nullptr;
    pid_ = 0;
    window_ = nullptr;
}

HWND Program::MainWindowOf(DWORD pid) { return testsupport::FindMainWindowOf(pid); }

bool Program::Start(unsigned timeoutMs) {
    Release();
    std::string exe = File(TEST_PROGRAM);
    std::string cmd = "\"" + exe + "\"";
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back('\0');
    STARTUPINFOA si {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi {};
    if (!CreateProcessA(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, dir_.c_str(), &si, &pi)) {
        std::printf("program: %s does not start (error %lu)\n", exe.c_str(), GetLastError());
        return false;
    }
    CloseHandle(pi.hThread);
    process_ = pi.hProcess;
    pid_ = pi.dwProcessId;
    testsupport::WaitUntil([&] { return (window_ = MainWindowOf(pid_)) != nullptr || !Running(); }, timeoutMs, 10);
    if (!window_) {
        DWORD code = 0;
        GetExitCodeProcess(process_, &code);
        std::printf("program: no window within %u ms (%s, exit code %lu)\n", timeoutMs,
                    Running() ? "running" : "ended", code);
        return false;
    }
    // The window exists before its creation has ended, and until then it
    // refuses commands and answers a resume with 0: the start is over when a
    // resume is taken (control runs after a start, so it changes nothing).
    if (testsupport::WaitUntil([&] {
            LRESULT taken = 0;
            return !Running() || (Send(WM_CONTROL_RESUME, 0, 0, timeoutMs, &taken) && taken == 1);
        }, timeoutMs, 20) && Running())
        return true;
    std::printf("program: its window went or did not take a resume (%s)\n", Running() ? "running" : "ended");
    return false;
}

bool Program::Close(unsigned timeoutMs) {
    if (!Running()) return true;
    if (window_) PostMessageA(window_, WM_CLOSE, 0, 0);
    return WaitForSingleObject(process_, timeoutMs) == WAIT_OBJECT_0;
}

void Program::Kill() {
    if (!process_) return;
    TerminateProcess(process_, 9);
    WaitForSingleObject(process_, 10000);
}

bool Program::Running() const { return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }

bool Program::Send(UINT message, WPARAM wParam, LPARAM lParam, unsigned timeoutMs, LRESULT* result) {
    DWORD_PTR answer = 0;
    if (!window_ || !SendMessageTimeoutA(window_, message, wParam, lParam, SMTO_NORMAL, timeoutMs, &answer))
        return false;
    if (result) *result = static_cast<LRESULT>(answer);
    return true;
}

namespace {

struct Found {
    DWORD pid;
    HWND main;
    std::vector<HWND> windows;
};

BOOL CALLBACK Collect(HWND window, LPARAM context) {
    Found& found = *reinterpret_cast<Found*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == found.pid && window != found.main && IsWindowVisible(window)) found.windows.push_back(window);
    return TRUE;
}

}  // namespace

void Dismisser::Start(DWORD pid) {
    Stop();
    pid_ = pid;
    stop_ = 0;
    thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
}

void Dismisser::Stop() {
    if (!thread_) return;
    stop_ = 1;
    WaitForSingleObject(thread_, 10000);
    CloseHandle(thread_);
    thread_ = nullptr;
}

DWORD WINAPI Dismisser::Run(void* self) {
    auto& me = *static_cast<Dismisser*>(self);
    while (!me.stop_) {
        Found found {me.pid_, Program::MainWindowOf(me.pid_), {}};
        EnumWindows(Collect, reinterpret_cast<LPARAM>(&found));
        for (HWND w : found.windows) {
            char name[64] = {};
            GetClassNameA(w, name, sizeof name);
            if (std::string(name) == "#32768") {
                // A pop-up menu ends on Escape.
                PostMessageA(w, WM_KEYDOWN, VK_ESCAPE, 0);
            } else {
                // A box answers Cancel or its close button; a dialog its Cancel.
                PostMessageA(w, WM_COMMAND, IDCANCEL, 0);
                PostMessageA(w, WM_CLOSE, 0, 0);
            }
            InterlockedIncrement(&me.closed_);
        }
        Sleep(found.windows.empty() ? 20 : 100);
    }
    return 0;
}

}  // namespace hostile
