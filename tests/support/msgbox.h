// Finding, reading and closing the message boxes of another process, for
// whole-program tests:
//
//     testsupport::MessageBoxInfo box;
//     ASSERT_TRUE(testsupport::WaitForMessageBox(child.Pid(), 10000, &box));
//     EXPECT_EQ("エラー情報", box.title);      // bytes in the ANSI code page (932)
//     EXPECT_TRUE(testsupport::CloseMessageBox(box));  // clicks OK, waits until it is gone
//
// A message box is a visible top-level dialog window (class "#32770") of the
// process that holds a text control; an empty text still counts.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace testsupport {

struct MessageBoxInfo {
    HWND window = nullptr;
    HWND owner = nullptr;       // null for a box without owner
    std::string title;          // the caption's bytes as this process's ANSI code page gives them
    std::string text;           // the message text's bytes, likewise
    bool topmost = false;       // WS_EX_TOPMOST (Wine 8 never sets it on message boxes)
    std::vector<int> buttons;   // control ids of its buttons (IDOK, IDCANCEL, IDYES, ...)
};

// The message boxes process `pid` shows now.
std::vector<MessageBoxInfo> FindMessageBoxes(DWORD pid);

// Waits up to `timeoutMs` for a message box of `pid` (the first one found).
bool WaitForMessageBox(DWORD pid, unsigned timeoutMs, MessageBoxInfo* box);

// Clicks button `buttonId` of the box and waits up to `timeoutMs` for the box
// to go away. True when it went.
bool CloseMessageBox(const MessageBoxInfo& box, int buttonId = IDOK, unsigned timeoutMs = 5000);

// Closes every box `pid` shows, each with its first button; returns how many.
int CloseAllMessageBoxes(DWORD pid, unsigned timeoutMs = 5000);

// Top-level visible windows of `pid` of any kind (a program that should show
// none can be checked with this while it runs).
std::vector<HWND> VisibleWindowsOf(DWORD pid);

}  // namespace testsupport
