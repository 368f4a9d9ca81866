#include "residenthost.h"

#include "app/glimmessages.h"
#include "app/resident.h"
#include "testsupport.h"

namespace apptest {

ResidentHost::ResidentHost(const std::string& ini) : iniPath_(testsupport::BinPath("GLIMDECK.INI")) {
    testsupport::WriteFile(iniPath_, ini);
}

ResidentHost::~ResidentHost() {
    if (thread_) {
        if (!Stop()) TerminateThread(thread_, 0);
        CloseHandle(thread_);
    }
    if (resources_) FreeLibrary(resources_);
    DeleteFileA(iniPath_.c_str());
}

DWORD WINAPI ResidentHost::Run(LPVOID self) {
    RunResident(static_cast<ResidentHost*>(self)->resources_);
    return 0;
}

bool ResidentHost::Start(bool suspended) {
    resources_ = LoadLibraryExA(testsupport::BinPath(TEST_PROGRAM).c_str(), nullptr,
                                LOAD_LIBRARY_AS_DATAFILE);
    if (!resources_) return false;
    thread_ = CreateThread(nullptr, 0, Run, this, suspended ? CREATE_SUSPENDED : 0, &threadId_);
    if (!thread_) return false;
    return suspended || WaitForWindow(20000);
}

void ResidentHost::Resume() { ResumeThread(thread_); }

bool ResidentHost::WaitForWindow(unsigned timeoutMs) {
    if (!testsupport::WaitUntil([&] { return (window_ = FindOwnMainWindow()) != nullptr; }, timeoutMs))
        return false;
    // The window is found while its creation still runs, and it answers sent
    // messages while that talks to the shell. Until creation has ended it
    // refuses to resume (0); afterwards control already runs, so the probe
    // changes nothing (a balloon at most).
    return testsupport::WaitUntil([&] { return Send(WM_CONTROL_RESUME) == 1; }, timeoutMs, 20);
}

LRESULT ResidentHost::Send(UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    if (!window_ || !SendMessageTimeoutA(window_, message, wParam, lParam, SMTO_NORMAL, 30000, &result))
        return -1;
    return static_cast<LRESULT>(result);
}

bool ResidentHost::WaitForEnd(unsigned timeoutMs) {
    return thread_ && WaitForSingleObject(thread_, timeoutMs) == WAIT_OBJECT_0;
}

bool ResidentHost::Stop() {
    if (!thread_) return true;
    if (WaitForEnd(0)) return true;
    HWND window = FindOwnMainWindow();
    if (window) PostMessageA(window, WM_CLOSE, 0, 0);
    return WaitForEnd(30000);
}

HWND FindOwnMainWindow() {
    HWND window = FindWindowA(GLIM_CLASS_NAME, GLIM_WINDOW_NAME);
    DWORD pid = 0;
    if (window) GetWindowThreadProcessId(window, &pid);
    return pid == GetCurrentProcessId() ? window : nullptr;
}

}  // namespace apptest
