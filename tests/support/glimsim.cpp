#include "glimsim.h"

#include <cstdlib>
#include <cstring>
#include <sstream>

#include "testsupport.h"

namespace testsupport {

namespace {

// GLIMSIM's exit status when the port it was asked for is taken.
constexpr DWORD EXIT_PORT_IN_USE = 3;

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (;;) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) return lines;  // the rest is not a whole line yet
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
}

bool FieldValue(const std::string& line, const std::string& key, std::string& value) {
    std::string token;
    std::istringstream in(line);
    while (in >> token) {
        if (token.compare(0, key.size() + 1, key + "=") == 0) {
            value = token.substr(key.size() + 1);
            return true;
        }
    }
    return false;
}

bool FieldNumber(const std::string& line, const std::string& key, long& value) {
    std::string text;
    if (!FieldValue(line, key, text) || text.empty()) return false;
    char* end = nullptr;
    value = std::strtol(text.c_str(), &end, 10);
    return *end == '\0';
}

}  // namespace

bool ParseGlimsimLine(const std::string& line, GlimsimDatagram& out) {
    std::istringstream in(line);
    std::string seq;
    GlimsimDatagram d;
    if (!(in >> seq >> d.what) || seq.empty() || seq.find_first_not_of("0123456789") != std::string::npos)
        return false;
    d.seq = std::strtoul(seq.c_str(), nullptr, 10);
    long number = 0;
    if (d.what != "malformed") {
        if (!FieldNumber(line, "kind", d.kind) || !FieldNumber(line, "display", d.display) ||
            !FieldNumber(line, "gpu", d.gpu) || !FieldNumber(line, "attribute", d.attribute) ||
            !FieldNumber(line, "luminance", d.luminance))
            return false;
    }
    if (!FieldNumber(line, "size", number)) return false;
    d.size = static_cast<int>(number);
    if (!FieldNumber(line, "from", number)) return false;
    d.fromPort = static_cast<unsigned>(number);
    if (!FieldNumber(line, "to", number)) return false;
    d.toPort = static_cast<unsigned>(number);
    std::string status;
    if (!FieldValue(line, "status", status)) return false;
    d.status = status == "none" ? -1 : std::atoi(status.c_str());
    if (!FieldNumber(line, "reply", number)) return false;
    d.reply = static_cast<int>(number);
    out = d;
    return true;
}

Glimsim::Glimsim() { InitializeCriticalSection(&lock_); }

Glimsim::~Glimsim() {
    Kill();
    DeleteCriticalSection(&lock_);
}

bool Glimsim::Start(const std::string& args, unsigned timeoutMs, unsigned flags) {
    Kill();
    std::string all = (flags & WINDOW ? "" : "--headless ") + args;
    if (args.find("--port") == std::string::npos) all += " --port 0";
    DWORD start = GetTickCount();
    for (;;) {
        if (!Launch(all)) return false;
        DWORD elapsed = GetTickCount() - start;
        bool settled = WaitUntil(
            [this] {
                for (const std::string& line : Lines())
                    if (line.compare(0, 6, "ready ") == 0) return true;
                return !Running();
            },
            elapsed >= timeoutMs ? 0 : timeoutMs - elapsed, 5);
        for (const std::string& line : Lines()) {
            if (line.compare(0, 6, "ready ") != 0) continue;
            long port = 0, replyPort = 0;
            if (!FieldNumber(line, "port", port) || !FieldNumber(line, "reply-port", replyPort))
                break;
            port_ = static_cast<unsigned short>(port);
            replyPort_ = static_cast<unsigned short>(replyPort);
            return true;
        }
        bool taken = settled && !Running() && ExitCode() == EXIT_PORT_IN_USE;
        Kill();
        // Another test run on this machine may hold the port for a while.
        if (!taken || GetTickCount() - start >= timeoutMs) return false;
        Sleep(200);
    }
}

bool Glimsim::Launch(const std::string& args) {
    std::string cmd = "\"" + BinPath("GLIMSIM.EXE") + "\" " + args;
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back('\0');
    SECURITY_ATTRIBUTES sa {sizeof sa, nullptr, TRUE};
    HANDLE childOut = nullptr;
    if (!CreatePipe(&pipe_, &childOut, &sa, 1 << 16)) return false;
    SetHandleInformation(pipe_, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = childOut;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    BOOL ok = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                             &si, &process_);
    CloseHandle(childOut);
    if (!ok) {
        process_ = {};
        Close();
        return false;
    }
    CloseHandle(process_.hThread);
    process_.hThread = nullptr;
    EnterCriticalSection(&lock_);
    output_.clear();
    LeaveCriticalSection(&lock_);
    stopReader_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    reader_ = CreateThread(nullptr, 0, ReaderMain, this, 0, nullptr);
    return reader_ != nullptr;
}

DWORD WINAPI Glimsim::ReaderMain(void* self) {
    static_cast<Glimsim*>(self)->Read();
    return 0;
}

// Polls rather than blocks: the pipe's write end may live on in another child
// of the test, so its end of file cannot be relied on.
void Glimsim::Read() {
    for (bool last = false;; last = WaitForSingleObject(stopReader_, 2) == WAIT_OBJECT_0) {
        DWORD avail = 0;
        while (PeekNamedPipe(pipe_, nullptr, 0, nullptr, &avail, nullptr) && avail > 0) {
            char buf[4096];
            DWORD got = 0;
            if (!::ReadFile(pipe_, buf, avail < sizeof buf ? avail : sizeof buf, &got, nullptr) ||
                got == 0)
                break;
            EnterCriticalSection(&lock_);
            output_.append(buf, got);
            LeaveCriticalSection(&lock_);
        }
        if (last) return;
    }
}

std::vector<std::string> Glimsim::Lines() {
    EnterCriticalSection(&lock_);
    std::string text = output_;
    LeaveCriticalSection(&lock_);
    return SplitLines(text);
}

std::vector<GlimsimDatagram> Glimsim::Datagrams() {
    std::vector<GlimsimDatagram> out;
    for (const std::string& line : Lines()) {
        GlimsimDatagram d;
        if (ParseGlimsimLine(line, d)) out.push_back(d);
    }
    return out;
}

bool Glimsim::WaitForDatagrams(size_t count, unsigned timeoutMs) {
    return WaitUntil([&] { return Datagrams().size() >= count; }, timeoutMs, 5);
}

bool Glimsim::WaitForLine(const std::string& prefix, unsigned timeoutMs) {
    return WaitUntil(
        [&] {
            for (const std::string& line : Lines())
                if (line.compare(0, prefix.size(), prefix) == 0) return true;
            return false;
        },
        timeoutMs, 5);
}

bool Glimsim::Wait(unsigned timeoutMs) {
    if (!process_.hProcess) return true;
    bool ended = WaitForSingleObject(process_.hProcess, timeoutMs) == WAIT_OBJECT_0;
    // Let the reader pick up the last lines.
    if (ended) Sleep(20);
    return ended;
}

bool Glimsim::Running() const {
    return process_.hProcess && WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
}

DWORD Glimsim::ExitCode() const {
    DWORD code = STILL_ACTIVE;
    if (process_.hProcess) GetExitCodeProcess(process_.hProcess, &code);
    return code;
}

void Glimsim::StopReader() {
    if (!reader_) return;
    SetEvent(stopReader_);
    WaitForSingleObject(reader_, 5000);
    CloseHandle(reader_);
    reader_ = nullptr;
}

void Glimsim::Close() {
    StopReader();
    if (stopReader_) CloseHandle(stopReader_);
    stopReader_ = nullptr;
    if (pipe_) CloseHandle(pipe_);
    pipe_ = nullptr;
}

void Glimsim::Kill() {
    if (process_.hProcess) {
        if (Running()) {
            TerminateProcess(process_.hProcess, 99);
            WaitForSingleObject(process_.hProcess, 5000);
        }
        CloseHandle(process_.hProcess);
        process_ = {};
    }
    // The lines stay readable after the end; only the handles go.
    Close();
}

}  // namespace testsupport
