#include <gtest/gtest.h>

#include <thread>

#include "clientfixture.h"
#include "dialogdriver.h"
#include "glimsim.h"
#include "testsupport.h"

using testsupport::ChildProcess;
using testsupport::Glimsim;
using testsupport::WaitUntil;

namespace {

// Brings a client up against a device started with `args`.
class DeviceModeTest : public ClientTest {
protected:
    void StartDevice(const std::string& args) {
        ASSERT_TRUE(sim.Start(args)) << args;
        ASSERT_EQ(0, client.Open(sim.Port()));
    }
    testsupport::GlimsimDatagram Last() {
        auto all = sim.Datagrams();
        return all.empty() ? testsupport::GlimsimDatagram() : all.back();
    }
    Glimsim sim;
};

// A loopback port that was free a moment ago.
unsigned short FreePort() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    unsigned short port = 0;
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    closesocket(s);
    WSACleanup();
    return port;
}

struct WindowSearch {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK MatchDeviceWindow(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<WindowSearch*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    if (owner == search->pid && lstrcmpA(name, "GLIMSIM_WINDOW") == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// The top-level window of process `pid` with the device's class.
HWND DeviceWindow(DWORD pid) {
    WindowSearch search = {pid, nullptr};
    EnumWindows(MatchDeviceWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}  // namespace

TEST_F(DeviceModeTest, HealthyDeviceHasItsLedsAndKeepsTheBrightness) {
    StartDevice("--leds 2,1,0;0,3,1");
    EXPECT_EQ(1, client.Query(2, 1, 0));
    EXPECT_EQ(1, client.Query(0, 3, 1));
    EXPECT_EQ(0, client.Query(0, 0, 0));
    EXPECT_EQ(1, client.Notify(0, 3, 1, 42));
    EXPECT_EQ(0, client.Notify(0, 0, 0, 42)) << "no such LED";
    ASSERT_TRUE(sim.WaitForDatagrams(5, 5000));
    auto d = sim.Datagrams();
    EXPECT_EQ("query", d[0].what);
    EXPECT_EQ(2, d[0].display);
    EXPECT_EQ(1, d[0].gpu);
    EXPECT_EQ(3, d[0].status);
    EXPECT_EQ("notify", d[3].what);
    EXPECT_EQ(42, d[3].luminance);
    EXPECT_EQ(1, d[3].status);
    EXPECT_EQ(24, d[3].reply);
    EXPECT_EQ(sim.Port(), d[3].toPort);
}

TEST_F(DeviceModeTest, RefusingQueries) {
    StartDevice("--refuse-query");
    EXPECT_EQ(0, client.Query(0, 0, 0));
    EXPECT_EQ(1, client.Notify(0, 0, 0, 10));
    ASSERT_TRUE(sim.WaitForDatagrams(2, 5000));
    EXPECT_EQ(0, sim.Datagrams()[0].status);
}

TEST_F(DeviceModeTest, RefusingEveryNotification) {
    StartDevice("--refuse-notify");
    EXPECT_EQ(1, client.Query(0, 0, 1));
    EXPECT_EQ(0, client.Notify(0, 0, 1, 10));
}

TEST_F(DeviceModeTest, RefusingNotificationsAfterN) {
    StartDevice("--refuse-notify-after 3");
    for (int n = 0; n < 3; ++n) EXPECT_EQ(1, client.Notify(0, 0, n % 2, n)) << n;
    EXPECT_EQ(0, client.Notify(0, 0, 0, 3));
    EXPECT_EQ(0, client.Notify(0, 0, 1, 4));
    EXPECT_EQ(1, client.Query(0, 0, 0)) << "queries are still answered";
}

TEST_F(DeviceModeTest, NeverAnsweringDeviceReleasesEveryCallerInTime) {
    StartDevice("--no-answer");
    int results[2] = {-1, -1};
    LARGE_INTEGER start = Now();
    std::thread other([&] { results[1] = client.Notify(0, 0, 1, 50); });
    results[0] = client.Query(0, 0, 0);
    other.join();
    double waited = MsSince(start);
    EXPECT_EQ(0, results[0]);
    EXPECT_EQ(0, results[1]);
    // One after the other, each bounded by the receive time-out.
    EXPECT_GE(waited, 2 * GLP_RECEIVE_TIMEOUT_MS - 100.0);
    EXPECT_LT(waited, 2 * GLP_RECEIVE_TIMEOUT_MS + 3000.0);
    ASSERT_TRUE(sim.WaitForDatagrams(2, 5000));
    for (const auto& d : sim.Datagrams()) {
        EXPECT_EQ(-1, d.status);
        EXPECT_EQ(0, d.reply);
    }
}

TEST_F(DeviceModeTest, RepliesOfTheWrongLengthAreRefused) {
    for (int size : {23, 25}) {
        StartDevice("--reply-size " + std::to_string(size));
        EXPECT_EQ(0, client.Query(0, 0, 0)) << size;
        EXPECT_EQ(0, client.Notify(0, 0, 0, 10)) << size;
        ASSERT_TRUE(sim.WaitForDatagrams(2, 5000));
        EXPECT_EQ(size, Last().reply);
        EXPECT_EQ(1, Last().status) << "refused by its length alone";
    }
}

TEST_F(DeviceModeTest, AnsweringFromAnotherPortMovesTheClient) {
    unsigned short replyPort = FreePort();
    ASSERT_NE(0, replyPort);
    StartDevice("--reply-port " + std::to_string(replyPort));
    ASSERT_EQ(replyPort, sim.ReplyPort());
    EXPECT_EQ(1, client.Query(0, 0, 0));
    EXPECT_EQ(replyPort, client.PeerPort());
    EXPECT_EQ(1, client.Notify(0, 0, 0, 60));
    ASSERT_TRUE(sim.WaitForDatagrams(2, 5000));
    auto d = sim.Datagrams();
    EXPECT_EQ(sim.Port(), d[0].toPort);
    EXPECT_EQ(replyPort, d[1].toPort);
}

TEST_F(DeviceModeTest, DelayedAnswersStillCount) {
    StartDevice("--delay 150");
    LARGE_INTEGER start = Now();
    EXPECT_EQ(1, client.Query(0, 0, 0));
    EXPECT_GE(MsSince(start), 140.0);
}

TEST(Glimsim, MalformedDatagramsGetNoAnswerAndDoNoHarm) {
    Glimsim sim;
    ASSERT_TRUE(sim.Start());
    WSADATA data;
    ASSERT_EQ(0, WSAStartup(MAKEWORD(2, 2), &data));
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    DWORD timeout = 300;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(sim.Port());
    char junk[100] = {3};
    char reply[64];
    for (int size : {0, 7, 23, 25, 100}) {
        sendto(s, junk, size, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        EXPECT_EQ(SOCKET_ERROR, recv(s, reply, sizeof reply, 0)) << size << " bytes answered";
    }
    // Still serving: a proper query is answered.
    const char query[24] = {2};
    sendto(s, query, 24, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    EXPECT_EQ(24, recv(s, reply, sizeof reply, 0));
    closesocket(s);
    WSACleanup();
    ASSERT_TRUE(sim.WaitForDatagrams(6, 5000));
    auto d = sim.Datagrams();
    EXPECT_EQ("malformed", d[1].what);
    EXPECT_EQ(7, d[1].size);
    EXPECT_EQ(-1, d[1].status);
    EXPECT_EQ("query", d[5].what);
}

TEST(Glimsim, EndsAfterItsSeconds) {
    Glimsim sim;
    ASSERT_TRUE(sim.Start("--seconds 1"));
    ASSERT_TRUE(sim.Wait(15000));
    EXPECT_EQ(0u, sim.ExitCode());
    EXPECT_TRUE(sim.WaitForLine("stopped datagrams=0", 2000));
}

TEST(Glimsim, WindowShowsAndClosesCleanly) {
    Glimsim sim;
    // Zone 1 of display 1 lights in magenta.
    ASSERT_TRUE(sim.Start("--leds 0,0,0;0,0,1;1,0,0;1,0,2=255,0,255", 30000, Glimsim::WINDOW));
    HWND window = nullptr;
    ASSERT_TRUE(WaitUntil(
        [&] {
            window = DeviceWindow(sim.Pid());
            return window && IsWindowVisible(window);
        },
        15000));
    ASSERT_EQ(0u, WS32LIB_GetLoadCount());
    ASSERT_EQ(0, WS32LIB_LoadDLL());
    ASSERT_EQ(0, WS32LIB.WSAStartup(0x0002, &GlpWsaData));
    {
        CGLPCLI client;
        ASSERT_EQ(0, client.Open(sim.Port()));
        EXPECT_EQ(1, client.Query(1, 0, 0));
        EXPECT_EQ(1, client.Notify(1, 0, 0, 80));
        auto magenta = [&] {
            size_t n = 0;
            for (uint32_t px : testsupport::CaptureClient(window).pixels) {
                int r = (px >> 16) & 0xFF, g = (px >> 8) & 0xFF, b = px & 0xFF;
                n += r > 150 && b > 150 && g < r / 2;
            }
            return n;
        };
        Sleep(500);
        EXPECT_EQ(0u, magenta()) << "green LEDs only so far";
        EXPECT_EQ(1, client.Notify(1, 0, 2, 100));
        EXPECT_TRUE(WaitUntil([&] { return magenta() > 200; }, 5000)) << magenta();
        client.Shutdown();
    }
    PostMessageA(window, WM_CLOSE, 0, 0);
    ASSERT_TRUE(sim.Wait(15000));
    EXPECT_EQ(0u, sim.ExitCode());
}

TEST(Glimsim, WindowEndsAfterItsSeconds) {
    Glimsim sim;
    ASSERT_TRUE(sim.Start("--seconds 1", 30000, Glimsim::WINDOW));
    ASSERT_TRUE(sim.Wait(15000));
    EXPECT_EQ(0u, sim.ExitCode());
}

TEST(Glimsim, RefusesBadCommandLines) {
    for (const char* args : {"--port x", "--port 70000", "--reply-size 30", "--leds 0,0",
                             "--leds 0,0,0;0,0,0", "--leds 0,0,2=256,0,0", "--leds 0,0,2=1,2",
                             "--refuse-notify-after -1", "--bogus",
                             "--seconds"}) {
        ChildProcess child;
        ASSERT_TRUE(child.Start(testsupport::BinPath("GLIMSIM.EXE"), std::string("--headless ") + args));
        ASSERT_TRUE(child.Wait(15000)) << args;
        EXPECT_EQ(2u, child.ExitCode()) << args;
    }
}

TEST(Glimsim, ATakenPortIsReported) {
    Glimsim first;
    ASSERT_TRUE(first.Start());
    ChildProcess second;
    ASSERT_TRUE(second.Start(testsupport::BinPath("GLIMSIM.EXE"),
                             "--headless --port " + std::to_string(first.Port())));
    ASSERT_TRUE(second.Wait(15000));
    EXPECT_EQ(3u, second.ExitCode());
}
