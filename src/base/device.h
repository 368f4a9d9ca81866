// The device record shared by the settings, the control engine, the device
// search and the settings dialog: one drivable LED and how it is driven.
#pragma once

#include <cstdint>

constexpr int MAX_DEVICE = 8;

// Control methods (DEVICE::PlayType).
enum PlayType : int32_t {
    PLAY_FIXED = 0,
    PLAY_TEMPERATURE = 1,
    PLAY_UTILIZATION = 2,
    PLAY_CLOCK = 3,
    PLAY_FAN = 4,
    PLAY_POWER = 5,
    PLAY_PATTERN = 6,
};
constexpr int PLAY_TYPE_COUNT = 7;

// DEVICE::Color: 0 for none (a zone keeps the colour it has), otherwise
// DEVICE_COLOR_SET with red, green and blue in the three low bytes, red
// lowest, as the INI colour form "R,G,B" reads and writes them. A record
// cleared to zero thus has no colour.
constexpr uint32_t DEVICE_COLOR_SET = 0x01000000u;
constexpr bool DeviceHasColor(uint32_t color) { return (color & 0xFF000000u) == DEVICE_COLOR_SET; }
constexpr uint32_t DeviceColorRgb(uint32_t color) { return color & 0x00FFFFFFu; }
constexpr uint32_t MakeDeviceColor(uint32_t rgb) { return DEVICE_COLOR_SET | (rgb & 0x00FFFFFFu); }

struct DEVICE {
    int32_t Enable;
    uint32_t Display;
    uint32_t GPU;
    int32_t Attribute;  // 0 board logo, 1 SLI bridge, 2 + z illumination zone z
    int32_t PlayType;
    uint32_t Luminance;
    char PlayFile[1024];
    uint32_t Color;
};
