#include "base/cstr.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/dbcs.h"

char* CSTR::AllocateZeroed(unsigned int length) {
    char* block = static_cast<char*>(std::calloc(static_cast<size_t>(length) + 1, 1));
    if (!block) ErrorTrap();
    return block;
}

void CSTR::ErrorTrap() { std::_Exit(0); }

bool CSTR::IsTrim(char ch, const char* set) {
    if (!set) return std::isspace(static_cast<unsigned char>(ch)) != 0;
    return ch != '\0' && std::strchr(set, ch) != nullptr;
}

void CSTR::Adopt(char* block) {
    std::free(text_);
    if (block && block[0] == '\0') {
        std::free(block);
        block = nullptr;
    }
    text_ = block;
    length_ = block ? static_cast<unsigned int>(std::strlen(block)) : 0;
}

CSTR::CSTR(const char* s) { Append(s); }

CSTR::CSTR(int n) { *this = n; }

CSTR::CSTR(const CSTR& other) : trap_(other.trap_) { Append(other.text_); }

CSTR::~CSTR() { std::free(text_); }

// The new text is built before the old block goes, so assigning a tail of
// the string's own text is safe.
CSTR& CSTR::operator=(const char* s) {
    if (s == text_) return *this;
    if (!s || !*s) {
        Remove();
        return *this;
    }
    unsigned int n = static_cast<unsigned int>(std::strlen(s));
    char* block = AllocateZeroed(n);
    std::memcpy(block, s, n);
    Adopt(block);
    return *this;
}

CSTR& CSTR::operator=(const CSTR& other) { return *this = other.text_; }

CSTR& CSTR::operator=(int n) {
    char digits[16];
    int len = std::snprintf(digits, sizeof digits, "%d", n);
    char* block = AllocateZeroed(static_cast<unsigned int>(len));
    std::memcpy(block, digits, static_cast<size_t>(len));
    Adopt(block);
    return *this;
}

CSTR& CSTR::operator+=(const CSTR& other) {
    Append(other.text_);
    return *this;
}

CSTR& CSTR::operator+=(const char* s) {
    Append(s);
    return *this;
}

bool CSTR::operator==(const CSTR& other) const { return Compare(other.text_, 0); }

bool CSTR::operator==(const char* s) const { return Compare(s, 0); }

char* CSTR::Append(const char* s) {
    if (!s || !*s || s == text_) return text_;
    unsigned int add = static_cast<unsigned int>(std::strlen(s));
    char* block = AllocateZeroed(length_ + add);
    if (text_) std::memcpy(block, text_, length_);
    std::memcpy(block + length_, s, add);  // `s` may point into the old block
    Adopt(block);
    return text_;
}

char* CSTR::Insert(const char* s, unsigned int pos) {
    if (!s || !*s || s == text_ || pos >= length_) return text_;
    unsigned int add = static_cast<unsigned int>(std::strlen(s));
    char* block = AllocateZeroed(length_ + add);
    std::memcpy(block, text_, pos);
    std::memcpy(block + pos, s, add);
    std::memcpy(block + pos + add, text_ + pos, length_ - pos);
    Adopt(block);
    return text_;
}

void CSTR::Remove() {
    std::free(text_);
    text_ = nullptr;
    length_ = 0;
}

bool CSTR::Compare(const char* s, unsigned int n) const {
    if (s == text_) return true;
    if (!text_ || !s || !*s) return false;
    return std::strncmp(text_, s, n ? n : length_) == 0;
}

// Double-byte characters pass unchanged: their second byte may look like a
// letter ("ア" is 0x83 0x41) and changing it makes another character.
char* CSTR::Convert(bool upper) {
    for (unsigned int i = 0; i < length_; ++i) {
        if (IsLeadByte(text_[i])) {
            ++i;
            continue;
        }
        unsigned char c = static_cast<unsigned char>(text_[i]);
        text_[i] = static_cast<char>(upper ? std::toupper(c) : std::tolower(c));
    }
    return text_;
}

long CSTR::Convert(int base) const { return text_ ? std::strtol(text_, nullptr, base) : 0; }

char* CSTR::String(unsigned int offset) const {
    if (!text_ || offset > length_) return nullptr;
    return text_ + offset;
}

char* CSTR::Trim(const char* set) {
    TrimLeft(set);
    return TrimRight(set);
}

// A double-byte character is never a trim character, whatever bytes the set
// holds: trims stop at its first byte and never take its second.
char* CSTR::TrimLeft(const char* set) {
    if (!text_) return text_;
    unsigned int skip = 0;
    while (skip < length_ && !IsLeadByte(text_[skip]) && IsTrim(text_[skip], set)) ++skip;
    if (skip == 0) return text_;
    char* block = AllocateZeroed(length_ - skip);
    std::memcpy(block, text_ + skip, length_ - skip);
    Adopt(block);
    return text_;
}

char* CSTR::TrimRight(const char* set) {
    if (!text_) return text_;
    // Only a forward walk tells a second byte from a character of its own.
    unsigned int keep = 0;
    for (unsigned int i = 0; i < length_; ++i) {
        if (IsLeadByte(text_[i]) && i + 1 < length_) {
            ++i;
            keep = i + 1;
        } else if (!IsTrim(text_[i], set)) {
            keep = i + 1;
        }
    }
    if (keep == length_) return text_;
    char* block = AllocateZeroed(keep);
    std::memcpy(block, text_, keep);
    Adopt(block);
    return text_;
}
