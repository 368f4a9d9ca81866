// CGLPCLI: the client of the debug device, a peer on 127.0.0.1 that answers
// fixed 24-byte datagrams. Requests from several threads are serialised by the
// client's own lock; each caller is held 1 to 5 ms after its exchange.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>

// The datagram, requests and replies alike: six little-endian 32-bit words.
struct NOTIFYPACKET {
    int32_t Kind;    // 2 query, 3 notification
    int32_t Status;  // reply: 3 accepts a query, 1 a brightness
    int32_t Display;
    int32_t GPU;
    int32_t Attribute;
    int32_t Luminance;
};
static_assert(sizeof(NOTIFYPACKET) == 24, "the datagram is 24 bytes");

constexpr int32_t GLP_KIND_QUERY = 2;
constexpr int32_t GLP_KIND_NOTIFY = 3;
constexpr int32_t GLP_STATUS_QUERY_OK = 3;
constexpr int32_t GLP_STATUS_NOTIFY_OK = 1;
constexpr unsigned short GLP_PORT = 30000;

// The 24 bytes that go on the wire for a packet, and back; both little-endian
// whatever the host's byte order.
void EncodePacket(const NOTIFYPACKET& packet, unsigned char (&bytes)[24]);
NOTIFYPACKET DecodePacket(const unsigned char (&bytes)[24]);

// Milliseconds a caller is held after its exchange, from a pseudo-random
// value: 1 to maxSleep (1 when maxSleep is 0).
unsigned PauseAfterExchange(unsigned random, unsigned maxSleep);

// How long a request waits for the reply before it gives up and returns 0.
constexpr DWORD GLP_RECEIVE_TIMEOUT_MS = 500;

class CGLPCLI {
public:
    CGLPCLI();
    virtual ~CGLPCLI();
    CGLPCLI(const CGLPCLI&) = delete;
    CGLPCLI& operator=(const CGLPCLI&) = delete;

    // 0 when the peer address is set and the socket exists, -1 otherwise.
    // Needs the Winsock binding loaded and WSAStartup done. The socket is
    // bound to 127.0.0.1 so that only this machine can answer.
    int Open();
    // The same with the peer on another loopback port, for tests that run
    // their own device on a free port; the program calls only Open().
    int Open(unsigned short port);
    // 1 when the peer has the LED. 0 also when no reply came within
    // GLP_RECEIVE_TIMEOUT_MS.
    int Query(int32_t display, int32_t gpu, int32_t attribute);
    // 1 when the peer confirmed the brightness; 0 also when the exchange failed.
    int Notify(int32_t display, int32_t gpu, int32_t attribute, int32_t luminance);
    // Closes the socket and drops this client's Winsock reference (WSACleanup
    // and one unload), when Winsock is loaded at all.
    void Shutdown();

    // The peer's port, host byte order (it follows the port that answered).
    unsigned short PeerPort() const;

    int32_t State() const { return state_; }
    int32_t Contention() const { return contention_; }
    const char* Name() const { return name_; }

private:
    int Exchange(NOTIFYPACKET& packet, int32_t acceptStatus);
    int ExchangeLocked(NOTIFYPACKET& packet, int32_t acceptStatus);
    void DropStaleReplies();
    void CloseSocket();

    CRITICAL_SECTION lock_;
    char name_[260];
    volatile int32_t state_;
    volatile LONG contention_;
    sockaddr_in peer_;
    int addressLength_;
    hostent* host_;
    char** addressEntry_;
    char* dotted_;
    SOCKET socket_;
    uint32_t maxSleep_;
};

// The program's one client, and the start-up record passed to WSAStartup.
// Defined with GLIM_INIT_ORDER(GLIM_INIT_GLPCLI) (base/initorder.h).
extern CGLPCLI GlpClient;
extern WSADATA GlpWsaData;
