// The DPI a window is drawn at, and the sizes that follow from it. The
// per-window calls came with Windows 10 (1607); they are looked up when first
// needed, so that the program still starts on older systems, where it falls
// back to the screen's one DPI.
#pragma once

#include <windows.h>

// The DPI every size in the program's art and layout is given at.
constexpr UINT BASE_DPI = 96;

// The DPI `window` is drawn at (GetDpiForWindow); the screen's DPI where that
// call is missing or the window is not one.
UINT WindowDpi(HWND window);

// System metric `index` at `dpi` (GetSystemMetricsForDpi); `fallback` where
// that call is missing.
int MetricForDpi(int index, UINT dpi, int fallback);

// `value`, given at BASE_DPI, at `dpi`, rounded to the nearest pixel.
int ScaleToDpi(int value, UINT dpi);
