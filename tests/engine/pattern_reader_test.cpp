#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/pattern.h"
#include "testsupport.h"

namespace {

// A pattern area followed by a guard zone that the reader must never touch.
struct GuardedArea {
    static constexpr int kGuard = 16;
    GuardedArea() {
        std::memset(steps, 0, sizeof steps);
        for (PATTERNSTEP& g : guard) g = {0x5A5A5A5A, 0xA5A5A5A5u};
    }
    bool GuardIntact() const {
        for (const PATTERNSTEP& g : guard) {
            if (g.Luminance != 0x5A5A5A5A || g.Duration != 0xA5A5A5A5u) return false;
        }
        return true;
    }
    PATTERNSTEP steps[MAX_PATTERNSTEP];
    PATTERNSTEP guard[kGuard];
};

class PatternReaderTest : public ::testing::Test {
protected:
    // Writes `text` as a pattern file and reads it into a fresh area.
    int Read(const std::string& text) {
        std::string path = dir.File("P.GLP");
        EXPECT_TRUE(testsupport::WriteFile(path, text));
        area.reset(new GuardedArea);
        return ReadPatternFile(path.c_str(), area->steps);
    }
    void ExpectSteps(const std::vector<PATTERNSTEP>& expected) {
        for (size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(expected[i].Luminance, area->steps[i].Luminance) << "step " << i;
            EXPECT_EQ(expected[i].Duration, area->steps[i].Duration) << "step " << i;
        }
        const PATTERNSTEP& after = area->steps[expected.size()];
        EXPECT_TRUE(after.Luminance == 0 && after.Duration == 0) << "nothing stored after the steps";
        EXPECT_TRUE(area->GuardIntact());
    }
    testsupport::TempDir dir;
    std::unique_ptr<GuardedArea> area;
};

}  // namespace

TEST_F(PatternReaderTest, FormsOfAStep) {
    // Blink, with both line-end forms.
    EXPECT_EQ(2, Read("100,500\r\n0,500\n"));
    ExpectSteps({{100, 500}, {0, 500}});

    // Blanks and tabs may precede either number; signs are allowed.
    EXPECT_EQ(3, Read("100, 500\n  \t+20,\t-0\n-5,+7\n"));
    ExpectSteps({{100, 500}, {20, 0}, {-5, 7}});

    // A brightness alone keeps the duration of the step before (0 at first).
    EXPECT_EQ(3, Read("100\n50,200\n80\n"));
    ExpectSteps({{100, 0}, {50, 200}, {80, 200}});

    // A blank before the comma ends the step there; the rest of the line is
    // not a step of its own.
    EXPECT_EQ(2, Read("100 ,500\n7,9\n"));
    ExpectSteps({{100, 0}, {7, 9}});

    // A file saved by Notepad as UTF-8 starts with a byte-order mark.
    EXPECT_EQ(2, Read("\xEF\xBB\xBF" "100,500\r\n0,500\r\n"));
    ExpectSteps({{100, 500}, {0, 500}});

    // A negative duration is kept as its unsigned value.
    EXPECT_EQ(1, Read("10,-1\n"));
    EXPECT_EQ(4294967295u, area->steps[0].Duration);
}

TEST_F(PatternReaderTest, EndMarkIsStoredAndStepsAfterItAreRead) {
    EXPECT_EQ(3, Read("100,500\n0,0\n30,40\n"));
    ExpectSteps({{100, 500}, {0, 0}, {30, 40}});
}

TEST_F(PatternReaderTest, NoFileOrNoAreaLeavesTheAreaAlone) {
    GuardedArea untouched;
    std::memset(untouched.steps, 0x33, sizeof untouched.steps);
    std::string missing = dir.File("MISSING.GLP");
    EXPECT_EQ(0, ReadPatternFile(missing.c_str(), untouched.steps));
    EXPECT_EQ(0x33333333, untouched.steps[0].Luminance);
    EXPECT_EQ(0x33333333, untouched.steps[MAX_PATTERNSTEP - 1].Luminance);

    EXPECT_EQ(0, ReadPatternFile(nullptr, untouched.steps));
    EXPECT_EQ(0, ReadPatternFile(missing.c_str(), nullptr));

    EXPECT_EQ(0, Read(""));
    ExpectSteps({});
    EXPECT_EQ(0, Read(" \r\n\t\n"));
    ExpectSteps({});
}

TEST_F(PatternReaderTest, TextThatIsNoStepIsSkippedToTheEndOfItsLine) {
    EXPECT_EQ(3, Read("abc\n100,500\nx,1\n,,,\n-,3\n20,30\nGLP 5,5\n60,70,80\n"));
    ExpectSteps({{100, 500}, {20, 30}, {60, 70}});

    // A step whose second number is garbage keeps the previous duration.
    EXPECT_EQ(2, Read("10,20\n30,zz\n"));
    ExpectSteps({{10, 20}, {30, 20}});

    // Binary rubbish reads as nothing at all, without a hang.
    std::string junk;
    for (int i = 0; i < 4096; ++i) junk += static_cast<char>((i * 37 + 11) % 256 == 0 ? 1 : (i * 37 + 11) % 256);
    junk += "\n5,6\n";
    int count = Read(junk);
    EXPECT_LE(count, MAX_PATTERNSTEP);
    EXPECT_TRUE(area->GuardIntact());
}

TEST_F(PatternReaderTest, LargeFilesStayInsideTheArea) {
    std::string lines;
    for (int i = 0; i < 20000; ++i) lines += std::to_string(i % 101) + "," + std::to_string(i + 1) + "\n";
    EXPECT_EQ(MAX_PATTERNSTEP, Read(lines));
    EXPECT_EQ(100, area->steps[100].Luminance);
    EXPECT_EQ(static_cast<uint32_t>(MAX_PATTERNSTEP), area->steps[MAX_PATTERNSTEP - 1].Duration);
    EXPECT_TRUE(area->GuardIntact());

    // A 1 MB line of letters, then a step.
    EXPECT_EQ(1, Read(std::string(1 << 20, 'x') + "\n100,500\n"));
    ExpectSteps({{100, 500}});

    // A 1 MB line of steps without line ends.
    std::string run;
    while (run.size() < (1u << 20)) run += "1,2 ";
    EXPECT_EQ(MAX_PATTERNSTEP, Read(run));
    EXPECT_TRUE(area->GuardIntact());
}
