// The real GLIMDK32.EXE, copied into a temporary folder with its settings
// file and driven only through its external interfaces: the window and its
// messages, the mutex, the settings file, message boxes, debugger output, the
// simulated driver and GLIMCTL.EXE.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <tlhelp32.h>

#include <cctype>
#include <string>
#include <vector>

#include "app/about.h"
#include "app/glimmessages.h"
#include "app/traymenu.h"
#include "app/win32ver.h"
#include "appini.h"
#include "debugmonitor.h"
#include "glimsim.h"
#include "engine/setting.h"
#include "msgbox.h"
#include "res/resource.h"
#include "simnvapi.h"
#include "testsupport.h"

namespace {

using apptest::IniDevice;
using apptest::IniGlobal;
using apptest::MakeIni;
using testsupport::ChildProcess;
using testsupport::MessageBoxInfo;
using testsupport::SimSet;

// A copy of the program in a folder of its own.
class Program {
public:
    explicit Program(const std::string& ini, const std::string& name = TEST_PROGRAM) {
        exe_ = dir_.File(name);
        testsupport::CopyTo(testsupport::BinPath(TEST_PROGRAM), exe_);
        testsupport::WriteFile(IniPath(), ini);
    }
    ~Program() {
        for (ChildProcess* p : {&resident_, &other_}) {
            if (!p->Running()) continue;
            HWND w = WindowOf(p->Pid());
            if (w) PostMessageA(w, WM_CLOSE, 0, 0);
            if (!p->Wait(15000)) p->Kill();
        }
    }

    std::string IniPath() const { return dir_.File("GLIMDECK.INI"); }
    std::string Folder() const { return dir_.Path(); }
    const std::string& Exe() const { return exe_; }

    // Starts the resident instance and waits for its window.
    bool Start() {
        if (!resident_.Start(exe_, "", dir_.Path())) return false;
        if (!testsupport::WaitUntil([&] { return (window_ = WindowOf(resident_.Pid())) != nullptr; }, 20000, 50))
            return false;
        // The window is found while its creation still runs, and answers sent
        // messages while that talks to the shell; it refuses to resume until
        // creation has ended. Control then runs already: the probe changes
        // nothing but a balloon.
        return testsupport::WaitUntil([&] { return Send(WM_CONTROL_RESUME) == 1; }, 20000, 50);
    }
    ChildProcess& Resident() { return resident_; }
    ChildProcess& Other() { return other_; }
    HWND Window() const { return window_; }

    LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutA(window_, message, wParam, lParam, SMTO_NORMAL, 30000, &result)) return -1;
        return static_cast<LRESULT>(result);
    }
    void Command(UINT id) { Send(WM_COMMAND, id, 0); }

    static HWND WindowOf(DWORD pid) {
        HWND w = nullptr;
        while ((w = FindWindowExA(nullptr, w, GLIM_CLASS_NAME, GLIM_WINDOW_NAME)) != nullptr) {
            DWORD owner = 0;
            GetWindowThreadProcessId(w, &owner);
            if (owner == pid) return w;
        }
        return nullptr;
    }

private:
    testsupport::TempDir dir_;
    std::string exe_;
    ChildProcess resident_;
    ChildProcess other_;
    HWND window_ = nullptr;
};

// The files of the modules process `pid` has loaded, in capitals.
std::vector<std::string> ModulesOf(DWORD pid) {
    std::vector<std::string> files;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
    if (snapshot == INVALID_HANDLE_VALUE) return files;
    MODULEENTRY32 module;
    module.dwSize = sizeof module;
    for (BOOL more = Module32First(snapshot, &module); more; more = Module32Next(snapshot, &module)) {
        std::string file = module.szExePath;
        for (char& c : file) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        files.push_back(file);
    }
    CloseHandle(snapshot);
    return files;
}

bool MutexExists() {
    HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, GLIM_MUTEX_NAME);
    if (mutex) CloseHandle(mutex);
    return mutex != nullptr;
}

class ResidentProcessTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(sim_.Write(Board())); }

    static testsupport::SimMachine Board() {
        testsupport::SimMachine machine;
        machine.Gpu(0, 0).attributes = {0, 1};
        machine.Gpu(0, 0).sensors = "1:65";
        // Display 3 with three GPUs, the third one with both LEDs and two zones.
        machine.Gpu(3, 2).attributes = {0, 1};
        machine.Gpu(3, 2).zones = "rgb@top:0,0,255 fixed@front";
        return machine;
    }
    // The board with resets or sleeps ("reset = AT:OUTAGE", "sleep = AT").
    bool WriteEvents(const std::string& events) {
        testsupport::SimMachine machine = Board();
        machine.extra = events + "\n";
        return testsupport::WaitUntil([&] { return sim_.Write(machine); }, 5000, 5);
    }
    // The first successful set of the LED by `pid` at or after `since`; 0 none.
    uint64_t FirstSetAfter(DWORD pid, int display, int gpu, long attribute, uint64_t since) {
        for (const SimSet& s : SetsOf(pid, display, gpu, attribute))
            if (s.ms >= since && s.status == 0) return s.ms;
        return 0;
    }

    std::vector<SimSet> SetsOf(DWORD pid, int display, int gpu, long attribute) {
        std::vector<SimSet> out;
        for (const SimSet& s : sim_.SetsOf(pid))
            if (s.display == display && s.gpu == gpu && s.attribute == attribute) out.push_back(s);
        return out;
    }
    bool WaitForSet(DWORD pid, int display, int gpu, long attribute, long value, unsigned timeoutMs = 8000) {
        return testsupport::WaitUntil(
            [&] {
                for (const SimSet& s : SetsOf(pid, display, gpu, attribute))
                    if (s.value == value && s.status == 0) return true;
                return false;
            },
            timeoutMs, 50);
    }
    // The brightness of `zone` in each zone write of process `pid`.
    std::vector<std::string> ZoneValuesOf(DWORD pid, int zone) {
        std::vector<std::string> out;
        for (const testsupport::SimZoneWrite& w : sim_.ZoneWrites())
            if (w.pid == pid && w.zone == zone && w.status == 0) out.push_back(w.Field("pct"));
        return out;
    }
    bool WaitForZone(DWORD pid, int zone, const std::string& value, unsigned timeoutMs = 8000) {
        return testsupport::WaitUntil(
            [&] {
                for (const std::string& v : ZoneValuesOf(pid, zone))
                    if (v == value) return true;
                return false;
            },
            timeoutMs, 50);
    }
    bool StaysDark(DWORD pid) {
        sim_.ClearLog();
        Sleep(2500);
        return sim_.SetsOf(pid).empty();
    }

    testsupport::SimNvapi sim_;
};

std::string FixedAndTemperature() {
    return MakeIni({{0, 1, 0, 0, 0, PLAY_FIXED, 40},
                    {1, 1, 0, 0, 1, PLAY_TEMPERATURE, 100},
                    {2, 0, 0, 0, 0, PLAY_FIXED, 90}});
}

TEST_F(ResidentProcessTest, ResidentStartSecondStartAndCommandLineBesideIt) {
    // Zones from the file: zone 1 of (3,2) at 55 %, and a zone of a board
    // that has none, which is never written.
    Program program(MakeIni({{0, 1, 0, 0, 0, PLAY_FIXED, 40},
                             {1, 1, 0, 0, 1, PLAY_TEMPERATURE, 100},
                             {2, 0, 0, 0, 0, PLAY_FIXED, 90},
                             {3, 1, 3, 2, 3, PLAY_FIXED, 55},
                             {4, 1, 0, 0, 2, PLAY_FIXED, 66}}));
    ASSERT_TRUE(program.Start());
    DWORD pid = program.Resident().Pid();
    EXPECT_TRUE(WaitForZone(pid, 1, "55"));

    char text[64] = {};
    GetClassNameA(program.Window(), text, sizeof text);
    EXPECT_STREQ(text, "GLIMMERDECK_CLASS");
    GetWindowTextA(program.Window(), text, sizeof text);
    EXPECT_STREQ(text, "GLIMMERDECK_WINDOW");
    EXPECT_FALSE(IsWindowVisible(program.Window()));
    EXPECT_TRUE(MutexExists());
    EXPECT_TRUE(WaitForSet(pid, 0, 0, 0, 40));
    EXPECT_TRUE(WaitForSet(pid, 0, 0, 1, 65));
    for (const SimSet& s : sim_.SetsOf(pid)) EXPECT_NE(s.value, 90) << "disabled device written";

    // A second resident start refuses and ends; the first keeps running.
    ChildProcess& second = program.Other();
    ASSERT_TRUE(second.Start(program.Exe(), "", ""));
    MessageBoxInfo box;
    ASSERT_TRUE(testsupport::WaitForMessageBox(second.Pid(), 15000, &box));
    EXPECT_EQ(box.title, "確認情報");
    EXPECT_EQ(box.text, "既に起動しています。");
    EXPECT_EQ(box.owner, nullptr);
    EXPECT_EQ(Program::WindowOf(second.Pid()), nullptr);
    EXPECT_TRUE(testsupport::CloseMessageBox(box));
    ASSERT_TRUE(second.Wait(15000));
    EXPECT_EQ(second.ExitCode(), 0u);
    EXPECT_TRUE(program.Resident().Running());
    sim_.ClearLog();
    EXPECT_TRUE(WaitForSet(pid, 0, 0, 0, 40)) << "the first instance still drives its LEDs";

    // The command-line mode is not held back by the mutex.
    ChildProcess once;
    ASSERT_TRUE(once.Start(program.Exe(), "0 0 1 77", ""));
    ASSERT_TRUE(once.Wait(15000));
    EXPECT_EQ(once.ExitCode(), 0u);
    EXPECT_TRUE(WaitForSet(once.Pid(), 0, 0, 1, 77, 1000));
    ChildProcess zone;
    ASSERT_TRUE(zone.Start(program.Exe(), "3 2 2 80", ""));
    ASSERT_TRUE(zone.Wait(15000));
    EXPECT_EQ(ZoneValuesOf(zone.Pid(), 0), std::vector<std::string>{"80"}) << "zone 0 of display 3, GPU 2";
    EXPECT_TRUE(WaitForZone(pid, 0, "80", 3000)) << "the resident program's next write finds it on the board";
    EXPECT_TRUE(program.Resident().Running());
    for (const testsupport::SimZoneWrite& w : sim_.ZoneWrites())
        EXPECT_FALSE(w.display == 0 && w.gpu == 0) << "(0,0,2): a board without zones";
}

TEST_F(ResidentProcessTest, ExternalSetUnpacksTheSelectorAndReportsTheResult) {
    testsupport::DebugMonitor monitor;
    ASSERT_TRUE(monitor.Ok());
    Program program(MakeIni({}));  // no device of its own: only the external sets write
    ASSERT_TRUE(program.Start());
    DWORD pid = program.Resident().Pid();

    EXPECT_EQ(program.Send(WM_GLIMDECK, 50, 0x10203), 1);
    EXPECT_TRUE(WaitForSet(pid, 3, 2, 1, 50, 1000)) << "display 3, GPU 2, SLI bridge";
    EXPECT_TRUE(monitor.WaitForLine("WM_GLIMDECK DSP=3 GPU=2 ATR=1 LUM=50 : 1\n", 3000, pid));

    EXPECT_EQ(program.Send(WM_GLIMDECK, 20, 0xF3), 1);
    EXPECT_TRUE(WaitForSet(pid, 3, 0, 0, 20, 1000)) << "bits 4..7 ignored";
    EXPECT_EQ(program.Send(WM_GLIMDECK, 30, static_cast<LPARAM>(0xA50002F3u)), 1);
    EXPECT_TRUE(WaitForSet(pid, 3, 2, 0, 30, 1000)) << "bits 24..31 ignored";

    EXPECT_EQ(program.Send(WM_GLIMDECK, 150, 0x10203), 1);
    EXPECT_TRUE(WaitForSet(pid, 3, 2, 1, 100, 1000));
    EXPECT_TRUE(monitor.WaitForLine("WM_GLIMDECK DSP=3 GPU=2 ATR=1 LUM=150 : 1\n", 3000, pid));
    sim_.ClearLog();
    EXPECT_EQ(program.Send(WM_GLIMDECK, static_cast<WPARAM>(-5), 0x10203), 1);
    EXPECT_TRUE(WaitForSet(pid, 3, 2, 1, 100, 1000)) << "a negative brightness sets 100";

    EXPECT_EQ(program.Send(WM_GLIMDECK, 35, 0x30203), 1);
    EXPECT_EQ(ZoneValuesOf(pid, 1), std::vector<std::string>{"35"}) << "zone 1 of display 3, GPU 2";
    EXPECT_TRUE(monitor.WaitForLine("WM_GLIMDECK DSP=3 GPU=2 ATR=3 LUM=35 : 1\n", 3000, pid));

    // Display 3, GPU 1 has no SLI bridge and no zones; display 5 does not exist.
    sim_.ClearLog();
    EXPECT_EQ(program.Send(WM_GLIMDECK, 60, 0x20103), 0);
    EXPECT_EQ(program.Send(WM_GLIMDECK, 60, 0x10103), 0);
    EXPECT_TRUE(monitor.WaitForLine("WM_GLIMDECK DSP=3 GPU=1 ATR=1 LUM=60 : 0\n", 3000, pid));
    EXPECT_EQ(program.Send(WM_GLIMDECK, 60, 0x5), 0);
    EXPECT_TRUE(sim_.SetsOf(pid).empty()) << "nothing set for a missing LED";
    EXPECT_TRUE(program.Resident().Running());
}

TEST_F(ResidentProcessTest, SaveWritesTheChangedMethodToTheFile) {
    // Renamed so that its own path holds 0x5C as the second byte of "表":
    // the settings file is still the one beside it.
    Program program(FixedAndTemperature(), "表示.EXE");
    ASSERT_TRUE(program.Start());
    EXPECT_TRUE(WaitForSet(program.Resident().Pid(), 0, 0, 0, 40)) << "the settings file was read";
    program.Command(PlayTypeCommand(0, PLAY_FAN));
    program.Command(IDM_SAVE);
    std::string text = testsupport::ReadFile(program.IniPath());
    size_t device0 = text.find("[DEVICE0]");
    size_t device1 = text.find("[DEVICE1]");
    ASSERT_NE(device0, std::string::npos);
    ASSERT_NE(device1, std::string::npos);
    std::string section = text.substr(device0, device1 - device0);
    EXPECT_NE(section.find("PlayType=4"), std::string::npos) << section;
    EXPECT_NE(section.find("Luminance=40"), std::string::npos) << section;
    EXPECT_NE(text.find("[DEVICE7]"), std::string::npos) << "all eight devices are saved";
    EXPECT_NE(text.find("Timer=1000"), std::string::npos);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((program.Folder() + "\\*.INI").c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    std::vector<std::string> files;
    do {
        files.push_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    EXPECT_EQ(files, std::vector<std::string>{"GLIMDECK.INI"});
}

TEST_F(ResidentProcessTest, AStopLetsASlowDriverCallFinishRatherThanEndTheThreadInIt) {
    Program program(MakeIni({{0, 1, 0, 0, 0, PLAY_FIXED, 40}}));
    ASSERT_TRUE(program.Start());
    DWORD pid = program.Resident().Pid();
    ASSERT_TRUE(WaitForSet(pid, 0, 0, 0, 40));
    // From now on a write takes 7 s, longer than the stop's own wait; the
    // driver holds its lock meanwhile, as the simulated one does.
    testsupport::SimMachine machine;
    machine.Gpu(0, 0).attributes = {0, 1};
    machine.extra = "delay.GPU_SetIllumination = 7000\n";
    ASSERT_TRUE(testsupport::WaitUntil([&] { return sim_.Write(machine); }, 5000, 5));
    Sleep(1500);
    PostMessageA(program.Window(), WM_COMMAND, PlayTypeCommand(0, PLAY_FAN), 0);
    Sleep(500);
    machine.extra.clear();
    ASSERT_TRUE(testsupport::WaitUntil([&] { return sim_.Write(machine); }, 5000, 5));
    // A thread ended inside the driver would leave that lock taken: the
    // restart, and with it the window, would wait for ever.
    EXPECT_NE(program.Send(WM_NULL), -1) << "the program hangs after the stop";
    EXPECT_EQ(program.Send(WM_GLIMDECK, 60, static_cast<LPARAM>(PackSelector(0, 0, 1))), 1);
}

TEST_F(ResidentProcessTest, AStalledDriverHoldsTheExitForOneBoundNotOnePerLed) {
    Program program(MakeIni({{0, 1, 0, 0, 0, PLAY_FIXED, 40},
                             {1, 1, 0, 0, 1, PLAY_FIXED, 50},
                             {2, 1, 3, 2, 0, PLAY_FIXED, 60}}));
    ASSERT_TRUE(program.Start());
    ASSERT_TRUE(WaitForSet(program.Resident().Pid(), 3, 2, 0, 60));
    // A write stalls for longer than a stop waits for it, inside the driver's
    // lock: the thread ended there leaves the other two queued for good.
    testsupport::SimMachine machine;
    machine.Gpu(0, 0).attributes = {0, 1};
    machine.Gpu(3, 2).attributes = {0, 1};
    machine.extra = "delay.GPU_SetIllumination = 120000\n";
    ASSERT_TRUE(testsupport::WaitUntil([&] { return sim_.Write(machine); }, 5000, 5));
    Sleep(1500);
    HWND window = program.Window();
    ULONGLONG t0 = GetTickCount64();
    PostMessageA(window, WM_COMMAND, IDM_EXIT, 0);
    EXPECT_TRUE(testsupport::WaitUntil([&] { return !IsWindow(window); }, 45000, 100));
    EXPECT_LT(GetTickCount64() - t0, 40000u) << "each LED waited for on its own";
    program.Resident().Kill();
}

TEST_F(ResidentProcessTest, AllOnAndAllOffWhilePausedReachOnlyEnabledDevices) {
    Program program(FixedAndTemperature());
    ASSERT_TRUE(program.Start());
    DWORD pid = program.Resident().Pid();
    ASSERT_TRUE(WaitForSet(pid, 0, 0, 0, 40));
    program.Command(IDM_SUSPEND);
    sim_.ClearLog();

    program.Command(IDM_ALL_ON);
    std::vector<SimSet> sets = sim_.SetsOf(pid);
    ASSERT_EQ(sets.size(), 2u);
    EXPECT_EQ(sets[0].attribute, 0);
    EXPECT_EQ(sets[1].attribute, 1);
    for (const SimSet& s : sets) EXPECT_EQ(s.value, 100);

    sim_.ClearLog();
    program.Command(IDM_ALL_OFF);
    sets = sim_.SetsOf(pid);
    ASSERT_EQ(sets.size(), 2u);
    for (const SimSet& s : sets) EXPECT_EQ(s.value, 0);
    EXPECT_TRUE(StaysDark(pid)) << "control stays paused";
}

TEST_F(ResidentProcessTest, PauseAndResumeByMessageMenuAndGlimctl) {
    Program program(FixedAndTemperature());
    ASSERT_TRUE(program.Start());
    DWORD pid = program.Resident().Pid();
    ASSERT_TRUE(WaitForSet(pid, 0, 0, 0, 40));

    EXPECT_EQ(program.Send(WM_CONTROL_SUSPEND), 1);
    EXPECT_TRUE(StaysDark(pid));
    EXPECT_EQ(program.Send(WM_CONTROL_RESUME), 1);
    EXPECT_TRUE(WaitForSet(pid, 0, 0, 1, 65));

    program.Command(IDM_SUSPEND);
    EXPECT_TRUE(StaysDark(pid));
    program.Command(IDM_RESUME);
    EXPECT_TRUE(WaitForSet(pid, 0, 0, 0, 40));

    auto glimctl = [&](const std::string& args, std::string* out = nullptr) -> DWORD {
        ChildProcess ctl;
        if (!ctl.Start(testsupport::BinPath("GLIMCTL.EXE"), args, "", true)) return 99;
        if (!ctl.Wait(30000)) return 98;
        if (out) *out = ctl.Output();
        return ctl.ExitCode();
    };
    std::string out;
    EXPECT_EQ(glimctl("status", &out), 0u);
    EXPECT_NE(out.find("process " + std::to_string(pid)), std::string::npos) << out;
    EXPECT_EQ(glimctl("pause"), 0u);
    EXPECT_TRUE(StaysDark(pid));
    EXPECT_EQ(glimctl("set 3 2 1 55"), 0u);
    EXPECT_TRUE(WaitForSet(pid, 3, 2, 1, 55, 1000));
    EXPECT_EQ(glimctl("set 3 1 1 55"), 1u) << "refused: no such LED";
    EXPECT_EQ(glimctl("set 3 2 2 45"), 0u);
    EXPECT_TRUE(WaitForZone(pid, 0, "45", 1000));
    EXPECT_EQ(glimctl("set 3 2 4 45"), 1u) << "refused: no third zone";
    EXPECT_EQ(glimctl("resume"), 0u);
    EXPECT_TRUE(WaitForSet(pid, 0, 0, 0, 40));
    for (const char* bad : {"", "set 0 0 0", "set 16 0 0 50", "set 0 0 0 101", "set 0 0 0 -1", "set x 0 0 1",
                            "pause now", "explode"})
        EXPECT_EQ(glimctl(bad), 3u) << "'" << bad << "'";
}

TEST_F(ResidentProcessTest, VersionBoxTextNoSecondBoxAndExitWhileItShows) {
    Program program(FixedAndTemperature());
    // The box needs VERSION.dll, no KnownDLL, loaded by name: one planted
    // beside the program is never used, whoever asks for it.
    ASSERT_TRUE(testsupport::CopyTo(testsupport::BinPath(TEST_DRIVER), program.Folder() + "\\VERSION.dll"));
    ASSERT_TRUE(program.Start());
    DWORD pid = program.Resident().Pid();
    PostMessageA(program.Window(), WM_COMMAND, IDM_VERSION, 0);
    MessageBoxInfo box;
    ASSERT_TRUE(testsupport::WaitForMessageBox(pid, 15000, &box));
    std::string folder = program.Folder() + "\\";
    for (char& c : folder) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::vector<std::string> modules = ModulesOf(pid);
    ASSERT_FALSE(modules.empty());
    for (const std::string& module : modules) {
        if (module.compare(0, folder.size(), folder) != 0) continue;
        EXPECT_EQ(module.substr(folder.size()), TEST_PROGRAM) << "loaded from the program's folder";
    }
    EXPECT_EQ(box.title, "バージョン情報");
    EXPECT_EQ(box.owner, program.Window());
    WIN32VER version;
    ASSERT_EQ(version.Open(program.Exe().c_str()), 1);
    std::string expected = std::string("Glimmerdeck (" TEST_PLATFORM ")\r\nVersion 1.03\r\n\r\n") +
                           version.Query("LegalCopyright") + "\r\n\r\n" + ABOUT_CREDIT_LINE;
    EXPECT_EQ(box.text, expected) << "the whole text, none of it cut";

    PostMessageA(program.Window(), WM_COMMAND, IDM_VERSION, 0);
    Sleep(1000);
    EXPECT_EQ(testsupport::FindMessageBoxes(pid).size(), 1u) << "no second box";

    // "プログラムの終了" while the box shows ends the program cleanly.
    PostMessageA(program.Window(), WM_COMMAND, IDM_EXIT, 0);
    ASSERT_TRUE(program.Resident().Wait(10000));
    EXPECT_EQ(program.Resident().ExitCode(), 0u);
    EXPECT_FALSE(MutexExists());
}

TEST_F(ResidentProcessTest, ExitEndsTheProcessAndANewStartWorks) {
    {
        Program program(FixedAndTemperature());
        ASSERT_TRUE(program.Start());
        ASSERT_TRUE(MutexExists());
        PostMessageA(program.Window(), WM_COMMAND, IDM_EXIT, 0);
        ASSERT_TRUE(program.Resident().Wait(20000));
        EXPECT_EQ(program.Resident().ExitCode(), 0u);
        EXPECT_FALSE(MutexExists());
    }
    Program again(FixedAndTemperature());
    ASSERT_TRUE(again.Start());
    EXPECT_TRUE(WaitForSet(again.Resident().Pid(), 0, 0, 0, 40));
}

// The machine's life around the program: the system's messages, sent as the
// system sends them, and the simulated driver's resets and sleeps.

// A console display state change as RegisterPowerSettingNotification
// delivers it: the record lives in the receiver's memory.
LRESULT SendDisplayState(Program& program, DWORD state) {
    POWERBROADCAST_SETTING setting {};
    setting.PowerSetting = {0x6FE69556, 0x704A, 0x47A0, {0x8F, 0x24, 0xC2, 0x8D, 0x93, 0x6F, 0xDA, 0x47}};
    setting.DataLength = sizeof(DWORD);
    HANDLE process = program.Resident().Handle();
    void* remote = VirtualAllocEx(process, nullptr, sizeof setting + sizeof state, MEM_COMMIT, PAGE_READWRITE);
    if (!remote) return -1;
    SIZE_T written = 0;
    WriteProcessMemory(process, remote, &setting, sizeof setting, &written);
    WriteProcessMemory(process, static_cast<char*>(remote) + offsetof(POWERBROADCAST_SETTING, Data), &state,
                       sizeof state, &written);
    LRESULT result = program.Send(WM_POWERBROADCAST, PBT_POWERSETTINGCHANGE, reinterpret_cast<LPARAM>(remote));
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    return result;
}

TEST_F(ResidentProcessTest, AwayOffDarkensEveryLedWhileAwayAndBringsBackWhatItShowed) {
    struct Row {
        const char* what;
        int awayOff;        // -1: no key
        bool display;       // away by the display, not by the lock
        bool pausedBefore;
    };
    const Row rows[] = {
        {"lock", 1, false, false},
        {"display off", 1, true, false},
        {"lock while paused", 1, false, true},
        {"lock without AwayOff", -1, false, false},
    };
    uint64_t slowestDark = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        IniGlobal global;
        global.AwayOff = row.awayOff;
        Program program(MakeIni({{0, 1, 0, 0, 0, PLAY_FIXED, 40}, {1, 1, 0, 0, 1, PLAY_TEMPERATURE, 100}}, global));
        ASSERT_TRUE(program.Start());
        DWORD pid = program.Resident().Pid();
        ASSERT_TRUE(WaitForSet(pid, 0, 0, 0, 40));
        ASSERT_TRUE(WaitForSet(pid, 0, 0, 1, 65));
        if (row.pausedBefore) program.Command(IDM_SUSPEND);
        auto away = [&](bool on) {
            if (row.display) {
                EXPECT_EQ(SendDisplayState(program, on ? 0 : 1), TRUE);
            } else {
                program.Send(WM_WTSSESSION_CHANGE, on ? WTS_SESSION_LOCK : WTS_SESSION_UNLOCK, 1);
            }
        };
        sim_.ClearLog();
        uint64_t lockedAt = GetTickCount64();
        away(true);
        if (row.awayOff != 1) {
            EXPECT_TRUE(WaitForSet(pid, 0, 0, 0, 40, 3000)) << "control goes on";
            for (const SimSet& s : sim_.SetsOf(pid)) EXPECT_NE(s.value, 0);
            continue;
        }
        for (long attribute : {0L, 1L}) {
            ASSERT_TRUE(WaitForSet(pid, 0, 0, attribute, 0, 1000)) << "dark within a second";
            slowestDark = std::max(slowestDark, FirstSetAfter(pid, 0, 0, attribute, lockedAt) - lockedAt);
        }
        EXPECT_TRUE(StaysDark(pid)) << "control holds while away";
        away(false);
        EXPECT_TRUE(WaitForSet(pid, 0, 0, 0, 40, 1500));
        EXPECT_TRUE(WaitForSet(pid, 0, 0, 1, 65, 1500));
        if (row.pausedBefore) {
            EXPECT_TRUE(StaysDark(pid)) << "still paused";
        }
    }
    std::printf("[ figures  ] lock to dark: at most %llu ms\n", static_cast<unsigned long long>(slowestDark));
}

TEST_F(ResidentProcessTest, AResumeWritesEveryLedAtOnceAndSendsTheZoneProgramAgain) {
    IniGlobal global;
    global.Timer = 10000;
    // Zone 0 of (3,2) plays a two-step pattern in hardware: 30 % and 60 %.
    Program program(MakeIni({{0, 1, 0, 0, 0, PLAY_FIXED, 40}, {1, 1, 3, 2, 2, PLAY_PATTERN, 0}}, global));
    testsupport::WriteFile(program.Folder() + "\\GLIMDECK.GLP", "30,400\n60,400\n");
    uint64_t sleepAt = GetTickCount64() + 60000;  // moved up once the program runs
    ASSERT_TRUE(program.Start());
    DWORD pid = program.Resident().Pid();
    ASSERT_TRUE(WaitForSet(pid, 0, 0, 0, 40));
    ASSERT_TRUE(WaitForZone(pid, 0, "30/60"));

    uint64_t suspendedAt = GetTickCount64();
    EXPECT_EQ(program.Send(WM_POWERBROADCAST, PBT_APMSUSPEND), TRUE);
    sleepAt = GetTickCount64() + 300;
    ASSERT_TRUE(WriteEvents("sleep = " + std::to_string(sleepAt)));
    Sleep(1500);
    uint64_t resumedAt = GetTickCount64();
    EXPECT_EQ(program.Send(WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC), TRUE);
    EXPECT_EQ(program.Send(WM_POWERBROADCAST, PBT_APMRESUMESUSPEND), TRUE);
    uint64_t firstWrite = 0;
    ASSERT_TRUE(testsupport::WaitUntil([&] { return (firstWrite = FirstSetAfter(pid, 0, 0, 0, resumedAt)) != 0; },
                                       1000, 20))
        << "written again at once, not in 10 s";
    Sleep(2500);
    size_t writes = 0;
    for (const SimSet& s : SetsOf(pid, 0, 0, 0)) {
        EXPECT_FALSE(s.ms > suspendedAt && s.ms < resumedAt) << "written while asleep";
        if (s.ms >= resumedAt) ++writes;
    }
    EXPECT_EQ(writes, 1u) << "the second resume event changes nothing";

    // The zone log: the sleep took the program away, the resume sent it again.
    std::vector<testsupport::SimZoneWrite> zoneLog = sim_.ZoneWrites();
    EXPECT_EQ(testsupport::ZoneShownAt(zoneLog, 3, 2, 0, sleepAt + 100), "100") << "the board's default";
    std::string now = testsupport::ZoneShownAt(zoneLog, 3, 2, 0, GetTickCount64());
    EXPECT_TRUE(now == "30" || now == "60") << now;
    std::printf("[ figures  ] resume to first write: %llu ms\n",
                static_cast<unsigned long long>(firstWrite - resumedAt));
}

TEST_F(ResidentProcessTest, AfterADriverResetEveryLedWritesAgainWithBoundedRebinding) {
    Program program(FixedAndTemperature());
    ASSERT_TRUE(program.Start());
    DWORD pid = program.Resident().Pid();
    ASSERT_TRUE(WaitForSet(pid, 0, 0, 1, 65));
    // A 10 s outage, then new handles; Timer is 1000.
    uint64_t resetAt = GetTickCount64() + 500;
    const uint64_t outageMs = 10000;
    ASSERT_TRUE(WriteEvents("reset = " + std::to_string(resetAt) + ":" + std::to_string(outageMs)));
    while (GetTickCount64() < resetAt) Sleep(20);
    sim_.ClearLog();
    while (GetTickCount64() < resetAt + outageMs) Sleep(20);
    size_t initializations = sim_.CountTrace("call Initialize");
    for (const SimSet& s : sim_.SetsOf(pid)) EXPECT_NE(s.status, 0) << "a write in the outage";
    // Two LEDs, one attempt a period each, over 10 periods (and one at each end).
    EXPECT_GE(initializations, 2u);
    EXPECT_LE(initializations, 2u * 12u);
    uint64_t endedAt = resetAt + outageMs;
    EXPECT_TRUE(WaitForSet(pid, 0, 0, 0, 40, 2000)) << "within two periods";
    EXPECT_TRUE(WaitForSet(pid, 0, 0, 1, 65, 2000));
    uint64_t recovered = std::max(FirstSetAfter(pid, 0, 0, 0, endedAt), FirstSetAfter(pid, 0, 0, 1, endedAt));
    std::printf("[ figures  ] reset end to first write: %llu ms; initialisations in a 10 s outage: %zu\n",
                static_cast<unsigned long long>(recovered - endedAt), initializations);
    PostMessageA(program.Window(), WM_COMMAND, IDM_EXIT, 0);
    ASSERT_TRUE(program.Resident().Wait(20000));

    // A program that wrote nothing meanwhile hears of the reset at its next
    // one-shot write, and initialises the driver again for it.
    Program idle(MakeIni({}));
    ASSERT_TRUE(idle.Start());
    EXPECT_EQ(idle.Send(WM_GLIMDECK, 50, PackSelector(0, 0, 1)), 1);
    uint64_t againAt = GetTickCount64() + 300;
    ASSERT_TRUE(WriteEvents("reset = " + std::to_string(resetAt) + ":" + std::to_string(outageMs) + " " +
                            std::to_string(againAt) + ":500"));
    while (GetTickCount64() < againAt + 700) Sleep(20);
    EXPECT_EQ(idle.Send(WM_GLIMDECK, 55, PackSelector(0, 0, 1)), 1);
    EXPECT_TRUE(WaitForSet(idle.Resident().Pid(), 0, 0, 1, 55, 1000));
}

}  // namespace

namespace {

std::string DebugDevices() {
    IniGlobal global;
    global.Debug = 1;
    return MakeIni({{0, 1, 0, 0, 0, PLAY_FIXED, 40}, {1, 1, 0, 0, 1, PLAY_FIXED, 70}}, global);
}

TEST_F(ResidentProcessTest, DebugModeDrivesTheSimulatedDevice) {
    testsupport::Glimsim device;
    ASSERT_TRUE(device.Start("--port 30000"));
    Program program(DebugDevices());
    ASSERT_TRUE(program.Start());
    DWORD pid = program.Resident().Pid();

    auto notified = [&](long attribute, long value) {
        for (const testsupport::GlimsimDatagram& d : device.Datagrams())
            if (d.what == "notify" && d.display == 0 && d.gpu == 0 && d.attribute == attribute &&
                d.luminance == value && d.status == 1)
                return true;
        return false;
    };
    EXPECT_TRUE(testsupport::WaitUntil([&] { return notified(0, 40) && notified(1, 70); }, 10000, 50));
    size_t before = device.Datagrams().size();
    EXPECT_TRUE(device.WaitForDatagrams(before + 2, 5000)) << "notifications go on every period";
    EXPECT_TRUE(StaysDark(pid)) << "the driver is not written in debug-device mode";

    PostMessageA(program.Window(), WM_COMMAND, IDM_EXIT, 0);
    ASSERT_TRUE(program.Resident().Wait(20000));
    EXPECT_EQ(program.Resident().ExitCode(), 0u);
}

TEST_F(ResidentProcessTest, DebugModeWithoutTheDeviceStaysQuiet) {
    Program program(DebugDevices());
    ASSERT_TRUE(program.Start());
    DWORD pid = program.Resident().Pid();
    Sleep(2000);
    EXPECT_TRUE(testsupport::FindMessageBoxes(pid).empty()) << "no message of any kind";
    EXPECT_TRUE(program.Resident().Running());
    EXPECT_TRUE(sim_.SetsOf(pid).empty()) << "devices the debug device did not confirm are not driven";
    EXPECT_EQ(program.Send(WM_CONTROL_SUSPEND), 1) << "the window still serves its messages";
    EXPECT_EQ(program.Send(WM_CONTROL_RESUME), 1);

    PostMessageA(program.Window(), WM_COMMAND, IDM_EXIT, 0);
    ASSERT_TRUE(program.Resident().Wait(20000));
    EXPECT_EQ(program.Resident().ExitCode(), 0u);
}

}  // namespace
