#include "app/win32ver.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

WIN32VER::~WIN32VER() { Close(); }

void WIN32VER::Close() {
    std::free(fileName_);
    fileName_ = nullptr;
    std::free(block_);
    block_ = nullptr;
}

int WIN32VER::Open(const char* fileName) {
    Close();
    if (!fileName) return 0;
    size_t length = std::strlen(fileName);
    fileName_ = static_cast<char*>(std::malloc(length + 1));
    if (!fileName_) return 0;
    std::memcpy(fileName_, fileName, length + 1);

    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(fileName_, &ignored);
    if (size == 0) return 0;
    block_ = static_cast<BYTE*>(std::malloc(size));
    if (!block_) return 0;
    if (!GetFileVersionInfoA(fileName_, 0, size, block_)) return 0;

    void* value = nullptr;
    UINT valueLength = 0;
    if (!VerQueryValueA(block_, "\\VarFileInfo\\Translation", &value, &valueLength)) return 0;
    // Only a block that names exactly one language tells which table to read.
    if (!value || valueLength != sizeof translation_) return 0;
    std::memcpy(translation_, value, sizeof translation_);
    return 1;
}

const char* WIN32VER::Query(const char* key) const {
    if (!block_ || !key) return "(error)";
    char path[128];
    int n = std::snprintf(path, sizeof path, "\\StringFileInfo\\%04x%04x\\%s", translation_[0],
                          translation_[1], key);
    if (n < 0 || n >= static_cast<int>(sizeof path)) return "(error)";
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block_, path, &value, &length) || !value) return "(error)";
    const char* text = static_cast<const char*>(value);
    // Some version readers count the terminator of an empty value.
    if (length == 0 || text[0] == '\0') return "(null)";
    return text;
}
