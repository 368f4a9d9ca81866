#include "base/debugprint.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>

void DebugPrint(const char* format, ...) {
    char line[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    OutputDebugStringA(line);
}
