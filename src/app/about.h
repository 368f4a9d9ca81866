// The About box: the program's description, platform, version, copyright and
// icon-artwork credit, read from its own version resource when opened.
#pragma once

#include <windows.h>

#include <cstddef>

// 1 while the About box shows (a second request then only brings the owner
// forward); the tray menu marks its item with a check meanwhile.
extern volatile int AboutOpen;

// The credit line for the icon artwork.
extern const char* const ABOUT_CREDIT_LINE;

// The box text, "%s (<platform tag>)\r\nVersion %s\r\n\r\n%s\r\n\r\n%s", cut to `size`.
// Returns `buffer`.
char* FormatAboutText(char* buffer, size_t size, const char* description, const char* version,
                      const char* copyright, const char* credit);

// Shows the About box owned by `owner`; nothing when the program's version
// resource cannot be read.
void ShowVersion(HWND owner);
