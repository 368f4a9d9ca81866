// The simulated debug device: the LEDs it has, their brightness and counters,
// and the answer to each datagram. Shared by the network thread (which feeds
// it datagrams) and the window or console (which shows it); every member
// function takes the device's own lock.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "options.h"

// The datagram both ways: six little-endian 32-bit words.
constexpr int DATAGRAM_SIZE = 24;
constexpr int32_t KIND_QUERY = 2;
constexpr int32_t KIND_NOTIFY = 3;
constexpr int32_t STATUS_REFUSED = 0;
constexpr int32_t STATUS_NOTIFY_OK = 1;
constexpr int32_t STATUS_QUERY_OK = 3;

struct LedState {
    Led led;
    int32_t luminance = 0;
    bool lit = false;              // a brightness has been accepted
    unsigned long notifications = 0;
    double rate = 0;               // accepted notifications per second, smoothed
    unsigned long countAtTick = 0;
    DWORD lastNotifyTick = 0;
};

enum class What { Query, Notify, Unknown, Malformed };

// One datagram as it came in and the answer that went out.
struct LogEntry {
    unsigned long seq = 0;
    SYSTEMTIME time = {};
    What what = What::Malformed;
    int size = 0;
    int32_t kind = 0, display = 0, gpu = 0, attribute = 0, luminance = 0;
    unsigned short fromPort = 0;
    unsigned short toPort = 0;     // the device's port that took it
    int status = -1;               // -1: no answer
    int replySize = 0;
};

// The line --headless prints for a datagram (no newline).
std::string FormatLine(const LogEntry& entry);

class SimDevice {
public:
    explicit SimDevice(const SimOptions& options);
    ~SimDevice();
    SimDevice(const SimDevice&) = delete;
    SimDevice& operator=(const SimDevice&) = delete;

    // Takes one datagram of `size` bytes. Fills `reply` (room for 32 bytes)
    // and `replySize` (0: no answer) and returns what to log.
    LogEntry Handle(const unsigned char* data, int size, unsigned short fromPort,
                    unsigned short toPort, unsigned char* reply, int& replySize);

    struct Snapshot {
        std::vector<LedState> leds;
        std::deque<LogEntry> log;  // oldest first
        unsigned long datagrams = 0;
        unsigned long changes = 0;
    };
    Snapshot Take();
    // Bumped on every datagram, so the window repaints only when needed.
    unsigned long Changes();
    // Recomputes the notification rates; called about twice a second.
    void UpdateRates(DWORD now);

    static constexpr size_t LOG_LINES = 200;

private:
    LedState* Find(int32_t display, int32_t gpu, int32_t attribute);
    int32_t Answer(const LogEntry& entry);

    CRITICAL_SECTION lock_;
    SimOptions options_;
    std::vector<LedState> leds_;
    std::deque<LogEntry> log_;
    unsigned long datagrams_ = 0;
    unsigned long accepted_ = 0;   // accepted notifications, all LEDs
    unsigned long changes_ = 0;
    DWORD rateTick_ = 0;
};
