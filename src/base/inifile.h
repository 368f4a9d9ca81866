// INIFILE: typed access to one INI file through the platform's private-profile
// services. Each value type has one fixed text form. Opening does not touch
// the file system; every operation fails (returns 0, target untouched) while
// no file is open.
#pragma once

#include <windows.h>

#include "base/cstr.h"

class INIFILE {
public:
    INIFILE() = default;
    INIFILE(const INIFILE& other);
    INIFILE& operator=(const INIFILE& other);
    virtual ~INIFILE() = default;

    int Open(const char* path);
    // The file `name` in the folder of the program's own executable.
    int OpenLocal(const char* name);
    void Close();
    int Create(const char* section);
    // Full path of the open file; null when none is open.
    const char* Path() const { return path_.String(); }

    // Integer readers: the platform's profile-integer read (decimal or 0x hex),
    // `def` when the key is missing. Result 1 while a file is open.
    int Read(const char* section, const char* key, unsigned char def, unsigned char* out);
    int Read(const char* section, const char* key, short def, short* out);
    int Read(const char* section, const char* key, unsigned short def, unsigned short* out);
    int Read(const char* section, const char* key, unsigned long def, unsigned long* out);
    int Read(const char* section, const char* key, float def, float* out);
    int Read(const char* section, const char* key, double def, double* out);
    int Read(const char* section, const char* key, const char* def, char* buf, unsigned size);
    // Font, colour and rectangle forms: 0 and the target untouched when missing.
    int Read(const char* section, const char* key, LOGFONTA* font);
    int Read(const char* section, const char* key, unsigned long* colour);
    int Read(const char* section, const char* key, RECT* rect);
    // A colour whose text gives all three numbers, each clamped to 0..255; 0
    // and the target untouched otherwise ("red", "#FF6000", "255,128").
    int ReadWholeColour(const char* section, const char* key, unsigned long* colour);

    // Writers: 1 while a file is open (a platform failure is counted in
    // WriteFailures, not reported), 0 when none is open. The writers that
    // format a value refuse a text longer than 255 characters (nothing is
    // written then); the text writer stores its text whole, however long (a
    // pattern file's path may take 1023 characters).
    int Write(const char* section, const char* key, unsigned char value);
    int Write(const char* section, const char* key, short value);
    int Write(const char* section, const char* key, unsigned short value);
    int Write(const char* section, const char* key, int value);
    int Write(const char* section, const char* key, unsigned int value);
    int Write(const char* section, const char* key, long value);
    int Write(const char* section, const char* key, unsigned long value);
    int Write(const char* section, const char* key, float value);
    int Write(const char* section, const char* key, double value);
    int Write(const char* section, const char* key, const char* format, unsigned long value);
    int Write(const char* section, const char* key, const char* text);
    int Write(const char* section, const char* key, const LOGFONTA* font);
    int Write(const char* section, const char* key, const unsigned long* colour);
    int Write(const char* section, const char* key, const RECT* rect);

    // Platform write failures since the file was opened.
    unsigned WriteFailures() const { return writeFailures_; }

private:
    bool IsOpen() const { return path_.Length() != 0; }
    int Store(const char* section, const char* key, const char* text);
    int StoreFormatted(const char* section, const char* key, int length, const char* text);
    int ParseColour(const char* section, const char* key, unsigned long* colour);

    CSTR path_;
    unsigned writeFailures_ = 0;
};
