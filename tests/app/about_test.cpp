// The About box text and the version reader, on the program's own resource.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/about.h"
#include "app/win32ver.h"
#include "testsupport.h"

namespace {

TEST(AboutText, LinesAsTheBoxShowsThem) {
    char text[260];
    FormatAboutText(text, sizeof text, "Glimmerdeck", "1.03", "Copyright line", "Credit line");
    EXPECT_STREQ(text, "Glimmerdeck (" TEST_PLATFORM ")\r\nVersion 1.03\r\n\r\nCopyright line\r\n\r\nCredit line");
}

TEST(AboutText, CutToTheBufferAndTerminated) {
    std::string longCopyright(400, 'c');
    char text[260];
    std::memset(text, 'x', sizeof text);
    FormatAboutText(text, sizeof text, "Glimmerdeck", "1.03", longCopyright.c_str(), ABOUT_CREDIT_LINE);
    EXPECT_EQ(std::strlen(text), 259u);
    EXPECT_EQ(std::string(text, 33), "Glimmerdeck (" TEST_PLATFORM ")\r\nVersion 1.03\r\n");
}

TEST(AboutText, TheCreditLineFitsWithTheRest) {
    char text[260];
    FormatAboutText(text, sizeof text, "Glimmerdeck", "1.03", "Copyright (C) 2024 somebody", ABOUT_CREDIT_LINE);
    std::string s(text);
    ASSERT_GT(std::strlen(ABOUT_CREDIT_LINE), 0u);
    EXPECT_EQ(s.substr(s.size() - std::strlen(ABOUT_CREDIT_LINE)), ABOUT_CREDIT_LINE);
}

TEST(Win32Ver, ReadsTheProgramsVersionBlock) {
    WIN32VER version;
    ASSERT_EQ(version.Open(testsupport::BinPath(TEST_PROGRAM).c_str()), 1);
    EXPECT_EQ(version.Language(), 0x0411);
    EXPECT_EQ(version.CodePage(), 0x04B0);
    EXPECT_STREQ(version.Query("FileDescription"), "Glimmerdeck");
    EXPECT_STREQ(version.Query("FileVersion"), "1.03");
    EXPECT_STREQ(version.Query("ProductName"), "Glimmerdeck");
    EXPECT_STREQ(version.Query("InternalName"), "GLIMDECK");
    EXPECT_STREQ(version.Query("SpecialBuild"), "NVAPI Version");
    EXPECT_STRNE(version.Query("LegalCopyright"), "(error)");
    EXPECT_STREQ(version.Query("NoSuchKey"), "(error)");
    // A second Open replaces what the first read.
    EXPECT_EQ(version.Open(testsupport::BinPath(TEST_PROGRAM).c_str()), 1);
    EXPECT_STREQ(version.Query("FileVersion"), "1.03");
}

TEST(Win32Ver, NoBlockNoFileOrTwoLanguagesReadAsNothing) {
    WIN32VER version;
    EXPECT_EQ(version.Open("C:\\no\\such\\file.exe"), 0);
    EXPECT_STREQ(version.Query("FileVersion"), "(error)");
    EXPECT_EQ(version.Open(nullptr), 0);
    // This test program carries a version block that names two languages:
    // which table to read is then unknown.
    char self[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameA(nullptr, self, MAX_PATH), 0u);
    EXPECT_EQ(version.Open(self), 0);
}

}  // namespace
