#include "dialogdriver.h"

#include <commctrl.h>

#include <cstdio>
#include <map>

#include "msgbox.h"

namespace testsupport {

namespace {

constexpr UINT TRAY_NOTIFY = 0x8001;     // the main window's tray callback message
constexpr UINT CONTROL_RESUME = 0x8003;  // its resume message

struct FindArgs {
    DWORD pid;
    const char* className;
    const char* title;
    std::vector<HWND>* found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM param) {
    FindArgs* args = reinterpret_cast<FindArgs*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != args->pid || !IsWindowVisible(window)) return TRUE;
    char name[256] = {};
    if (args->className) {
        GetClassNameA(window, name, sizeof name);
        if (std::string(name) != args->className) return TRUE;
    }
    if (args->title && WindowText(window) != args->title) return TRUE;
    args->found->push_back(window);
    return TRUE;
}

}  // namespace

HWND FindMainWindowOf(DWORD pid) {
    HWND window = nullptr;
    while ((window = FindWindowExA(nullptr, window, "GLIMMERDECK_CLASS", "GLIMMERDECK_WINDOW"))) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == pid) return window;
    }
    return nullptr;
}

// ---- ResidentProgram ------------------------------------------------------

ResidentProgram::ResidentProgram() = default;

ResidentProgram::~ResidentProgram() { Stop(); }

bool ResidentProgram::Start(unsigned timeoutMs) {
    std::string exe = dir_.File(TEST_PROGRAM);
    if (!CopyTo(BinPath(TEST_PROGRAM), exe)) return false;
    if (!process_.Start(exe, "", dir_.Path())) return false;
    DWORD pid = process_.Pid();
    WaitUntil([&] { return (main_ = FindMainWindowOf(pid)) != nullptr || !process_.Running(); },
              timeoutMs, 20);
    if (!main_) return false;
    // The window is found while its creation still runs, and it answers sent
    // messages while that talks to the shell; it refuses to resume (0) until
    // creation has ended. Control then runs already: the probe changes
    // nothing but a balloon.
    return WaitUntil(
        [&] {
            DWORD_PTR answer = 0;
            return SendMessageTimeoutA(main_, CONTROL_RESUME, 0, 0, SMTO_NORMAL, timeoutMs, &answer) &&
                   answer == 1;
        },
        timeoutMs, 20);
}

bool ResidentProgram::Stop(unsigned timeoutMs) {
    if (!process_.Running()) {
        process_.Kill();
        return true;
    }
    if (main_) PostMessageA(main_, WM_CLOSE, 0, 0);
    bool ended = process_.Wait(timeoutMs);
    process_.Kill();
    main_ = nullptr;
    return ended;
}

// ---- Windows of a process -------------------------------------------------

std::vector<HWND> FindProcessWindows(DWORD pid, const char* className, const char* title) {
    std::vector<HWND> found;
    FindArgs args {pid, className, title, &found};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&args));
    return found;
}

HWND WaitForProcessWindow(DWORD pid, const char* className, const char* title, unsigned timeoutMs) {
    HWND window = nullptr;
    WaitUntil(
        [&] {
            std::vector<HWND> found = FindProcessWindows(pid, className, title);
            window = found.size() == 1 ? found[0] : nullptr;
            return window != nullptr;
        },
        timeoutMs, 20);
    return window;
}

std::string WindowText(HWND window) {
    char text[2048] = {};
    LRESULT n = SendMessageA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    return std::string(text, n > 0 ? static_cast<size_t>(n) : 0);
}

// ---- DialogDriver ---------------------------------------------------------

bool DialogDriver::Open(const ResidentProgram& program, unsigned timeoutMs) {
    return Open(program.Pid(), program.MainWindow(), timeoutMs);
}

bool DialogDriver::Open(DWORD pid, HWND mainWindow, unsigned timeoutMs) {
    pid_ = pid;
    PostMessageA(mainWindow, TRAY_NOTIFY, 0, WM_LBUTTONDBLCLK);
    dialog_ = WaitForProcessWindow(pid_, "#32770", "設定", timeoutMs);
    // The window shows before its initialisation has finished painting.
    if (dialog_) WaitUntil([&] { return ListCount(1100) == 8; }, timeoutMs, 20);
    return dialog_ != nullptr;
}

void DialogDriver::SetText(int id, const std::string& text) const {
    SendMessageA(Item(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

int DialogDriver::SpinPosition(int spinId) const {
    return static_cast<int>(SendMessageA(Item(spinId), UDM_GETPOS32, 0, 0));
}

void DialogDriver::SetSpin(int spinId, int position) const {
    SendMessageA(Item(spinId), UDM_SETPOS32, 0, position);
}

bool DialogDriver::Checked(int id) const {
    return SendMessageA(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void DialogDriver::SetCheck(int id, bool checked) const {
    if (Checked(id) != checked) SendMessageA(Item(id), BM_CLICK, 0, 0);
}

int DialogDriver::ListSelection(int id) const {
    return static_cast<int>(SendMessageA(Item(id), CB_GETCURSEL, 0, 0));
}

int DialogDriver::ListCount(int id) const {
    return static_cast<int>(SendMessageA(Item(id), CB_GETCOUNT, 0, 0));
}

std::string DialogDriver::ListText(int id, int index) const {
    // Asked in UTF-16: Wine does not carry the ANSI form of this request
    // across processes whole.
    LRESULT length = SendMessageW(Item(id), CB_GETLBTEXTLEN, index, 0);
    if (length == CB_ERR || length < 0) return std::string();
    std::wstring wide(static_cast<size_t>(length) + 1, L'\0');
    LRESULT n = SendMessageW(Item(id), CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(&wide[0]));
    if (n <= 0) return std::string();
    char text[1024] = {};
    int bytes = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), static_cast<int>(n), text, sizeof text, nullptr, nullptr);
    return std::string(text, bytes > 0 ? static_cast<size_t>(bytes) : 0);
}

std::vector<std::string> DialogDriver::ListTexts(int id) const {
    std::vector<std::string> texts;
    int count = ListCount(id);
    for (int i = 0; i < count; ++i) texts.push_back(ListText(id, i));
    return texts;
}

void DialogDriver::Select(int id, int index) const {
    HWND list = Item(id);
    SendMessageA(list, CB_SETCURSEL, index, 0);
    SendMessageA(dialog_, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
}

void DialogDriver::Click(int id) const { PostMessageA(Item(id), BM_CLICK, 0, 0); }

void DialogDriver::PressKey(UINT virtualKey) const {
    GUITHREADINFO info {};
    info.cbSize = sizeof info;
    HWND target = dialog_;
    DWORD thread = GetWindowThreadProcessId(dialog_, nullptr);
    if (GetGUIThreadInfo(thread, &info) && info.hwndFocus) target = info.hwndFocus;
    PostMessageA(target, WM_KEYDOWN, virtualKey, 1);
    PostMessageA(target, WM_KEYUP, virtualKey, 0xC0000001);
}

std::string DialogDriver::TakeMessageBox(const char* title, unsigned timeoutMs) const {
    // The settings dialog itself looks like a box too: pick by title.
    MessageBoxInfo found;
    bool seen = WaitUntil(
        [&] {
            for (const MessageBoxInfo& box : FindMessageBoxes(pid_)) {
                if (box.title == title) {
                    found = box;
                    return true;
                }
            }
            return false;
        },
        timeoutMs, 20);
    if (!seen) return std::string();
    CloseMessageBox(found, IDOK, timeoutMs);
    return found.text;
}

bool DialogDriver::WaitClosed(unsigned timeoutMs) {
    bool closed = WaitUntil([&] { return !IsWindow(dialog_); }, timeoutMs, 20);
    if (closed) dialog_ = nullptr;
    return closed;
}

// ---- Screen ---------------------------------------------------------------

COLORREF ScreenImage::TextColor() const {
    std::map<uint32_t, size_t> counts;
    for (uint32_t p : pixels) {
        if (p != 0) ++counts[p];
    }
    uint32_t best = 0;
    size_t most = 0;
    for (const auto& entry : counts) {
        if (entry.second > most) {
            most = entry.second;
            best = entry.first;
        }
    }
    if (most == 0) return CLR_INVALID;
    return RGB((best >> 16) & 0xFF, (best >> 8) & 0xFF, best & 0xFF);
}

bool ScreenImage::SaveBmp(const std::string& path) const {
    if (Empty()) return false;
    BITMAPFILEHEADER file {};
    BITMAPINFOHEADER info {};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = -height;
    info.biPlanes = 1;
    info.biBitCount = 32;
    info.biCompression = BI_RGB;
    DWORD bytes = static_cast<DWORD>(pixels.size() * sizeof(uint32_t));
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + bytes;
    std::string out(reinterpret_cast<const char*>(&file), sizeof file);
    out.append(reinterpret_cast<const char*>(&info), sizeof info);
    out.append(reinterpret_cast<const char*>(pixels.data()), bytes);
    return WriteFile(path, out);
}

ScreenImage CaptureScreen(const RECT& rect) {
    ScreenImage image;
    int width = rect.right - rect.left;
    int height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0) return image;
    HDC screen = GetDC(nullptr);
    if (!screen) return image;
    BITMAPINFO info {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC memory = CreateCompatibleDC(screen);
    if (bitmap && memory) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        if (BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY)) {
            GdiFlush();
            const uint32_t* p = static_cast<const uint32_t*>(bits);
            image.width = width;
            image.height = height;
            image.pixels.assign(p, p + static_cast<size_t>(width) * height);
            for (uint32_t& px : image.pixels) px &= 0xFFFFFF;
        }
        SelectObject(memory, old);
    }
    if (memory) DeleteDC(memory);
    if (bitmap) DeleteObject(bitmap);
    ReleaseDC(nullptr, screen);
    return image;
}

ScreenImage CaptureClient(HWND window) {
    RECT client {};
    if (!GetClientRect(window, &client)) return ScreenImage();
    POINT origin {0, 0};
    ClientToScreen(window, &origin);
    RECT onScreen {origin.x, origin.y, origin.x + client.right, origin.y + client.bottom};
    return CaptureScreen(onScreen);
}

}  // namespace testsupport
