// Window messages to the live program: every WM_COMMAND identifier,
// WM_GLIMDECK with random selectors and brightnesses (each result checked
// against the simulated machine), the pause and resume messages, and random
// message numbers from WM_USER to 0xBFFF with random parameters. The program
// must answer WM_NULL after every thousand and end cleanly at the close.
#include <winsock2.h>

#include "hostile.h"

#include <algorithm>
#include <string>
#include <vector>

#include "app/glimmessages.h"
#include "program.h"
#include "res/resource.h"
#include "simnvapi.h"
#include "testsupport.h"

namespace hostile {
namespace {

enum Kind { COMMAND, EXTERNAL_SET, CONTROL, RANDOM, TRAY, KINDS };
const char* const kNames[] = {"WM_COMMAND ids", "WM_GLIMDECK", "WM_CONTROL_*", "random WM_USER..0xBFFF",
                              "tray notifications"};

const char kSettings[] =
    "[GLOBAL]\r\nTimer=1000\r\nResolution=100\r\nBalloon=1\r\n"
    "[DEVICE0]\r\nEnable=1\r\nDisplay=0\r\nGPU=0\r\nAttribute=0\r\nPlayType=0\r\nLuminance=60\r\n"
    "[DEVICE1]\r\nEnable=1\r\nDisplay=0\r\nGPU=0\r\nAttribute=1\r\nPlayType=1\r\nLuminance=60\r\n";

uint32_t Field(Rng& rng, uint32_t small, uint32_t bits) {
    return rng.OneIn(2) ? rng.Below(small) : rng.Below(1u << bits);
}

}  // namespace

int RunMessages(const Options& options) {
    testsupport::SimNvapi sim;
    testsupport::SimMachine machine;
    machine.Gpu(0, 0).attributes = {0, 1};
    sim.Write(machine);

    Program program;
    testsupport::WriteFile(program.IniPath(), kSettings);
    if (!program.Start()) {
        Fail("messages: the program did not start");
        return 1;
    }
    Dismisser dismisser;
    dismisser.Start(program.Pid());

    Rng rng(options.seed);
    // Every identifier but "プログラムの終了", which comes last, in random order;
    // a short run takes a random share of them.
    std::vector<uint32_t> ids;
    for (uint32_t id = 0; id <= 0xFFFF; ++id)
        if (id != IDM_EXIT) ids.push_back(id);
    for (size_t i = ids.size() - 1; i > 0; --i) std::swap(ids[i], ids[rng.Below(static_cast<uint32_t>(i + 1))]);
    unsigned long long others = 40000;
    if (options.count) {
        ids.resize(std::min<size_t>(ids.size(), options.count / 2));
        others = options.count - ids.size();
    }
    unsigned long long total = ids.size() + others;
    size_t nextId = 0;

    unsigned long long sent[KINDS] = {}, wrong = 0, hangs = 0;
    ULONGLONG start = GetTickCount64();
    ULONGLONG slowest = 0;
    for (unsigned long long n = 1; n <= total; ++n) {
        Kind kind;
        uint64_t left = total - n + 1;
        if (rng.Below(static_cast<uint32_t>(left)) < ids.size() - nextId) kind = COMMAND;
        else {
            uint32_t p = rng.Below(40);
            kind = p < 10 ? EXTERNAL_SET : p < 12 ? CONTROL : p < 13 ? TRAY : RANDOM;
        }
        UINT message = 0;
        WPARAM wParam = 0;
        LPARAM lParam = 0;
        long expect = -1;
        switch (kind) {
        case COMMAND:
            message = WM_COMMAND;
            // The high word is the notification code; the program takes the low word.
            wParam = ids[nextId++] | (rng.OneIn(2) ? 0 : rng.Word() & 0xFFFF0000u);
            lParam = rng.OneIn(2) ? 0 : static_cast<LPARAM>(rng.Word());
            break;
        case EXTERNAL_SET: {
            message = WM_GLIMDECK;
            wParam = rng.OneIn(2) ? rng.Below(101) : rng.Word();
            uint32_t d = Field(rng, 2, 4), g = Field(rng, 2, 8), a = Field(rng, 3, 8);
            uint32_t bits = PackSelector(d, g, a) | (rng.OneIn(4) ? rng.Word() & 0xFF000000u : 0);
            lParam = static_cast<LPARAM>(static_cast<int32_t>(bits));
            // The simulated machine has one board with both LEDs.
            expect = d == 0 && g == 0 && a <= 1 ? 1 : 0;
            break;
        }
        case CONTROL:
            message = rng.OneIn(2) ? WM_CONTROL_RESUME : WM_CONTROL_SUSPEND;
            wParam = rng.Word();
            lParam = static_cast<LPARAM>(rng.Word());
            expect = 1;
            break;
        case TRAY: {
            static const UINT mouse[] = {WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK,
                                         WM_RBUTTONDOWN, WM_RBUTTONUP, WM_CONTEXTMENU, 0x405, 0};
            message = WM_TRAYNOTIFY;
            wParam = rng.Word();
            lParam = mouse[rng.Below(9)];
            break;
        }
        default:
            message = WM_USER + rng.Below(0xC000 - WM_USER);
            wParam = rng.Word();
            lParam = static_cast<LPARAM>(rng.Word());
            break;
        }
        ++sent[kind];
        LRESULT result = 0;
        ULONGLONG before = GetTickCount64();
        if (!program.Send(message, wParam, lParam, 20000, &result)) {
            ++hangs;
            if (!program.Running()) {
                Fail("messages: the program ended at message %llu (0x%04X %08lX %08lX)", n, message,
                     static_cast<unsigned long>(wParam), static_cast<unsigned long>(lParam));
                break;
            }
            Fail("messages: no answer within 20 s to message %llu (0x%04X %08lX %08lX)", n, message,
                 static_cast<unsigned long>(wParam), static_cast<unsigned long>(lParam));
            continue;
        }
        slowest = std::max(slowest, GetTickCount64() - before);
        if (expect >= 0 && result != expect && wrong++ < 10)
            Fail("messages: 0x%04X %08lX %08lX answered %ld, expected %ld", message, static_cast<unsigned long>(wParam),
                 static_cast<unsigned long>(lParam), static_cast<long>(result), expect);
        if (n % 1000 == 0 && !program.Send(WM_NULL, 0, 0, 5000)) {
            ++hangs;
            Fail("messages: no answer to WM_NULL after message %llu", n);
        }
        if (n % 20000 == 0) Say("  %llu messages, %.0f s", n, SecondsSince(start));
    }
    double seconds = SecondsSince(start);

    // Still the program it was: it sets an LED it has and refuses one it has not.
    LRESULT set = 0, refused = 1;
    program.Send(WM_CONTROL_RESUME, 0, 0, 5000);
    bool alive = program.Send(WM_GLIMDECK, 40, static_cast<LPARAM>(PackSelector(0, 0, 1)), 10000, &set) &&
                 program.Send(WM_GLIMDECK, 40, static_cast<LPARAM>(PackSelector(0, 3, 0)), 10000, &refused);
    if (!alive || set != 1 || refused != 0) Fail("messages: afterwards the LED set answers %ld and %ld", static_cast<long>(set), static_cast<long>(refused));
    dismisser.Stop();
    program.Send(WM_COMMAND, IDM_EXIT, 0, 5000);
    bool ended = !program.Running() || program.Close(15000);
    if (!ended) Fail("messages: the program did not end after \"プログラムの終了\"");

    Say("messages: %llu messages (seed %llu) in %.1f s, slowest answer %llu ms, %llu wrong results, %llu "
        "unanswered, %lu boxes and dialogs dismissed",
        total, static_cast<unsigned long long>(options.seed), seconds, slowest, wrong, hangs, dismisser.Closed());
    for (int k = 0; k < KINDS; ++k) Say("  %-24s %llu", kNames[k], sent[k]);
    return wrong || hangs || !ended || !alive ? 1 : 0;
}

}  // namespace hostile
