// What the boards of a simulated machine show: the zone settings and the
// legacy LEDs. A real board is one piece of hardware whatever process writes
// to it, so this state lives in a named shared section, one per simulated
// machine (its configuration file), and every process that loads the driver
// sees and changes the same boards. Layout in README.md ("Shared state").
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "zonerecords.h"

namespace sim {

struct Machine;
struct MachineEvent;

const uint32_t LEGACY_ATTRIBUTES = 2;  // logo and SLI bridge
const uint32_t LEGACY_START = 100;     // what a legacy LED shows before any set
const uint32_t SHARED_BOARDS = 64;     // GPUs with a shared board; any later ones keep theirs per process

// One GPU's board. Every member has a fixed width and the same offset on x86
// and x64 (the 8-byte time stamps are 8-aligned on both).
struct BoardState {
    uint32_t display;                         // which GPU of the machine (for a reader of the section)
    uint32_t gpu;
    uint32_t zoneCount;
    uint32_t deviceCount;
    uint32_t legacy[LEGACY_ATTRIBUTES];       // last value set on attribute 0 and 1
    uint32_t reserved[2];
    ZoneControl active[ILLUM_MAX];            // the settings a zone shows
    ZoneControl defaults[ILLUM_MAX];          // the set bDefault reads
    IllumDeviceSync sync[ILLUM_MAX];          // each device's synchronisation data
};
static_assert(sizeof(BoardState) == 32 + 2 * 32 * 200 + 32 * 80, "board layout");

struct SharedBoards {
    uint32_t layout;                          // SHARED_LAYOUT once made
    uint32_t boardCount;                      // boards in use, in the machine's GPU order
    uint64_t configHash;                      // the configuration text the boards were made from
    uint32_t eventsApplied;                   // the machine's resets and sleeps the boards went through
    uint32_t reserved;
    BoardState boards[SHARED_BOARDS];
};
const uint32_t SHARED_LAYOUT = 2;

// The section of one simulated machine, opened by every process that loads
// the driver. Lock() before reading or changing a board; Adopt() makes the
// boards of a configuration, unless another process already did.
class Boards {
public:
    Boards() = default;
    ~Boards();
    Boards(const Boards&) = delete;
    Boards& operator=(const Boards&) = delete;

    // Opens the section of the machine read from `configPath` ("" for the
    // built-in one) with the text `configText`, resets its boards when they
    // were made from another text (or never), and points every GPU of
    // `machine` at its board. Without a section (it cannot be made) the
    // boards live in this process, as do those of GPUs past SHARED_BOARDS.
    // `history`: how many of the machine's events (resets, sleeps) began
    // before the boards' configuration was written; fresh boards count them
    // as gone through.
    void Adopt(const std::string& configPath, const std::string& configText, Machine& machine, size_t history);
    // Takes the boards through the machine's events that have begun (the
    // first `due`) and that no process has taken them through yet: each puts
    // every board back at its configured start, then `each` runs for it
    // (under the lock).
    void CatchUp(Machine& machine, size_t due, void (*each)(const MachineEvent&));

    // The section's lock across processes; a holder that died leaves it to
    // the next.
    void Lock();
    void Unlock();

private:
    void Open(const std::string& configPath);
    void Close();
    bool held_ = false;  // this thread owns mutex_ (taken under the process's lock)

    std::string path_;
    bool opened_ = false;
    HANDLE mapping_ = nullptr;
    HANDLE mutex_ = nullptr;
    SharedBoards* shared_ = nullptr;
    std::vector<BoardState> local_;  // boards of this process only
    uint32_t localEvents_ = 0;       // what eventsApplied is without a section
};

// Locks the boards for the span of a scope.
class BoardLock {
public:
    explicit BoardLock(Boards& boards) : boards_(boards) { boards_.Lock(); }
    ~BoardLock() { boards_.Unlock(); }
    BoardLock(const BoardLock&) = delete;
    BoardLock& operator=(const BoardLock&) = delete;

private:
    Boards& boards_;
};

}  // namespace sim
