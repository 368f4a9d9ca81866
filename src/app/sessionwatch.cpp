#include "app/sessionwatch.h"

#include <cstddef>
#include <cstring>

namespace {

// GUID_CONSOLE_DISPLAY_STATE, {6FE69556-704A-47A0-8F24-C28D936FDA47}.
constexpr GUID kConsoleDisplayState = {0x6FE69556, 0x704A, 0x47A0, {0x8F, 0x24, 0xC2, 0x8D, 0x93, 0x6F, 0xDA, 0x47}};

constexpr DWORD kThisSessionOnly = 0;  // NOTIFY_FOR_THIS_SESSION
constexpr DWORD kWindowRecipient = 0;  // DEVICE_NOTIFY_WINDOW_HANDLE

typedef BOOL(WINAPI* RegisterSessionProc)(HWND, DWORD);
typedef BOOL(WINAPI* UnregisterSessionProc)(HWND);
typedef HANDLE(WINAPI* RegisterPowerSettingProc)(HANDLE, const GUID*, DWORD);
typedef BOOL(WINAPI* UnregisterPowerSettingProc)(HANDLE);

HMODULE sessionLibrary = nullptr;
bool sessionWatched = false;
HANDLE displayNotification = nullptr;

template <typename Proc>
Proc Entry(HMODULE module, const char* name) {
    if (!module) return nullptr;
    return reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

void WatchSession(HWND window) {
    if (!sessionLibrary) sessionLibrary = LoadLibraryExA("wtsapi32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    auto registerSession = Entry<RegisterSessionProc>(sessionLibrary, "WTSRegisterSessionNotification");
    sessionWatched = registerSession && registerSession(window, kThisSessionOnly);

    auto registerPower = Entry<RegisterPowerSettingProc>(GetModuleHandleA("user32.dll"),
                                                         "RegisterPowerSettingNotification");
    if (registerPower && !displayNotification)
        displayNotification = registerPower(window, &kConsoleDisplayState, kWindowRecipient);
}

void UnwatchSession(HWND window) {
    auto unregisterPower = Entry<UnregisterPowerSettingProc>(GetModuleHandleA("user32.dll"),
                                                             "UnregisterPowerSettingNotification");
    if (displayNotification && unregisterPower) unregisterPower(displayNotification);
    displayNotification = nullptr;
    auto unregisterSession = Entry<UnregisterSessionProc>(sessionLibrary, "WTSUnRegisterSessionNotification");
    if (sessionWatched && unregisterSession) unregisterSession(window);
    sessionWatched = false;
    if (sessionLibrary) FreeLibrary(sessionLibrary);
    sessionLibrary = nullptr;
}

int ConsoleDisplayState(LPARAM setting) {
    // Copied through the process's own memory reader: an address that is not
    // readable fails the copy instead of the program.
    unsigned char record[offsetof(POWERBROADCAST_SETTING, Data) + sizeof(DWORD)] = {};
    SIZE_T got = 0;
    if (!ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<const void*>(setting), record, sizeof record,
                           &got) ||
        got != sizeof record)
        return -1;
    POWERBROADCAST_SETTING head;
    std::memcpy(&head, record, offsetof(POWERBROADCAST_SETTING, Data));
    if (std::memcmp(&head.PowerSetting, &kConsoleDisplayState, sizeof(GUID)) != 0 || head.DataLength < 1) return -1;
    DWORD state = 0;
    std::memcpy(&state, record + offsetof(POWERBROADCAST_SETTING, Data),
                head.DataLength < sizeof state ? head.DataLength : sizeof state);
    return state <= 2 ? static_cast<int>(state) : -1;
}
