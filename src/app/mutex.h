// MUTEX: the single-instance lock, a named mutex held for the life of the
// resident instance.
#pragma once

#include <windows.h>

class MUTEX {
public:
    // `name` is the program's own "GLIMMERDECK" unless a test asks for another.
    explicit MUTEX(const char* name = nullptr);
    virtual ~MUTEX();
    MUTEX(const MUTEX&) = delete;
    MUTEX& operator=(const MUTEX&) = delete;

    // Non-zero when this object now holds a newly created mutex; 0 when
    // another instance holds it, when this object already holds one, or when
    // creation failed.
    int Create();
    // Releases and closes the held mutex, if any.
    void Release();
    bool Held() const { return handle_ != nullptr; }

private:
    HANDLE handle_ = nullptr;
    const char* name_;  // not copied: a literal, or a test's text that outlives the object
};
