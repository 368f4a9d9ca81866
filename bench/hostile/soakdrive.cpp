// The soak's driver: starts the program (and in debug-device mode the
// simulated device) in a folder of its own and works it for the whole run as
// a busy user and other programs would, then checks how it ends. The process
// figures are sampled from outside by scripts/soak.
#include <winsock2.h>

#include "hostile.h"

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/glimmessages.h"
#include "app/traymenu.h"
#include "dialogdriver.h"
#include "glimsim.h"
#include "program.h"
#include "res/resource.h"
#include "simnvapi.h"
#include "testsupport.h"

namespace hostile {
namespace {

// Four LEDs on two boards; in debug-device mode the device has them too.
const int kLed[4][3] = {{0, 0, 0}, {0, 0, 1}, {0, 1, 0}, {0, 1, 1}};
const char kDeviceLeds[] = "--leds 0,0,0;0,0,1;0,1,0;0,1,1";

std::string Settings(bool debug, const std::string& pattern) {
    // Debug-device run: four 10 ms patterns. Driver run: the four metric
    // laws (temperature, utilisation, clock, fan) at the shortest period.
    std::string text = std::string("[GLOBAL]\r\nDebug=") + (debug ? "1" : "0") +
                       "\r\nTimer=100\r\nResolution=10\r\nBalloon=0\r\n";
    for (int d = 0; d < MAX_DEVICE; ++d) {
        bool on = d < 4;
        text += "[DEVICE" + std::to_string(d) + "]\r\nEnable=" + (on ? "1" : "0") +
                "\r\nDisplay=" + std::to_string(on ? kLed[d][0] : 0) + "\r\nGPU=" + std::to_string(on ? kLed[d][1] : d) +
                "\r\nAttribute=" + std::to_string(on ? kLed[d][2] : 0) +
                "\r\nPlayType=" + std::to_string(debug ? 6 : d + 1) + "\r\nLuminance=80\r\nPlayFile=" + pattern + "\r\n";
    }
    return text;
}

// How many of `total` actions are due `elapsed` into a run of `length` ms:
// the first at once (so that what it loads once is in place before growth is
// measured), the rest evenly spread.
uint64_t Due(uint64_t total, ULONGLONG elapsed, ULONGLONG length) {
    return std::min<uint64_t>(total, total * elapsed / length + 1);
}

// The same with every action in the middle of its share of the run.
uint64_t DueMidway(uint64_t total, ULONGLONG elapsed, ULONGLONG length) {
    return std::min<uint64_t>(total, (total * elapsed * 2 + length) / (length * 2));
}

uint64_t Scaled(uint64_t perHour, unsigned minutes) {
    return std::max<uint64_t>(1, perHour * minutes / 60);
}

std::string Key(int d, int g, int a) {
    return std::to_string(d) + "," + std::to_string(g) + "," + std::to_string(a);
}

// How long a simulated driver reset keeps the driver away, and how long after
// a reset's end or a resume every LED has to be written again.
const ULONGLONG kOutageMs = 3000;
const ULONGLONG kComeBackMs = 10000;

// A moment after which every LED must be written again.
struct Recovery {
    ULONGLONG at;
    bool checked;
};

}  // namespace

int RunSoakDrive(const Options& options) {
    bool debug = options.mode == "debug";
    if ((!debug && options.mode != "driver") || options.minutes == 0 || options.dir.empty()) {
        Fail("drive: needs --minutes N, --dir FOLDER and --mode debug|driver");
        return 2;
    }
    const ULONGLONG length = options.minutes * 60000ull;
    testsupport::SimNvapi sim;
    testsupport::SimMachine machine;
    machine.Gpu(0, 0).attributes = {0, 1};
    machine.Gpu(0, 0).sensors = "1:35..90/60000";
    machine.Gpu(0, 1).attributes = {0, 1};
    machine.Gpu(0, 1).utilization = "0..100/20000";
    machine.Gpu(0, 1).fan = "20..100/30000";
    machine.Gpu(0, 1).clockCurrent = "1607000..1733000/12000";
    sim.Write(machine);

    Program program(options.dir);
    std::string pattern = program.File("TEN.GLP");
    std::string steps;
    for (int v = 0; v <= 100; v += 10) steps += std::to_string(v) + ",10\r\n";
    testsupport::WriteFile(pattern, steps);
    testsupport::WriteFile(program.IniPath(), Settings(debug, pattern));
    testsupport::CopyTo(testsupport::BinPath(TEST_PROGRAM), program.File(TEST_PROGRAM));

    std::unique_ptr<testsupport::Glimsim> device;
    auto startDevice = [&] {
        device.reset(new testsupport::Glimsim);
        return device->Start(std::string("--port 30000 ") + kDeviceLeds, 30000);
    };
    if (debug && !startDevice()) {
        Fail("drive: GLIMSIM.EXE did not start on port 30000");
        return 1;
    }
    if (!program.Start()) {
        Fail("drive: the program did not start");
        return 1;
    }
    Say("drive: %s run, %u min, program pid %lu in %s", options.mode.c_str(), options.minutes,
        static_cast<unsigned long>(program.Pid()), options.dir.c_str());

    const uint64_t toggles = Scaled(1000, options.minutes), sets = Scaled(10000, options.minutes),
                   dialogs = Scaled(100, options.minutes), saves = Scaled(100, options.minutes),
                   restarts = debug ? Scaled(10, options.minutes) : 0,
                   // The driver run: a driver reset every few minutes, a sleep between two.
                   resets = debug ? 0 : Scaled(20, options.minutes), sleeps = resets;
    uint64_t toggled = 0, setsDone = 0, dialogsDone = 0, dialogsFailed = 0, savesDone = 0, restarted = 0,
             methods = 0, unanswered = 0, wrongSets = 0;
    Rng rng(options.seed);
    std::map<std::string, size_t> deviceAtLastMinute;
    bool lastMinuteMarked = false;
    bool died = false;
    int changed = -1;  // device whose method is away from its own, or -1
    ULONGLONG start = GetTickCount64(), nextMethod = 5000, nextReport = 60000;
    auto send = [&](UINT message, WPARAM w, LPARAM l, LRESULT* r = nullptr) {
        if (program.Send(message, w, l, 20000, r)) return true;
        ++unanswered;
        Fail("drive: no answer within 20 s to 0x%04X at %.0f s", message, SecondsSince(start));
        return false;
    };
    uint64_t resetsDone = 0, sleepsDone = 0, cameBack = 0, stayedAway = 0;
    ULONGLONG quietUntil = 0, slowestBack = 0;
    std::string events;  // every reset and sleep so far: the driver counts them for its handles
    std::vector<Recovery> recoveries;
    auto addEvent = [&](const std::string& line) {
        events += line + "\n";
        machine.extra = events;
        testsupport::WaitUntil([&] { return sim.Write(machine); }, 5000, 5);
    };
    // Every LED written by the program within kComeBackMs of the moment.
    auto checkRecoveries = [&](bool all) {
        ULONGLONG now = GetTickCount64();
        std::vector<testsupport::SimSet> sets;
        for (Recovery& r : recoveries) {
            if (r.checked || (!all && now < r.at + kComeBackMs)) continue;
            if (sets.empty()) sets = sim.SetsOf(program.Pid());
            r.checked = true;
            ULONGLONG latest = 0;
            bool every = true;
            for (const auto& led : kLed) {
                ULONGLONG first = 0;
                for (const auto& w : sets)
                    if (w.status == 0 && w.ms >= r.at && w.ms <= r.at + kComeBackMs && w.display == led[0] &&
                        w.gpu == led[1] && w.attribute == led[2]) {
                        first = w.ms;
                        break;
                    }
                if (!first) every = false;
                else latest = std::max<ULONGLONG>(latest, first - r.at);
            }
            if (every) {
                ++cameBack;
                slowestBack = std::max(slowestBack, latest);
            } else if (stayedAway++ < 5) {
                Fail("drive: not every LED written within %llu ms of the reset or resume at %.0f s", kComeBackMs,
                     (r.at - start) / 1000.0);
            }
        }
    };
    for (;;) {
        ULONGLONG elapsed = GetTickCount64() - start;
        if (elapsed >= length) break;
        if (!program.Running()) {
            died = true;
            Fail("drive: the program ended by itself at %.0f s (exit code follows in the verdict)", elapsed / 1000.0);
            break;
        }
        checkRecoveries(false);
        if (resetsDone < DueMidway(resets, elapsed, length)) {
            ULONGLONG at = GetTickCount64() + 200;
            addEvent("reset = " + std::to_string(at) + ":" + std::to_string(kOutageMs));
            recoveries.push_back({at + kOutageMs, false});
            // Other programs' sets and restarts would fail in the outage: the
            // run holds them back until the driver is there again.
            quietUntil = at + kOutageMs + 500;
            ++resetsDone;
        }
        if (sleepsDone < Due(sleeps, elapsed, length) && GetTickCount64() >= quietUntil) {
            send(WM_POWERBROADCAST, PBT_APMSUSPEND, 0);
            addEvent("sleep = " + std::to_string(GetTickCount64() + 100));
            Sleep(1500);
            recoveries.push_back({GetTickCount64(), false});
            send(WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0);
            ++sleepsDone;
        }
        if (GetTickCount64() < quietUntil) {
            send(WM_NULL, 0, 0);
            Sleep(50);
            continue;
        }
        for (; toggled < Due(toggles, elapsed, length); ++toggled)
            send(toggled % 2 == 0 ? WM_CONTROL_SUSPEND : WM_CONTROL_RESUME, 0, 0);
        for (; setsDone < Due(sets, elapsed, length); ++setsDone) {
            int d = static_cast<int>(rng.Below(2)), g = static_cast<int>(rng.Below(3)), a = static_cast<int>(rng.Below(3));
            LRESULT r = 0;
            if (send(WM_GLIMDECK, rng.Below(130), static_cast<LPARAM>(PackSelector(d, g, a)), &r) &&
                r != (d == 0 && g <= 1 && a <= 1 ? 1 : 0))
                ++wrongSets;
        }
        if (elapsed >= nextMethod) {
            // One device leaves its method and the next change brings it back.
            if (changed < 0) {
                changed = static_cast<int>(rng.Below(4));
                int away = debug ? static_cast<int>(rng.Below(6)) : (changed + 2) % 6 + 1;
                send(WM_COMMAND, PlayTypeCommand(changed, away), 0);
            } else {
                send(WM_COMMAND, PlayTypeCommand(changed, debug ? 6 : changed + 1), 0);
                changed = -1;
            }
            ++methods;
            nextMethod += 5000;
        }
        for (; savesDone < Due(saves, elapsed, length); ++savesDone) send(WM_COMMAND, IDM_SAVE, 0);
        if (dialogsDone + dialogsFailed < Due(dialogs, elapsed, length)) {
            testsupport::DialogDriver dialog;
            bool ok = dialog.Open(program.Pid(), program.Window(), 15000);
            if (ok) {
                dialog.SetCheck(IDC_BALLOON, !dialog.Checked(IDC_BALLOON));
                dialog.Click(IDC_APPLY);
                dialog.TakeMessageBox("確認情報", 1500);
                dialog.TakeMessageBox("エラー情報", 10);
                dialog.Click(IDOK);
                dialog.TakeMessageBox("確認情報", 1500);
                ok = dialog.WaitClosed(15000);
            }
            if (ok) ++dialogsDone;
            else if (dialogsFailed++ < 5) Fail("drive: the settings dialog did not open, apply and close at %.0f s", elapsed / 1000.0);
        }
        if (debug && restarted < DueMidway(restarts, elapsed, length)) {
            device->Kill();
            device->Wait(5000);
            if (!startDevice()) Fail("drive: GLIMSIM.EXE did not start again");
            ++restarted;
        }
        if (!lastMinuteMarked && length - elapsed <= 60000) {
            lastMinuteMarked = true;
            if (debug)
                for (const auto& g : device->Datagrams()) ++deviceAtLastMinute[Key(g.display, g.gpu, g.attribute)];
        }
        if (elapsed >= nextReport) {
            Say("  at %.0f s: %llu toggles, %llu sets, %llu method changes, %llu dialogs, %llu saves, %llu device restarts",
                elapsed / 1000.0, toggled, setsDone, methods, dialogsDone, savesDone, restarted);
            nextReport += 60000;
        }
        if (!send(WM_NULL, 0, 0)) continue;
        Sleep(50);
    }
    // The sampler stops here: what follows is the end check, not the run.
    testsupport::WriteFile(program.File("run-ended"), "");
    while (GetTickCount64() < quietUntil) Sleep(50);
    if (changed >= 0) send(WM_COMMAND, PlayTypeCommand(changed, debug ? 6 : changed + 1), 0);
    if (toggled % 2 == 1) send(WM_CONTROL_RESUME, 0, 0);

    // Every enabled LED written in the last minute, by the device or the driver.
    if (!recoveries.empty()) {
        while (GetTickCount64() < recoveries.back().at + kComeBackMs) Sleep(100);
        checkRecoveries(true);
    }
    ULONGLONG now = GetTickCount64();
    std::map<std::string, size_t> written;
    for (const auto& s : sim.SetsOf(program.Pid()))
        if (s.ms + 60000 >= now && s.status == 0) ++written[Key(s.display, s.gpu, static_cast<int>(s.attribute))];
    if (debug && device) {
        std::map<std::string, size_t> all;
        for (const auto& g : device->Datagrams())
            if (g.what == "notify") ++all[Key(g.display, g.gpu, g.attribute)];
        for (auto& a : all) written[a.first] += a.second - std::min(a.second, deviceAtLastMinute[a.first]);
    }
    bool allWritten = true;
    std::string counts;
    for (const auto& led : kLed) {
        size_t n = written[Key(led[0], led[1], led[2])];
        counts += " " + Key(led[0], led[1], led[2]) + "=" + std::to_string(n);
        if (n == 0) allWritten = false;
    }
    // A clean end within its bound, then the file it leaves must start it again.
    ULONGLONG closing = GetTickCount64();
    bool ended = !died && program.Close(15000);
    double closeSeconds = SecondsSince(closing);
    if (!ended) program.Kill();
    std::string ini = testsupport::ReadFile(program.IniPath());
    bool complete = true;
    for (const char* section : {"[GLOBAL]", "[CLOCK]", "[PSTATE]", "[PREVIEW]"})
        complete = complete && ini.find(section) != std::string::npos;
    for (int d = 0; d < MAX_DEVICE; ++d)
        complete = complete && ini.find("[DEVICE" + std::to_string(d) + "]") != std::string::npos;
    for (const char* key : {"Timer=", "Resolution=", "P15=", "Font=", "PlayFile="})
        complete = complete && ini.find(key) != std::string::npos;
    sim.ClearLog();
    size_t before = device ? device->Datagrams().size() : 0;
    bool loads = program.Start() &&
                 testsupport::WaitUntil([&] { return sim.Sets().size() >= 4 || (device && device->Datagrams().size() >= before + 4); },
                                        15000, 100);
    bool endsAgain = program.Close(15000);
    if (!endsAgain) program.Kill();

    Say("drive: done after %.0f s: %llu pause/resume toggles, %llu WM_GLIMDECK (%llu wrong), %llu method "
        "changes, %llu settings dialogs (%llu failed), %llu saves, %llu GLIMSIM restarts, %llu unanswered",
        SecondsSince(start), toggled, setsDone, wrongSets, methods, dialogsDone, dialogsFailed, savesDone,
        restarted, unanswered);
    Say("drive: LED writes in the last minute:%s", counts.c_str());
    if (resets + sleeps > 0)
        Say("drive: %llu driver resets (%llu ms away) and %llu sleeps: every LED written again within %llu ms "
            "after %llu, not after %llu (slowest %llu ms)",
            resetsDone, kOutageMs, sleepsDone, kComeBackMs, cameBack, stayedAway, slowestBack);
    Say("drive: closed in %.1f s: %s; settings file complete: %s; starts again from it and writes: %s",
        closeSeconds, ended ? "yes" : "NO", complete ? "yes" : "NO", loads && endsAgain ? "yes" : "NO");
    bool ok = !died && ended && complete && loads && endsAgain && allWritten && unanswered == 0 && wrongSets == 0 &&
              dialogsFailed == 0 && stayedAway == 0;
    Say("drive verdict: %s", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}

}  // namespace hostile
