#include "app/mutex.h"

#include "app/glimmessages.h"

MUTEX::MUTEX(const char* name) : name_(name ? name : GLIM_MUTEX_NAME) {}

MUTEX::~MUTEX() { Release(); }

int MUTEX::Create() {
    if (handle_) return 0;
    HANDLE other = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name_);
    if (other) {
        CloseHandle(other);
        return 0;
    }
    HANDLE created = CreateMutexA(nullptr, FALSE, name_);
    if (!created) return 0;
    // Two instances started together can both miss the open above; the one
    // whose create merely opened the other's mutex must step back, or both
    // would drive the LEDs.
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(created);
        return 0;
    }
    handle_ = created;
    return 1;
}

void MUTEX::Release() {
    if (!handle_) return;
    ReleaseMutex(handle_);
    CloseHandle(handle_);
    handle_ = nullptr;
}
