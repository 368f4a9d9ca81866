#include "engine/setting.h"

#include <cstdio>
#include <cstring>

#include "base/inifile.h"

SettingRecord SETTING;

const char* const SETTING_FILE_NAME = "GLIMDECK.INI";

namespace {

constexpr uint32_t kPStateDefaults[16] = {100, 100, 75, 75, 50, 50, 25, 25, 0, 0, 0, 0, 0, 0, 0, 0};

unsigned long ReadNumber(INIFILE& ini, const char* section, const char* key, unsigned long def) {
    unsigned long value = def;
    ini.Read(section, key, def, &value);
    return value;
}

void DeviceSection(char (&name)[16], int d) { std::snprintf(name, sizeof name, "DEVICE%d", d); }

void ApplyLimits() {
    if (SETTING.Timer < 1000) SETTING.Timer = 1000;
    if (SETTING.Timer > 10000) SETTING.Timer = 10000;
    if (SETTING.Resolution < 10) SETTING.Resolution = 10;
    if (SETTING.Resolution > 500) SETTING.Resolution = 500;
}

// Writes every key into `ini`, in the file's order.
void WriteAll(INIFILE& ini) {
    ini.Write("GLOBAL", "Timer", "%lu", SETTING.Timer);
    ini.Write("GLOBAL", "Resolution", "%lu", SETTING.Resolution);
    ini.Write("GLOBAL", "Balloon", "%ld", static_cast<unsigned long>(SETTING.Balloon));
    ini.Write("CLOCK", "Base", "%lu", SETTING.Base);
    ini.Write("CLOCK", "Boost", "%lu", SETTING.Boost);

    char key[16];
    char text[32];
    for (int n = 0; n < 16; ++n) {
        std::snprintf(key, sizeof key, "P%d", n);
        std::snprintf(text, sizeof text, "%lu", static_cast<unsigned long>(SETTING.PState[n]));
        ini.Write("PSTATE", key, text);
    }

    char logo[sizeof SETTING.Logo];
    std::memcpy(logo, SETTING.Logo, sizeof logo);
    logo[sizeof logo - 1] = '\0';
    ini.Write("PREVIEW", "Logo", logo);
    ini.Write("PREVIEW", "Font", &SETTING.Font);

    for (int d = 0; d < MAX_DEVICE; ++d) {
        const DEVICE& dev = SETTING.Device[d];
        char section[16];
        DeviceSection(section, d);
        auto put = [&](const char* k, const char* format, unsigned long v) {
            std::snprintf(text, sizeof text, format, v);
            ini.Write(section, k, text);
        };
        put("Enable", "%ld", static_cast<unsigned long>(dev.Enable));
        put("Display", "%lu", dev.Display);
        put("GPU", "%lu", dev.GPU);
        put("Attribute", "%ld", static_cast<unsigned long>(dev.Attribute));
        put("PlayType", "%ld", static_cast<unsigned long>(dev.PlayType));
        put("Luminance", "%lu", dev.Luminance);
        char file[sizeof dev.PlayFile];
        std::memcpy(file, dev.PlayFile, sizeof file);
        file[sizeof file - 1] = '\0';
        ini.Write(section, "PlayFile", file);
        // No colour is no key at all: a colour the file held goes.
        unsigned long rgb = DeviceColorRgb(dev.Color);
        if (DeviceHasColor(dev.Color)) ini.Write(section, "Color", &rgb);
        else ini.Write(section, "Color", static_cast<const char*>(nullptr));
    }
}

bool CreateEmptyFile(const char* path) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

// Puts the file's data on the disk. The rename that swaps a file in is
// journalled on its own: without this, a power loss soon after a save could
// keep the new name over data that never reached the disk, a file of zeros.
bool FlushToDisk(const char* path) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool flushed = FlushFileBuffers(file) != FALSE;
    CloseHandle(file);
    return flushed;
}

// Antivirus, the search indexer and sync clients open a file that has just
// changed for a moment: a rename that meets them is tried again a few times,
// 0.6 s in all, before the save gives up and leaves the old file whole.
constexpr int RENAME_RETRIES = 5;
constexpr DWORD FIRST_RENAME_PAUSE_MS = 20;

bool RenameOver(const char* from, const char* to) {
    DWORD pause = FIRST_RENAME_PAUSE_MS;
    for (int attempt = 0;; ++attempt) {
        if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
        DWORD error = GetLastError();
        if ((error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) || attempt == RENAME_RETRIES)
            return false;
        Sleep(pause);
        pause *= 2;
    }
}

}  // namespace

void MakeStartupFont(LOGFONTA* font) {
    std::memset(font, 0, sizeof *font);
    font->lfHeight = 22;
    font->lfWidth = 18;
    font->lfWeight = 700;
    std::strcpy(font->lfFaceName, "Verdana");
}

int32_t ReadDebugMode() { return *static_cast<volatile int32_t*>(&SETTING.Debug); }

void StoreDebugMode(int32_t value) { *static_cast<volatile int32_t*>(&SETTING.Debug) = value; }

void LoadSetting() {
    INIFILE ini;
    if (ini.OpenLocal(SETTING_FILE_NAME)) {
        SETTING.Debug = static_cast<int32_t>(ReadNumber(ini, "GLOBAL", "Debug", 0));
        SETTING.Timer = ReadNumber(ini, "GLOBAL", "Timer", 1000);
        SETTING.Resolution = ReadNumber(ini, "GLOBAL", "Resolution", 100);
        SETTING.Balloon = static_cast<int32_t>(ReadNumber(ini, "GLOBAL", "Balloon", 1));
        SETTING.AwayOff = static_cast<int32_t>(ReadNumber(ini, "GLOBAL", "AwayOff", 0));
        SETTING.Base = ReadNumber(ini, "CLOCK", "Base", 30);
        SETTING.Boost = ReadNumber(ini, "CLOCK", "Boost", 100);

        char key[16];
        for (int n = 0; n < 16; ++n) {
            std::snprintf(key, sizeof key, "P%d", n);
            SETTING.PState[n] = ReadNumber(ini, "PSTATE", key, kPStateDefaults[n]);
            if (SETTING.PState[n] > 100) SETTING.PState[n] = 100;
        }

        ini.Read("PREVIEW", "Logo", "GEFORCE GTX", SETTING.Logo, sizeof SETTING.Logo);
        ini.Read("PREVIEW", "Font", &SETTING.Font);

        for (int d = 0; d < MAX_DEVICE; ++d) {
            DEVICE& dev = SETTING.Device[d];
            char section[16];
            DeviceSection(section, d);
            dev.Enable = static_cast<int32_t>(ReadNumber(ini, section, "Enable", 0));
            dev.Display = ReadNumber(ini, section, "Display", 0);
            dev.GPU = ReadNumber(ini, section, "GPU", static_cast<unsigned long>(d));
            dev.Attribute = static_cast<int32_t>(ReadNumber(ini, section, "Attribute", 0));
            dev.PlayType = static_cast<int32_t>(ReadNumber(ini, section, "PlayType", 0));
            dev.Luminance = ReadNumber(ini, section, "Luminance", 100);
            ini.Read(section, "PlayFile", "GLIMDECK.GLP", dev.PlayFile, sizeof dev.PlayFile);
            unsigned long rgb = 0;
            // A colour the text does not give in full would light the zone in
            // a colour nobody chose (black for "red"): the zone keeps its own.
            dev.Color = ini.ReadWholeColour(section, "Color", &rgb) ? MakeDeviceColor(rgb) : 0;
        }
    }
    ApplyLimits();
}

void SaveSetting() {
    INIFILE target;
    if (!target.OpenLocal(SETTING_FILE_NAME)) return;
    const char* path = target.Path();

    // Only "not found" says there is no file yet. Any other failure (access
    // denied, a share gone away) says nothing, and replacing a file we could
    // not look at would drop the keys the program does not write.
    DWORD attributes = GetFileAttributesA(path);
    bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (!exists) {
        DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return;
    }
    // A read-only settings file is the user's decision: leave it alone.
    if (exists && (attributes & FILE_ATTRIBUTE_READONLY)) return;

    // Write into a copy beside the file (keys the program does not write, such
    // as "Debug", stay), then swap it in with one rename.
    char temp[1024 + 8];
    if (std::snprintf(temp, sizeof temp, "%s.new", path) >= static_cast<int>(sizeof temp)) return;
    SetFileAttributesA(temp, FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(temp);
    bool copied = exists ? CopyFileA(path, temp, FALSE) != FALSE : CreateEmptyFile(temp);
    if (!copied) {
        // A folder that takes no new file can still hold a file the user may
        // write (as under Program Files): write the keys into it in place.
        WriteAll(target);
        return;
    }

    INIFILE copy;
    copy.Open(temp);
    WriteAll(copy);
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, temp);  // flush the profile cache

    bool complete = copy.WriteFailures() == 0 && FlushToDisk(temp);
    if (!complete || !RenameOver(temp, path)) {
        SetFileAttributesA(temp, FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(temp);
    }
}
