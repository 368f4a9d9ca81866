// What tells the 32-bit program from its native 64-bit build: its file name,
// the tag its texts show, and the driver library of the same bitness. Every
// other name (settings file, mutex, window class, messages) is shared, so a
// 32-bit and a 64-bit instance exclude each other and either GLIMCTL drives
// either program.
#pragma once

#ifdef _WIN64
constexpr char PLATFORM_TAG[] = "x64";
constexpr char PROGRAM_FILE[] = "GLIMDK64.EXE";
constexpr char DRIVER_LIBRARY[] = "nvapi64.dll";
#else
constexpr char PLATFORM_TAG[] = "x86";
constexpr char PROGRAM_FILE[] = "GLIMDK32.EXE";
constexpr char DRIVER_LIBRARY[] = "nvapi.dll";
#endif
