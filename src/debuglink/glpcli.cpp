#include "debuglink/glpcli.h"

#include <cstdlib>
#include <cstring>

#include "base/initorder.h"
#include "debuglink/ws32lib.h"

CGLPCLI GlpClient GLIM_INIT_ORDER(GLIM_INIT_GLPCLI);
WSADATA GlpWsaData;

namespace {

void PutWord(unsigned char* at, int32_t value) {
    uint32_t v = static_cast<uint32_t>(value);
    at[0] = static_cast<unsigned char>(v);
    at[1] = static_cast<unsigned char>(v >> 8);
    at[2] = static_cast<unsigned char>(v >> 16);
    at[3] = static_cast<unsigned char>(v >> 24);
}

int32_t GetWord(const unsigned char* at) {
    uint32_t v = static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
                 static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
    return static_cast<int32_t>(v);
}

constexpr char LOOPBACK[] = "127.0.0.1";
// Stale replies dropped before one exchange; a bound so that a flooding peer
// cannot keep a caller here.
constexpr int MAX_STALE_REPLIES = 64;

}  // namespace

void EncodePacket(const NOTIFYPACKET& packet, unsigned char (&bytes)[24]) {
    PutWord(bytes + 0, packet.Kind);
    PutWord(bytes + 4, packet.Status);
    PutWord(bytes + 8, packet.Display);
    PutWord(bytes + 12, packet.GPU);
    PutWord(bytes + 16, packet.Attribute);
    PutWord(bytes + 20, packet.Luminance);
}

NOTIFYPACKET DecodePacket(const unsigned char (&bytes)[24]) {
    NOTIFYPACKET packet;
    packet.Kind = GetWord(bytes + 0);
    packet.Status = GetWord(bytes + 4);
    packet.Display = GetWord(bytes + 8);
    packet.GPU = GetWord(bytes + 12);
    packet.Attribute = GetWord(bytes + 16);
    packet.Luminance = GetWord(bytes + 20);
    return packet;
}

unsigned PauseAfterExchange(unsigned random, unsigned maxSleep) {
    return maxSleep == 0 ? 1 : random % maxSleep + 1;
}

CGLPCLI::CGLPCLI()
    : lock_(),
      name_(),
      state_(0),
      contention_(0),
      peer_(),
      addressLength_(sizeof(sockaddr_in)),
      host_(nullptr),
      addressEntry_(nullptr),
      dotted_(nullptr),
      socket_(0),
      maxSleep_(5) {
    if (state_ == 0) {
        InitializeCriticalSection(&lock_);
        state_ = 1;
        lstrcpynA(name_, "NONAME", sizeof name_);
    }
}

CGLPCLI::~CGLPCLI() {
    if (state_ != 0) {
        DeleteCriticalSection(&lock_);
        state_ = 0;
        std::memset(name_, 0, sizeof name_);
        contention_ = 0;
    }
    // Still open when debug-device mode ended early and Shutdown was skipped.
    CloseSocket();
}

void CGLPCLI::CloseSocket() {
    if (socket_ == 0) return;
    // Without the binding there are no entries to call; the system closes the
    // handle with the process.
    if (WS32LIB_IsLoadDLL()) {
        WS32LIB.shutdown(socket_, SD_BOTH);
        WS32LIB.closesocket(socket_);
    }
    socket_ = 0;
}

int CGLPCLI::Open() { return Open(GLP_PORT); }

int CGLPCLI::Open(unsigned short port) {
    if (state_ == 0 || !WS32LIB_IsLoadDLL()) return -1;
    host_ = WS32LIB.gethostbyname(LOOPBACK);
    if (!host_ || host_->h_addrtype != AF_INET || host_->h_length != 4) return -1;
    dotted_ = nullptr;
    for (addressEntry_ = host_->h_addr_list; *addressEntry_; ++addressEntry_) {
        in_addr address;
        std::memcpy(&address, *addressEntry_, sizeof address);
        dotted_ = WS32LIB.inet_ntoa(address);
    }
    if (!dotted_) return -1;
    unsigned long address = WS32LIB.inet_addr(dotted_);
    if (address == INADDR_NONE) return -1;

    EnterCriticalSection(&lock_);
    std::memset(&peer_, 0, addressLength_);
    peer_.sin_family = AF_INET;
    peer_.sin_addr.s_addr = address;
    peer_.sin_port = WS32LIB.htons(port);
    CloseSocket();

    SOCKET s = WS32LIB.socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    int result = -1;
    if (s != INVALID_SOCKET) {
        // Bound to the loopback address before anything is sent, so that no
        // other host can answer a request or redirect the ones that follow.
        sockaddr_in local;
        std::memset(&local, 0, sizeof local);
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = address;
        local.sin_port = 0;
        // The receive gives up after a while: a peer that never answers must
        // not hold the lock, and every caller behind it, for ever.
        DWORD timeout = GLP_RECEIVE_TIMEOUT_MS;
        if (WS32LIB.bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0 &&
            WS32LIB.setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
                               sizeof timeout) == 0) {
            socket_ = s;
            result = 0;
        } else {
            WS32LIB.closesocket(s);
        }
    }
    LeaveCriticalSection(&lock_);
    return result;
}

int CGLPCLI::Query(int32_t display, int32_t gpu, int32_t attribute) {
    NOTIFYPACKET packet = {GLP_KIND_QUERY, 0, display, gpu, attribute, 0};
    return Exchange(packet, GLP_STATUS_QUERY_OK);
}

int CGLPCLI::Notify(int32_t display, int32_t gpu, int32_t attribute, int32_t luminance) {
    NOTIFYPACKET packet = {GLP_KIND_NOTIFY, 0, display, gpu, attribute, luminance};
    return Exchange(packet, GLP_STATUS_NOTIFY_OK);
}

int CGLPCLI::Exchange(NOTIFYPACKET& packet, int32_t acceptStatus) {
    // Outside the client's lifetime there is no lock to take.
    if (state_ == 0) return 0;
    state_ = 3;
    // A caller that finds the lock taken waits for it instead of spinning: a
    // spinning window thread can starve an idle-priority holder on a busy
    // machine and freeze the user interface.
    if (!TryEnterCriticalSection(&lock_)) {
        InterlockedIncrement(&contention_);
        EnterCriticalSection(&lock_);
    }
    state_ = 2;
    int result = ExchangeLocked(packet, acceptStatus);
    LeaveCriticalSection(&lock_);
    state_ = 4;
    // Held after the lock is released, so the other callers get their turn.
    Sleep(PauseAfterExchange(static_cast<unsigned>(std::rand()), maxSleep_));
    return result;
}

int CGLPCLI::ExchangeLocked(NOTIFYPACKET& packet, int32_t acceptStatus) {
    if (socket_ == 0) return 0;
    DropStaleReplies();

    unsigned char bytes[24];
    EncodePacket(packet, bytes);
    int sent = WS32LIB.sendto(socket_, reinterpret_cast<const char*>(bytes), sizeof bytes, 0,
                              reinterpret_cast<const sockaddr*>(&peer_), addressLength_);
    if (sent != static_cast<int>(sizeof bytes)) return 0;

    sockaddr_in source;
    std::memset(&source, 0, sizeof source);
    int sourceLength = addressLength_;
    int got = WS32LIB.recvfrom(socket_, reinterpret_cast<char*>(bytes), sizeof bytes, 0,
                               reinterpret_cast<sockaddr*>(&source), &sourceLength);
    // Every datagram that came decides where the next request goes, also one
    // too long to fit, whose receive fails but still names its sender. A
    // receive that got nothing (the time-out) leaves the source unset and the
    // peer as it was; its zero port would send every later request nowhere.
    if (source.sin_family == AF_INET) peer_.sin_port = source.sin_port;
    if (got != static_cast<int>(sizeof bytes)) return 0;
    packet = DecodePacket(bytes);
    return packet.Status == acceptStatus ? 1 : 0;
}

void CGLPCLI::DropStaleReplies() {
    // A reply that arrived after its request gave up would otherwise be taken
    // as the answer to this one.
    for (int n = 0; n < MAX_STALE_REPLIES; ++n) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(socket_, &readable);
        timeval now = {0, 0};
        if (WS32LIB.select(0, &readable, nullptr, nullptr, &now) <= 0) return;
        char scrap[64];
        sockaddr_in source;
        int sourceLength = sizeof source;
        WS32LIB.recvfrom(socket_, scrap, sizeof scrap, 0, reinterpret_cast<sockaddr*>(&source),
                         &sourceLength);
    }
}

void CGLPCLI::Shutdown() {
    if (WS32LIB_GetLoadCount() == 0) return;
    CloseSocket();
    WS32LIB.WSACleanup();
    WS32LIB_UnloadDLL();
}

unsigned short CGLPCLI::PeerPort() const {
    const unsigned char* port = reinterpret_cast<const unsigned char*>(&peer_.sin_port);
    return static_cast<unsigned short>(port[0] << 8 | port[1]);
}
