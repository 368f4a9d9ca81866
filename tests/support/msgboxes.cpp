#include "msgboxes.h"

#include <cstring>

#include "testsupport.h"

namespace testsupport {

namespace {

constexpr int MESSAGE_TEXT_ID = 0xFFFF;  // the static control that holds the text

struct Search {
    DWORD pid;
    std::vector<ShownBox> boxes;
};

std::string TextOf(HWND window) {
    char text[2048] = {};
    DWORD_PTR length = 0;
    // WM_GETTEXT is marshalled between processes; a timeout keeps a hung
    // program from hanging the test.
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                        2000, &length);
    return std::string(text, strnlen(text, sizeof text));
}

BOOL CALLBACK Collect(HWND window, LPARAM param) {
    Search* search = reinterpret_cast<Search*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    char cls[32] = {};
    GetClassNameA(window, cls, sizeof cls);
    if (pid != search->pid || std::strcmp(cls, "#32770") != 0 || !IsWindowVisible(window)) return TRUE;
    HWND message = GetDlgItem(window, MESSAGE_TEXT_ID);
    if (!message) return TRUE;  // a dialog, not a message box
    search->boxes.push_back(ShownBox {window, TextOf(window), TextOf(message)});
    return TRUE;
}

}  // namespace

std::vector<ShownBox> MessageBoxesOf(DWORD pid) {
    Search search {pid, {}};
    EnumWindows(Collect, reinterpret_cast<LPARAM>(&search));
    return search.boxes;
}

bool WaitForMessageBox(DWORD pid, unsigned timeoutMs, ShownBox* box, const std::string& title) {
    return WaitUntil(
        [&] {
            for (const ShownBox& b : MessageBoxesOf(pid)) {
                if (!title.empty() && b.title != title) continue;
                if (box) *box = b;
                return true;
            }
            return false;
        },
        timeoutMs, 50);
}

bool CloseMessageBox(const ShownBox& box, unsigned timeoutMs) {
    int button = GetDlgItem(box.window, IDOK) ? IDOK : IDCANCEL;
    PostMessageA(box.window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box.window, button)));
    return WaitUntil([&] { return !IsWindow(box.window) || !IsWindowVisible(box.window); }, timeoutMs, 20);
}

}  // namespace testsupport
