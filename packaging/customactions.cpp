// The installer's custom actions. CloseRunning ends a running Glimmerdeck before any
// file is touched: Windows Installer cannot replace a program that runs, and
// without this an upgrade or an uninstall would leave the old program in place
// until the next restart. The program ends on WM_CLOSE as on its menu's exit
// command. When it does not end in time the installation stops before it changes
// anything and says why.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include "app/glimmessages.h"

namespace {

// Long enough for the control threads to stop on a busy machine.
const DWORD END_WAIT_MS = 15000;
// Each Glimmerdeck found is asked once; only one runs at a time, but the other
// architecture's program or a copy from the ZIP may start in the meantime.
const int MOST_PROGRAMS = 4;

// Asks the program behind window to end and waits for its process; true when
// it ended.
bool EndProgram(HWND window) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    HANDLE process = pid ? OpenProcess(SYNCHRONIZE, FALSE, pid) : nullptr;
    if (!PostMessageA(window, WM_CLOSE, 0, 0)) {
        if (process) CloseHandle(process);
        return !IsWindow(window);
    }
    bool ended;
    if (process) {
        ended = WaitForSingleObject(process, END_WAIT_MS) == WAIT_OBJECT_0;
        CloseHandle(process);
    } else {
        // Without a handle to wait on, the window's end is the sign.
        DWORD start = GetTickCount();
        while (IsWindow(window) && GetTickCount() - start < END_WAIT_MS) Sleep(100);
        ended = !IsWindow(window);
    }
    return ended;
}

// Shows text as the installation's error message (in the log too when the
// installation runs without windows). Wide, so that it reads right whatever
// the system's code page.
void ShowError(MSIHANDLE install, const wchar_t* text) {
    PMSIHANDLE record = MsiCreateRecord(1);
    if (!record) return;
    // Field 0 is the message's template: the text itself.
    MsiRecordSetStringW(record, 0, text);
    MsiProcessMessage(install, INSTALLMESSAGE(INSTALLMESSAGE_ERROR | MB_OK | MB_ICONWARNING), record);
}

}  // namespace

// Entry named by the package's CustomAction (DllEntry). Answers
// ERROR_SUCCESS when no Glimmerdeck runs any more, ERROR_INSTALL_FAILURE
// (the installation ends unchanged) when one would not end.
extern "C" __declspec(dllexport) UINT __stdcall CloseRunning(MSIHANDLE install) {
    for (int i = 0; i < MOST_PROGRAMS; ++i) {
        HWND window = FindWindowA(GLIM_CLASS_NAME, GLIM_WINDOW_NAME);
        if (!window) return ERROR_SUCCESS;
        if (!EndProgram(window)) break;
    }
    if (!FindWindowA(GLIM_CLASS_NAME, GLIM_WINDOW_NAME)) return ERROR_SUCCESS;
    ShowError(install,
              L"Glimmerdeck が終了しません。タスクトレイのメニューの「プログラムの終了」で"
              L"終了してから、もう一度実行してください。");
    return ERROR_INSTALL_FAILURE;
}

// Entry run when a newer Glimmerdeck of the same architecture is installed.
// The package's own refusal (a launch condition) can only carry ASCII text:
// wixl drops every other character of the package's strings. This one comes
// first and speaks the user's language.
extern "C" __declspec(dllexport) UINT __stdcall RefuseDowngrade(MSIHANDLE install) {
    ShowError(install,
              L"新しいバージョンの Glimmerdeck がインストールされています。"
              L"古いバージョンに戻すときは、先に「アプリと機能」から Glimmerdeck を"
              L"アンインストールしてください（設定ファイル GLIMDECK.INI は残ります）。");
    return ERROR_INSTALL_FAILURE;
}
