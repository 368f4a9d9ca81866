// The preview strip of the settings dialog: the logo text drawn in a green
// that follows the selected device's brightness, animated by a thread.
#pragma once

#include <windows.h>

#include <cstdint>

#include "engine/control.h"

// The owned preview font.
class WINFONT {
public:
    WINFONT();
    virtual ~WINFONT();
    WINFONT(const WINFONT&) = delete;
    WINFONT& operator=(const WINFONT&) = delete;

    HFONT Handle() const { return handle_; }
    LOGFONTA& Font() { return font_; }
    bool Create();   // makes the handle from Font(), replacing any old one; true on success
    void Delete();   // deletes the handle, if any

private:
    HFONT handle_;
    LOGFONTA font_;
};

// The preview font object (a global built after the debug-device client).
extern WINFONT PreviewFont;
// Makes the preview font from SETTING.Font, sized for a window at `dpi`
// (the settings hold it at 96 DPI); true when a font was made.
bool MakePreviewFont(UINT dpi);

// The colour of an LED that the preview cannot know (a method that follows
// live GPU readings) and of the pause between two passes of a pattern.
constexpr COLORREF PREVIEW_UNLIT = RGB(31, 31, 31);
// The colour of an LED lit at `luminance` percent: green runs 31..231 over
// 0..100; only the low 8 bits of the value count, and the green wraps at 256.
COLORREF PreviewLitColor(int32_t luminance);

// The colour of an LED of colour `color` (a DEVICE colour) lit at
// `luminance` percent: each component runs from 31 towards 31 + 200 * its
// share of 255 over 0..100 %. Without a colour: PreviewLitColor.
COLORREF PreviewDeviceColor(int32_t luminance, uint32_t color);

// The text colour of the next paint.
extern volatile COLORREF PreviewColor;

// The preview thread's slot: Thread, ThreadId, Run and Pattern as for a
// device; Event carries the stop request.
extern DEVICESLOT PreviewSlot;

// Starts the preview thread for `device` of the dialog's working copy, after
// reading its pattern file and asking the driver whether its LED takes the
// record's colour (only a record with a colour asks). 1 if a thread runs afterwards (also when one
// already did), 0 if none could be created or the dialog is gone.
int StartPreview(int device);
// Stops the preview thread (at once, also in the middle of a long step),
// waits for it with a bound and clears the slot.
void StopPreview();

// The preview strip's window procedure; the dialog installs it on control
// 1120 and hands it the control's own procedure for everything else.
LRESULT CALLBACK PreviewWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void SetPreviousPreviewProc(WNDPROC previous);

// A test seam; the program never sets it. Every colour the preview thread sets
// is also handed to this observer, when one is set; it runs on the preview
// thread.
typedef void (*PreviewColorObserver)(COLORREF color);
void SetPreviewColorObserver(PreviewColorObserver observer);
