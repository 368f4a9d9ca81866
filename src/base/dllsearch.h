// LimitDllSearch: the first call of every program of the project. Header-only,
// so that GLIMCTL.EXE, which shares no code with the program, runs the same.
#pragma once

#include <windows.h>

// Makes every library loaded by name (the delay-loaded system libraries and
// whatever they load in turn) come from the system directory only. The
// program's folder is searched first otherwise, and VERSION.dll is no
// KnownDLL: a program left in Downloads would run a library planted beside it.
// SetDefaultDllDirectories is missing on Windows 7 without its update, so it
// is looked up; there the most that can be done is to take the current
// directory out of the search. When both fail the program runs all the same,
// with the search it had.
inline void LimitDllSearch() {
    using SetDefaultDllDirectoriesProc = BOOL(WINAPI*)(DWORD);
    HMODULE kernel = GetModuleHandleA("KERNEL32.DLL");
    auto setDefaultDirectories = reinterpret_cast<SetDefaultDllDirectoriesProc>(
        reinterpret_cast<void*>(kernel ? GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr));
    if (setDefaultDirectories && setDefaultDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
    SetDllDirectoryA("");
}
