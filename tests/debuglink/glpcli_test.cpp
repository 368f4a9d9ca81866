#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "clientfixture.h"
#include "scriptedpeer.h"
#include "testsupport.h"

using testsupport::WaitUntil;

namespace {

PeerScript Answer(int status, int replySize = 24) {
    PeerScript script;
    script.status = status;
    script.replySize = replySize;
    return script;
}

PeerScript Silence() {
    PeerScript script;
    script.answer = false;
    return script;
}

class ScriptedPeerTest : public ClientTest {
protected:
    void SetUp() override {
        ClientTest::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_TRUE(peer.Start(40000));
        ASSERT_EQ(0, client.Open(peer.Port()));
    }
    ScriptedPeer peer;
};

// CPU time this thread has used, in milliseconds.
double ThreadCpuMs() {
    FILETIME created, ended, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &ended, &kernel, &user);
    auto ms = [](const FILETIME& t) {
        return ((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e4;
    };
    return ms(kernel) + ms(user);
}

// This machine's address on its default route, or 0 when it has none.
unsigned long OutsideAddress() {
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in remote = {};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(9);
    remote.sin_addr.s_addr = inet_addr("192.0.2.77");
    sockaddr_in local = {};
    int length = sizeof local;
    unsigned long address = 0;
    // Connecting a datagram socket sends nothing; it only picks the route.
    if (connect(s, reinterpret_cast<sockaddr*>(&remote), sizeof remote) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&local), &length) == 0 &&
        local.sin_addr.s_addr != htonl(INADDR_LOOPBACK))
        address = local.sin_addr.s_addr;
    closesocket(s);
    return address;
}

}  // namespace

TEST(ClientLifetime, ConstructedIdleAndNamed) {
    CGLPCLI client;
    EXPECT_EQ(1, client.State());
    EXPECT_EQ(0, client.Contention());
    EXPECT_STREQ("NONAME", client.Name());
    // The program's own client exists before main.
    EXPECT_NE(0, GlpClient.State());
    EXPECT_STREQ("NONAME", GlpClient.Name());
}

TEST(ClientLifetime, WithoutWinsockOpenFailsAndRequestsAnswerNo) {
    ASSERT_EQ(0u, WS32LIB_GetLoadCount());
    CGLPCLI client;
    EXPECT_EQ(-1, client.Open());
    EXPECT_EQ(0, client.Query(0, 0, 0));
    EXPECT_EQ(0, client.Notify(0, 0, 0, 50));
    client.Shutdown();  // nothing loaded: nothing to release
    EXPECT_EQ(0u, WS32LIB_GetLoadCount());
}

TEST_F(ScriptedPeerTest, RequestsGoOutAsTwentyFourLittleEndianBytes) {
    peer.Always(Answer(1));
    EXPECT_EQ(1, client.Notify(1, 0, 1, 75));
    EXPECT_EQ(0, client.Query(4, 2, 1));
    auto got = peer.Received();
    ASSERT_EQ(2u, got.size());
    EXPECT_EQ(std::string("\x03\0\0\0\0\0\0\0\x01\0\0\0\0\0\0\0\x01\0\0\0\x4B\0\0\0", 24),
              got[0].bytes);
    EXPECT_EQ(std::string("\x02\0\0\0\0\0\0\0\x04\0\0\0\x02\0\0\0\x01\0\0\0\0\0\0\0", 24),
              got[1].bytes);
    EXPECT_EQ(peer.Port(), got[0].toPort);
}

TEST_F(ScriptedPeerTest, OnlyTheMatchingStatusAccepts) {
    peer.Always(Answer(3));
    EXPECT_EQ(1, client.Query(0, 0, 0));
    EXPECT_EQ(0, client.Notify(0, 0, 0, 10));
    peer.Always(Answer(1));
    EXPECT_EQ(0, client.Query(0, 0, 0));
    EXPECT_EQ(1, client.Notify(0, 0, 0, 10));
    peer.Always(Answer(0));
    EXPECT_EQ(0, client.Query(0, 0, 0));
    EXPECT_EQ(0, client.Notify(0, 0, 0, 10));
    peer.Always(Answer(2));
    EXPECT_EQ(0, client.Query(0, 0, 0));
    EXPECT_EQ(0, client.Notify(0, 0, 0, 10));
}

TEST_F(ScriptedPeerTest, RepliesOfTwentyThreeOrTwentyFiveBytesAreRefusedButMoveThePeer) {
    for (int size : {23, 25}) {
        peer.Always(Answer(3, size));
        EXPECT_EQ(0, client.Query(0, 0, 1)) << size << " bytes";
        peer.Always(Answer(1, size));
        EXPECT_EQ(0, client.Notify(0, 0, 1, 40)) << size << " bytes";
        // A datagram of the wrong length was still received: its port is
        // where the next request goes.
        ASSERT_EQ(0, client.Open(peer.Port()));
        PeerScript fromSecond = Answer(3, size);
        fromSecond.fromSecond = true;
        peer.Then(fromSecond);
        EXPECT_EQ(0, client.Query(0, 0, 1)) << size << " bytes";
        EXPECT_EQ(peer.SecondPort(), client.PeerPort()) << size << " bytes";
    }
    // A proper reply after them is taken again.
    peer.Always(Answer(3));
    EXPECT_EQ(1, client.Query(0, 0, 1));
}

TEST_F(ScriptedPeerTest, LaterRequestsGoToThePortThatAnswered) {
    PeerScript fromSecond = Answer(3);
    fromSecond.fromSecond = true;
    peer.Then(fromSecond);
    peer.Always(Answer(1));
    EXPECT_EQ(peer.Port(), client.PeerPort());
    EXPECT_EQ(1, client.Query(0, 0, 0));
    EXPECT_EQ(peer.SecondPort(), client.PeerPort());
    EXPECT_EQ(1, client.Notify(0, 0, 0, 5));
    EXPECT_EQ(1, client.Notify(0, 0, 0, 6));
    auto got = peer.Received();
    ASSERT_EQ(3u, got.size());
    EXPECT_EQ(peer.Port(), got[0].toPort);
    EXPECT_EQ(peer.SecondPort(), got[1].toPort);
    EXPECT_EQ(peer.SecondPort(), got[2].toPort);
}

TEST_F(ScriptedPeerTest, UnansweredRequestGivesUpAndTheNextOneWorks) {
    peer.Then(Silence());
    peer.Always(Answer(3));
    LARGE_INTEGER start = Now();
    EXPECT_EQ(0, client.Query(0, 0, 0));
    double waited = MsSince(start);
    EXPECT_GE(waited, GLP_RECEIVE_TIMEOUT_MS - 50.0);
    EXPECT_LT(waited, 3000.0);
    // Nothing came back, so nothing moved the peer.
    EXPECT_EQ(peer.Port(), client.PeerPort());
    start = Now();
    EXPECT_EQ(1, client.Query(0, 0, 0));
    EXPECT_LT(MsSince(start), GLP_RECEIVE_TIMEOUT_MS);
    EXPECT_EQ(2u, peer.Received().size());
}

TEST_F(ScriptedPeerTest, LateReplyIsNotTakenForTheNextRequest) {
    PeerScript late = Answer(3);
    late.delayMs = GLP_RECEIVE_TIMEOUT_MS + 300;
    peer.Then(late);
    peer.Always(Answer(0));
    EXPECT_EQ(0, client.Query(0, 0, 0));
    // Let the late "yes" land in the client's socket before the next request.
    Sleep(GLP_RECEIVE_TIMEOUT_MS);
    EXPECT_EQ(0, client.Query(0, 0, 0));
    EXPECT_EQ(2u, peer.Received().size());
}

TEST_F(ScriptedPeerTest, ContenderWaitsForTheLockWithoutSpinning) {
    PeerScript slow = Answer(3);
    slow.delayMs = 400;
    peer.Then(slow);
    peer.Always(Answer(3));
    int holderResult = -1;
    std::thread holder([&] { holderResult = client.Query(0, 0, 0); });
    // The holder is inside its exchange once its request reached the peer.
    ASSERT_TRUE(WaitUntil([&] { return peer.Received().size() == 1; }, 5000, 1));
    LONG contentionBefore = client.Contention();
    double cpuBefore = ThreadCpuMs();
    LARGE_INTEGER start = Now();
    int result = client.Query(0, 0, 1);
    double waited = MsSince(start);
    double cpu = ThreadCpuMs() - cpuBefore;
    holder.join();
    EXPECT_EQ(1, holderResult);
    EXPECT_EQ(1, result);
    EXPECT_EQ(contentionBefore + 1, client.Contention()) << "one failed try, then a wait";
    EXPECT_GT(waited, 150.0);
    EXPECT_LT(cpu, waited / 4) << "the contender burned the CPU while waiting";
}

TEST_F(ScriptedPeerTest, NoOtherHostCanAnswer) {
    unsigned long outside = OutsideAddress();
    if (outside == 0) GTEST_SKIP() << "this machine has no address but the loopback one";
    peer.Always(Answer(0));
    ASSERT_EQ(0, client.Query(0, 0, 0));
    unsigned short clientPort = peer.Received().at(0).fromPort;
    peer.Always(Silence());
    // While the client waits for the peer, a "yes" arrives from the machine's
    // outside address, sent to the client's port on that address.
    std::thread forger([&] {
        if (!WaitUntil([&] { return peer.Received().size() == 2; }, 5000, 1)) return;
        SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        sockaddr_in to = {};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = outside;
        to.sin_port = htons(clientPort);
        std::string reply = peer.Received()[1].bytes;
        reply[4] = 3;
        sendto(s, reply.data(), 24, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        closesocket(s);
    });
    EXPECT_EQ(0, client.Query(0, 0, 0));
    forger.join();
}

TEST_F(ScriptedPeerTest, ShutdownClosesTheSocketAndReleasesWinsock) {
    peer.Always(Answer(3));
    ASSERT_EQ(1, client.Query(0, 0, 0));
    client.Shutdown();
    EXPECT_EQ(0u, WS32LIB_GetLoadCount());
    EXPECT_EQ(nullptr, WS32LIB_GetDLLHandle());
    // A request after the end is answered no without touching Winsock.
    EXPECT_EQ(0, client.Query(0, 0, 0));
    EXPECT_EQ(1u, peer.Received().size());
}

TEST_F(ScriptedPeerTest, ShutdownDropsOnlyItsOwnReference) {
    ASSERT_EQ(0, WS32LIB_LoadDLL());
    ASSERT_EQ(0, WS32LIB.WSAStartup(0x0002, &GlpWsaData));
    client.Shutdown();
    EXPECT_EQ(1u, WS32LIB_GetLoadCount());
    EXPECT_NE(nullptr, WS32LIB_GetDLLHandle());
    WS32LIB.WSACleanup();
    WS32LIB_UnloadDLL();
}
