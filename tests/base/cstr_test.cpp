#include <gtest/gtest.h>

#include <cstring>

#include "base/cstr.h"

TEST(Cstr, EmptyStringsOwnNoBlock) {
    CSTR a(nullptr), b(""), c;
    for (CSTR* s : {&a, &b, &c}) {
        EXPECT_EQ(0u, s->Length());
        EXPECT_EQ(nullptr, s->String());
    }
    // Operations that leave nothing free the block.
    CSTR spaces("   ");
    spaces.Trim(" ");
    EXPECT_EQ(nullptr, spaces.String());
    EXPECT_EQ(0u, spaces.Length());
    CSTR t("abc");
    t = "";
    EXPECT_EQ(nullptr, t.String());
}

TEST(Cstr, NumberAssignment) {
    CSTR s;
    s = -5;
    EXPECT_STREQ("-5", s.String());
    EXPECT_EQ(2u, s.Length());
    s = 0;
    EXPECT_STREQ("0", s.String());
    EXPECT_EQ(1u, s.Length());
    CSTR big(1000);
    EXPECT_STREQ("1000", big.String());
    EXPECT_EQ(4u, big.Length());
    s = -2147483647 - 1;
    EXPECT_STREQ("-2147483648", s.String());
}

TEST(Cstr, AppendOfItsOwnText) {
    CSTR s("abc");
    s += s;  // the very same pointer: unchanged
    EXPECT_STREQ("abc", s.String());
    s.Append(s.String() + 1);  // a tail of its own text is appended
    EXPECT_STREQ("abcbc", s.String());
    EXPECT_EQ(5u, s.Length());
    s = s.String() + 2;  // assigning a tail keeps it readable
    EXPECT_STREQ("cbc", s.String());
    CSTR copy(s);
    copy += "!";
    EXPECT_STREQ("cbc", s.String());
    EXPECT_STREQ("cbc!", copy.String());
    s = s;
    EXPECT_STREQ("cbc", s.String());
}

TEST(Cstr, InsertBounds) {
    CSTR s("abc");
    EXPECT_STREQ("axybc", s.Insert("xy", 1));
    CSTR t("abc");
    EXPECT_STREQ("abc", t.Insert("xy", 3));  // at the end: unchanged
    EXPECT_STREQ("xyabc", t.Insert("xy", 0));
    CSTR e;
    EXPECT_EQ(nullptr, e.Insert("xy", 0));
    CSTR self("abcd");
    self.Insert(self.String() + 2, 1);  // its own tail, copied before the old block goes
    EXPECT_STREQ("acdbcd", self.String());
}

TEST(Cstr, EqualityIsAPrefixTest) {
    CSTR abc("abc"), abcd("abcd"), empty;
    EXPECT_TRUE(abc == "abcd");
    EXPECT_FALSE(abcd == "abc");
    EXPECT_TRUE(abc == abc);
    EXPECT_FALSE(empty == "");
    EXPECT_TRUE(empty == static_cast<const char*>(nullptr));
    EXPECT_TRUE(empty == CSTR());
    EXPECT_FALSE(abc == "");
    EXPECT_TRUE(abc.Compare("abX", 2));
    EXPECT_FALSE(abc.Compare("abX", 0));
    EXPECT_FALSE(abc == "abd");
}

TEST(Cstr, Trims) {
    CSTR s("  a b  ");
    EXPECT_STREQ("a b", s.Trim(nullptr));
    EXPECT_EQ(3u, s.Length());
    CSTR x("axx");
    EXPECT_STREQ("a", x.TrimRight("x"));
    EXPECT_EQ(1u, x.Length());
    CSTR l("\t\n z");
    EXPECT_STREQ("z", l.TrimLeft());
    CSTR keep("abc");
    EXPECT_STREQ("abc", keep.Trim(""));  // an empty set trims nothing
    CSTR all("xxx");
    EXPECT_EQ(nullptr, all.TrimRight("x"));
    EXPECT_EQ(0u, all.Length());
    CSTR none;
    EXPECT_EQ(nullptr, none.Trim(nullptr));

    // The second byte of "表" is a backslash, its first one is in the set
    // "表": a double-byte character is never cut in two.
    CSTR folder("C:\\表\\");
    EXPECT_STREQ("C:\\表", folder.TrimRight("\\"));
    CSTR lead("表x表");
    EXPECT_STREQ("表x表", lead.Trim("表"));
}

TEST(Cstr, NumberConversions) {
    EXPECT_EQ(255, CSTR("ff").Hex());
    EXPECT_EQ(12, CSTR("12abc").Dec());
    EXPECT_EQ(5, CSTR("101").Bit());
    EXPECT_EQ(8, CSTR("10").Oct());
    EXPECT_EQ(-42, CSTR("  -42").Dec());
    for (long v : {CSTR().Hex(), CSTR().Dec(), CSTR().Bit(), CSTR().Oct()}) EXPECT_EQ(0, v);
}

TEST(Cstr, CaseAndOffsets) {
    CSTR s("MiXeD 9");
    EXPECT_STREQ("MIXED 9", s.Upper());
    EXPECT_STREQ("mixed 9", s.Lower());
    // "ア" and "イ" end in the bytes of "A" and "C": they stay as they are.
    CSTR kana("アイxY");
    EXPECT_STREQ("アイXY", kana.Upper());
    EXPECT_STREQ("アイxy", kana.Lower());
    EXPECT_STREQ("9", s.String(6));
    EXPECT_STREQ("", s.String(7));
    EXPECT_EQ(nullptr, s.String(8));
}
