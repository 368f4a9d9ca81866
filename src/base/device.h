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

struct DEVICE {
    int32_t Enable;
    uint32_t Display;
    uint32_t GPU;
    int32_t Attribute;  // 0 board logo, 1 SLI bridge
    int32_t PlayType;
    uint32_t Luminance;
    char PlayFile[1024];
};
