// The settings record at the values a missing settings file gives, without
// touching any file; each device's pattern file is NONE<d>.GLP in `folder`.
// Shared by the engine tests and the engine benchmark.
#pragma once

#include <cstdio>
#include <cstring>
#include <string>

#include "engine/setting.h"

inline void ResetSettings(const std::string& folder) {
    std::memset(&SETTING, 0, sizeof SETTING);
    SETTING.Timer = 1000;
    SETTING.Resolution = 100;
    SETTING.Balloon = 1;
    SETTING.Base = 30;
    SETTING.Boost = 100;
    const uint32_t pstates[16] = {100, 100, 75, 75, 50, 50, 25, 25, 0, 0, 0, 0, 0, 0, 0, 0};
    std::memcpy(SETTING.PState, pstates, sizeof pstates);
    for (int d = 0; d < MAX_DEVICE; ++d) {
        DEVICE& device = SETTING.Device[d];
        device.GPU = static_cast<uint32_t>(d);
        device.Luminance = 100;
        std::snprintf(device.PlayFile, sizeof device.PlayFile, "%s\\NONE%d.GLP", folder.c_str(), d);
    }
}
