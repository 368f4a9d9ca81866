#include "base/bringtofront.h"

bool NeedsInputAttach(DWORD version) {
    DWORD major = LOBYTE(LOWORD(version));
    DWORD minor = HIBYTE(LOWORD(version));
    bool ninetyX = (version & 0x80000000u) != 0;
    if (!ninetyX) return major >= 5;
    return major >= 4 && minor >= 10;
}

void BringToFront(HWND window) {
    if (!NeedsInputAttach(GetVersion())) {
        SetForegroundWindow(window);
        return;
    }
    DWORD self = GetCurrentThreadId();
    DWORD owner = GetWindowThreadProcessId(GetForegroundWindow(), nullptr);
    // Attaching a thread to itself fails; then there is nothing to undo.
    BOOL attached = owner != 0 && owner != self && AttachThreadInput(self, owner, TRUE);
    SetForegroundWindow(window);
    if (attached) AttachThreadInput(self, owner, FALSE);
    BringWindowToTop(window);
}
