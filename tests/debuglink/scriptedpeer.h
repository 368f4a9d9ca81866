// A debug device played by the test itself: a thread on a loopback port that
// answers each request as the current script says, and records what came in.
// Talks straight to ws2_32, independent of the binding under test.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <string>
#include <vector>

struct PeerScript {
    bool answer = true;
    int status = 3;          // written into the echoed request
    int replySize = 24;      // bytes of the reply (the echo cut or padded)
    bool fromSecond = false; // answer from the second port
    DWORD delayMs = 0;       // before answering
};

struct PeerDatagram {
    std::string bytes;
    unsigned short fromPort; // the client's port
    unsigned short toPort;   // which of the peer's ports took it
};

class ScriptedPeer {
public:
    ScriptedPeer();
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    // Binds the first port (any free one) and, when `secondPort` is not 0, a
    // second one (that port if free, else any) and starts the thread.
    bool Start(unsigned short secondPort = 0);
    unsigned short Port() const { return port_[0]; }
    unsigned short SecondPort() const { return port_[1]; }

    // The script for the requests that follow; `Then` queues one for a single
    // request, taken before the standing script.
    void Always(const PeerScript& script);
    void Then(const PeerScript& script);

    std::vector<PeerDatagram> Received();

private:
    static DWORD WINAPI ThreadMain(void* self);
    void Run();

    CRITICAL_SECTION lock_;
    PeerScript standing_;
    std::vector<PeerScript> queued_;
    std::vector<PeerDatagram> received_;
    SOCKET socket_[2] = {INVALID_SOCKET, INVALID_SOCKET};
    unsigned short port_[2] = {0, 0};
    HANDLE stop_ = nullptr;
    HANDLE thread_ = nullptr;
};
