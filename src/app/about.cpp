#include "app/about.h"

#include <cstdio>

#include "app/win32ver.h"
#include "base/bringtofront.h"
#include "base/platform.h"

volatile int AboutOpen = 0;

const char* const ABOUT_CREDIT_LINE = "アイコン画像 (C) 2026 The Glimmerdeck developers";

namespace {
constexpr const char* ABOUT_TITLE = "バージョン情報";
constexpr UINT ABOUT_STYLE = MB_ICONINFORMATION | MB_TOPMOST | MB_SETFOREGROUND;
constexpr size_t ABOUT_BUFFER = 260;
}  // namespace

char* FormatAboutText(char* buffer, size_t size, const char* description, const char* version,
                      const char* copyright, const char* credit) {
    if (!buffer || size == 0) return buffer;
    // snprintf cuts to fit and always terminates.
    std::snprintf(buffer, size, "%s (%s)\r\nVersion %s\r\n\r\n%s\r\n\r\n%s", description,
                  PLATFORM_TAG, version, copyright, credit);
    return buffer;
}

void ShowVersion(HWND owner) {
    if (AboutOpen) {
        BringToFront(owner);
        return;
    }
    char text[ABOUT_BUFFER] = {};
    if (GetModuleFileNameA(nullptr, text, ABOUT_BUFFER - 5) == 0) return;
    {
        WIN32VER version;
        if (!version.Open(text)) return;
        const char* copyright = version.Query("LegalCopyright");
        const char* number = version.Query("FileVersion");
        const char* description = version.Query("FileDescription");
        // The values live in the block: format before it is released.
        char formatted[ABOUT_BUFFER];
        FormatAboutText(formatted, sizeof formatted, description, number, copyright,
                        ABOUT_CREDIT_LINE);
        std::snprintf(text, sizeof text, "%s", formatted);
    }
    AboutOpen = 1;
    MessageBoxA(owner, text, ABOUT_TITLE, ABOUT_STYLE);
    AboutOpen = 0;
}
