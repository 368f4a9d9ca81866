// GLIMDK32.EXE in command-line mode, run as its own process against the
// simulated driver.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/commandline.h"
#include "msgbox.h"
#include "simnvapi.h"
#include "testsupport.h"

using testsupport::ChildProcess;
using testsupport::MessageBoxInfo;
using testsupport::SimMachine;
using testsupport::SimNvapi;

namespace {

const unsigned RUN_TIMEOUT_MS = 30000;
const char USAGE_TEXT[] =
    "Glimmerdeck (" TEST_PLATFORM ")\r\nCOMMAND LINE MODE\r\n\r\nUSAGE : " TEST_PROGRAM " <DISPLAY> <GPU> <ATTRIBUTE> <LUMINANCE>"
    "\r\n\r\nEXAMPLE : " TEST_PROGRAM " 0 0 0 100";

class CommandLineTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(932u, GetACP()) << "texts are compared as code page 932 bytes";
        exe = dir.File(TEST_PROGRAM);
        ASSERT_TRUE(testsupport::CopyTo(testsupport::BinPath(TEST_PROGRAM), exe));
    }
    void TearDown() override {
        for (auto& child : children) {
            testsupport::CloseAllMessageBoxes(child->Pid(), 2000);
            child->Kill();
        }
    }
    ChildProcess& Start(const std::string& args) {
        children.push_back(std::make_unique<ChildProcess>());
        EXPECT_TRUE(children.back()->Start(exe, args, dir.Path()));
        return *children.back();
    }
    // Runs the program to its end, watching that it shows no window meanwhile.
    void RunToEnd(const std::string& args, bool* sawWindow = nullptr) {
        ChildProcess& child = Start(args);
        bool window = false;
        bool ended = testsupport::WaitUntil(
            [&] {
                if (!testsupport::VisibleWindowsOf(child.Pid()).empty()) window = true;
                return !child.Running();
            },
            RUN_TIMEOUT_MS, 5);
        ASSERT_TRUE(ended) << args;
        EXPECT_EQ(0u, child.ExitCode()) << args;
        if (sawWindow) *sawWindow = window;
    }
    // Starts the program and waits for its box; it must still be running.
    MessageBoxInfo RunToBox(const std::string& args) {
        ChildProcess& child = Start(args);
        MessageBoxInfo box;
        EXPECT_TRUE(testsupport::WaitForMessageBox(child.Pid(), RUN_TIMEOUT_MS, &box)) << args;
        return box;
    }
    void CloseAndExpectEnd(const MessageBoxInfo& box) {
        ChildProcess& child = *children.back();
        EXPECT_TRUE(child.Running()) << "the box holds the program";
        ASSERT_TRUE(testsupport::CloseMessageBox(box));
        ASSERT_TRUE(child.Wait(RUN_TIMEOUT_MS));
        EXPECT_EQ(0u, child.ExitCode());
    }
    testsupport::TempDir dir;
    SimNvapi sim;
    std::string exe;
    std::vector<std::unique_ptr<ChildProcess>> children;
};

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// The libraries a program loads from its start to its end, by base name in
// capitals: it runs under this process as its debugger, which hears of each.
std::vector<std::string> LibrariesLoaded(const std::string& exe, const std::string& args, const std::string& cwd) {
    std::vector<std::string> names;
    std::string line = "\"" + exe + "\" " + args;
    STARTUPINFOA si {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi {};
    if (!CreateProcessA(exe.c_str(), &line[0], nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS, nullptr,
                        cwd.c_str(), &si, &pi))
        return names;
    DWORD start = GetTickCount();
    for (bool running = true; running && GetTickCount() - start < RUN_TIMEOUT_MS;) {
        DEBUG_EVENT event;
        if (!WaitForDebugEvent(&event, 500)) continue;
        DWORD answer = DBG_CONTINUE;
        if (event.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT && event.u.LoadDll.hFile) {
            char path[MAX_PATH] = {};
            DWORD n = GetFinalPathNameByHandleA(event.u.LoadDll.hFile, path, MAX_PATH, 0);
            std::string name(path, n < MAX_PATH ? n : 0);
            names.push_back(Upper(name.substr(name.find_last_of("\\/") + 1)));
        }
        if (event.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT && event.u.LoadDll.hFile) CloseHandle(event.u.LoadDll.hFile);
        if (event.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT && event.u.CreateProcessInfo.hFile)
            CloseHandle(event.u.CreateProcessInfo.hFile);
        if (event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT &&
            event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT)
            answer = DBG_EXCEPTION_NOT_HANDLED;
        if (event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT) running = false;
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, answer);
    }
    TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return names;
}

}  // namespace

TEST(CommandLineParse, ArgumentsAndUsageText) {
    char name[] = "GLIMDK32.EXE", a[] = "1", b[] = "2", c[] = "x1", d[] = "-5", e[] = "7";
    char* argv[] = {name, a, b, c, d, e};
    CommandLineRequest r {};
    EXPECT_FALSE(ParseCommandLine(4, argv, &r)) << "program name and three arguments";
    ASSERT_TRUE(ParseCommandLine(6, argv, &r));
    EXPECT_EQ(1u, r.Display);
    EXPECT_EQ(2u, r.GPU);
    EXPECT_EQ(0u, r.Attribute) << "no number";
    EXPECT_EQ(0xFFFFFFFBu, r.Luminance);
    char usage[512];
    FormatUsage(usage, sizeof usage);
    EXPECT_STREQ(USAGE_TEXT, usage);
}

TEST_F(CommandLineTest, SetsTheLogoAndEndsWithoutAWindow) {
    bool sawWindow = true;
    RunToEnd("0 0 0 100", &sawWindow);
    EXPECT_FALSE(sawWindow);
    auto sets = sim.Sets();
    ASSERT_EQ(1u, sets.size());
    EXPECT_EQ(children.back()->Pid(), sets[0].pid);
    EXPECT_EQ(0, sets[0].display);
    EXPECT_EQ(0, sets[0].gpu);
    EXPECT_EQ(0, sets[0].attribute);
    EXPECT_EQ(100, sets[0].value);
    EXPECT_EQ(0, sets[0].status);
}

// Setting one LED needs the driver library and nothing of the window manager,
// the shell or the dialogs: those belong to the resident program, and loading
// them would make up most of this mode's time.
TEST_F(CommandLineTest, LoadsNoWindowLibraries) {
    std::vector<std::string> loaded = LibrariesLoaded(exe, "0 0 0 100", dir.Path());
    EXPECT_NE(loaded.end(), std::find(loaded.begin(), loaded.end(), Upper(TEST_DRIVER))) << "the loads are seen";
    for (const char* library : {"USER32.DLL", "GDI32.DLL", "COMCTL32.DLL", "COMDLG32.DLL", "SHELL32.DLL", "VERSION.DLL"})
        EXPECT_EQ(loaded.end(), std::find(loaded.begin(), loaded.end(), library)) << library;
    ASSERT_EQ(1u, sim.Sets().size());
}

TEST_F(CommandLineTest, ArgumentForms) {
    SimMachine m;
    m.Gpu(0, 1).attributes = {0, 1};
    ASSERT_TRUE(sim.Write(m));
    struct Case {
        const char* args;
        int gpu, attribute, value;
    } cases[] = {
        {"0 0 0 150", 0, 0, 100},      // above 100
        {"0 0 0 -5", 0, 0, 100},       // negative, taken unsigned
        {"0 0 0 bright", 0, 0, 0},     // no number: 0
        {"zero 1 1 30", 1, 1, 30},     // display "zero" is 0
        {"0 1 0 60 99 x", 1, 0, 60},   // the first four only
        {"0 0 0 \"42\"", 0, 0, 42},    // the runtime's parsing removes quotes
    };
    for (const Case& c : cases) {
        sim.ClearLog();
        RunToEnd(c.args);
        auto sets = sim.Sets();
        ASSERT_EQ(1u, sets.size()) << c.args;
        EXPECT_EQ(0, sets[0].display) << c.args;
        EXPECT_EQ(c.gpu, sets[0].gpu) << c.args;
        EXPECT_EQ(c.attribute, sets[0].attribute) << c.args;
        EXPECT_EQ(c.value, sets[0].value) << c.args;
        EXPECT_TRUE(testsupport::FindMessageBoxes(children.back()->Pid()).empty());
    }
}

TEST_F(CommandLineTest, UnsupportedDeviceShowsTheErrorBox) {
    MessageBoxInfo box = RunToBox("0 0 1 50");
    EXPECT_EQ("\x83\x47\x83\x89\x81\x5B\x8F\xEE\x95\xF1", box.title);  // "エラー情報"
    EXPECT_EQ("サポートされていないデバイスです。", box.text);
    EXPECT_EQ(nullptr, box.owner);
    EXPECT_EQ(std::vector<int>{IDOK}, box.buttons);
    EXPECT_TRUE(sim.Sets().empty()) << "no set for an unsupported LED";
    CloseAndExpectEnd(box);
}

TEST_F(CommandLineTest, OtherFailuresShowTheErrorBox) {
    SimMachine m;
    m.status["GPU_SetIllumination"] = -1;  // the driver refuses the set
    ASSERT_TRUE(sim.Write(m));
    MessageBoxInfo box = RunToBox("0 0 0 50");
    EXPECT_EQ("サポートされていないデバイスです。", box.text);
    auto sets = sim.Sets();
    ASSERT_EQ(1u, sets.size());
    EXPECT_EQ(-1, sets[0].status);
    CloseAndExpectEnd(box);

    m.status.clear();
    m.displays.clear();  // no NVIDIA display
    ASSERT_TRUE(sim.Write(m));
    box = RunToBox("0 0 0 50");
    EXPECT_EQ("エラー情報", box.title);
    CloseAndExpectEnd(box);
}

TEST_F(CommandLineTest, TooFewArgumentsShowTheUsageBox) {
    for (const char* args : {"0 0", "0 0 0"}) {
        MessageBoxInfo box = RunToBox(args);
        EXPECT_EQ("確認情報", box.title) << args;
        EXPECT_EQ(USAGE_TEXT, box.text) << args;
            EXPECT_EQ(nullptr, box.owner);
        EXPECT_TRUE(sim.Sets().empty());
        CloseAndExpectEnd(box);
    }
}

TEST_F(CommandLineTest, RunsBesideAResidentInstance) {
    // The resident instance's single-instance lock does not concern this mode.
    HANDLE mutex = CreateMutexA(nullptr, FALSE, "GLIMMERDECK");
    ASSERT_NE(nullptr, mutex);
    RunToEnd("0 0 0 25");
    CloseHandle(mutex);
    auto sets = sim.Sets();
    ASSERT_EQ(1u, sets.size());
    EXPECT_EQ(25, sets[0].value);
}

TEST_F(CommandLineTest, ManyProcessesAtOnceAreAllRecorded) {
    const int count = 6;
    for (int i = 0; i < count; ++i) Start("0 0 0 " + std::to_string(10 + i));
    for (auto& child : children) {
        ASSERT_TRUE(child->Wait(RUN_TIMEOUT_MS));
        EXPECT_EQ(0u, child->ExitCode());
    }
    auto sets = sim.Sets();
    ASSERT_EQ(static_cast<size_t>(count), sets.size());
    std::set<long> values;
    std::set<DWORD> pids;
    for (const auto& s : sets) {
        values.insert(s.value);
        pids.insert(s.pid);
        EXPECT_EQ(0, s.status);
    }
    EXPECT_EQ(static_cast<size_t>(count), values.size());
    EXPECT_EQ(static_cast<size_t>(count), pids.size());
}
