#include "debuglink/ws32lib.h"

#include <cstring>

WS32LIB_ENTRIES WS32LIB;

namespace {

// One process-wide binding. Loads and unloads happen on the window thread
// only, before the control threads start and after they stop, so no lock.
HMODULE Library = nullptr;
unsigned int LoadCount = 0;

// Exported names, in the order of the entry table's members.
const char* const ENTRY_NAMES[] = {
    "__WSAFDIsSet", "WSACleanup",  "WSAStartup", "accept",   "bind",
    "closesocket",  "connect",     "gethostname", "gethostbyaddr", "gethostbyname",
    "htonl",        "htons",       "inet_addr",  "inet_ntoa", "listen",
    "ntohl",        "ntohs",       "select",     "send",     "sendto",
    "setsockopt",   "socket",      "shutdown",   "recv",     "recvfrom",
};
constexpr size_t ENTRY_COUNT = sizeof ENTRY_NAMES / sizeof ENTRY_NAMES[0];
static_assert(sizeof(WS32LIB_ENTRIES) == ENTRY_COUNT * sizeof(FARPROC),
              "one table member per exported name");

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

// Only the system directory is searched: a WSOCK32.DLL planted beside the
// program or in the current directory must never be picked up.
HMODULE LoadFromSystemDirectory(const char* name) {
    HMODULE module = LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module || GetLastError() != ERROR_INVALID_PARAMETER) return module;
    // Systems without the search flags refuse it as a parameter: name the
    // file by its full path instead.
    char path[MAX_PATH];
    UINT length = GetSystemDirectoryA(path, MAX_PATH);
    size_t nameLength = lstrlenA(name);
    if (length == 0 || length + 1 + nameLength >= MAX_PATH) return nullptr;
    path[length] = '\\';
    lstrcpyA(path + length + 1, name);
    return LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace

int WS32LIB_LoadLibrary(const char* name) {
    if (LoadCount > 0) {
        ++LoadCount;
        return 0;
    }
    Library = LoadFromSystemDirectory(name);
    if (!Library) return -1;
    // Each pointer is stored as soon as it is found; a missing entry leaves the
    // library loaded with count 0, and the next load starts over.
    char* table = reinterpret_cast<char*>(&WS32LIB);
    for (size_t n = 0; n < ENTRY_COUNT; ++n) {
        FARPROC entry = GetProcAddress(Library, ENTRY_NAMES[n]);
        if (!entry) return -1;
        std::memcpy(table + n * sizeof entry, &entry, sizeof entry);
    }
    LoadCount = 1;
    return 0;
}

int WS32LIB_LoadDLL() { return WS32LIB_LoadLibrary("WSOCK32.DLL"); }

void WS32LIB_UnloadDLL() {
    // An unmatched unload must not wrap the count round to "loaded".
    if (LoadCount == 0) return;
    if (LoadCount == 1) {
        FreeLibrary(Library);
        Library = nullptr;
    }
    --LoadCount;
}

int WS32LIB_IsLoadDLL() { return LoadCount > 0 ? 1 : 0; }

unsigned int WS32LIB_GetLoadCount() { return LoadCount; }

HMODULE WS32LIB_GetDLLHandle() { return Library; }
