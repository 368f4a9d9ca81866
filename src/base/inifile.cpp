#include "base/inifile.h"

#include "base/dbcs.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kTextMax = 255;  // every written value fits 255 characters

// Parses up to `count` comma-separated decimal integers from `text` into
// `values`; stops at the first text that is not a number. Returns how many.
int ParseNumbers(const char* text, long* values, int count) {
    const char* p = text;
    int parsed = 0;
    while (parsed < count) {
        char* end = nullptr;
        long v = std::strtol(p, &end, 10);
        if (end == p) break;
        values[parsed++] = v;
        if (*end != ',') break;
        p = end + 1;
    }
    return parsed;
}

}  // namespace

INIFILE::INIFILE(const INIFILE& other) : path_(other.path_) {}

INIFILE& INIFILE::operator=(const INIFILE& other) {
    if (this != &other) path_ = other.path_;
    return *this;
}

int INIFILE::Open(const char* path) {
    path_ = path;
    writeFailures_ = 0;
    return IsOpen() ? 1 : 0;
}

int INIFILE::OpenLocal(const char* name) {
    path_.Remove();
    writeFailures_ = 0;
    char module[1024];
    DWORD n = GetModuleFileNameA(nullptr, module, sizeof module);
    if (n == 0 || n >= sizeof module || !name) return 0;
    const char* slash = FindLastBackslash(module, n);
    size_t dirLength = slash ? static_cast<size_t>(slash - module) + 1 : 0;
    if (dirLength + std::strlen(name) >= sizeof module) return 0;
    std::strcpy(module + dirLength, name);
    path_ = module;
    return IsOpen() ? 1 : 0;
}

void INIFILE::Close() { path_.Remove(); }

int INIFILE::Create(const char* section) {
    if (!IsOpen()) return 0;
    return WritePrivateProfileSectionA(section, "", path_.String()) ? 1 : 0;
}

int INIFILE::Read(const char* section, const char* key, unsigned char def, unsigned char* out) {
    if (!IsOpen()) return 0;
    *out = static_cast<unsigned char>(GetPrivateProfileIntA(section, key, def, path_.String()));
    return 1;
}

int INIFILE::Read(const char* section, const char* key, short def, short* out) {
    if (!IsOpen()) return 0;
    *out = static_cast<short>(GetPrivateProfileIntA(section, key, def, path_.String()));
    return 1;
}

int INIFILE::Read(const char* section, const char* key, unsigned short def, unsigned short* out) {
    if (!IsOpen()) return 0;
    *out = static_cast<unsigned short>(GetPrivateProfileIntA(section, key, def, path_.String()));
    return 1;
}

int INIFILE::Read(const char* section, const char* key, unsigned long def, unsigned long* out) {
    if (!IsOpen()) return 0;
    *out = GetPrivateProfileIntA(section, key, static_cast<INT>(def), path_.String());
    return 1;
}

int INIFILE::Read(const char* section, const char* key, double def, double* out) {
    if (!IsOpen()) return 0;
    char text[kTextMax + 1];
    GetPrivateProfileStringA(section, key, "", text, sizeof text, path_.String());
    *out = text[0] ? std::atof(text) : def;
    return 1;
}

int INIFILE::Read(const char* section, const char* key, float def, float* out) {
    double wide = 0;
    if (!Read(section, key, static_cast<double>(def), &wide)) return 0;
    *out = static_cast<float>(wide);
    return 1;
}

int INIFILE::Read(const char* section, const char* key, const char* def, char* buf, unsigned size) {
    if (!IsOpen()) return 0;
    GetPrivateProfileStringA(section, key, def, buf, size, path_.String());
    return 1;
}

int INIFILE::Read(const char* section, const char* key, LOGFONTA* font) {
    if (!IsOpen()) return 0;
    char text[128];
    GetPrivateProfileStringA(section, key, "", text, sizeof text, path_.String());
    if (!text[0]) return 0;

    long v[13];
    int n = ParseNumbers(text, v, 13);
    LONG* longs[] = {&font->lfHeight, &font->lfWidth, &font->lfEscapement, &font->lfOrientation,
                     &font->lfWeight};
    BYTE* bytes[] = {&font->lfItalic,       &font->lfUnderline,     &font->lfStrikeOut,
                     &font->lfCharSet,      &font->lfOutPrecision,  &font->lfClipPrecision,
                     &font->lfQuality,      &font->lfPitchAndFamily};
    for (int i = 0; i < n; ++i) {
        if (i < 5)
            *longs[i] = v[i];
        else
            *bytes[i - 5] = static_cast<BYTE>(v[i]);
    }
    // A text with no comma at all names no face: the face is left as it was.
    if (const char* comma = std::strrchr(text, ',')) {
        size_t length = WholeCharacterLength(comma + 1, LF_FACESIZE - 1);
        std::memcpy(font->lfFaceName, comma + 1, length);
        font->lfFaceName[length] = '\0';
    }
    return 1;
}

// -1 when the key is missing; else how many of the three numbers its text
// gives. Those given replace their bytes of `colour`, each clamped to 0..255
// (300 is full red, not 44).
int INIFILE::ParseColour(const char* section, const char* key, unsigned long* colour) {
    if (!IsOpen()) return -1;
    char text[kTextMax + 1];
    GetPrivateProfileStringA(section, key, "", text, sizeof text, path_.String());
    if (!text[0]) return -1;
    long v[3] = {static_cast<long>(*colour & 0xFF), static_cast<long>((*colour >> 8) & 0xFF),
                 static_cast<long>((*colour >> 16) & 0xFF)};
    int given = ParseNumbers(text, v, 3);
    unsigned long result = 0;
    for (int i = 0; i < 3; ++i) {
        long c = v[i] < 0 ? 0 : v[i] > 255 ? 255 : v[i];
        result |= static_cast<unsigned long>(c) << (8 * i);
    }
    *colour = result;
    return given;
}

int INIFILE::Read(const char* section, const char* key, unsigned long* colour) {
    return ParseColour(section, key, colour) < 0 ? 0 : 1;
}

int INIFILE::ReadWholeColour(const char* section, const char* key, unsigned long* colour) {
    unsigned long parsed = *colour;
    if (ParseColour(section, key, &parsed) != 3) return 0;
    *colour = parsed;
    return 1;
}

int INIFILE::Read(const char* section, const char* key, RECT* rect) {
    if (!IsOpen()) return 0;
    char text[kTextMax + 1];
    GetPrivateProfileStringA(section, key, "", text, sizeof text, path_.String());
    if (!text[0]) return 0;
    long v[4] = {rect->left, rect->top, rect->right, rect->bottom};
    ParseNumbers(text, v, 4);
    rect->left = v[0];
    rect->top = v[1];
    rect->right = v[2];
    rect->bottom = v[3];
    return 1;
}

int INIFILE::Store(const char* section, const char* key, const char* text) {
    if (!IsOpen()) return 0;
    if (!WritePrivateProfileStringA(section, key, text, path_.String())) ++writeFailures_;
    return 1;
}

// `length` is what snprintf wanted to write: a value whose text does not fit
// is refused rather than stored cut short (a cut number reads back wrong).
int INIFILE::StoreFormatted(const char* section, const char* key, int length, const char* text) {
    if (!IsOpen() || length < 0 || length > kTextMax) return 0;
    return Store(section, key, text);
}

int INIFILE::Write(const char* section, const char* key, const char* format, unsigned long value) {
    char text[kTextMax + 1];
    int n = std::snprintf(text, sizeof text, format, value);
    return StoreFormatted(section, key, n, text);
}

int INIFILE::Write(const char* section, const char* key, unsigned char value) {
    return Write(section, key, "0x%02lx", static_cast<unsigned long>(value));
}

int INIFILE::Write(const char* section, const char* key, short value) {
    return Write(section, key, "%ld", static_cast<unsigned long>(static_cast<long>(value)));
}

int INIFILE::Write(const char* section, const char* key, unsigned short value) {
    return Write(section, key, "0x%04lx", static_cast<unsigned long>(value));
}

int INIFILE::Write(const char* section, const char* key, int value) {
    return Write(section, key, "%ld", static_cast<unsigned long>(static_cast<long>(value)));
}

int INIFILE::Write(const char* section, const char* key, unsigned int value) {
    return Write(section, key, "%lu", static_cast<unsigned long>(value));
}

int INIFILE::Write(const char* section, const char* key, long value) {
    return Write(section, key, "%ld", static_cast<unsigned long>(value));
}

int INIFILE::Write(const char* section, const char* key, unsigned long value) {
    return Write(section, key, "0x%08lx", value);
}

int INIFILE::Write(const char* section, const char* key, double value) {
    char text[kTextMax + 1];
    int n = std::snprintf(text, sizeof text, "%lf", value);
    return StoreFormatted(section, key, n, text);
}

int INIFILE::Write(const char* section, const char* key, float value) {
    return Write(section, key, static_cast<double>(value));
}

int INIFILE::Write(const char* section, const char* key, const char* text) {
    return Store(section, key, text);
}

int INIFILE::Write(const char* section, const char* key, const LOGFONTA* f) {
    char text[kTextMax + 1];
    int face = static_cast<int>(WholeCharacterLength(f->lfFaceName, LF_FACESIZE - 1));
    int n = std::snprintf(text, sizeof text, "%ld,%ld,%ld,%ld,%ld,%u,%u,%u,%u,%u,%u,%u,%u,%.*s",
                          f->lfHeight, f->lfWidth, f->lfEscapement, f->lfOrientation, f->lfWeight,
                          f->lfItalic, f->lfUnderline, f->lfStrikeOut, f->lfCharSet,
                          f->lfOutPrecision, f->lfClipPrecision, f->lfQuality,
                          f->lfPitchAndFamily, face, f->lfFaceName);
    return StoreFormatted(section, key, n, text);
}

int INIFILE::Write(const char* section, const char* key, const unsigned long* colour) {
    char text[kTextMax + 1];
    int n = std::snprintf(text, sizeof text, "%lu,%lu,%lu", *colour & 0xFF, (*colour >> 8) & 0xFF,
                          (*colour >> 16) & 0xFF);
    return StoreFormatted(section, key, n, text);
}

int INIFILE::Write(const char* section, const char* key, const RECT* rect) {
    char text[kTextMax + 1];
    int n = std::snprintf(text, sizeof text, "%ld,%ld,%ld,%ld", rect->left, rect->top,
                          rect->right, rect->bottom);
    return StoreFormatted(section, key, n, text);
}
