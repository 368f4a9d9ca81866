// Finding, reading and closing the message boxes of a process (this one or
// another in the same Wine prefix).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace testsupport {

struct ShownBox {
    HWND window;
    std::string title;
    std::string text;  // the box's message, as the program passed it
};

// The visible message boxes that process `pid` shows now.
std::vector<ShownBox> MessageBoxesOf(DWORD pid);
// Waits up to `timeoutMs` for a box of `pid` (with `title`, when not empty).
bool WaitForMessageBox(DWORD pid, unsigned timeoutMs, ShownBox* box, const std::string& title = "");
// Presses the box's OK (or, failing that, Cancel) and waits for it to go.
bool CloseMessageBox(const ShownBox& box, unsigned timeoutMs = 5000);

}  // namespace testsupport
