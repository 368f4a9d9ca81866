// WIN32VER: reads the string values of a file's version resource in the one
// language the block declares.
#pragma once

#include <windows.h>

class WIN32VER {
public:
    WIN32VER() = default;
    virtual ~WIN32VER();
    WIN32VER(const WIN32VER&) = delete;
    WIN32VER& operator=(const WIN32VER&) = delete;

    // 1 when the block and its single language/code-page pair were read.
    int Open(const char* fileName);
    // The value of `key`; "(null)" when it is empty, "(error)" when it cannot
    // be found. The text lives in the block, as long as this object.
    const char* Query(const char* key) const;
    // Frees the file name copy and the block.
    void Close();

    WORD Language() const { return translation_[0]; }
    WORD CodePage() const { return translation_[1]; }

private:
    BYTE* block_ = nullptr;
    WORD translation_[2] = {};
    char* fileName_ = nullptr;
};
