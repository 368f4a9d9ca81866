// Text in the ANSI code page (932 for this program) is cut and searched only
// at the start of a character: the second byte of a double-byte character
// may be any byte from 0x40 up, the backslash among them ("表" is 0x95 0x5C,
// "ソ" 0x83 0x5C), and a text cut after a first byte ends in half a character.
#pragma once

#include <cstddef>

// True when `byte` starts a double-byte character of the ANSI code page.
bool IsLeadByte(char byte);

// The last backslash among the first `length` bytes of `path` (fewer when
// its NUL comes first) that is a character of its own; null when none is.
const char* FindLastBackslash(const char* path, size_t length);

// How many bytes of `text`, at most `limit` and never past its NUL, hold
// whole characters only: a double-byte character that would not fit is left
// out entirely.
size_t WholeCharacterLength(const char* text, size_t limit);
