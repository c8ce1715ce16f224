#include "serial/line_settings.h"

#include <gtest/gtest.h>

#include <cstring>

namespace zuz {
namespace {

termios RawStart() {
    termios t;
    std::memset(&t, 0, sizeof t);
    cfmakeraw(&t);
    cfsetspeed(&t, B38400);
    t.c_cflag |= CLOCAL | CREAD | CRTSCTS;
    t.c_iflag |= IXON;
    return t;
}

TEST(LineSettingsTest, RoundTrip) {
    struct Case {
        LineSettings in;
        LineSettings out;  // what reads back
    };
    const Case cases[] = {
        {{115200, 8, 0, 0}, {115200, 8, 0, 0}},
        {{9600, 8, 0, 0}, {9600, 8, 0, 0}},
        {{19200, 7, 2, 2}, {19200, 7, 2, 2}},
        {{38400, 8, 1, 0}, {38400, 8, 1, 0}},
        {{57600, 6, 3, 0}, {57600, 6, 3, 0}},
        {{230400, 5, 4, 1}, {230400, 5, 4, 2}},  // 1.5 reads back as the long stop
        {{50, 5, 0, 2}, {50, 5, 0, 2}},
        {{4000000, 8, 2, 0}, {4000000, 8, 2, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in.baudRate);
        termios t = RawStart();
        ASSERT_TRUE(ApplyLineSettings(c.in, &t));
        const LineSettings back = LineSettingsOf(t);
        EXPECT_EQ(back.baudRate, c.out.baudRate);
        EXPECT_EQ(cfgetispeed(&t), cfgetospeed(&t)) << "both directions";
        EXPECT_EQ(back.dataBits, c.out.dataBits);
        EXPECT_EQ(back.parity, c.out.parity);
        EXPECT_EQ(back.stopBits, c.out.stopBits);
        // Parity checking follows parity; flow control and the rest stay.
        EXPECT_EQ((t.c_iflag & INPCK) != 0, c.in.parity != 0);
        EXPECT_EQ((t.c_cflag & PARENB) != 0, c.in.parity != 0);
        EXPECT_NE(t.c_cflag & CRTSCTS, 0u);
        EXPECT_NE(t.c_cflag & CREAD, 0u);
        EXPECT_NE(t.c_iflag & IXON, 0u);
    }
}

TEST(LineSettingsTest, ChangingFromOneFormatToAnotherLeavesNoTrace) {
    termios t = RawStart();
    ASSERT_TRUE(ApplyLineSettings({9600, 5, 3, 2}, &t));
    ASSERT_TRUE(ApplyLineSettings({115200, 8, 0, 0}, &t));
    const LineSettings back = LineSettingsOf(t);
    EXPECT_EQ(back.baudRate, 115200);
    EXPECT_EQ(back.dataBits, 8);
    EXPECT_EQ(back.parity, 0);
    EXPECT_EQ(back.stopBits, 0);
    EXPECT_EQ(t.c_cflag & (PARODD | CMSPAR | CSTOPB), 0u);
}

TEST(LineSettingsTest, ValuesOutsideTheRangesChangeNothing) {
    const LineSettings cases[] = {
        {12345, 8, 0, 0}, {0, 8, 0, 0},   {-9600, 8, 0, 0}, {9600, 4, 0, 0},
        {9600, 9, 0, 0},  {9600, 8, 5, 0}, {9600, 8, -1, 0}, {9600, 8, 0, 3},
        {9600, 8, 0, -1},
    };
    for (const LineSettings& c : cases) {
        termios t = RawStart();
        const termios before = t;
        EXPECT_FALSE(ApplyLineSettings(c, &t)) << c.baudRate << " " << c.dataBits << " "
                                                << c.parity << " " << c.stopBits;
        EXPECT_EQ(std::memcmp(&t, &before, sizeof t), 0);
    }
}

TEST(LineSettingsTest, ParityWithoutCheckingReadsAsNone) {
    termios t = RawStart();
    ASSERT_TRUE(ApplyLineSettings({9600, 8, 2, 0}, &t));
    t.c_iflag &= ~static_cast<tcflag_t>(INPCK);
    EXPECT_EQ(LineSettingsOf(t).parity, 0);
    cfsetospeed(&t, B0);
    EXPECT_EQ(LineSettingsOf(t).baudRate, -1) << "hang-up speed is no baud rate";
}

}  // namespace
}  // namespace zuz
