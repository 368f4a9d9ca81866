#include "device.h"

#include <cstdio>

namespace {

int32_t Word(const unsigned char* at) {
    return static_cast<int32_t>(static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
                                static_cast<uint32_t>(at[2]) << 16 |
                                static_cast<uint32_t>(at[3]) << 24);
}

void PutWord(unsigned char* at, int32_t value) {
    uint32_t v = static_cast<uint32_t>(value);
    for (int n = 0; n < 4; ++n) at[n] = static_cast<unsigned char>(v >> (8 * n));
}

const char* WhatName(What what) {
    switch (what) {
    case What::Query: return "query";
    case What::Notify: return "notify";
    case What::Unknown: return "unknown";
    default: return "malformed";
    }
}

class Locked {
public:
    explicit Locked(CRITICAL_SECTION& lock) : lock_(lock) { EnterCriticalSection(&lock_); }
    ~Locked() { LeaveCriticalSection(&lock_); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

private:
    CRITICAL_SECTION& lock_;
};

}  // namespace

std::string FormatLine(const LogEntry& e) {
    char line[256];
    int n;
    if (e.what == What::Malformed) {
        n = std::snprintf(line, sizeof line, "%lu malformed size=%d from=%u to=%u", e.seq, e.size,
                          e.fromPort, e.toPort);
    } else {
        n = std::snprintf(line, sizeof line,
                          "%lu %s kind=%ld display=%ld gpu=%ld attribute=%ld luminance=%ld "
                          "size=%d from=%u to=%u",
                          e.seq, WhatName(e.what), static_cast<long>(e.kind),
                          static_cast<long>(e.display), static_cast<long>(e.gpu),
                          static_cast<long>(e.attribute), static_cast<long>(e.luminance), e.size,
                          e.fromPort, e.toPort);
    }
    if (e.status < 0)
        std::snprintf(line + n, sizeof line - n, " -> status=none reply=0");
    else
        std::snprintf(line + n, sizeof line - n, " -> status=%d reply=%d", e.status, e.replySize);
    return line;
}

SimDevice::SimDevice(const SimOptions& options) : options_(options) {
    InitializeCriticalSection(&lock_);
    for (const Led& led : options.leds) {
        LedState state;
        state.led = led;
        leds_.push_back(state);
    }
    rateTick_ = GetTickCount();
}

SimDevice::~SimDevice() { DeleteCriticalSection(&lock_); }

LedState* SimDevice::Find(int32_t display, int32_t gpu, int32_t attribute) {
    for (LedState& state : leds_)
        if (state.led.display == display && state.led.gpu == gpu &&
            state.led.attribute == attribute)
            return &state;
    return nullptr;
}

// The Status for a well-formed request; updates the LED it names.
int32_t SimDevice::Answer(const LogEntry& e) {
    LedState* led = Find(e.display, e.gpu, e.attribute);
    if (e.what == What::Query)
        return led && !options_.refuseQuery ? STATUS_QUERY_OK : STATUS_REFUSED;
    if (e.what != What::Notify || !led || options_.refuseNotify) return STATUS_REFUSED;
    if (options_.refuseNotifyAfter >= 0 &&
        accepted_ >= static_cast<unsigned long>(options_.refuseNotifyAfter))
        return STATUS_REFUSED;
    ++accepted_;
    led->luminance = e.luminance;
    led->lit = true;
    ++led->notifications;
    led->lastNotifyTick = GetTickCount();
    return STATUS_NOTIFY_OK;
}

LogEntry SimDevice::Handle(const unsigned char* data, int size, unsigned short fromPort,
                           unsigned short toPort, unsigned char* reply, int& replySize) {
    Locked hold(lock_);
    LogEntry e;
    e.seq = ++datagrams_;
    GetLocalTime(&e.time);
    e.size = size;
    e.fromPort = fromPort;
    e.toPort = toPort;
    replySize = 0;
    if (size == DATAGRAM_SIZE) {
        e.kind = Word(data);
        e.display = Word(data + 8);
        e.gpu = Word(data + 12);
        e.attribute = Word(data + 16);
        e.luminance = Word(data + 20);
        e.what = e.kind == KIND_QUERY ? What::Query
                 : e.kind == KIND_NOTIFY ? What::Notify
                                         : What::Unknown;
        // A device that never answers takes nothing in either.
        if (!options_.noAnswer) {
            e.status = Answer(e);
            // The reply echoes the request with the Status filled in; the
            // broken sizes cut the last byte or add a zero.
            for (int n = 0; n < DATAGRAM_SIZE; ++n) reply[n] = data[n];
            PutWord(reply + 4, e.status);
            reply[DATAGRAM_SIZE] = 0;
            replySize = options_.replySize;
            e.replySize = replySize;
        }
    }
    log_.push_back(e);
    if (log_.size() > LOG_LINES) log_.pop_front();
    ++changes_;
    return e;
}

SimDevice::Snapshot SimDevice::Take() {
    Locked hold(lock_);
    Snapshot s;
    s.leds = leds_;
    s.log = log_;
    s.datagrams = datagrams_;
    s.changes = changes_;
    return s;
}

unsigned long SimDevice::Changes() {
    Locked hold(lock_);
    return changes_;
}

void SimDevice::UpdateRates(DWORD now) {
    Locked hold(lock_);
    DWORD elapsed = now - rateTick_;
    if (elapsed == 0) return;
    for (LedState& led : leds_) {
        double current = (led.notifications - led.countAtTick) * 1000.0 / elapsed;
        // Smoothed so the figure reads calmly; a silent LED still falls to 0.
        led.rate = led.rate * 0.5 + current * 0.5;
        if (led.rate < 0.05) led.rate = 0;
        led.countAtTick = led.notifications;
    }
    rateTick_ = now;
    ++changes_;
}
