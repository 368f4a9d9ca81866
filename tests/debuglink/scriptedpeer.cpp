#include "scriptedpeer.h"

#include <cstring>

namespace {

SOCKET BindLoopback(unsigned short port, unsigned short& bound) {
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) return s;
    sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    int length = sizeof address;
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    bound = ntohs(address.sin_port);
    return s;
}

}  // namespace

ScriptedPeer::ScriptedPeer() {
    InitializeCriticalSection(&lock_);
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

ScriptedPeer::~ScriptedPeer() {
    if (thread_) {
        SetEvent(stop_);
        WaitForSingleObject(thread_, 5000);
        CloseHandle(thread_);
    }
    for (SOCKET s : socket_)
        if (s != INVALID_SOCKET) closesocket(s);
    CloseHandle(stop_);
    WSACleanup();
    DeleteCriticalSection(&lock_);
}

bool ScriptedPeer::Start(unsigned short secondPort) {
    socket_[0] = BindLoopback(0, port_[0]);
    if (socket_[0] == INVALID_SOCKET) return false;
    if (secondPort != 0) {
        socket_[1] = BindLoopback(secondPort, port_[1]);
        // Someone else on this machine may hold that port: any other will do
        // to show that the client follows the answering port.
        if (socket_[1] == INVALID_SOCKET) socket_[1] = BindLoopback(0, port_[1]);
        if (socket_[1] == INVALID_SOCKET) return false;
    }
    thread_ = CreateThread(nullptr, 0, ThreadMain, this, 0, nullptr);
    return thread_ != nullptr;
}

void ScriptedPeer::Always(const PeerScript& script) {
    EnterCriticalSection(&lock_);
    standing_ = script;
    LeaveCriticalSection(&lock_);
}

void ScriptedPeer::Then(const PeerScript& script) {
    EnterCriticalSection(&lock_);
    queued_.push_back(script);
    LeaveCriticalSection(&lock_);
}

std::vector<PeerDatagram> ScriptedPeer::Received() {
    EnterCriticalSection(&lock_);
    std::vector<PeerDatagram> copy = received_;
    LeaveCriticalSection(&lock_);
    return copy;
}

DWORD WINAPI ScriptedPeer::ThreadMain(void* self) {
    static_cast<ScriptedPeer*>(self)->Run();
    return 0;
}

void ScriptedPeer::Run() {
    while (WaitForSingleObject(stop_, 0) == WAIT_TIMEOUT) {
        fd_set readable;
        FD_ZERO(&readable);
        for (SOCKET s : socket_)
            if (s != INVALID_SOCKET) FD_SET(s, &readable);
        timeval wait = {0, 20000};
        if (select(0, &readable, nullptr, nullptr, &wait) <= 0) continue;
        for (int n = 0; n < 2; ++n) {
            if (socket_[n] == INVALID_SOCKET || !FD_ISSET(socket_[n], &readable)) continue;
            char data[64];
            sockaddr_in source;
            int length = sizeof source;
            int got = recvfrom(socket_[n], data, sizeof data, 0,
                               reinterpret_cast<sockaddr*>(&source), &length);
            if (got < 0) continue;
            EnterCriticalSection(&lock_);
            received_.push_back({std::string(data, got), ntohs(source.sin_port), port_[n]});
            PeerScript script = standing_;
            if (!queued_.empty()) {
                script = queued_.front();
                queued_.erase(queued_.begin());
            }
            LeaveCriticalSection(&lock_);
            if (!script.answer || got != 24) continue;
            if (script.delayMs && WaitForSingleObject(stop_, script.delayMs) == WAIT_OBJECT_0) return;
            char reply[32] = {};
            std::memcpy(reply, data, 24);
            for (int b = 0; b < 4; ++b) reply[4 + b] = static_cast<char>(script.status >> (8 * b));
            SOCKET out = script.fromSecond && socket_[1] != INVALID_SOCKET ? socket_[1] : socket_[n];
            sendto(out, reply, script.replySize, 0, reinterpret_cast<sockaddr*>(&source),
                   sizeof source);
        }
    }
}
