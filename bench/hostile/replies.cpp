// Random debug-device replies: a peer of this tool's own answers every
// request with bytes planned from the request itself (random length and
// content, the right or a wrong status, two replies, another port, none), so
// each client thread knows what its exchange must return.
#include <winsock2.h>

#include "hostile.h"

#include <cstring>
#include <string>
#include <vector>

#include "debuglink/glpcli.h"
#include "debuglink/ws32lib.h"

namespace hostile {
namespace {

constexpr int kThreads = 4;

enum ReplyKind { ECHO_OK, ECHO_WRONG, RANDOM_LENGTH, RANDOM_24, TWICE, OTHER_PORT, SILENT, KINDS };
const char* const kReplyNames[] = {"right status", "wrong status", "random length", "random 24 bytes",
                                   "two replies",  "other port",   "no reply"};

struct Plan {
    ReplyKind kind;
    std::string bytes;   // the (first) reply
    std::string second;  // TWICE: a second one, random
    bool accepted;       // what the client must return
};

uint64_t Mix(uint64_t x) {
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdull;
    x ^= x >> 33;
    x *= 0xc4ceb9fe1a85ec53ull;
    x ^= x >> 33;
    return x;
}

int32_t Word(const std::string& bytes, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(bytes[at + i]);
    return static_cast<int32_t>(v);
}

// The reply to `request` (24 bytes), the same on both sides.
Plan MakePlan(uint64_t seed, const std::string& request) {
    uint64_t h = seed;
    for (unsigned char c : request) h = Mix(h ^ c);
    Rng rng(h);
    int32_t accept = Word(request, 0) == GLP_KIND_QUERY ? GLP_STATUS_QUERY_OK : GLP_STATUS_NOTIFY_OK;
    Plan plan;
    uint32_t pick = rng.Below(2000);
    plan.kind = pick == 0 ? SILENT
                : pick < 600  ? ECHO_OK
                : pick < 800  ? ECHO_WRONG
                : pick < 1400 ? RANDOM_LENGTH
                : pick < 1700 ? RANDOM_24
                : pick < 1850 ? TWICE
                              : OTHER_PORT;
    auto random = [&](size_t n) {
        std::string s;
        for (size_t i = 0; i < n; ++i) s += static_cast<char>(rng.Below(256));
        return s;
    };
    auto echo = [&](int32_t status) {
        std::string s = request;
        for (int i = 0; i < 4; ++i) s[4 + i] = static_cast<char>(static_cast<uint32_t>(status) >> (8 * i));
        return s;
    };
    switch (plan.kind) {
    case ECHO_OK:
    case OTHER_PORT: plan.bytes = echo(accept); break;
    case ECHO_WRONG: plan.bytes = echo(static_cast<int32_t>(rng.Word()) == accept ? accept + 1 : static_cast<int32_t>(rng.Word())); break;
    case RANDOM_LENGTH: plan.bytes = random(rng.Below(100)); break;
    case RANDOM_24: plan.bytes = random(24); break;
    case TWICE:
        plan.bytes = rng.OneIn(2) ? echo(accept) : random(24);
        plan.second = random(1 + rng.Below(64));
        break;
    default: break;
    }
    plan.accepted = plan.kind != SILENT && plan.bytes.size() == 24 && Word(plan.bytes, 4) == accept;
    return plan;
}

struct Peer {
    uint64_t seed = 0;
    SOCKET sockets[2] = {INVALID_SOCKET, INVALID_SOCKET};
    unsigned short ports[2] = {0, 0};
    volatile LONG stop = 0;
    volatile LONG answered = 0;
};

SOCKET Bind(unsigned short* port) {
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) return s;
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    int len = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    *port = ntohs(a.sin_port);
    return s;
}

DWORD WINAPI PeerMain(void* context) {
    Peer& peer = *static_cast<Peer*>(context);
    while (!peer.stop) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(peer.sockets[0], &readable);
        FD_SET(peer.sockets[1], &readable);
        timeval wait = {0, 100000};
        if (select(0, &readable, nullptr, nullptr, &wait) <= 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (!FD_ISSET(peer.sockets[i], &readable)) continue;
            char buffer[256];
            sockaddr_in from {};
            int fromLength = sizeof from;
            int got = recvfrom(peer.sockets[i], buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from),
                               &fromLength);
            if (got != 24) continue;
            Plan plan = MakePlan(peer.seed, std::string(buffer, 24));
            if (plan.kind == SILENT) continue;
            SOCKET out = plan.kind == OTHER_PORT ? peer.sockets[1 - i] : peer.sockets[i];
            sendto(out, plan.bytes.data(), static_cast<int>(plan.bytes.size()), 0,
                   reinterpret_cast<sockaddr*>(&from), fromLength);
            if (plan.kind == TWICE)
                sendto(out, plan.second.data(), static_cast<int>(plan.second.size()), 0,
                       reinterpret_cast<sockaddr*>(&from), fromLength);
            InterlockedIncrement(&peer.answered);
        }
    }
    return 0;
}

struct Worker {
    Peer* peer = nullptr;
    int index = 0;
    unsigned long long count = 0;
    unsigned long long perKind[KINDS] = {};
    unsigned long long accepted = 0;
    unsigned long long wrong = 0;
    std::string firstWrong;
};

DWORD WINAPI WorkerMain(void* context) {
    Worker& w = *static_cast<Worker*>(context);
    CGLPCLI client;
    if (client.Open(w.peer->ports[0]) != 0) {
        w.wrong = w.count;
        w.firstWrong = "the client did not open";
        return 0;
    }
    Rng rng(w.peer->seed * 31 + static_cast<uint64_t>(w.index));
    for (unsigned long long n = 0; n < w.count; ++n) {
        bool query = rng.OneIn(4);
        // The display word carries the thread, the brightness the request's
        // number: no two requests are alike, so neither are their plans.
        int32_t display = w.index;
        int32_t gpu = static_cast<int32_t>(rng.Below(4));
        int32_t attribute = static_cast<int32_t>(rng.Below(2));
        int32_t luminance = static_cast<int32_t>(n);
        NOTIFYPACKET packet = {query ? GLP_KIND_QUERY : GLP_KIND_NOTIFY, 0, display, gpu, attribute,
                               query ? 0 : luminance};
        if (query) packet.Luminance = 0, packet.GPU = static_cast<int32_t>(n);
        unsigned char bytes[24];
        EncodePacket(packet, bytes);
        Plan plan = MakePlan(w.peer->seed, std::string(reinterpret_cast<char*>(bytes), 24));
        int got = query ? client.Query(packet.Display, packet.GPU, packet.Attribute)
                        : client.Notify(packet.Display, packet.GPU, packet.Attribute, packet.Luminance);
        ++w.perKind[plan.kind];
        if (got) ++w.accepted;
        if ((got != 0) != plan.accepted) {
            if (w.wrong++ == 0)
                w.firstWrong = std::string(query ? "query" : "notify") + " with " + kReplyNames[plan.kind] +
                               " reply returned " + std::to_string(got);
        }
        unsigned short port = client.PeerPort();
        if (port != w.peer->ports[0] && port != w.peer->ports[1]) {
            if (w.wrong++ == 0) w.firstWrong = "the client now talks to port " + std::to_string(port);
        }
    }
    client.Shutdown();
    return 0;
}

}  // namespace

int RunReplies(const Options& options) {
    unsigned long long total = options.count ? options.count : 100000ull;
    WSADATA data;
    if (WSAStartup(0x0202, &data) != 0) {
        Fail("replies: no Winsock");
        return 1;
    }
    Peer peer;
    peer.seed = options.seed;
    peer.sockets[0] = Bind(&peer.ports[0]);
    peer.sockets[1] = Bind(&peer.ports[1]);
    if (peer.sockets[0] == INVALID_SOCKET || peer.sockets[1] == INVALID_SOCKET) {
        Fail("replies: the peer cannot bind");
        return 1;
    }
    HANDLE peerThread = CreateThread(nullptr, 0, PeerMain, &peer, 0, nullptr);
    // Each client holds its own Winsock reference, as the program's does.
    Worker workers[kThreads];
    HANDLE threads[kThreads];
    int loaded = 0;
    for (int i = 0; i < kThreads; ++i) {
        if (WS32LIB_LoadDLL() == 0 && WS32LIB.WSAStartup(0x0002, &GlpWsaData) == 0) ++loaded;
    }
    if (loaded != kThreads) {
        Fail("replies: the Winsock binding did not load");
        return 1;
    }
    ULONGLONG start = GetTickCount64();
    for (int i = 0; i < kThreads; ++i) {
        workers[i].peer = &peer;
        workers[i].index = i;
        workers[i].count = total / kThreads + (static_cast<unsigned long long>(i) < total % kThreads ? 1 : 0);
        threads[i] = CreateThread(nullptr, 0, WorkerMain, &workers[i], 0, nullptr);
    }
    WaitForMultipleObjects(kThreads, threads, TRUE, INFINITE);
    double seconds = SecondsSince(start);
    peer.stop = 1;
    WaitForSingleObject(peerThread, 5000);
    unsigned long long perKind[KINDS] = {}, accepted = 0, wrong = 0;
    for (Worker& w : workers) {
        for (int k = 0; k < KINDS; ++k) perKind[k] += w.perKind[k];
        accepted += w.accepted;
        wrong += w.wrong;
        if (w.wrong) Fail("replies: thread %d: %llu wrong, first: %s", w.index, w.wrong, w.firstWrong.c_str());
        CloseHandle(threads[&w - workers]);
    }
    Say("replies: %llu exchanges (seed %llu) from %d clients in %.1f s, %llu accepted, %llu wrong", total,
        static_cast<unsigned long long>(options.seed), kThreads, seconds, accepted, wrong);
    for (int k = 0; k < KINDS; ++k) Say("  %-16s %llu", kReplyNames[k], perKind[k]);
    closesocket(peer.sockets[0]);
    closesocket(peer.sockets[1]);
    WSACleanup();
    return wrong ? 1 : 0;
}

}  // namespace hostile
