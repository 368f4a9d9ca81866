#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/setting.h"
#include "importpatch.h"
#include "testsupport.h"

namespace {

// GetFileAttributesA as on a share that refuses to be looked at: the settings
// file cannot be seen, every other file can.
testsupport::ImportPatch* attributesPatch = nullptr;
DWORD WINAPI AttributesDenied(LPCSTR name) {
    size_t n = std::strlen(name);
    if (n >= 12 && lstrcmpiA(name + n - 12, "GLIMDECK.INI") == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_FILE_ATTRIBUTES;
    }
    return reinterpret_cast<DWORD(WINAPI*)(LPCSTR)>(attributesPatch->Original())(name);
}

// The renames and flushes of a save, in order ("F" a flush of the new copy,
// "M" a rename), the first `refusals` renames refused with `refusal`.
testsupport::ImportPatch* movePatch = nullptr;
testsupport::ImportPatch* flushPatch = nullptr;
std::string saveSteps;
int refusals = 0;
DWORD refusal = ERROR_SHARING_VIOLATION;
BOOL WINAPI CountedMove(LPCSTR from, LPCSTR to, DWORD flags) {
    saveSteps += "M";
    if (refusals > 0) {
        --refusals;
        SetLastError(refusal);
        return FALSE;
    }
    return reinterpret_cast<BOOL(WINAPI*)(LPCSTR, LPCSTR, DWORD)>(movePatch->Original())(from, to, flags);
}
BOOL WINAPI CountedFlush(HANDLE file) {
    char name[MAX_PATH] = {};
    DWORD n = GetFinalPathNameByHandleA(file, name, MAX_PATH, 0);
    if (n >= 4 && n < MAX_PATH && lstrcmpiA(name + n - 4, ".new") == 0) saveSteps += "F";
    return reinterpret_cast<BOOL(WINAPI*)(HANDLE)>(flushPatch->Original())(file);
}

// Each case starts from a zeroed record with the start-up font, as the
// program does, and no settings file beside the test program.
class SettingTest : public ::testing::Test {
protected:
    void SetUp() override {
        path = testsupport::BinPath("GLIMDECK.INI");
        Remove();
        std::memset(&SETTING, 0, sizeof SETTING);
        MakeStartupFont(&SETTING.Font);
    }
    void TearDown() override { Remove(); }
    void Remove() {
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
        DeleteFileA((path + ".new").c_str());
        RemoveDirectoryA((path + ".new").c_str());
    }
    void WriteIni(const std::string& text) { ASSERT_TRUE(testsupport::WriteFile(path, text)); }
    std::string path;
};

}  // namespace

TEST_F(SettingTest, DefaultsWithoutAFile) {
    LoadSetting();
    EXPECT_EQ(0, SETTING.Debug);
    EXPECT_EQ(1000u, SETTING.Timer);
    EXPECT_EQ(100u, SETTING.Resolution);
    EXPECT_EQ(1, SETTING.Balloon);
    EXPECT_EQ(30u, SETTING.Base);
    EXPECT_EQ(100u, SETTING.Boost);
    const uint32_t pstates[16] = {100, 100, 75, 75, 50, 50, 25, 25, 0, 0, 0, 0, 0, 0, 0, 0};
    for (int n = 0; n < 16; ++n) EXPECT_EQ(pstates[n], SETTING.PState[n]) << "P" << n;
    EXPECT_STREQ("GEFORCE GTX", SETTING.Logo);
    EXPECT_EQ(22, SETTING.Font.lfHeight);
    EXPECT_EQ(18, SETTING.Font.lfWidth);
    EXPECT_EQ(700, SETTING.Font.lfWeight);
    EXPECT_STREQ("Verdana", SETTING.Font.lfFaceName);
    for (int d = 0; d < MAX_DEVICE; ++d) {
        const DEVICE& dev = SETTING.Device[d];
        EXPECT_EQ(0, dev.Enable);
        EXPECT_EQ(0u, dev.Display);
        EXPECT_EQ(static_cast<uint32_t>(d), dev.GPU);
        EXPECT_EQ(0, dev.Attribute);
        EXPECT_EQ(PLAY_FIXED, dev.PlayType);
        EXPECT_EQ(100u, dev.Luminance);
        EXPECT_STREQ("GLIMDECK.GLP", dev.PlayFile);
    }
    EXPECT_FALSE(testsupport::FileExists(path));  // loading never creates the file

    SaveSetting();
    std::string text = testsupport::ReadFile(path);
    EXPECT_NE(std::string::npos, text.find("Timer=1000")) << text;
    EXPECT_NE(std::string::npos, text.find("[DEVICE7]")) << text;
    EXPECT_FALSE(testsupport::FileExists(path + ".new"));
}

TEST_F(SettingTest, LimitsOnLoad) {
    struct Case {
        const char* timer;
        const char* resolution;
        uint32_t wantTimer;
        uint32_t wantResolution;
    } cases[] = {
        {"500", "5", 1000, 10},
        {"20000", "900", 10000, 500},
        {"-1", "-1", 10000, 500},
        {"0x1e", "0x1e", 1000, 30},
        {"2500", "250", 2500, 250},
    };
    for (const Case& c : cases) {
        WriteIni(std::string("[GLOBAL]\r\nTimer=") + c.timer + "\r\nResolution=" + c.resolution +
                 "\r\n[PSTATE]\r\nP3=150\r\nP4=-2\r\nP5=0x10\r\n[CLOCK]\r\nBase=150\r\n"
                 "[DEVICE2]\r\nLuminance=150\r\nGPU=0x1e\r\n");
        LoadSetting();
        EXPECT_EQ(c.wantTimer, SETTING.Timer) << c.timer;
        EXPECT_EQ(c.wantResolution, SETTING.Resolution) << c.resolution;
        EXPECT_EQ(100u, SETTING.PState[3]);
        EXPECT_EQ(100u, SETTING.PState[4]);  // negative reads as a large unsigned number
        EXPECT_EQ(16u, SETTING.PState[5]);
        EXPECT_EQ(150u, SETTING.Base);  // not limited
        EXPECT_EQ(150u, SETTING.Device[2].Luminance);
        EXPECT_EQ(30u, SETTING.Device[2].GPU);
    }
}

TEST_F(SettingTest, TextValuesAndFont) {
    WriteIni("[PREVIEW]\r\nLogo=0123456789012345678901234567890123456789\r\n"
             "Font=-12,0,0,0,400,0,0,0,128,0,0,0,0,MS Gothic\r\n"
             "[DEVICE7]\r\nPlayFile=C:\\patterns\\blink.glp\r\nEnable=1\r\nPlayType=6\r\n");
    LoadSetting();
    EXPECT_STREQ("0123456789012345678901234567890", SETTING.Logo);
    EXPECT_EQ(-12, SETTING.Font.lfHeight);
    EXPECT_EQ(0, SETTING.Font.lfWidth);
    EXPECT_EQ(128, SETTING.Font.lfCharSet);
    EXPECT_STREQ("MS Gothic", SETTING.Font.lfFaceName);
    EXPECT_STREQ("C:\\patterns\\blink.glp", SETTING.Device[7].PlayFile);
    EXPECT_EQ(1, SETTING.Device[7].Enable);
    EXPECT_EQ(PLAY_PATTERN, SETTING.Device[7].PlayType);
}

TEST_F(SettingTest, SavedTextKeepsForeignKeysAndUsesDecimal) {
    WriteIni("[GLOBAL]\r\nDebug=1\r\nTimer=0x3e8\r\n[DEVICE2]\r\nColor=1,2,3\r\n");
    LoadSetting();
    EXPECT_EQ(1, SETTING.Debug);
    SETTING.Device[2].Color = 0;  // back to the zone's own colour
    SETTING.Device[1].Enable = 1;
    SETTING.Device[1].Attribute = 1;
    SETTING.Device[1].PlayType = PLAY_POWER;
    SETTING.Balloon = -1;
    SaveSetting();

    std::string text = testsupport::ReadFile(path);
    EXPECT_NE(std::string::npos, text.find("Debug=1")) << text;
    EXPECT_NE(std::string::npos, text.find("Timer=1000")) << text;
    EXPECT_EQ(std::string::npos, text.find("0x")) << text;
    EXPECT_NE(std::string::npos, text.find("Balloon=-1")) << text;
    EXPECT_NE(std::string::npos, text.find("[CLOCK]\r\nBase=30\r\nBoost=100\r\n")) << text;
    EXPECT_NE(std::string::npos, text.find("P15=0")) << text;
    EXPECT_NE(std::string::npos,
              text.find("[PREVIEW]\r\nLogo=GEFORCE GTX\r\nFont=22,18,0,0,700,0,0,0,0,0,0,0,0,Verdana\r\n"))
        << text;
    for (int d = 0; d < MAX_DEVICE; ++d) {
        char section[64];
        std::snprintf(section, sizeof section,
                      "[DEVICE%d]\r\nEnable=%d\r\nDisplay=0\r\nGPU=%d\r\nAttribute=%d\r\nPlayType=%d\r\n"
                      "Luminance=100\r\nPlayFile=GLIMDECK.GLP\r\n",
                      d, d == 1, d, d == 1, d == 1 ? 5 : 0);
        EXPECT_NE(std::string::npos, text.find(section)) << section;
    }
    EXPECT_EQ(std::string::npos, text.find("Color")) << "no colour, no key";
    EXPECT_FALSE(testsupport::FileExists(path + ".new"));
}

TEST_F(SettingTest, LoadSaveLoadGivesTheSameRecord) {
    // The text writer is not held to the 255 characters of the formatted ones.
    const std::string longFile = "C:\\" + std::string(1023 - 7, 'p') + ".GLP";
    ASSERT_EQ(1023u, longFile.size());
    WriteIni("[DEVICE3]\r\nPlayFile=" + longFile + "\r\n"
             "[GLOBAL]\r\nTimer=3000\r\nResolution=50\r\nBalloon=0\r\n[CLOCK]\r\nBase=10\r\nBoost=90\r\n"
             "[PSTATE]\r\nP0=1\r\nP15=99\r\n[PREVIEW]\r\nLogo=RTX & more\r\n"
             "Font=-20,0,0,0,400,1,1,0,128,3,2,1,34,Courier New\r\n"
             "[DEVICE0]\r\nEnable=1\r\nDisplay=3\r\nGPU=2\r\nAttribute=1\r\nPlayType=6\r\nLuminance=7\r\n"
             "PlayFile=..\\x y\\z.glp\r\nColor=255,128\r\n[DEVICE5]\r\nPlayType=7\r\nAttribute=-1\r\n"
             "[DEVICE6]\r\nAttribute=2\r\nColor=0,0,0\r\n[DEVICE7]\r\nColor=300,-4,128\r\n"
             "[DEVICE1]\r\nColor=#FF6000\r\n[DEVICE2]\r\nColor=red\r\n");
    LoadSetting();
    EXPECT_EQ(0u, SETTING.Device[0].Color) << "two numbers are no colour";
    EXPECT_EQ(0u, SETTING.Device[1].Color) << "no numbers are no colour";
    EXPECT_EQ(0u, SETTING.Device[2].Color) << "no numbers are no colour";
    EXPECT_EQ(MakeDeviceColor(255 | 128 << 16), SETTING.Device[7].Color) << "clamped to 0..255";
    EXPECT_EQ(MakeDeviceColor(0), SETTING.Device[6].Color) << "black is a colour";
    EXPECT_EQ(0u, SETTING.Device[5].Color) << "none";
    SettingRecord first = SETTING;
    SaveSetting();
    std::memset(&SETTING, 0, sizeof SETTING);
    LoadSetting();
    EXPECT_EQ(0, std::memcmp(&first, &SETTING, sizeof SETTING));
    EXPECT_EQ(7, SETTING.Device[5].PlayType);
    EXPECT_EQ(-1, SETTING.Device[5].Attribute);
    EXPECT_EQ(longFile, SETTING.Device[3].PlayFile);
}

TEST_F(SettingTest, AFileThatCannotBeWrittenIsLeftIntact) {
    const std::string original = "[GLOBAL]\r\nTimer=2000\r\n";
    WriteIni(original);
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
    LoadSetting();
    SETTING.Timer = 5000;
    SaveSetting();
    EXPECT_EQ(original, testsupport::ReadFile(path));
    EXPECT_EQ(5000u, SETTING.Timer);  // the record is unchanged
    EXPECT_FALSE(testsupport::FileExists(path + ".new"));

    // A file that cannot be looked at may be there all the same, with keys
    // of the user's own: it is not replaced.
    const std::string mine = "[GLOBAL]\r\nDebug=1\r\nTimer=2000\r\n";
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL));
    WriteIni(mine);
    {
        testsupport::ImportPatch patch("kernel32.dll", "GetFileAttributesA",
                                       reinterpret_cast<void*>(&AttributesDenied));
        attributesPatch = &patch;
        ASSERT_TRUE(patch.Ok());
        SaveSetting();
        attributesPatch = nullptr;
    }
    EXPECT_EQ(mine, testsupport::ReadFile(path));
    EXPECT_FALSE(testsupport::FileExists(path + ".new"));
}

TEST_F(SettingTest, TheCopyReachesTheDiskAndABriefRefusalIsWaitedOut) {
    const std::string original = "[GLOBAL]\r\nDebug=1\r\nTimer=2000\r\n";
    WriteIni(original);
    LoadSetting();
    SETTING.Timer = 5000;
    testsupport::ImportPatch move("kernel32.dll", "MoveFileExA", reinterpret_cast<void*>(&CountedMove));
    testsupport::ImportPatch flush("kernel32.dll", "FlushFileBuffers", reinterpret_cast<void*>(&CountedFlush));
    movePatch = &move;
    flushPatch = &flush;
    ASSERT_TRUE(move.Ok());
    ASSERT_TRUE(flush.Ok());

    // A scanner holds the file for two tries: the save still lands.
    saveSteps.clear();
    refusals = 2;
    refusal = ERROR_SHARING_VIOLATION;
    SaveSetting();
    EXPECT_EQ("FMMM", saveSteps) << "flushed once, before the first rename";
    EXPECT_NE(std::string::npos, testsupport::ReadFile(path).find("Timer=5000"));
    EXPECT_FALSE(testsupport::FileExists(path + ".new"));

    // Refused for good: a few tries, then the old file stays as it was.
    WriteIni(original);
    saveSteps.clear();
    refusals = 1000;
    refusal = ERROR_ACCESS_DENIED;
    SaveSetting();
    EXPECT_EQ('F', saveSteps[0]) << saveSteps;
    EXPECT_GE(saveSteps.size(), 3u) << saveSteps;
    EXPECT_LE(saveSteps.size(), 11u) << "the tries are bounded: " << saveSteps;
    EXPECT_EQ(original, testsupport::ReadFile(path));
    EXPECT_FALSE(testsupport::FileExists(path + ".new"));
    movePatch = flushPatch = nullptr;
}

TEST_F(SettingTest, AFolderThatTakesNoNewFileGetsTheKeysInPlace) {
    // No copy can be made beside the file (here: its name is taken by a folder).
    WriteIni("[GLOBAL]\r\nDebug=1\r\nTimer=2000\r\n");
    ASSERT_TRUE(CreateDirectoryA((path + ".new").c_str(), nullptr));
    LoadSetting();
    SETTING.Timer = 5000;
    SETTING.Device[6].Enable = 1;
    SaveSetting();
    std::string text = testsupport::ReadFile(path);
    EXPECT_NE(std::string::npos, text.find("Timer=5000")) << text;
    EXPECT_NE(std::string::npos, text.find("Debug=1")) << text;
    EXPECT_NE(std::string::npos, text.find("[DEVICE6]\r\nEnable=1\r\n")) << text;
}
