// DebugPrint: one printf-style line to the debugger (OutputDebugStringA),
// at most 1023 characters. Nothing gates it.
#pragma once

void DebugPrint(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
