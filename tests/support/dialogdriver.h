// Driving the resident program's settings dialog from another process, as a
// user would: the tray double click opens it, spins, lists, fields and
// buttons are worked through their own messages, and what the dialog shows is
// read back from its controls and from the screen.
//
//     testsupport::ResidentProgram program;
//     program.WriteSettings("[DEVICE0]\r\nEnable=1\r\n");
//     ASSERT_TRUE(program.Start());
//     testsupport::DialogDriver dialog;
//     ASSERT_TRUE(dialog.Open(program));        // tray double click, waits for "設定"
//     dialog.SetSpin(1109, 42);                 // "輝度"
//     dialog.Select(1100, 1);                   // another device
//     dialog.Click(4);                          // "適用"
//     std::string box = dialog.TakeMessageBox("確認情報");
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "testsupport.h"

namespace testsupport {

// GLIMDK32.EXE copied into a folder of its own (its settings file lives
// beside it), started there and ended through its window, or killed.
class ResidentProgram {
public:
    ResidentProgram();
    ~ResidentProgram();
    ResidentProgram(const ResidentProgram&) = delete;
    ResidentProgram& operator=(const ResidentProgram&) = delete;

    const TempDir& Dir() const { return dir_; }
    std::string IniPath() const { return dir_.File("GLIMDECK.INI"); }
    bool WriteSettings(const std::string& text) { return WriteFile(IniPath(), text); }
    std::string Settings() const { return ReadFile(IniPath()); }

    // Starts the program and waits until its main window exists.
    bool Start(unsigned timeoutMs = 15000);
    // WM_CLOSE, then a bounded wait; a program that does not end is killed.
    bool Stop(unsigned timeoutMs = 10000);
    DWORD Pid() const { return process_.Pid(); }
    HWND MainWindow() const { return main_; }
    bool Running() const { return process_.Running(); }
    DWORD ExitCode() const { return process_.ExitCode(); }

private:
    TempDir dir_;
    ChildProcess process_;
    HWND main_ = nullptr;
};

// The program's main window in process `pid`; null when it has none (yet).
HWND FindMainWindowOf(DWORD pid);

// The visible top-level windows of `pid` of class `className` (any class
// when null) whose caption is `title` (any when null).
std::vector<HWND> FindProcessWindows(DWORD pid, const char* className, const char* title);
// Waits for exactly one such window; null on timeout.
HWND WaitForProcessWindow(DWORD pid, const char* className, const char* title, unsigned timeoutMs);

// Text of a window or control, through WM_GETTEXT.
std::string WindowText(HWND window);

class DialogDriver {
public:
    // Double-clicks the tray icon (its notification to the main window) and
    // waits for the dialog "設定".
    bool Open(const ResidentProgram& program, unsigned timeoutMs = 10000);
    // The same for a program started some other way: its process and main window.
    bool Open(DWORD pid, HWND mainWindow, unsigned timeoutMs = 10000);
    HWND Window() const { return dialog_; }
    HWND Item(int id) const { return GetDlgItem(dialog_, id); }
    bool IsOpen() const { return dialog_ != nullptr && IsWindow(dialog_); }

    std::string Text(int id) const { return WindowText(Item(id)); }
    // Types `text` into a field.
    void SetText(int id, const std::string& text) const;
    // A spin's position, as the spin itself reads it back from its field.
    int SpinPosition(int spinId) const;
    // Moves a spin, which writes the number into its field.
    void SetSpin(int spinId, int position) const;
    bool Checked(int id) const;
    // Clicks a check box when its state differs.
    void SetCheck(int id, bool checked) const;

    int ListSelection(int id) const;
    int ListCount(int id) const;
    std::string ListText(int id, int index) const;
    std::vector<std::string> ListTexts(int id) const;
    // Picks an entry of a drop-down list: the list changes its selection and
    // tells the dialog, as it does for a click.
    void Select(int id, int index) const;

    // Clicks a button; returns at once (the click may open a modal box).
    void Click(int id) const;
    // Posts a key press to the focused control of the dialog.
    void PressKey(UINT virtualKey) const;

    // Waits for a message box of the program titled `title`, returns its
    // text and closes it with its OK button; "" when none came.
    std::string TakeMessageBox(const char* title, unsigned timeoutMs = 10000) const;
    // Waits until the dialog has gone.
    bool WaitClosed(unsigned timeoutMs = 10000);

private:
    DWORD pid_ = 0;
    HWND dialog_ = nullptr;
};

// A part of the screen, 0x00RRGGBB per pixel.
struct ScreenImage {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;

    bool Empty() const { return pixels.empty(); }
    // The commonest colour that is not black; COLORREF form. CLR_INVALID when
    // everything is black.
    COLORREF TextColor() const;
    bool operator==(const ScreenImage& other) const {
        return width == other.width && height == other.height && pixels == other.pixels;
    }
    bool SaveBmp(const std::string& path) const;
};

// The client area of `window` as it shows on the screen.
ScreenImage CaptureClient(HWND window);
// A screen rectangle.
ScreenImage CaptureScreen(const RECT& rect);

}  // namespace testsupport
