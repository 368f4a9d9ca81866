// CSTR: the program's owning 8-bit string. An empty string owns no block (its
// text is null); operations work byte by byte, except that case conversion
// and trims leave double-byte characters whole. When storage cannot be
// obtained the process ends with exit status 0, so callers never see an
// allocation failure.
#pragma once

class CSTR {
public:
    CSTR(const char* s = nullptr);
    CSTR(int n);
    CSTR(const CSTR& other);
    virtual ~CSTR();

    CSTR& operator=(const CSTR& other);
    CSTR& operator=(const char* s);
    CSTR& operator=(int n);
    CSTR& operator+=(const CSTR& other);
    CSTR& operator+=(const char* s);
    // True when `s` begins with this string's text (see Compare).
    bool operator==(const CSTR& other) const;
    bool operator==(const char* s) const;

    // Each returns the text held afterwards, null for an empty string.
    char* Append(const char* s);
    char* Insert(const char* s, unsigned int pos);
    void Remove();

    // Equality of the first n characters (n = 0: Length()). The very same
    // pointer (also null against an empty string) is equal; otherwise an empty
    // side is never equal.
    bool Compare(const char* s, unsigned int n) const;

    char* Convert(bool upper);
    char* Upper() { return Convert(true); }
    char* Lower() { return Convert(false); }

    // The text as a signed long in `base` (strtol rules); 0 for an empty string.
    long Convert(int base) const;
    long Bit() const { return Convert(2); }
    long Oct() const { return Convert(8); }
    long Dec() const { return Convert(10); }
    long Hex() const { return Convert(16); }

    // The text from character `offset` on; null when empty or offset > Length().
    char* String(unsigned int offset = 0) const;
    unsigned int Length() const { return length_; }

    // A null set trims white space; otherwise the characters of `set`.
    char* Trim(const char* set = nullptr);
    char* TrimLeft(const char* set = nullptr);
    char* TrimRight(const char* set = nullptr);

    void RegisterErrorTrap(void (*trap)()) { trap_ = trap; }

private:
    static bool IsTrim(char ch, const char* set);
    [[noreturn]] static void ErrorTrap();
    static char* AllocateZeroed(unsigned int length);
    void Adopt(char* block);  // frees the old block, holds `block`, recounts

    unsigned int length_ = 0;
    char* text_ = nullptr;
    void (*trap_)() = nullptr;
};
