// Connect and disconnect as the Connect button does them.
#include <gtest/gtest.h>

#include "protocol/frame.h"
#include "test_host.h"

namespace zuz::test {
namespace {

TEST(Connection, NoPortSaysSoAndStaysDisconnected) {
    TestHost h;
    h.core.portName.clear();
    h.core.ToggleConnection(kDefaultBaudEntry);
    EXPECT_EQ(h.LastStatus(), "不存在有效端口，请先插入主控设备");
    EXPECT_FALSE(h.core.bus.connected);
    EXPECT_EQ(h.openedPort, "");
    // The status line carries the time prefix.
    EXPECT_EQ(h.statusLines.back().substr(0, 23).size(), 23u);
    EXPECT_EQ(h.statusLines.back().substr(19, 4), " -- ");
}

TEST(Connection, APortThatWillNotOpenIsReportedWithItsReason) {
    TestHost h;
    h.openError = 13;
    EXPECT_FALSE(h.core.Connect(kDefaultBaudEntry));
    EXPECT_EQ(h.LastStatus(), "打开串口失败: /dev/ttyFAKE0 (error 13)");
    EXPECT_FALSE(h.core.bus.connected);
    EXPECT_FALSE(h.shownConnected);
    EXPECT_FALSE(h.loop.TimerRunning(TIMER_SCAN));
}

TEST(Connection, BaudRateFollowsThePositionOfTheSelectedEntry) {
    const std::pair<int, unsigned> cases[] = {{0, 9600}, {1, 19200}, {2, 38400}, {3, 57600},
                                              {4, 115200}, {-1, 9600}, {5, 9600}};
    for (auto [entry, baud] : cases) {
        TestHost h;
        h.core.Connect(entry);
        EXPECT_EQ(h.baudRate, baud) << entry;
    }
}

TEST(Connection, ConnectStartsTheScanAndShowsTheConnectedState) {
    TestHost h;
    h.core.ToggleConnection(kDefaultBaudEntry);
    EXPECT_TRUE(h.core.bus.connected);
    EXPECT_TRUE(h.shownConnected);
    EXPECT_EQ(h.openedPort, "/dev/ttyFAKE0");
    EXPECT_EQ(h.loop.TimerPeriod(TIMER_SCAN), 50u);
    EXPECT_EQ(h.LastStatus(), "连接串口成功，正在扫描设备");
}

TEST(Connection, DisconnectInTheMiddleOfAScanStopsItAndResetsOnlyTheChannelsInUse) {
    TestHost h;
    h.core.bus.channelCount = 4;
    for (std::uint8_t a : {1, 2, 3}) h.bus.instruments[a] = {.serial = a};
    h.core.channels[3].SetSerialNo(0xAAAA);  // an unused channel keeps its texts
    h.core.Connect(kDefaultBaudEntry);
    h.Run(3 * 50 + 10);
    ASSERT_EQ(h.core.bus.foundCount, 3);
    const auto probesBefore = h.bus.requests.size();

    h.core.ToggleConnection(kDefaultBaudEntry);
    EXPECT_FALSE(h.core.bus.connected);
    EXPECT_FALSE(h.shownConnected);
    EXPECT_EQ(h.closeCount, 1);
    EXPECT_EQ(h.LastStatus(), "断开串口成功");
    for (int i = 0; i < 3; ++i) EXPECT_EQ(h.core.channels[i].ValueText(), "-----") << i;
    EXPECT_EQ(h.core.channels[3].SerialNoText(), "0000AAAA");
    h.Run(10000);
    EXPECT_EQ(h.bus.requests.size(), probesBefore);  // no further probe, no scan-end message
    EXPECT_EQ(h.LastStatus(), "断开串口成功");
    // Counters and the table keep their values until the next connect.
    EXPECT_EQ(h.core.bus.foundCount, 3);
    EXPECT_EQ(h.core.bus.addressTable[2], 3);
}

TEST(Connection, AReplyQueuedAfterDisconnectIsNotRead) {
    TestHost h;
    h.bus.instruments[1] = {};
    h.core.Connect(kDefaultBaudEntry);
    h.Run(60);
    h.core.Disconnect();
    h.bus.Inject(ReadReplyFrame({}));
    h.core.OnSerialEvent(EV_RXCHAR, 0);
    EXPECT_GT(h.bus.Pending(), 0u);
}

TEST(Connection, APortThatGoesStopsScanAndPollAndIsSaidOnce) {
    TestHost h;
    h.bus.instruments[1] = {.range = 0xC2, .flags = 0x03, .value = 5};
    h.core.Connect(kDefaultBaudEntry);
    h.Run(101 * 50 + 200);
    ASSERT_TRUE(h.loop.TimerRunning(TIMER_POLL));
    // Bytes that came with the last notification still count.
    h.core.bus.rotationIndex = 1;
    h.bus.Inject(ReadReplyFrame({.range = 0xC2, .flags = 0x03, .value = 777}));
    h.core.OnSerialEvent(EV_RXCHAR | EV_ERR | (CE_PORT_GONE << 16), 0);
    EXPECT_EQ(h.core.channels[0].ValueText(), "00.0777");
    EXPECT_EQ(h.LastStatus(), "串口连接丢失: /dev/ttyFAKE0 (端口已移除或挂断)");
    EXPECT_FALSE(h.loop.TimerRunning(TIMER_POLL));
    EXPECT_FALSE(h.loop.TimerRunning(TIMER_SCAN));
    EXPECT_TRUE(h.core.bus.connected);  // the user ends it with Disconnect
    const auto lines = h.statusLines.size();
    h.core.PortLost("again");
    EXPECT_EQ(h.statusLines.size(), lines);
    h.core.Disconnect();
    EXPECT_EQ(h.closeCount, 1);
    EXPECT_EQ(h.LastStatus(), "断开串口成功");
}

}  // namespace
}  // namespace zuz::test
