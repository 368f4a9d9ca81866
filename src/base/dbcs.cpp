#include "base/dbcs.h"

#include <windows.h>

bool IsLeadByte(char byte) { return IsDBCSLeadByte(static_cast<BYTE>(byte)) != FALSE; }

const char* FindLastBackslash(const char* path, size_t length) {
    const char* found = nullptr;
    for (size_t i = 0; i < length && path[i] != '\0'; ++i) {
        if (path[i] == '\\') {
            found = path + i;
        } else if (IsLeadByte(path[i]) && i + 1 < length && path[i + 1] != '\0') {
            ++i;
        }
    }
    return found;
}

size_t WholeCharacterLength(const char* text, size_t limit) {
    size_t i = 0;
    while (i < limit && text[i] != '\0') {
        if (IsLeadByte(text[i])) {
            if (i + 2 > limit || text[i + 1] == '\0') break;
            i += 2;
        } else {
            ++i;
        }
    }
    return i;
}
