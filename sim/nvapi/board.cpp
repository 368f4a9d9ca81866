#include "board.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "machine.h"
#include "zones.h"

namespace sim {

namespace {

// A holder that hangs keeps every other process from the boards this long at
// most; the simulator then goes on unlocked rather than hang a test.
const DWORD LOCK_BOUND_MS = 10000;

uint64_t Fnv1a(const std::string& text) {
    uint64_t h = 0xCBF29CE484222325ull;
    for (unsigned char c : text) {
        h ^= c;
        h *= 0x100000001B3ull;
    }
    return h;
}

// One name per machine: the configuration file's full path, in one case, so
// that every process that names the file in its own way finds the same boards.
std::string MachineKey(const std::string& configPath) {
    if (configPath.empty()) return "builtin";
    char full[MAX_PATH * 2];
    DWORD n = GetFullPathNameA(configPath.c_str(), sizeof full, full, nullptr);
    std::string path = n > 0 && n < sizeof full ? std::string(full, n) : configPath;
    for (char& c : path) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    char key[32];
    std::snprintf(key, sizeof key, "%016llX", static_cast<unsigned long long>(Fnv1a(path)));
    return key;
}

}  // namespace

Boards::~Boards() { Close(); }

void Boards::Close() {
    if (shared_) UnmapViewOfFile(shared_);
    if (mapping_) CloseHandle(mapping_);
    if (mutex_) CloseHandle(mutex_);
    shared_ = nullptr;
    mapping_ = mutex_ = nullptr;
    opened_ = false;
}

void Boards::Open(const std::string& configPath) {
    Close();
    path_ = configPath;
    opened_ = true;
    std::string key = MachineKey(configPath);
    // The layout's number is in the names: a driver of another layout never
    // maps these boards.
    std::string section = "GlimSimNvapiBoards" + std::to_string(SHARED_LAYOUT) + "-" + key;
    std::string lock = "GlimSimNvapiBoardsLock" + std::to_string(SHARED_LAYOUT) + "-" + key;
    mutex_ = CreateMutexA(nullptr, FALSE, lock.c_str());
    mapping_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(SharedBoards),
                                  section.c_str());
    if (mapping_) shared_ = static_cast<SharedBoards*>(MapViewOfFile(mapping_, FILE_MAP_WRITE, 0, 0, sizeof(SharedBoards)));
    if (!mutex_ || !shared_) {
        Close();
        opened_ = true;  // boards of this process only
        OutputDebugStringA("nvapi simulator: no shared boards, each process keeps its own\n");
    }
}

void Boards::Lock() {
    if (!mutex_) return;
    DWORD w = WaitForSingleObject(mutex_, LOCK_BOUND_MS);
    held_ = w == WAIT_OBJECT_0 || w == WAIT_ABANDONED;
}

void Boards::Unlock() {
    if (held_) ReleaseMutex(mutex_);
    held_ = false;
}

void Boards::Adopt(const std::string& configPath, const std::string& configText, Machine& machine, size_t history) {
    if (!opened_ || configPath != path_) Open(configPath);
    size_t count = 0;
    for (const std::vector<Gpu>& gpus : machine.displays) count += gpus.size();
    local_.assign(count, BoardState());
    uint64_t hash = Fnv1a(configText);
    BoardLock lock(*this);
    bool fresh = !shared_ || shared_->layout != SHARED_LAYOUT || shared_->configHash != hash;
    if (shared_ && fresh) {
        shared_->layout = SHARED_LAYOUT;
        shared_->configHash = hash;
        shared_->boardCount = static_cast<uint32_t>(count < SHARED_BOARDS ? count : SHARED_BOARDS);
    }
    if (fresh) {
        if (shared_) shared_->eventsApplied = static_cast<uint32_t>(history);
        localEvents_ = static_cast<uint32_t>(history);
    }
    size_t index = 0;
    for (size_t d = 0; d < machine.displays.size(); ++d) {
        for (size_t g = 0; g < machine.displays[d].size(); ++g, ++index) {
            Gpu& gpu = machine.displays[d][g];
            bool shared = shared_ && index < SHARED_BOARDS;
            gpu.board = shared ? &shared_->boards[index] : &local_[index];
            if (fresh || !shared) ResetBoard(gpu, static_cast<uint32_t>(d), static_cast<uint32_t>(g), gpu.board);
        }
    }
}

void Boards::CatchUp(Machine& machine, size_t due, void (*each)(const MachineEvent&)) {
    uint32_t* applied = shared_ ? &shared_->eventsApplied : &localEvents_;
    if (*applied >= due) return;  // the usual case, without the lock
    BoardLock lock(*this);
    for (; *applied < due && *applied < machine.events.size(); ++*applied) {
        for (size_t d = 0; d < machine.displays.size(); ++d)
            for (size_t g = 0; g < machine.displays[d].size(); ++g) {
                Gpu& gpu = machine.displays[d][g];
                ResetBoard(gpu, static_cast<uint32_t>(d), static_cast<uint32_t>(g), gpu.board);
            }
        each(machine.events[*applied]);
    }
}

}  // namespace sim
