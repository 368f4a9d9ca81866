#include <gtest/gtest.h>

#include <set>

#include "debuglink/glpcli.h"

TEST(Packet, NotificationBytesAreLittleEndianWords) {
    NOTIFYPACKET packet = {GLP_KIND_NOTIFY, 0, 1, 0, 1, 75};
    unsigned char bytes[24];
    EncodePacket(packet, bytes);
    const unsigned char expected[24] = {3, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0,
                                        0, 0, 0, 0, 1, 0, 0, 0, 0x4B, 0, 0, 0};
    for (int n = 0; n < 24; ++n) EXPECT_EQ(expected[n], bytes[n]) << "byte " << n;
}

TEST(Packet, DecodeReadsWhatEncodeWrote) {
    // Negative and large values keep every byte of the word.
    NOTIFYPACKET packet = {GLP_KIND_QUERY, -1, 0x01020304, 7, 0x7fffffff, -100};
    unsigned char bytes[24];
    EncodePacket(packet, bytes);
    EXPECT_EQ(0xFF, bytes[4]);
    EXPECT_EQ(0xFF, bytes[7]);
    EXPECT_EQ(0x04, bytes[8]);
    EXPECT_EQ(0x01, bytes[11]);
    NOTIFYPACKET back = DecodePacket(bytes);
    EXPECT_EQ(packet.Kind, back.Kind);
    EXPECT_EQ(packet.Status, back.Status);
    EXPECT_EQ(packet.Display, back.Display);
    EXPECT_EQ(packet.GPU, back.GPU);
    EXPECT_EQ(packet.Attribute, back.Attribute);
    EXPECT_EQ(packet.Luminance, back.Luminance);
}

TEST(Packet, PauseAfterAnExchangeIsOneToFiveMs) {
    std::set<unsigned> seen;
    for (unsigned r : {0u, 1u, 4u, 5u, 9u, 32767u, 0x7fffffffu, 0xffffffffu}) {
        unsigned pause = PauseAfterExchange(r, 5);
        EXPECT_GE(pause, 1u);
        EXPECT_LE(pause, 5u);
    }
    for (unsigned r = 0; r < 100; ++r) seen.insert(PauseAfterExchange(r, 5));
    EXPECT_EQ((std::set<unsigned> {1, 2, 3, 4, 5}), seen);
    EXPECT_EQ(1u, PauseAfterExchange(12345, 0));
}
