// hostile.exe <mode> [--count N] [--seed S]: runs one hostile-input mode, or
// "short" for the quick form of every randomized mode, and exits 1 when any
// check failed.
#include "hostile.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace hostile {

unsigned long Failures = 0;

void Fail(const char* format, ...) {
    ++Failures;
    std::va_list args;
    va_start(args, format);
    std::printf("FAIL: ");
    std::vprintf(format, args);
    std::printf("\n");
    va_end(args);
    std::fflush(stdout);
}

void Say(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    std::printf("\n");
    va_end(args);
    std::fflush(stdout);
}

double SecondsSince(ULONGLONG start) { return (GetTickCount64() - start) / 1000.0; }

}  // namespace hostile

namespace {

int Usage() {
    std::printf(
        "hostile.exe MODE [--count N] [--seed S]\n"
        "  patterns   random pattern files through the reader (default 1000000)\n"
        "  inis       random INI values through INIFILE and LoadSetting (default 100000)\n"
        "  replies    random debug-device replies to the client (default 100000)\n"
        "  messages   window messages to the live program (default all WM_COMMAND ids + 40000)\n"
        "  killsave   the program killed during saves (default 1000)\n"
        "  faults [--mode driver|device]  driver and device faults, each with its recovery\n"
        "  short      patterns, inis, replies, messages and killsave, small counts\n"
        "  drive --minutes M --dir FOLDER --mode debug|driver   the soak's driver\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    hostile::Options options;
    std::string mode = argv[1];
    for (int i = 2; i + 1 < argc; i += 2) {
        std::string name = argv[i];
        const char* value = argv[i + 1];
        if (name == "--count") options.count = std::strtoull(value, nullptr, 10);
        else if (name == "--seed") options.seed = std::strtoull(value, nullptr, 10);
        else if (name == "--minutes") options.minutes = static_cast<unsigned>(std::strtoul(value, nullptr, 10));
        else if (name == "--dir") options.dir = value;
        else if (name == "--mode") options.mode = value;
        else return Usage();
    }
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    int rc = 0;
    if (mode == "patterns") rc = hostile::RunPatterns(options);
    else if (mode == "inis") rc = hostile::RunInis(options);
    else if (mode == "replies") rc = hostile::RunReplies(options);
    else if (mode == "messages") rc = hostile::RunMessages(options);
    else if (mode == "killsave") rc = hostile::RunKillSave(options);
    else if (mode == "faults") rc = hostile::RunFaults(options);
    else if (mode == "drive") rc = hostile::RunSoakDrive(options);
    else if (mode == "short") {
        hostile::Options small = options;
        // About a minute in all, for the test suite.
        small.count = 10000;
        rc |= hostile::RunPatterns(small);
        small.count = 2000;
        rc |= hostile::RunInis(small);
        rc |= hostile::RunReplies(small);
        small.count = 3000;
        rc |= hostile::RunMessages(small);
        small.count = 8;
        rc |= hostile::RunKillSave(small);
    } else {
        return Usage();
    }
    std::printf("hostile %s: %lu failure(s)\n", mode.c_str(), hostile::Failures);
    return rc != 0 || hostile::Failures != 0 ? 1 : 0;
}
