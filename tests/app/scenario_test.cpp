// The monitoring core in fast time: a fake clock, fake timers and an in-process bus, checking
// the requests that go out and when.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "protocol/frame.h"
#include "test_host.h"

namespace zuz::test {
namespace {

struct Req {
    FakeLoop::Ms time;
    std::uint8_t command;
    std::uint8_t address;
    bool operator==(const Req&) const = default;
};

std::vector<Req> Requests(const TestHost& h) {
    std::vector<Req> out;
    for (const auto& r : h.bus.requests) out.push_back({r.time, r.command, r.address});
    return out;
}

std::vector<int> Addresses(const TestHost& h, std::uint8_t command) {
    std::vector<int> out;
    for (const auto& r : h.bus.requests)
        if (r.command == command) out.push_back(r.address);
    return out;
}

TEST(Scenario, ScanStopsWhenTheChannelsAreFullThenPollsEveryFiftyMs) {
    TestHost h;
    h.bus.instruments[5] = {.serial = 0x05050505, .range = 0xC2, .flags = 0x03, .value = 123456};
    h.bus.instruments[9] = {.serial = 0x09090909, .range = 0xC4, .flags = 0x00, .shortReply = true, .value = 1234};
    h.bus.instruments[40] = {};
    ASSERT_TRUE(h.core.Connect(kDefaultBaudEntry));
    h.Run(10 * 50 + 4 * 50 + 10);

    std::vector<Req> expected;
    for (int a = 1; a <= 9; ++a) expected.push_back({50 * a, CMD_PROBE, std::uint8_t(a)});
    // Tick 10 ends the scan; polling starts 50 ms later.
    for (int k = 0; k < 4; ++k) expected.push_back({550 + 50 * k, CMD_READ, std::uint8_t(k % 2 ? 9 : 5)});
    EXPECT_EQ(Requests(h), expected);
    EXPECT_EQ(h.StatusTexts(), (std::vector<std::string>{"连接串口成功，正在扫描设备", "查找到 2 个设备"}));
    EXPECT_EQ(h.core.bus.foundCount, 2);
    EXPECT_EQ(h.core.channels[0].ValueText(), "12.3456");
    EXPECT_EQ(h.core.channels[1].ValueText(), "123.4");
    EXPECT_EQ(h.core.channels[1].SerialNoText(), "09090909");
    EXPECT_EQ(h.loop.TimerPeriod(TIMER_POLL), 50u);
    EXPECT_FALSE(h.loop.TimerRunning(TIMER_SCAN));
}

TEST(Scenario, EmptyBusProbesAHundredAddressesThenSaysSoAndStops) {
    TestHost h;
    h.core.Connect(kDefaultBaudEntry);
    h.Run(101 * 50 - 1);
    EXPECT_EQ(h.bus.requests.size(), 100u);
    EXPECT_EQ(h.LastStatus(), "连接串口成功，正在扫描设备");
    h.Run(1);  // the 101st tick
    EXPECT_EQ(h.LastStatus(), "未查找到有效设备");
    h.Run(10000);
    EXPECT_EQ(h.bus.requests.size(), 100u);
    EXPECT_EQ(Addresses(h, CMD_PROBE).back(), 100);
    EXPECT_FALSE(h.loop.TimerRunning(TIMER_SCAN));
    EXPECT_FALSE(h.loop.TimerRunning(TIMER_POLL));
}

TEST(Scenario, FixedAddressesProbeOnlyUsableEntriesAndPollEveryEntry) {
    TestHost h;
    h.core.bus.channelCount = 4;
    h.core.bus.fixedAddressMode = true;
    h.core.bus.addressTable = {3, 0, 7, 0};
    h.bus.instruments[3] = {.serial = 3};
    h.bus.instruments[7] = {.serial = 7};
    h.core.Connect(kDefaultBaudEntry);
    h.Run(5 * 50);  // finding takes channel count + 1 ticks
    EXPECT_EQ(Addresses(h, CMD_PROBE), (std::vector<int>{3, 7}));
    EXPECT_EQ(h.core.bus.foundCount, 4);
    EXPECT_EQ(h.core.channels[0].SerialNoText(), "00000003");
    EXPECT_EQ(h.core.channels[2].SerialNoText(), "00000007");
    EXPECT_EQ(h.loop.TimerPeriod(TIMER_POLL), 50u);
    h.Run(5 * 50);
    EXPECT_EQ(Addresses(h, CMD_READ), (std::vector<int>{3, 0, 7, 0, 3}));
    // No scan-end status in fixed-address mode.
    for (const auto& text : h.StatusTexts()) EXPECT_EQ(text.find("查找到"), std::string::npos);
}

TEST(Scenario, OneInstrumentPollsEveryHundredMsInScanModeButFiftyInFixedMode) {
    {
        TestHost h;
        h.bus.instruments[1] = {};
        h.core.Connect(kDefaultBaudEntry);
        h.Run(101 * 50);  // the scan looks at all 100 addresses for a second instrument
        EXPECT_EQ(h.core.bus.foundCount, 1);
        EXPECT_EQ(h.loop.TimerPeriod(TIMER_POLL), 100u);
        EXPECT_EQ(h.LastStatus(), "查找到 1 个设备");
    }
    {
        TestHost h;
        h.core.bus.fixedAddressMode = true;
        h.core.bus.channelCount = 2;
        h.core.bus.addressTable = {1, 0};
        h.bus.instruments[1] = {};
        h.core.Connect(kDefaultBaudEntry);
        h.Run(500);
        EXPECT_EQ(h.loop.TimerPeriod(TIMER_POLL), 50u);
    }
}

TEST(Scenario, ALateReplyIsCreditedToTheChannelAddressedLast) {
    TestHost h;
    h.bus.instruments[1] = {.serial = 1, .range = 0xC2, .flags = 0x03, .value = 111111};
    h.bus.instruments[2] = {.serial = 2, .range = 0xC2, .flags = 0x03, .value = 222222};
    h.core.Connect(kDefaultBaudEntry);
    h.Run(3 * 50 + 10);  // both found, scan over
    ASSERT_EQ(h.core.bus.foundCount, 2);

    // From now on replies take 70 ms: each arrives after the next request has gone out. A
    // reply whose bytes all wait in the port when the next request goes out is still decoded,
    // and lands on the channel addressed last.
    h.bus.replyDelayMs = 70;
    h.Run(50 + 70 + 5);  // read 1 at 200 ms, read 2 at 250 ms, reply 1 arrives at 270 ms
    EXPECT_EQ(h.core.channels[1].ValueText(), "11.1111");  // address 1's value on channel 1
    EXPECT_EQ(h.core.channels[0].ValueText(), "----");
}

TEST(Scenario, AProbeReplyAfterTheScanStillTakesTheNextEntry) {
    TestHost h;
    h.core.bus.channelCount = 2;
    h.bus.instruments[2] = {.serial = 2};
    h.core.Connect(kDefaultBaudEntry);
    h.Run(101 * 50 + 10);
    ASSERT_EQ(h.core.bus.foundCount, 1);
    h.bus.Deliver(1, ProbeReplyFrame(50, {.serial = 50}));
    h.Run(2);
    EXPECT_EQ(h.core.bus.foundCount, 2);
    EXPECT_EQ(h.core.bus.addressTable[1], 50);
    h.Run(400);
    const std::vector<int> reads = Addresses(h, CMD_READ);
    EXPECT_NE(std::find(reads.begin(), reads.end(), 50), reads.end());
}

}  // namespace
}  // namespace zuz::test

namespace zuz::test {
namespace {

// Random, truncated, oversized and interleaved byte streams with timer ticks in between: the
// core never writes past its tables, never addresses a channel that does not exist, and keeps
// working (a later good reply still lands).
TEST(Scenario, RandomStreamsAndTicksNeverBreakTheCore) {
    std::mt19937 rng(2024);
    std::uniform_int_distribution<int> byte(0, 255), op(0, 9), len(1, 40);
    const std::uint8_t commands[] = {CMD_PROBE_REPLY, CMD_READ_REPLY, CMD_READ_REPLY_SHORT, 0x00, 0xFF};
    for (int round = 0; round < 200; ++round) {
        TestHost h;
        h.core.bus.channelCount = kChannelCounts[round % std::size(kChannelCounts)];
        h.core.bus.fixedAddressMode = round % 3 == 0;
        h.core.Connect(kDefaultBaudEntry);
        for (int step = 0; step < 300; ++step) {
            switch (op(rng)) {
                case 0: h.core.OnTimer(TIMER_SCAN); break;
                case 1: h.core.OnTimer(TIMER_POLL); break;
                case 2: h.core.OnTimer(unsigned(byte(rng))); break;
                case 3: {  // a well-formed reply with random contents and length
                    std::vector<std::uint8_t> body(std::size_t(len(rng)));
                    for (auto& b : body) b = std::uint8_t(byte(rng));
                    body[0] = std::uint8_t(body.size());
                    if (body.size() > 1) body[1] = commands[byte(rng) % std::size(commands)];
                    h.bus.Inject(BuildFrame(body));
                    break;
                }
                default: {
                    std::vector<std::uint8_t> junk(std::size_t(len(rng)));
                    for (auto& b : junk) b = std::uint8_t(byte(rng) % 3 == 0 ? 0xAA : byte(rng) % 3 == 1 ? 0x55 : byte(rng));
                    h.bus.Inject(junk);
                }
            }
            h.core.OnSerialEvent(EV_RXCHAR, 0);
            ASSERT_LE(h.core.bus.foundCount, kMaxChannels);
            ASSERT_EQ(h.bus.Pending(), 0u);  // every notification drains the port
        }
        // Still alive: a clean reply to a fresh request lands where it should.
        h.core.bus.rotationIndex = 1;
        h.core.bus.receiver.Reset();
        h.bus.Inject(ReadReplyFrame({.range = 0xC2, .flags = 0x03, .value = 77777}));
        h.core.OnSerialEvent(EV_RXCHAR, 0);
        EXPECT_EQ(h.core.channels[0].ValueText(), "07.7777") << "round " << round;
    }
}

}  // namespace
}  // namespace zuz::test
