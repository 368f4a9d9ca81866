// WS32LIB_: the Winsock library, loaded at run time from the system directory
// and shared by reference count; every socket call goes through the entries
// resolved here.
#pragma once

#include <winsock2.h>
#include <windows.h>

// 0 when loaded and every entry resolved (or already loaded), -1 on failure.
int WS32LIB_LoadDLL();
// The same for a library of another name, also from the system directory
// only, so that tests can exercise a missing library or a missing entry; the
// program calls it only through WS32LIB_LoadDLL, with "WSOCK32.DLL".
int WS32LIB_LoadLibrary(const char* name);
void WS32LIB_UnloadDLL();
int WS32LIB_IsLoadDLL();
unsigned int WS32LIB_GetLoadCount();
HMODULE WS32LIB_GetDLLHandle();

// The resolved entries, in resolution order, with their Winsock signatures.
struct WS32LIB_ENTRIES {
    int(WINAPI* WSAFDIsSet)(SOCKET, fd_set*);
    int(WINAPI* WSACleanup)();
    int(WINAPI* WSAStartup)(WORD, LPWSADATA);
    SOCKET(WINAPI* accept)(SOCKET, sockaddr*, int*);
    int(WINAPI* bind)(SOCKET, const sockaddr*, int);
    int(WINAPI* closesocket)(SOCKET);
    int(WINAPI* connect)(SOCKET, const sockaddr*, int);
    int(WINAPI* gethostname)(char*, int);
    hostent*(WINAPI* gethostbyaddr)(const char*, int, int);
    hostent*(WINAPI* gethostbyname)(const char*);
    u_long(WINAPI* htonl)(u_long);
    u_short(WINAPI* htons)(u_short);
    unsigned long(WINAPI* inet_addr)(const char*);
    char*(WINAPI* inet_ntoa)(in_addr);
    int(WINAPI* listen)(SOCKET, int);
    u_long(WINAPI* ntohl)(u_long);
    u_short(WINAPI* ntohs)(u_short);
    int(WINAPI* select)(int, fd_set*, fd_set*, fd_set*, const timeval*);
    int(WINAPI* send)(SOCKET, const char*, int, int);
    int(WINAPI* sendto)(SOCKET, const char*, int, int, const sockaddr*, int);
    int(WINAPI* setsockopt)(SOCKET, int, int, const char*, int);
    SOCKET(WINAPI* socket)(int, int, int);
    int(WINAPI* shutdown)(SOCKET, int);
    int(WINAPI* recv)(SOCKET, char*, int, int);
    int(WINAPI* recvfrom)(SOCKET, char*, int, int, sockaddr*, int*);
};

// Valid while WS32LIB_IsLoadDLL() is 1.
extern WS32LIB_ENTRIES WS32LIB;
