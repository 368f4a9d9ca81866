#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>

// The program's texts are held in code page 932 and shown through the ANSI
// interfaces: both the compiled literals and the process's code page must agree.
TEST(CodePage, LiteralsAreCp932AndTheProcessUsesIt) {
    const unsigned char expected[] = {0x83, 0x47, 0x83, 0x89, 0x81, 0x5B, 0x8F, 0xEE, 0x95, 0xF1, 0};
    EXPECT_EQ(0, std::memcmp(expected, "エラー情報", sizeof expected));
    EXPECT_EQ(932u, GetACP());

    wchar_t wide[16] = {};
    ASSERT_GT(MultiByteToWideChar(CP_ACP, 0, "設定", -1, wide, 16), 0);
    EXPECT_EQ(0x8A2D, wide[0]);
    EXPECT_EQ(0x5B9A, wide[1]);
}
