// BringToFront: brings a window to the foreground, working around the
// foreground lock of newer systems by attaching to the foreground thread.
#pragma once

#include <windows.h>

// Whether a system of this GetVersion() value needs the attach-input dance:
// NT 5 and later, or 9x from 4.10 (Windows 98) on.
bool NeedsInputAttach(DWORD version);

void BringToFront(HWND window);
