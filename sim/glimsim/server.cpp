#include "server.h"

#include <cstdio>
#include <cstring>

namespace {
// Datagrams taken in one wake-up before the stop request is looked at again.
constexpr int MAX_PER_WAKE = 1000;
}

Server::Server(const SimOptions& options, SimDevice& device, DatagramSink onDatagram)
    : options_(options), device_(device), onDatagram_(onDatagram) {
    stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

Server::~Server() {
    Stop();
    for (WSAEVENT& e : events_)
        if (e != WSA_INVALID_EVENT) WSACloseEvent(e);
    if (listen_ != INVALID_SOCKET) closesocket(listen_);
    if (reply_ != INVALID_SOCKET) closesocket(reply_);
    if (stop_) CloseHandle(stop_);
}

bool Server::Bind(SOCKET& s, unsigned short port, unsigned short& bound, std::string& error,
                  bool& inUse) {
    s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) {
        error = "cannot create a UDP socket";
        return false;
    }
    sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        int code = WSAGetLastError();
        inUse = code == WSAEADDRINUSE || code == WSAEACCES;
        char text[96];
        std::snprintf(text, sizeof text, "cannot listen on 127.0.0.1:%u (error %d%s)", port, code,
                      inUse ? ", port in use" : "");
        error = text;
        return false;
    }
    int length = sizeof address;
    if (getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        error = "cannot read the bound port";
        return false;
    }
    bound = ntohs(address.sin_port);
    return true;
}

bool Server::Open(std::string& error, bool& inUse) {
    inUse = false;
    if (!stop_) {
        error = "cannot create an event";
        return false;
    }
    if (!Bind(listen_, options_.port, port_, error, inUse)) return false;
    if (options_.replyPort != 0 && !Bind(reply_, options_.replyPort, replyPort_, error, inUse))
        return false;
    SOCKET sockets[2] = {listen_, reply_};
    for (int n = 0; n < 2 && sockets[n] != INVALID_SOCKET; ++n) {
        events_[n] = WSACreateEvent();
        if (events_[n] == WSA_INVALID_EVENT ||
            WSAEventSelect(sockets[n], events_[n], FD_READ) != 0) {
            error = "cannot watch the socket";
            return false;
        }
    }
    return true;
}

bool Server::Start() {
    if (thread_) return true;
    thread_ = CreateThread(nullptr, 0, ThreadMain, this, 0, nullptr);
    return thread_ != nullptr;
}

void Server::Stop() {
    if (!thread_) return;
    SetEvent(stop_);
    // A delayed answer waits on the stop event too, so this is quick.
    if (WaitForSingleObject(thread_, 5000) != WAIT_OBJECT_0) TerminateThread(thread_, 1);
    CloseHandle(thread_);
    thread_ = nullptr;
}

DWORD WINAPI Server::ThreadMain(void* self) {
    static_cast<Server*>(self)->Run();
    return 0;
}

void Server::Run() {
    HANDLE handles[3] = {stop_, events_[0], events_[1]};
    DWORD count = reply_ != INVALID_SOCKET ? 3 : 2;
    for (;;) {
        DWORD woke = WaitForMultipleObjects(count, handles, FALSE, INFINITE);
        if (woke == WAIT_OBJECT_0 || woke == WAIT_FAILED) return;
        WSAResetEvent(events_[0]);
        if (count == 3) WSAResetEvent(events_[1]);
        Drain(listen_);
        if (reply_ != INVALID_SOCKET) Drain(reply_);
    }
}

void Server::Drain(SOCKET from) {
    for (int n = 0; n < MAX_PER_WAKE; ++n) {
        if (WaitForSingleObject(stop_, 0) == WAIT_OBJECT_0) return;
        sockaddr_in source;
        int length = sizeof source;
        int got = recvfrom(from, reinterpret_cast<char*>(buffer_), sizeof buffer_, 0,
                           reinterpret_cast<sockaddr*>(&source), &length);
        if (got == SOCKET_ERROR) {
            // Would block: all taken. Anything else (a client's port gone
            // away) concerns one datagram only.
            if (WSAGetLastError() == WSAEWOULDBLOCK) return;
            continue;
        }
        unsigned char reply[32];
        int replySize = 0;
        unsigned short at = from == listen_ ? port_ : replyPort_;
        LogEntry entry =
            device_.Handle(buffer_, got, ntohs(source.sin_port), at, reply, replySize);
        // Shown before the answer leaves, so whoever got an answer also finds
        // its line.
        if (onDatagram_) onDatagram_(entry);
        if (replySize > 0) {
            if (options_.delayMs > 0 && WaitForSingleObject(stop_, options_.delayMs) == WAIT_OBJECT_0)
                return;
            SOCKET out = reply_ != INVALID_SOCKET ? reply_ : from;
            sendto(out, reinterpret_cast<const char*>(reply), replySize, 0,
                   reinterpret_cast<sockaddr*>(&source), sizeof source);
        }
    }
}
