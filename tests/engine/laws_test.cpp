#include <gtest/gtest.h>

#include <cmath>

#include "engine/control.h"

TEST(ControlLaws, ClockAgainstBaseAndBoost) {
    // current, base, boost -> brightness with Base 30 and Boost 100
    EXPECT_EQ(0, ClockLuminance(300, 1000, 1100, 30, 100));
    EXPECT_EQ(30, ClockLuminance(1000, 1000, 1100, 30, 100)) << "ties fall upward";
    EXPECT_EQ(30, ClockLuminance(1099, 1000, 1100, 30, 100));
    EXPECT_EQ(100, ClockLuminance(1100, 1000, 1100, 30, 100));
    EXPECT_EQ(100, ClockLuminance(1000, 1000, 0, 30, 100)) << "a failed boost reading";
    EXPECT_EQ(100, ClockLuminance(0, 0, 0, 30, 100)) << "every reading failed";
    EXPECT_EQ(150, ClockLuminance(1000, 1000, 1100, 150, 100)) << "not clamped";

    EXPECT_EQ(705u, WholeMegahertz(705.0000334857032));
    EXPECT_EQ(999u, WholeMegahertz(999.999));
    EXPECT_EQ(0u, WholeMegahertz(-5.0));
    EXPECT_EQ(0u, WholeMegahertz(std::nan("")));
}

TEST(ControlLaws, PstateTableIsNeverReadOutsideItsSixteenEntries) {
    const uint32_t table[16] = {100, 100, 75, 75, 50, 50, 25, 25, 0, 0, 0, 0, 0, 0, 0, 9};
    int32_t value = -1;
    EXPECT_TRUE(PstateLuminance(2, table, &value));
    EXPECT_EQ(75, value);
    EXPECT_TRUE(PstateLuminance(15, table, &value));
    EXPECT_EQ(9, value);
    value = -1;
    EXPECT_FALSE(PstateLuminance(16, table, &value));
    EXPECT_FALSE(PstateLuminance(0xFFFFFFFFu, table, &value));
    EXPECT_EQ(-1, value);
}
