// The packed LED selector of WM_GLIMDECK and the method command ids.
#include <gtest/gtest.h>

#include "app/glimmessages.h"
#include "app/mainwindow.h"
#include "app/traymenu.h"

namespace {

void ExpectLed(LPARAM selector, uint32_t display, uint32_t gpu, uint32_t attribute) {
    GpuSelector led = UnpackSelector(selector);
    EXPECT_EQ(led.Display, display) << std::hex << selector;
    EXPECT_EQ(led.GPU, gpu) << std::hex << selector;
    EXPECT_EQ(led.Attribute, attribute) << std::hex << selector;
}

TEST(Selector, UnpacksDisplayGpuAttributeAndIgnoresTheSpareBits) {
    ExpectLed(0x10203, 3, 2, 1);
    ExpectLed(0xF3, 3, 0, 0);           // bits 4..7 carry nothing
    ExpectLed(0xFF000000, 0, 0, 0);     // nor do bits 24..31
    ExpectLed(static_cast<LPARAM>(0xFFFFFFFFu), 15, 255, 255);
    ExpectLed(-1, 15, 255, 255);        // a negative lParam is the same bits
    ExpectLed(0x7AFF0E5C, 12, 14, 255);
}

TEST(Selector, PackingRoundTripsEveryDisplayAndTheFieldEdges) {
    for (uint32_t display = 0; display <= 15; ++display) {
        for (uint32_t gpu : {0u, 1u, 128u, 255u}) {
            for (uint32_t attribute : {0u, 1u, 255u}) {
                ASSERT_TRUE(SelectorFits(display, gpu, attribute));
                ExpectLed(static_cast<LPARAM>(PackSelector(display, gpu, attribute)), display, gpu,
                          attribute);
            }
        }
    }
    EXPECT_FALSE(SelectorFits(16, 0, 0));
    EXPECT_FALSE(SelectorFits(0, 256, 0));
    EXPECT_FALSE(SelectorFits(0, 0, 256));
}

TEST(PlayTypeCommand, DecodesDeviceAndMethodOfEveryKnownMethod) {
    for (int device = 0; device < 8; ++device) {
        for (int method = 0; method < 7; ++method) {  // 3 too, chosen in the dialog only
            UINT id = PlayTypeCommand(device, method);
            int d = -1, m = -1;
            ASSERT_TRUE(DecodePlayTypeCommand(id, &d, &m)) << std::hex << id;
            EXPECT_EQ(d, device);
            EXPECT_EQ(m, method);
        }
    }
    EXPECT_EQ(PlayTypeCommand(2, 5), 0x8125u);
}

TEST(PlayTypeCommand, RefusesDeviceBitsOfEightAndMoreMethodsOfSevenAndMoreAndOtherCommands) {
    int d = -1, m = -1;
    for (UINT id : {0x8180u, 0x8186u, 0x81F0u, 0x81FFu, 0x8107u, 0x810Fu, 0x8179u}) {
        EXPECT_TRUE(IsPlayTypeCommand(id));
        EXPECT_FALSE(DecodePlayTypeCommand(id, &d, &m)) << std::hex << id;
    }
    for (UINT id : {0x80FFu, 0x8200u, 0x8010u, 0x0100u, 0x9100u}) {
        EXPECT_FALSE(DecodePlayTypeCommand(id, &d, &m)) << std::hex << id;
    }
    EXPECT_EQ(d, -1);
    EXPECT_EQ(m, -1);
}

}  // namespace
