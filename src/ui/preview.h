// The preview strip of the settings dialog: the logo text drawn in a green
// that follows the selected device's brightness, animated by a thread.
#pragma once

#include <windows.h>

// The owned preview font.
class WINFONT {
public:
    WINFONT();
    virtual ~WINFONT();
    WINFONT(const WINFONT&) = delete;
    WINFONT& operator=(const WINFONT&) = delete;

    HFONT Handle() const { return handle_; }
    LOGFONTA& Font() { return font_; }
    bool Create();   // makes the handle from Font(); true on success
    void Delete();   // deletes the handle, if any

private:
    HFONT handle_;
    LOGFONTA font_;
};

// The preview font object (a global built after the debug-device client).
extern WINFONT PreviewFont;
