// The resident program's external interface: the names by which other
// programs find its window and the private messages they send it. Header-only
// and free of the program's other headers, so that outside tools (glimctl)
// can include it alone.
#pragma once

#include <cstdint>

constexpr const char* GLIM_CLASS_NAME = "GLIMMERDECK_CLASS";
constexpr const char* GLIM_WINDOW_NAME = "GLIMMERDECK_WINDOW";
constexpr const char* GLIM_MUTEX_NAME = "GLIMMERDECK";

// WM_APP-based private messages of the main window.
constexpr unsigned WM_TRAYNOTIFY = 0x8001;       // tray icon callback
constexpr unsigned WM_GLIMDECK = 0x8002;         // wParam brightness, lParam selector; result 1 set, 0 not
// Resume and suspend answer 1, or 0 while the program is still starting (its
// start would undo the change).
constexpr unsigned WM_CONTROL_RESUME = 0x8003;
constexpr unsigned WM_CONTROL_SUSPEND = 0x8004;

// The WM_GLIMDECK selector: display in bits 0..3, GPU in 8..15, attribute in
// 16..23. Bits 4..7 and 24..31 carry nothing and are ignored on receipt.
constexpr uint32_t SelectorDisplay(uint32_t selector) { return selector & 0xFu; }
constexpr uint32_t SelectorGpu(uint32_t selector) { return (selector >> 8) & 0xFFu; }
constexpr uint32_t SelectorAttribute(uint32_t selector) { return (selector >> 16) & 0xFFu; }

// True when the three indexes fit the selector's fields.
constexpr bool SelectorFits(uint32_t display, uint32_t gpu, uint32_t attribute) {
    return display <= 0xFu && gpu <= 0xFFu && attribute <= 0xFFu;
}
constexpr uint32_t PackSelector(uint32_t display, uint32_t gpu, uint32_t attribute) {
    return (display & 0xFu) | ((gpu & 0xFFu) << 8) | ((attribute & 0xFFu) << 16);
}
