#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/inifile.h"
#include "importpatch.h"
#include "testsupport.h"

namespace {

// What the writers hand to the platform, recorded on the way.
std::string lastWritten;
testsupport::ImportPatch* writePatch = nullptr;
BOOL WINAPI RecordWrite(LPCSTR section, LPCSTR key, LPCSTR text, LPCSTR file) {
    lastWritten = text ? text : "";
    return reinterpret_cast<BOOL(WINAPI*)(LPCSTR, LPCSTR, LPCSTR, LPCSTR)>(writePatch->Original())(section, key,
                                                                                                 text, file);
}

class IniFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        path = dir.File("test.ini");
        ASSERT_EQ(1, ini.Open(path.c_str()));
    }
    // What the platform itself reads for the key.
    std::string Raw(const char* key) {
        char buf[512];
        GetPrivateProfileStringA("S", key, "<missing>", buf, sizeof buf, path.c_str());
        return buf;
    }
    testsupport::TempDir dir;
    std::string path;
    INIFILE ini;
};

}  // namespace

TEST_F(IniFileTest, IntegerFormsAndTheirReadBack) {
    ini.Write("S", "uc", static_cast<unsigned char>(10));
    ini.Write("S", "us", static_cast<unsigned short>(10));
    ini.Write("S", "ul", static_cast<unsigned long>(10));
    ini.Write("S", "sh", static_cast<short>(-1));
    ini.Write("S", "i", -7);
    ini.Write("S", "ui", 4000000000u);
    ini.Write("S", "l", -9L);
    EXPECT_EQ("0x0a", Raw("uc"));
    EXPECT_EQ("0x000a", Raw("us"));
    EXPECT_EQ("0x0000000a", Raw("ul"));
    EXPECT_EQ("-1", Raw("sh"));
    EXPECT_EQ("-7", Raw("i"));
    EXPECT_EQ("4000000000", Raw("ui"));
    EXPECT_EQ("-9", Raw("l"));

    unsigned char uc = 0;
    unsigned short us = 0;
    unsigned long ul = 0;
    short sh = 0;
    EXPECT_EQ(1, ini.Read("S", "uc", static_cast<unsigned char>(1), &uc));
    EXPECT_EQ(1, ini.Read("S", "us", static_cast<unsigned short>(1), &us));
    EXPECT_EQ(1, ini.Read("S", "ul", 1ul, &ul));
    EXPECT_EQ(1, ini.Read("S", "sh", static_cast<short>(1), &sh));
    EXPECT_EQ(10, uc);
    EXPECT_EQ(10, us);
    EXPECT_EQ(10ul, ul);
    EXPECT_EQ(-1, sh);

    // Missing keys give the default and still succeed.
    short missing = 0;
    EXPECT_EQ(1, ini.Read("S", "nope", static_cast<short>(-3), &missing));
    EXPECT_EQ(-3, missing);
    unsigned long big = 0;
    EXPECT_EQ(1, ini.Read("S", "i", 0ul, &big));
    EXPECT_EQ(static_cast<unsigned long>(-7L), big);
}

TEST_F(IniFileTest, FormatTextAndFloatingForms) {
    ini.Write("S", "f", 1.5f);
    ini.Write("S", "d", -0.25);
    ini.Write("S", "fmt", "%lu ms", 1000ul);
    ini.Write("S", "t", "plain text");
    EXPECT_EQ("1.500000", Raw("f"));
    EXPECT_EQ("-0.250000", Raw("d"));
    EXPECT_EQ("1000 ms", Raw("fmt"));
    EXPECT_EQ("plain text", Raw("t"));

    float f = 0;
    double d = 0;
    EXPECT_EQ(1, ini.Read("S", "f", 9.0f, &f));
    EXPECT_EQ(1, ini.Read("S", "d", 9.0, &d));
    EXPECT_FLOAT_EQ(1.5f, f);
    EXPECT_DOUBLE_EQ(-0.25, d);
    EXPECT_EQ(1, ini.Read("S", "none", 9.0, &d));
    EXPECT_DOUBLE_EQ(9.0, d);

    char buf[8];
    EXPECT_EQ(1, ini.Read("S", "t", "def", buf, sizeof buf));
    EXPECT_STREQ("plain t", buf);  // cut to the buffer
    EXPECT_EQ(1, ini.Read("S", "none", "def", buf, sizeof buf));
    EXPECT_STREQ("def", buf);

    // A text that would not fit the 255-character limit is refused, not cut.
    EXPECT_EQ(0, ini.Write("S", "huge", 1e300));
    EXPECT_EQ("<missing>", Raw("huge"));
}

TEST_F(IniFileTest, FontForm) {
    LOGFONTA font {};
    font.lfHeight = -22;
    font.lfWidth = 18;
    font.lfEscapement = 1;
    font.lfOrientation = 2;
    font.lfWeight = 700;
    font.lfItalic = 1;
    font.lfUnderline = 0;
    font.lfStrikeOut = 1;
    font.lfCharSet = 128;
    font.lfOutPrecision = 3;
    font.lfClipPrecision = 2;
    font.lfQuality = 1;
    font.lfPitchAndFamily = 49;
    std::strcpy(font.lfFaceName, "Verdana");
    ini.Write("S", "Font", &font);
    EXPECT_EQ("-22,18,1,2,700,1,0,1,128,3,2,1,49,Verdana", Raw("Font"));

    LOGFONTA back {};
    EXPECT_EQ(1, ini.Read("S", "Font", &back));
    EXPECT_EQ(0, std::memcmp(&font, &back, sizeof font));

    // A trailing comma gives an empty face name.
    WritePrivateProfileStringA("S", "Comma", "1,2,3,4,5,6,7,8,9,10,11,12,13,", path.c_str());
    EXPECT_EQ(1, ini.Read("S", "Comma", &back));
    EXPECT_STREQ("", back.lfFaceName);
    EXPECT_EQ(13, back.lfPitchAndFamily);

    // Fewer numbers: the later fields keep their values, the face still comes
    // after the last comma.
    LOGFONTA partial = font;
    WritePrivateProfileStringA("S", "Short", "12,Arial", path.c_str());
    EXPECT_EQ(1, ini.Read("S", "Short", &partial));
    EXPECT_EQ(12, partial.lfHeight);
    EXPECT_EQ(18, partial.lfWidth);
    EXPECT_EQ(700, partial.lfWeight);
    EXPECT_EQ(49, partial.lfPitchAndFamily);
    EXPECT_STREQ("Arial", partial.lfFaceName);

    // Byte fields take the low 8 bits; a long face name is cut to 31.
    WritePrivateProfileStringA("S", "Wide", "1,2,3,4,5,257,0,0,0,0,0,0,0,"
                               "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789", path.c_str());
    EXPECT_EQ(1, ini.Read("S", "Wide", &partial));
    EXPECT_EQ(1, partial.lfItalic);
    EXPECT_STREQ("ABCDEFGHIJKLMNOPQRSTUVWXYZ01234", partial.lfFaceName);

    // The 31st byte of a face starts "表": the cut falls before it, on both
    // sides, so no face ends in half a character.
    const char* japanese = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123表示";
    WritePrivateProfileStringA("S", "Cut", (std::string("1,2,3,4,5,0,0,0,0,0,0,0,0,") + japanese).c_str(),
                               path.c_str());
    EXPECT_EQ(1, ini.Read("S", "Cut", &partial));
    EXPECT_STREQ("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123", partial.lfFaceName);
    // Wine drops a lone first byte on its way into the file; what the writer
    // hands over shows whether it cut.
    std::memcpy(partial.lfFaceName, japanese, sizeof partial.lfFaceName);  // no terminator
    {
        testsupport::ImportPatch patch("kernel32.dll", "WritePrivateProfileStringA",
                                       reinterpret_cast<void*>(&RecordWrite));
        writePatch = &patch;
        ASSERT_TRUE(patch.Ok());
        ini.Write("S", "Cut", &partial);
        writePatch = nullptr;
    }
    EXPECT_EQ("1,2,3,4,5,0,0,0,0,0,0,0,0,ABCDEFGHIJKLMNOPQRSTUVWXYZ0123", lastWritten);

    // Missing: 0 and untouched.
    LOGFONTA untouched = font;
    EXPECT_EQ(0, ini.Read("S", "NoFont", &untouched));
    EXPECT_EQ(0, std::memcmp(&font, &untouched, sizeof font));
}

TEST_F(IniFileTest, ColourAndRectangleForms) {
    unsigned long colour = 0x00112233;  // red 0x33, green 0x22, blue 0x11
    ini.Write("S", "Colour", &colour);
    EXPECT_EQ("51,34,17", Raw("Colour"));
    unsigned long back = 0;
    EXPECT_EQ(1, ini.Read("S", "Colour", &back));
    EXPECT_EQ(colour, back);

    WritePrivateProfileStringA("S", "Partial", "255,128", path.c_str());
    unsigned long merged = 0xAA112233;
    EXPECT_EQ(1, ini.Read("S", "Partial", &merged));
    EXPECT_EQ(0x001180FFul, merged);
    EXPECT_EQ(0, ini.Read("S", "None", &merged));
    EXPECT_EQ(0x001180FFul, merged);

    RECT r {-1, 2, 300, 400};
    ini.Write("S", "Rect", &r);
    EXPECT_EQ("-1,2,300,400", Raw("Rect"));
    RECT rb {};
    EXPECT_EQ(1, ini.Read("S", "Rect", &rb));
    EXPECT_EQ(0, std::memcmp(&r, &rb, sizeof r));
    WritePrivateProfileStringA("S", "Half", "7,8", path.c_str());
    EXPECT_EQ(1, ini.Read("S", "Half", &rb));
    EXPECT_EQ(7, rb.left);
    EXPECT_EQ(8, rb.top);
    EXPECT_EQ(300, rb.right);
    EXPECT_EQ(400, rb.bottom);
}

TEST(IniFileClosed, EveryOperationFailsWithoutAFile) {
    INIFILE ini;
    EXPECT_EQ(0, ini.Open(nullptr));
    EXPECT_EQ(0, ini.Open(""));
    unsigned long ul = 77;
    short sh = 5;
    double d = 1.25;
    char buf[8] = "keep";
    LOGFONTA font {};
    font.lfHeight = 3;
    unsigned long colour = 9;
    RECT rect {1, 2, 3, 4};
    EXPECT_EQ(0, ini.Read("S", "k", 1ul, &ul));
    EXPECT_EQ(0, ini.Read("S", "k", static_cast<short>(1), &sh));
    EXPECT_EQ(0, ini.Read("S", "k", 2.0, &d));
    EXPECT_EQ(0, ini.Read("S", "k", "def", buf, sizeof buf));
    EXPECT_EQ(0, ini.Read("S", "k", &font));
    EXPECT_EQ(0, ini.Read("S", "k", &colour));
    EXPECT_EQ(0, ini.Read("S", "k", &rect));
    EXPECT_EQ(77ul, ul);
    EXPECT_EQ(5, sh);
    EXPECT_DOUBLE_EQ(1.25, d);
    EXPECT_STREQ("keep", buf);
    EXPECT_EQ(3, font.lfHeight);
    EXPECT_EQ(9ul, colour);
    EXPECT_EQ(4, rect.bottom);
    EXPECT_EQ(0, ini.Write("S", "k", 1));
    EXPECT_EQ(0, ini.Write("S", "k", "text"));
    EXPECT_EQ(0, ini.Write("S", "k", &font));
    EXPECT_EQ(0, ini.Create("S"));

    // Close forgets an open file.
    testsupport::TempDir dir;
    ASSERT_EQ(1, ini.Open(dir.File("a.ini").c_str()));
    ini.Close();
    EXPECT_EQ(0, ini.Write("S", "k", 1));
    EXPECT_FALSE(testsupport::FileExists(dir.File("a.ini")));
}

TEST(IniFileLocal, OpenLocalPointsBesideTheProgram) {
    INIFILE ini;
    ASSERT_EQ(1, ini.OpenLocal("GLIMDECK.INI"));
    EXPECT_EQ(testsupport::BinPath("GLIMDECK.INI"), ini.Path());

    INIFILE copy(ini), assigned;
    assigned = ini;
    assigned = assigned;
    EXPECT_STREQ(ini.Path(), copy.Path());
    EXPECT_STREQ(ini.Path(), assigned.Path());
}

TEST(IniFileLocal, CreateEmptiesASection) {
    testsupport::TempDir dir;
    INIFILE ini;
    ini.Open(dir.File("c.ini").c_str());
    ini.Write("S", "a", "1");
    EXPECT_EQ(1, ini.Create("S"));
    char buf[16];
    GetPrivateProfileStringA("S", "a", "gone", buf, sizeof buf, dir.File("c.ini").c_str());
    EXPECT_STREQ("gone", buf);
    EXPECT_NE(std::string::npos, testsupport::ReadFile(dir.File("c.ini")).find("[S]"));
}
