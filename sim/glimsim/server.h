// The network side of the simulated device: one thread that takes datagrams
// on 127.0.0.1 (the listening port, and the reply port when one is set),
// hands each to the device and sends its answer.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <string>

#include "device.h"
#include "options.h"

class Server {
public:
    // `onDatagram` (may be null) runs on the network thread after each datagram.
    typedef void (*DatagramSink)(const LogEntry& entry);
    Server(const SimOptions& options, SimDevice& device, DatagramSink onDatagram);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Binds the sockets. False with a reason; `inUse` when a port was taken.
    bool Open(std::string& error, bool& inUse);
    unsigned short Port() const { return port_; }
    unsigned short ReplyPort() const { return replyPort_; }

    bool Start();
    // Asks the thread to end and joins it (bounded); idempotent.
    void Stop();

private:
    static DWORD WINAPI ThreadMain(void* self);
    void Run();
    void Drain(SOCKET from);
    bool Bind(SOCKET& s, unsigned short port, unsigned short& bound, std::string& error,
              bool& inUse);

    const SimOptions& options_;
    SimDevice& device_;
    DatagramSink onDatagram_;
    SOCKET listen_ = INVALID_SOCKET;
    SOCKET reply_ = INVALID_SOCKET;  // INVALID_SOCKET: answer from listen_
    WSAEVENT events_[2] = {WSA_INVALID_EVENT, WSA_INVALID_EVENT};
    HANDLE stop_ = nullptr;
    HANDLE thread_ = nullptr;
    unsigned short port_ = 0;
    unsigned short replyPort_ = 0;
    unsigned char buffer_[65536];
};
