// Where the pattern-file chooser starts, from the device's PlayFile.
#include <gtest/gtest.h>

#include <string>

#include "ui/settingdialog.h"

namespace {

struct Split {
    std::string folder;
    std::string name;
};

Split SplitOf(const char* path) {
    char folder[1024];
    char name[1024];
    SplitPlayFile(path, folder, name);
    return {folder, name};
}

}  // namespace

TEST(PlayFileSplitTest, FolderBeforeTheLastBackslashNameAfterIt) {
    struct Case {
        const char* path;
        const char* folder;
        const char* name;
    };
    const Case cases[] = {
        {"GLIMDECK.GLP", "", "GLIMDECK.GLP"},                 // no folder at all
        {"C:\\patterns\\blink.GLP", "C:\\patterns", "blink.GLP"},
        {"C:\\patterns\\", "C:\\patterns", ""},               // a folder alone
        {"..\\glp\\a\\b.GLP", "..\\glp\\a", "b.GLP"},
        {"\\\\server\\share\\x.GLP", "\\\\server\\share", "x.GLP"},
        {"C:\\blink.GLP", "C:\\", "blink.GLP"},               // the drive's root
        {"\\blink.GLP", "", "blink.GLP"},
        {"", "", ""},
    };
    for (const Case& c : cases) {
        Split s = SplitOf(c.path);
        EXPECT_EQ(c.folder, s.folder) << c.path;
        EXPECT_EQ(c.name, s.name) << c.path;
    }
}

TEST(PlayFileSplitTest, SecondByteOfADoubleByteCharacterIsNoSeparator) {
    // "ソ" and "表" end in the byte 0x5C in code page 932.
    ASSERT_EQ('\\', "ソ"[1]);
    ASSERT_EQ('\\', "表"[1]);
    Split s = SplitOf("C:\\ソフト\\表示.GLP");
    EXPECT_EQ("C:\\ソフト", s.folder);
    EXPECT_EQ("表示.GLP", s.name);
    s = SplitOf("表.GLP");
    EXPECT_EQ("", s.folder);
    EXPECT_EQ("表.GLP", s.name);
}

TEST(PlayFileSplitTest, NullPathGivesNothing) {
    Split s = SplitOf(nullptr);
    EXPECT_EQ("", s.folder);
    EXPECT_EQ("", s.name);
}
