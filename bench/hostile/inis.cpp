// Random INI text forms through the real INIFILE readers, and random
// settings files through LoadSetting. Every target sits between canaries, so
// a reader that writes past its target is caught, and the loaded record must
// keep its limits and terminated strings whatever the file holds.
#include <winsock2.h>

#include "hostile.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "base/inifile.h"
#include "engine/setting.h"
#include "testsupport.h"

namespace hostile {
namespace {

std::string Digits(Rng& rng, const char* alphabet, size_t max) {
    std::string s;
    size_t n = 1 + rng.Below(static_cast<uint32_t>(max));
    size_t a = std::strlen(alphabet);
    for (size_t i = 0; i < n; ++i) s += alphabet[rng.Below(static_cast<uint32_t>(a))];
    return s;
}

// One value in one of the forms a hand-edited file shows.
std::string Value(Rng& rng) {
    static const char* const signs[] = {"", "-", "+", " -", "--", "+-"};
    std::string sign = signs[rng.Below(6)];
    switch (rng.Below(14)) {
    case 0: return sign + Digits(rng, "0123456789", 12);
    case 1: return sign + "0x" + Digits(rng, "0123456789abcdefABCDEF", 10);
    case 2: return sign + "0X" + Digits(rng, "0123456789ABCDEFG", 10);
    case 3: return sign + "0" + Digits(rng, "01234567", 12);
    case 4: return sign + "0b" + Digits(rng, "01", 34);
    case 5: return sign + Digits(rng, "0123456789", 6) + "." + Digits(rng, "0123456789", 6) + "e" +
                   signs[rng.Below(3)] + Digits(rng, "0123456789", 4);
    case 6: {
        static const char* const odd[] = {"nan", "inf", "-inf", "1e999", ".", "1.2.3", "4294967296",
                                          "-2147483649", "18446744073709551616", "", " ", "0x", "-0x80000000"};
        return odd[rng.Below(13)];
    }
    case 7: {  // font: numbers, commas, a face
        std::string s;
        int n = static_cast<int>(rng.Below(16));
        for (int i = 0; i < n; ++i) s += sign + Digits(rng, "0123456789", 11) + ",";
        if (rng.OneIn(2)) s += Digits(rng, "ABCDEFGHIJ xyz-\x82\xa0\x83\x41", 60);
        return s;
    }
    case 8:
    case 9: {  // colour and rectangle
        std::string s;
        int n = static_cast<int>(rng.Below(6));
        for (int i = 0; i < n; ++i) s += (i ? "," : "") + sign + Digits(rng, "0123456789", 12);
        if (rng.OneIn(4)) s += ",";
        return s;
    }
    case 10: return std::string(200 + rng.Below(2000), "9A,- "[rng.Below(5)]);  // over-long
    case 11: {
        std::string s;
        size_t n = rng.Below(80);
        for (size_t i = 0; i < n; ++i) {
            char c = static_cast<char>(1 + rng.Below(255));
            if (c == '\n' || c == '\r') c = ' ';
            s += c;
        }
        return s;
    }
    case 12: return "\"" + Digits(rng, "0123456789,", 20) + "\"";
    default: return Digits(rng, "0123456789", 3) + " ; comment";
    }
}

constexpr uint32_t kCanary = 0xC0DEFACEu;

template <typename T>
struct Guarded {
    uint32_t before[4] = {kCanary, kCanary, kCanary, kCanary};
    T value;
    uint32_t after[4] = {kCanary, kCanary, kCanary, kCanary};
    bool Intact() const {
        for (int i = 0; i < 4; ++i)
            if (before[i] != kCanary || after[i] != kCanary) return false;
        return true;
    }
};

bool Terminated(const char* text, size_t size) { return std::memchr(text, '\0', size) != nullptr; }

bool WriteText(const std::string& path, const std::string& text) { return testsupport::WriteFile(path, text); }

// Reads key `key` with every typed reader; false when one of them wrote past
// its target or left a string unterminated.
bool ReadEveryWay(INIFILE& ini, const char* key, std::string* what) {
    Guarded<unsigned char> u8;
    Guarded<short> s16;
    Guarded<unsigned short> u16;
    Guarded<unsigned long> u32;
    Guarded<float> f;
    Guarded<double> d;
    Guarded<char[32]> text;
    Guarded<LOGFONTA> font;
    Guarded<unsigned long> colour;
    Guarded<RECT> rect;
    std::memset(&font.value, 'F', sizeof font.value);
    font.value.lfFaceName[LF_FACESIZE - 1] = '\0';
    colour.value = 0;
    rect.value = RECT {1, 2, 3, 4};
    ini.Read("V", key, static_cast<unsigned char>(7), &u8.value);
    ini.Read("V", key, static_cast<short>(7), &s16.value);
    ini.Read("V", key, static_cast<unsigned short>(7), &u16.value);
    ini.Read("V", key, 7ul, &u32.value);
    ini.Read("V", key, 7.0f, &f.value);
    ini.Read("V", key, 7.0, &d.value);
    ini.Read("V", key, "default", text.value, sizeof text.value);
    ini.Read("V", key, &font.value);
    ini.Read("V", key, &colour.value);
    ini.Read("V", key, &rect.value);
    if (!u8.Intact() || !s16.Intact() || !u16.Intact() || !u32.Intact() || !f.Intact() || !d.Intact() ||
        !text.Intact() || !font.Intact() || !colour.Intact() || !rect.Intact()) {
        *what = "a reader wrote past its target";
        return false;
    }
    if (!Terminated(text.value, sizeof text.value)) {
        *what = "the text read is not terminated";
        return false;
    }
    if (!Terminated(font.value.lfFaceName, LF_FACESIZE)) {
        *what = "the font face is not terminated";
        return false;
    }
    if (colour.value > 0xFFFFFFu) {
        *what = "the colour has bits above its three bytes";
        return false;
    }
    return true;
}

const char* const kGlobalKeys[][2] = {{"GLOBAL", "Debug"}, {"GLOBAL", "Timer"}, {"GLOBAL", "Resolution"},
                                      {"GLOBAL", "Balloon"}, {"CLOCK", "Base"},  {"CLOCK", "Boost"},
                                      {"PREVIEW", "Logo"},   {"PREVIEW", "Font"}};
const char* const kDeviceKeys[] = {"Enable", "Display", "GPU", "Attribute", "PlayType", "Luminance", "PlayFile"};

// A settings file with random values under the program's own keys.
std::string RandomSettings(Rng& rng, unsigned* values) {
    std::string text = rng.OneIn(20) ? "\xEF\xBB\xBF" : "";
    std::string last;
    auto put = [&](const std::string& section, const std::string& key) {
        if (rng.OneIn(8)) return;
        if (section != last) {
            text += "[" + section + "]\r\n";
            last = section;
        }
        text += key + "=" + Value(rng) + "\r\n";
        ++*values;
    };
    for (const auto& k : kGlobalKeys) put(k[0], k[1]);
    for (int n = 0; n < 16; ++n) put("PSTATE", "P" + std::to_string(n));
    for (int d = 0; d < MAX_DEVICE; ++d)
        for (const char* k : kDeviceKeys) put("DEVICE" + std::to_string(d), k);
    if (rng.OneIn(10)) text += "garbage line without equals\r\n[unclosed\r\n=nokey\r\n";
    return text;
}

bool SettingSane(std::string* what) {
    if (SETTING.Timer < 1000 || SETTING.Timer > 10000) *what = "Timer out of 1000..10000";
    else if (SETTING.Resolution < 10 || SETTING.Resolution > 500) *what = "Resolution out of 10..500";
    else if (!Terminated(SETTING.Logo, sizeof SETTING.Logo)) *what = "Logo not terminated";
    else if (!Terminated(SETTING.Font.lfFaceName, LF_FACESIZE)) *what = "font face not terminated";
    else {
        for (int n = 0; n < 16; ++n)
            if (SETTING.PState[n] > 100) *what = "a P-state brightness above 100";
        for (int d = 0; d < MAX_DEVICE; ++d)
            if (!Terminated(SETTING.Device[d].PlayFile, sizeof SETTING.Device[d].PlayFile))
                *what = "a PlayFile not terminated";
    }
    return what->empty();
}

}  // namespace

int RunInis(const Options& options) {
    unsigned long long total = options.count ? options.count : 100000ull;
    testsupport::TempDir dir;
    std::string path = dir.File("values.ini");
    std::string settings = testsupport::BinPath(SETTING_FILE_NAME);
    std::string saved = testsupport::ReadFile(settings);
    bool hadSettings = testsupport::FileExists(settings);

    Rng rng(options.seed);
    unsigned long long values = 0, files = 0, loads = 0, loadValues = 0, wrong = 0;
    ULONGLONG start = GetTickCount64();
    while (values < total) {
        // 50 typed values per file.
        std::string text = rng.OneIn(20) ? "\xEF\xBB\xBF[V]\r\n" : "[V]\r\n";
        std::string kept[50];
        for (int k = 0; k < 50; ++k) {
            kept[k] = Value(rng);
            text += "K" + std::to_string(k) + "=" + kept[k] + "\r\n";
        }
        if (!WriteText(path, text)) {
            Fail("inis: cannot write %s", path.c_str());
            return 1;
        }
        // The profile cache must see the new file.
        WritePrivateProfileStringA(nullptr, nullptr, nullptr, path.c_str());
        INIFILE ini;
        ini.Open(path.c_str());
        for (int k = 0; k < 50; ++k) {
            std::string what;
            std::string key = "K" + std::to_string(k);
            if (!ReadEveryWay(ini, key.c_str(), &what)) {
                if (wrong++ < 10) Fail("inis: value \"%s\": %s", kept[k].substr(0, 80).c_str(), what.c_str());
            }
        }
        values += 50;
        ++files;

        // And one settings file through LoadSetting, beside this program.
        unsigned n = 0;
        std::string random = RandomSettings(rng, &n);
        WriteText(settings, random);
        WritePrivateProfileStringA(nullptr, nullptr, nullptr, settings.c_str());
        // As at start-up: whatever the record held, then the start-up font.
        std::memset(&SETTING, 0xA5, sizeof SETTING);
        MakeStartupFont(&SETTING.Font);
        LoadSetting();
        ++loads;
        loadValues += n;
        std::string what;
        if (!SettingSane(&what) && wrong++ < 10) {
            std::string keep = dir.Path() + "\\..\\hostile-settings-" + std::to_string(loads) + ".ini";
            testsupport::WriteFile(keep, random);
            Fail("inis: settings file %llu: %s (kept as %s)", loads, what.c_str(), keep.c_str());
        }
    }
    if (hadSettings) testsupport::WriteFile(settings, saved);
    else DeleteFileA(settings.c_str());
    Say("inis: %llu values (seed %llu) in %llu files through 10 typed readers each, and %llu settings "
        "files (%llu values) through LoadSetting, in %.1f s; %llu wrong",
        values, static_cast<unsigned long long>(options.seed), files, loads, loadValues,
        SecondsSince(start), wrong);
    return wrong ? 1 : 0;
}

}  // namespace hostile
