#include "msgbox.h"

#include <vector>

#include "testsupport.h"

namespace testsupport {

namespace {

const char DIALOG_CLASS[] = "#32770";
// The message text's control id: 0xFFFF on Windows, 100 in Wine's template.
const int TEXT_IDS[] = {0xFFFF, 100};
const UINT READ_TIMEOUT_MS = 2000;

struct Search {
    DWORD pid;
    std::vector<HWND> windows;
};

BOOL CALLBACK CollectTopLevel(HWND window, LPARAM param) {
    Search* search = reinterpret_cast<Search*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == search->pid && IsWindowVisible(window)) search->windows.push_back(window);
    return TRUE;
}

BOOL CALLBACK CollectChildren(HWND window, LPARAM param) {
    reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
    return TRUE;
}

std::string ClassOf(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

// WM_GETTEXT across processes, bounded so a hung box cannot hang the test.
bool ReadText(HWND window, std::string* text) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, READ_TIMEOUT_MS, &length))
        return false;
    std::vector<char> buf(length * 2 + 2, '\0');
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()),
                             SMTO_ABORTIFHUNG, READ_TIMEOUT_MS, &got))
        return false;
    text->assign(buf.data(), got < buf.size() ? got : buf.size());
    return true;
}

HWND TextControl(HWND box, const std::vector<HWND>& children) {
    for (int id : TEXT_IDS) {
        HWND control = GetDlgItem(box, id);
        if (control && ClassOf(control) == "Static") return control;
    }
    // Otherwise the first static control that is not the icon.
    for (HWND child : children) {
        if (ClassOf(child) != "Static") continue;
        if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) continue;
        return child;
    }
    return nullptr;
}

bool Describe(HWND window, MessageBoxInfo* info) {
    if (ClassOf(window) != DIALOG_CLASS) return false;
    std::vector<HWND> children;
    EnumChildWindows(window, CollectChildren, reinterpret_cast<LPARAM>(&children));
    HWND text = TextControl(window, children);
    if (!text) return false;
    info->window = window;
    info->owner = GetWindow(window, GW_OWNER);
    info->topmost = (GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    info->buttons.clear();
    for (HWND child : children) {
        if (ClassOf(child) == "Button" && IsWindowVisible(child)) info->buttons.push_back(GetDlgCtrlID(child));
    }
    return ReadText(window, &info->title) && ReadText(text, &info->text);
}

}  // namespace

std::vector<HWND> VisibleWindowsOf(DWORD pid) {
    Search search {pid, {}};
    EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.windows;
}

std::vector<MessageBoxInfo> FindMessageBoxes(DWORD pid) {
    std::vector<MessageBoxInfo> boxes;
    for (HWND window : VisibleWindowsOf(pid)) {
        MessageBoxInfo info;
        if (Describe(window, &info)) boxes.push_back(info);
    }
    return boxes;
}

bool WaitForMessageBox(DWORD pid, unsigned timeoutMs, MessageBoxInfo* box) {
    return WaitUntil(
        [&] {
            std::vector<MessageBoxInfo> boxes = FindMessageBoxes(pid);
            if (boxes.empty()) return false;
            *box = boxes.front();
            return true;
        },
        timeoutMs, 50);
}

bool CloseMessageBox(const MessageBoxInfo& box, int buttonId, unsigned timeoutMs) {
    HWND button = GetDlgItem(box.window, buttonId);
    if (!button) return false;
    // What a click on the button sends its dialog.
    if (!PostMessageA(box.window, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED), reinterpret_cast<LPARAM>(button)))
        return false;
    return WaitUntil([&] { return !IsWindow(box.window) || !IsWindowVisible(box.window); }, timeoutMs, 20);
}

int CloseAllMessageBoxes(DWORD pid, unsigned timeoutMs) {
    int closed = 0;
    for (const MessageBoxInfo& box : FindMessageBoxes(pid)) {
        if (!box.buttons.empty() && CloseMessageBox(box, box.buttons.front(), timeoutMs)) ++closed;
    }
    return closed;
}

}  // namespace testsupport
