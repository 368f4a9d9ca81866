#include <windows.h>

#include <cstdlib>

#include "app/commandline.h"
#include "app/resident.h"
#include "base/dllsearch.h"

// Any command-line tail means command-line mode: no window, no single-instance
// check, so it runs beside a resident instance. The exit code is 0 on every path.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    // Before anything can load a library by name.
    LimitDllSearch();
    if (commandLine && commandLine[0] != '\0') {
        RunCommandLine(__argc, __argv);
        return 0;
    }
    RunResident(instance);
    return 0;
}
