#include "testsupport.h"

#include <cstdio>
#include <vector>

#include "base/dbcs.h"

namespace testsupport {

std::string BinDir() {
    char path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    const char* slash = FindLastBackslash(path, n);
    return slash ? std::string(path, static_cast<size_t>(slash - path)) : std::string(".");
}

std::string BinPath(const std::string& name) { return BinDir() + "\\" + name; }

std::string Product32Path() {
#ifdef _WIN64
    char given[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("GLIM_PRODUCT32", given, sizeof given);
    if (n > 0 && n < sizeof given) return given;
    return BinDir() + "\\..\\..\\x86\\bin\\GLIMDK32.EXE";
#else
    return BinPath("GLIMDK32.EXE");
#endif
}

std::string ReadFile(const std::string& path) {
    std::string out;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    std::fclose(f);
    return out;
}

bool WriteFile(const std::string& path, const std::string& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

bool FileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool CopyTo(const std::string& from, const std::string& to) {
    return CopyFileA(from.c_str(), to.c_str(), FALSE) != 0;
}

bool WaitUntil(const std::function<bool()>& done, unsigned timeoutMs, unsigned pollMs) {
    DWORD start = GetTickCount();
    for (;;) {
        if (done()) return true;
        if (GetTickCount() - start >= timeoutMs) return done();
        Sleep(pollMs);
    }
}

void SetEnv(const char* name, const char* value) { SetEnvironmentVariableA(name, value); }

namespace {
const char DESKTOP_KEY[] = "Control Panel\\Desktop";
const char LOG_PIXELS[] = "LogPixels";
}  // namespace

ScreenDpi::ScreenDpi(DWORD dpi) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, DESKTOP_KEY, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return;
    DWORD type = 0, size = sizeof old_;
    had_ = RegQueryValueExA(key, LOG_PIXELS, nullptr, &type, reinterpret_cast<BYTE*>(&old_), &size) ==
               ERROR_SUCCESS &&
           type == REG_DWORD;
    set_ = RegSetValueExA(key, LOG_PIXELS, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi), sizeof dpi) ==
           ERROR_SUCCESS;
    RegCloseKey(key);
}

ScreenDpi::~ScreenDpi() {
    HKEY key = nullptr;
    if (!set_ || RegOpenKeyExA(HKEY_CURRENT_USER, DESKTOP_KEY, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
    if (had_) RegSetValueExA(key, LOG_PIXELS, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&old_), sizeof old_);
    else RegDeleteValueA(key, LOG_PIXELS);
    RegCloseKey(key);
}

namespace {
void RemoveTree(const std::string& dir) {
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::string name = fd.cFileName;
            if (name == "." || name == "..") continue;
            std::string full = dir + "\\" + name;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(full);
            } else {
                SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(full.c_str());
            }
        } while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryA(dir.c_str());
}
}  // namespace

TempDir::TempDir() {
    char base[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, base);
    static LONG serial = 0;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        char name[MAX_PATH];
        std::snprintf(name, sizeof name, "%sglimtest-%lu-%ld", base, GetCurrentProcessId(),
                      InterlockedIncrement(&serial));
        if (CreateDirectoryA(name, nullptr)) {
            path_ = name;
            if (!path_.empty() && path_.back() == '\\') path_.pop_back();
            return;
        }
    }
}

TempDir::~TempDir() {
    if (!path_.empty()) RemoveTree(path_);
}

ChildProcess::~ChildProcess() {
    Kill();
    if (out_) CloseHandle(out_);
}

bool ChildProcess::Start(const std::string& exe, const std::string& args, const std::string& cwd,
                         bool captureStdout) {
    std::string cmd = "\"" + exe + "\"";
    if (!args.empty()) cmd += " " + args;
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back('\0');

    STARTUPINFOA si {};
    si.cb = sizeof si;
    HANDLE childOut = nullptr;
    if (captureStdout) {
        SECURITY_ATTRIBUTES sa {sizeof sa, nullptr, TRUE};
        if (!CreatePipe(&out_, &childOut, &sa, 1 << 16)) return false;
        SetHandleInformation(out_, HANDLE_FLAG_INHERIT, 0);
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdOutput = childOut;
        si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    }
    BOOL ok = CreateProcessA(exe.c_str(), line.data(), nullptr, nullptr, captureStdout, 0, nullptr,
                             cwd.empty() ? nullptr : cwd.c_str(), &si, &pi_);
    if (childOut) CloseHandle(childOut);
    if (!ok) {
        pi_ = {};
        return false;
    }
    CloseHandle(pi_.hThread);
    pi_.hThread = nullptr;
    return true;
}

bool ChildProcess::Wait(unsigned timeoutMs) {
    if (!pi_.hProcess) return true;
    DWORD start = GetTickCount();
    for (;;) {
        Drain();
        if (WaitForSingleObject(pi_.hProcess, 20) == WAIT_OBJECT_0) {
            Drain();
            return true;
        }
        if (GetTickCount() - start >= timeoutMs) return false;
    }
}

bool ChildProcess::Running() const {
    return pi_.hProcess && WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT;
}

DWORD ChildProcess::ExitCode() const {
    DWORD code = STILL_ACTIVE;
    if (pi_.hProcess) GetExitCodeProcess(pi_.hProcess, &code);
    return code;
}

void ChildProcess::Kill() {
    if (!pi_.hProcess) return;
    if (Running()) {
        TerminateProcess(pi_.hProcess, 99);
        WaitForSingleObject(pi_.hProcess, 5000);
    }
    Drain();
    CloseHandle(pi_.hProcess);
    pi_ = {};
}

void ChildProcess::Drain() {
    if (!out_) return;
    DWORD avail = 0;
    while (PeekNamedPipe(out_, nullptr, 0, nullptr, &avail, nullptr) && avail > 0) {
        char buf[4096];
        DWORD got = 0;
        if (!::ReadFile(out_, buf, avail < sizeof buf ? avail : sizeof buf, &got, nullptr) || got == 0)
            break;
        captured_.append(buf, got);
    }
}

std::string ChildProcess::Output() {
    Drain();
    return captured_;
}

}  // namespace testsupport
