// Shared pieces of hostile.exe: the seeded generator, the options every mode
// takes, and the report line each mode ends with.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace hostile {

// xorshift64*: the same seed gives the same inputs on every machine and build.
class Rng {
public:
    explicit Rng(uint64_t seed) : state_(seed ? seed : 0x9E3779B97F4A7C15ull) {}
    uint64_t Next() {
        state_ ^= state_ >> 12;
        state_ ^= state_ << 25;
        state_ ^= state_ >> 27;
        return state_ * 0x2545F4914F6CDD1Dull;
    }
    uint32_t Word() { return static_cast<uint32_t>(Next() >> 32); }
    // 0..n-1 (n > 0).
    uint32_t Below(uint32_t n) { return static_cast<uint32_t>((Next() >> 32) % n); }
    bool OneIn(uint32_t n) { return Below(n) == 0; }

private:
    uint64_t state_;
};

struct Options {
    uint64_t count = 0;    // 0: the mode's full count
    uint64_t seed = 1;
    unsigned minutes = 0;  // soak driver
    std::string dir;       // soak driver: the program's folder
    std::string mode;      // soak driver: "debug" or "driver"
};

// Failures found so far, by every mode; each one is printed when found.
extern unsigned long Failures;
void Fail(const char* format, ...);
void Say(const char* format, ...);

// Seconds since `start` (GetTickCount64).
double SecondsSince(ULONGLONG start);

int RunPatterns(const Options& options);
int RunInis(const Options& options);
int RunReplies(const Options& options);
int RunMessages(const Options& options);
int RunKillSave(const Options& options);
int RunFaults(const Options& options);
int RunSoakDrive(const Options& options);

}  // namespace hostile
