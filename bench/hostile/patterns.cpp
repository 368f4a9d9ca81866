// Random pattern files through the real reader. The step area ends at a page
// that cannot be touched, so a write past its end faults at once instead of
// corrupting what lies behind it; the fault handler names the input.
#include <winsock2.h>

#include "hostile.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "engine/pattern.h"
#include "testsupport.h"

namespace hostile {
namespace {

constexpr size_t kPage = 4096;
constexpr size_t kAreaBytes = sizeof(PATTERNSTEP) * MAX_PATTERNSTEP;

std::string g_inputPath;
std::string g_keepPath;
unsigned long long g_iteration = 0;

LONG CALLBACK OnFault(EXCEPTION_POINTERS* info) {
    DWORD code = info->ExceptionRecord->ExceptionCode;
    if (code != EXCEPTION_ACCESS_VIOLATION && code != EXCEPTION_STACK_OVERFLOW) return EXCEPTION_CONTINUE_SEARCH;
    CopyFileA(g_inputPath.c_str(), g_keepPath.c_str(), FALSE);
    std::printf("FAIL: the reader faulted (0x%08lX) on input %llu, kept as %s\n",
                static_cast<unsigned long>(code), g_iteration, g_keepPath.c_str());
    std::fflush(stdout);
    ExitProcess(3);
}

// A step area whose last byte is followed by an inaccessible page.
PATTERNSTEP* GuardedArea() {
    size_t pages = (kAreaBytes + kPage - 1) / kPage;
    auto* base = static_cast<unsigned char*>(
        VirtualAlloc(nullptr, (pages + 1) * kPage, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    if (!base) return nullptr;
    DWORD old = 0;
    if (!VirtualProtect(base + pages * kPage, kPage, PAGE_NOACCESS, &old)) return nullptr;
    return reinterpret_cast<PATTERNSTEP*>(base + pages * kPage - kAreaBytes);
}

struct Input {
    std::string text;
    int kind = 0;
    // Steps the reader must return (well-formed kinds); -1: any count is right.
    long expected = -1;
    std::string expectedSteps;  // "lum,dur;" per step, when known
};

const char* const kKinds[] = {"random bytes", "well-formed", "long line",    "huge and negative",
                              "missing commas", "byte-order mark", "20000+ lines", "separators only"};
constexpr int kKindCount = 8;

std::string Blank(Rng& rng) {
    static const char* const blanks[] = {"", " ", "\t", "  ", " \t "};
    return blanks[rng.Below(5)];
}
std::string Eol(Rng& rng) { return rng.OneIn(3) ? "\r\n" : "\n"; }

void WellFormed(Rng& rng, Input& in, long lines) {
    long kept = 0;
    for (long i = 0; i < lines; ++i) {
        int lum = static_cast<int>(rng.Below(101));
        int dur = static_cast<int>(rng.Below(5000)) + 1;
        // "%d,%d": blanks may lead either number, never the comma.
        in.text += Blank(rng) + std::to_string(lum) + "," + Blank(rng) + std::to_string(dur) + Blank(rng) + Eol(rng);
        if (kept < MAX_PATTERNSTEP) {
            in.expectedSteps += std::to_string(lum) + "," + std::to_string(dur) + ";";
            ++kept;
        }
    }
    in.expected = kept;
}

std::string Number(Rng& rng) {
    switch (rng.Below(6)) {
    case 0: return std::to_string(static_cast<int32_t>(rng.Word()));
    case 1: return "-" + std::to_string(rng.Word());
    case 2: return std::string(1 + rng.Below(60), '9');
    case 3: return "-" + std::string(1 + rng.Below(60), '9');
    case 4: return "+" + std::to_string(rng.Below(200));
    default: return "2147483648";
    }
}

Input Make(Rng& rng, unsigned long long n) {
    Input in;
    // One file in 5000 (the first among them) has 20000+ lines, one in 200 a
    // long line; the rest are small.
    static const int common[] = {0, 1, 3, 4, 5, 7};
    in.kind = n % 5000 == 1 ? 6 : n % 200 == 7 ? 2 : common[rng.Below(6)];
    switch (in.kind) {
    case 0: {
        size_t len = rng.Below(2048);
        for (size_t i = 0; i < len; ++i) in.text += static_cast<char>(rng.Below(256));
        break;
    }
    case 1: WellFormed(rng, in, static_cast<long>(rng.Below(200))); break;
    case 2: {
        size_t len = 5000 + rng.Below(95000);
        char fill = "9-,x 0"[rng.Below(6)];
        in.text.assign(len, fill);
        in.text += "\n50,100\n";
        break;
    }
    case 3: {
        long lines = 1 + static_cast<long>(rng.Below(50));
        for (long i = 0; i < lines; ++i) in.text += Number(rng) + "," + Number(rng) + Eol(rng);
        in.expected = lines;
        break;
    }
    case 4: {
        long lines = 1 + static_cast<long>(rng.Below(50));
        static const char* const forms[] = {"%d %d", "%d", "%d,", "%d,,%d", ",%d", "%d;%d", "%d ,\n%d"};
        for (long i = 0; i < lines; ++i) {
            char line[64];
            std::snprintf(line, sizeof line, forms[rng.Below(7)], static_cast<int>(rng.Below(101)),
                          static_cast<int>(rng.Below(3000)));
            in.text += line + Eol(rng);
        }
        break;
    }
    case 5: {
        static const char* const marks[] = {"\xEF\xBB\xBF", "\xFF\xFE", "\xFE\xFF", "\xEF\xBB\xBF\xEF\xBB\xBF"};
        in.text = marks[rng.Below(4)];
        Input body;
        WellFormed(rng, body, 1 + static_cast<long>(rng.Below(20)));
        in.text += body.text;
        break;
    }
    case 6: WellFormed(rng, in, 20000 + static_cast<long>(rng.Below(10000))); break;
    default: {
        size_t len = rng.Below(300);
        static const char seps[] = {',', ' ', '\n', '\r', '\t', '\0', '-', '+'};
        for (size_t i = 0; i < len; ++i) in.text += seps[rng.Below(8)];
        break;
    }
    }
    return in;
}

bool WriteInput(const std::string& path, const std::string& text) {
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = text.empty() || WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(f);
    return ok && written == text.size();
}

}  // namespace

int RunPatterns(const Options& options) {
    unsigned long long total = options.count ? options.count : 1000000ull;
    PATTERNSTEP* area = GuardedArea();
    if (!area) {
        Fail("patterns: no guarded area");
        return 1;
    }
    testsupport::TempDir dir;
    g_inputPath = dir.File("input.glp");
    char keep[MAX_PATH];
    GetTempPathA(sizeof keep, keep);
    g_keepPath = std::string(keep) + "hostile-pattern-fault.glp";
    AddVectoredExceptionHandler(1, OnFault);

    Rng rng(options.seed);
    unsigned long long perKind[kKindCount] = {};
    unsigned long long bytes = 0, steps = 0, failures = 0;
    int lastCount = MAX_PATTERNSTEP;
    ULONGLONG start = GetTickCount64();
    for (g_iteration = 1; g_iteration <= total; ++g_iteration) {
        Input in = Make(rng, g_iteration);
        if (!WriteInput(g_inputPath, in.text)) {
            Fail("patterns: cannot write input %llu", g_iteration);
            return 1;
        }
        // The caller zeroes the area; only what the last file filled needs it.
        std::memset(area, 0, sizeof(PATTERNSTEP) * static_cast<size_t>(lastCount));
        int count = ReadPatternFile(g_inputPath.c_str(), area);
        lastCount = count < 0 || count > MAX_PATTERNSTEP ? MAX_PATTERNSTEP : count;
        ++perKind[in.kind];
        bytes += in.text.size();
        steps += static_cast<unsigned long long>(lastCount);
        bool wrong = count < 0 || count > MAX_PATTERNSTEP || (in.expected >= 0 && count != in.expected);
        if (!wrong && !in.expectedSteps.empty()) {
            std::string got;
            for (int i = 0; i < count; ++i)
                got += std::to_string(area[i].Luminance) + "," + std::to_string(area[i].Duration) + ";";
            wrong = got != in.expectedSteps;
        }
        if (wrong && failures++ < 10) {
            std::string kept = std::string(keep) + "hostile-pattern-" + std::to_string(g_iteration) + ".glp";
            CopyFileA(g_inputPath.c_str(), kept.c_str(), FALSE);
            Fail("patterns: input %llu (%s): %d steps, expected %ld; kept as %s", g_iteration, kKinds[in.kind],
                 count, in.expected, kept.c_str());
        } else if (wrong) {
            ++Failures;
        }
    }
    double seconds = SecondsSince(start);
    Say("patterns: %llu files (seed %llu) in %.1f s, %.1f MB, %llu steps read, %llu wrong", total,
        static_cast<unsigned long long>(options.seed), seconds, bytes / 1048576.0, steps, failures);
    for (int k = 0; k < kKindCount; ++k) Say("  %-18s %llu", kKinds[k], perKind[k]);
    return failures ? 1 : 0;
}

}  // namespace hostile
