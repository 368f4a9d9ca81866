// The settings record: one process-wide SETTING, filled from GLIMDECK.INI
// beside the program by LoadSetting and written back by SaveSetting.
#pragma once

#include <windows.h>

#include <cstdint>

#include "base/device.h"

struct SettingRecord {
    // Debug-device mode. Never saved; device threads may clear it while they
    // run, so it is read and written through ReadDebugMode/StoreDebugMode.
    int32_t Debug;
    uint32_t Timer;       // control period, ms
    uint32_t Resolution;  // slice of every interruptible wait, ms
    int32_t Balloon;
    uint32_t Base;
    uint32_t Boost;
    uint32_t PState[16];
    LOGFONTA Font;
    char Logo[32];
    DEVICE Device[MAX_DEVICE];
    // Every LED dark while the session is locked or the display is off.
    // Settings file only, never saved (like Debug).
    int32_t AwayOff;
};

extern SettingRecord SETTING;

// The file name, beside the program image.
extern const char* const SETTING_FILE_NAME;

void LoadSetting();
// Writes every persisted field. The file is replaced in one step only once
// every key has been written, so a failure never leaves it half-written;
// where no file can be made beside it, the keys are written into it in place.
// A file that is read-only, or that cannot be looked at, is left alone.
void SaveSetting();

// The preview font the program starts with, before any settings file is read.
void MakeStartupFont(LOGFONTA* font);

// The debug-device switch is the one field written while device threads run.
int32_t ReadDebugMode();
void StoreDebugMode(int32_t value);
