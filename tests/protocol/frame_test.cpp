#include "protocol/frame.h"

#include <gtest/gtest.h>

#include <vector>

namespace zuz {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct FrameCase {
    const char* name;
    Bytes body;
    Bytes frame;
};

TEST(Frame, WorkedExamplesByteForByte) {
    const FrameCase cases[] = {
        {"probe address 1", {0x04, 0xF4, 0x01, 0x80}, {0xAA, 0x55, 0x04, 0xF4, 0x01, 0x80, 0x01, 0x79}},
        {"probe address 100", {0x04, 0xF4, 0x64, 0x80}, {0xAA, 0x55, 0x04, 0xF4, 0x64, 0x80, 0x01, 0xDC}},
        {"read address 2", {0x04, 0xFE, 0x02, 0x80}, {0xAA, 0x55, 0x04, 0xFE, 0x02, 0x80, 0x01, 0x84}},
        {"short reply -1000", {0x06, 0xF6, 0x00, 0x02, 0x18, 0xFC},
         {0xAA, 0x55, 0x06, 0xF6, 0x00, 0x02, 0x18, 0xFC, 0x02, 0x12}},
    };
    for (const auto& c : cases) EXPECT_EQ(BuildFrame(c.body), c.frame) << c.name;
}

TEST(Frame, RequestFrameHelperMatchesBodyForm) {
    EXPECT_EQ(BuildRequestFrame(CMD_READ, 2), (Bytes{0xAA, 0x55, 0x04, 0xFE, 0x02, 0x80, 0x01, 0x84}));
}

TEST(Frame, ChecksumIsHighByteFirstAndNeverWraps) {
    Bytes body(255, 0xFF);
    body[0] = 255;
    const Bytes frame = BuildFrame(body);
    ASSERT_EQ(frame.size(), 259u);
    EXPECT_EQ(FrameChecksum(body), 65025);  // 255 * 255
    EXPECT_EQ(frame[257], 0xFE);
    EXPECT_EQ(frame[258], 0x01);
}

TEST(Frame, OnlyTheFirstLBytesOfTheBodyAreUsed) {
    EXPECT_EQ(BuildFrame(Bytes{0x02, 0x10, 0x99, 0x99}), (Bytes{0xAA, 0x55, 0x02, 0x10, 0x00, 0x12}));
}

}  // namespace
}  // namespace zuz
