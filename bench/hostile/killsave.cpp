// The settings save against TerminateProcess: the program changes a method,
// is told to save and is killed at a random moment of the save. The settings
// file must be, every time, the complete old or the complete new file; a
// temporary file left behind must not be what the next start reads, and the
// next save must replace it.
#include <winsock2.h>

#include "hostile.h"

#include <string>

#include "app/traymenu.h"
#include "program.h"
#include "res/resource.h"
#include "simnvapi.h"
#include "testsupport.h"

namespace hostile {

int RunKillSave(const Options& options) {
    unsigned long long total = options.count ? options.count : 1000ull;
    testsupport::SimNvapi sim;
    Program program;
    const std::string ini = program.IniPath();
    const std::string temp = ini + ".new";
    testsupport::WriteFile(ini,
                           "[GLOBAL]\r\nDebug=0\r\nTimer=1000\r\n"
                           "[DEVICE0]\r\nEnable=1\r\nDisplay=0\r\nGPU=0\r\nAttribute=0\r\nPlayType=0\r\n");
    if (!program.Start()) {
        Fail("killsave: the program did not start");
        return 1;
    }
    // The two complete files: device 0 on method 0 and on method 1.
    std::string files[2];
    ULONGLONG before = GetTickCount64();
    program.Send(WM_COMMAND, IDM_SAVE, 0, 20000);
    ULONGLONG saveMs = GetTickCount64() - before;
    files[0] = testsupport::ReadFile(ini);
    program.Send(WM_COMMAND, PlayTypeCommand(0, 1), 0, 20000);
    program.Send(WM_COMMAND, IDM_SAVE, 0, 20000);
    files[1] = testsupport::ReadFile(ini);
    if (files[0].empty() || files[0] == files[1]) {
        Fail("killsave: the two reference files are not distinct");
        return 1;
    }
    int state = 1;
    if (saveMs < 5) saveMs = 5;

    Rng rng(options.seed);
    unsigned long long old = 0, fresh = 0, broken = 0, leftovers = 0, stale = 0, restarts = 0;
    ULONGLONG start = GetTickCount64();
    for (unsigned long long n = 1; n <= total; ++n) {
        int next = 1 - state;
        program.Send(WM_COMMAND, PlayTypeCommand(0, next), 0, 20000);
        PostMessageA(program.Window(), WM_COMMAND, IDM_SAVE, 0);
        // Anywhere from before the save starts to a little after it ends.
        Sleep(rng.Below(static_cast<uint32_t>(saveMs * 3 / 2 + 2)));
        program.Kill();
        std::string now = testsupport::ReadFile(ini);
        if (now == files[state]) ++old;
        else if (now == files[next]) ++fresh, state = next;
        else if (broken++ < 5) {
            std::string keep = program.Dir() + "\\..\\hostile-killsave-" + std::to_string(n) + ".ini";
            testsupport::WriteFile(keep, now);
            Fail("killsave: kill %llu left a settings file that is neither (%zu bytes, kept as %s)", n, now.size(),
                 keep.c_str());
        }
        bool left = testsupport::FileExists(temp);
        if (left) ++leftovers;
        if (!program.Start()) {
            Fail("killsave: the program did not start again after kill %llu", n);
            return 1;
        }
        ++restarts;
        if (left) {
            // Started from the file, not from what was left beside it: an
            // unchanged save writes the same file again and clears the rest.
            program.Send(WM_COMMAND, IDM_SAVE, 0, 20000);
            if (testsupport::ReadFile(ini) != files[state] || testsupport::FileExists(temp)) {
                if (stale++ < 5) Fail("killsave: after kill %llu the start or the next save took the temporary file", n);
            }
        }
        if (n % 100 == 0) Say("  %llu kills, %.0f s", n, SecondsSince(start));
    }
    program.Send(WM_COMMAND, IDM_SAVE, 0, 20000);
    bool clean = testsupport::ReadFile(ini) == files[state] && !testsupport::FileExists(temp);
    if (!clean) Fail("killsave: the last save did not leave one complete file");
    program.Close();
    Say("killsave: %llu saves killed (seed %llu) in %.1f s (a save takes %llu ms): %llu old file, %llu new "
        "file, %llu neither; %llu temporary files left behind, each ignored and replaced: %s",
        total, static_cast<unsigned long long>(options.seed), SecondsSince(start), saveMs, old, fresh, broken,
        leftovers, stale ? "NO" : "yes");
    return broken || stale || !clean ? 1 : 0;
}

}  // namespace hostile
