#include "protocol/bus_cycle.h"

#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "protocol/frame.h"

namespace zuz {
namespace {

using Bytes = std::vector<std::uint8_t>;

class RecordingHost : public IBusCycleHost {
public:
    ChannelReading& Channel(unsigned i) override { return channels.at(i); }
    void StartTimer(unsigned id, unsigned periodMs) override { started.push_back({id, periodMs}); }
    void StopTimer(unsigned id) override { stopped.push_back(id); }
    void ShowStatus(const std::string& text) override { statuses.push_back(text); }
    void OnRotationComplete() override { ++rotations; }
    std::array<ChannelReading, kMaxChannels> channels;
    std::vector<std::pair<unsigned, unsigned>> started;
    std::vector<unsigned> stopped;
    std::vector<std::string> statuses;
    int rotations = 0;
};

// A port with bytes waiting; remembers the size of every read it returned.
class QueuePort : public IBytePort {
public:
    long Read(std::uint8_t* buffer, std::size_t length, std::size_t* count) override {
        std::size_t n = 0;
        while (n < length && !input.empty()) buffer[n++] = input.front(), input.pop_front();
        *count = n;
        reads.push_back(n);
        return 0;
    }
    long Write(const std::uint8_t* data, std::size_t length) override {
        written.emplace_back(data, data + length);
        return 0;
    }
    std::deque<std::uint8_t> input;
    std::vector<std::size_t> reads;
    std::vector<Bytes> written;
};

struct Fixture : ::testing::Test {
    RecordingHost host;
    QueuePort port;
    BusCycle bus{host};
    void SetUp() override {
        bus.SetPort(&port);
        bus.connected = true;
    }
    void Arrive(const Bytes& bytes) {
        port.input.insert(port.input.end(), bytes.begin(), bytes.end());
        bus.OnSerialEvent(EV_RXCHAR, 0);
    }
};

Bytes ReadReply(std::uint8_t range, std::uint8_t flags, std::int32_t value) {
    const auto v = std::uint32_t(value);
    const Bytes body = {10, CMD_READ_REPLY, 0, 0, range, flags,
                        std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24)};
    return BuildFrame(body);
}

Bytes ShortReply(std::int16_t value) {
    const auto v = std::uint16_t(value);
    return BuildFrame(Bytes{6, CMD_READ_REPLY_SHORT, 0, 0, std::uint8_t(v), std::uint8_t(v >> 8)});
}

Bytes ProbeReply(std::uint8_t address, std::uint8_t range, std::uint8_t flags, std::uint32_t serial) {
    return BuildFrame(Bytes{10, CMD_PROBE_REPLY, 0, address, range, flags, std::uint8_t(serial),
                            std::uint8_t(serial >> 8), std::uint8_t(serial >> 16), std::uint8_t(serial >> 24)});
}

using BusCycleTest = Fixture;

TEST_F(BusCycleTest, DrainReadsInChunksOfAHundred) {
    const std::pair<std::size_t, std::vector<std::size_t>> cases[] = {
        {250, {100, 100, 50}}, {100, {100, 0}}, {0, {0}}, {99, {99}}};
    for (const auto& [waiting, reads] : cases) {
        port.reads.clear();
        Arrive(Bytes(waiting, 0x00));
        EXPECT_EQ(port.reads, reads) << waiting << " bytes waiting";
    }
}

TEST_F(BusCycleTest, NotificationsWithoutBytesOrWhileDisconnectedReadNothing) {
    port.input.assign(10, 0x00);
    bus.OnSerialEvent(0x0040 | 0x0080 | (0x0008u << 16), 0);  // break and a framing error
    EXPECT_TRUE(port.reads.empty());
    bus.connected = false;
    bus.OnSerialEvent(EV_RXCHAR, 0);
    EXPECT_TRUE(port.reads.empty());
    EXPECT_EQ(port.input.size(), 10u);  // the bytes stay in the port
}

TEST_F(BusCycleTest, RequestsResetTheReceiverAndAreWrittenOnlyWhileConnected) {
    bus.FeedByte(0xAA);
    bus.FeedByte(0x55);
    bus.FeedByte(0x0A);
    bus.SendProbe(1);
    EXPECT_TRUE(bus.receiver.IsIdle());
    ASSERT_EQ(port.written.size(), 1u);
    EXPECT_EQ(port.written[0], (Bytes{0xAA, 0x55, 0x04, 0xF4, 0x01, 0x80, 0x01, 0x79}));

    bus.connected = false;
    bus.FeedByte(0xAA);
    bus.SendRead(2);
    EXPECT_TRUE(bus.receiver.IsIdle());
    EXPECT_EQ(port.written.size(), 1u);
}

TEST_F(BusCycleTest, AReplySplitOverThreeNotificationsIsReassembled) {
    bus.foundCount = 2;
    bus.rotationIndex = 1;
    const Bytes reply = ReadReply(0xC2, 0x03, 123456);
    Arrive(Bytes(reply.begin(), reply.begin() + 3));
    Arrive(Bytes(reply.begin() + 3, reply.begin() + 9));
    Arrive(Bytes(reply.begin() + 9, reply.end()));
    EXPECT_EQ(host.channels[0].ValueText(), "12.3456");
    EXPECT_EQ(host.channels[0].RangeText(), "20V");
}

TEST_F(BusCycleTest, TwoFramesInOneReadAreBothDispatchedInOrder) {
    bus.foundCount = 1;
    bus.rotationIndex = 1;
    Bytes both = ReadReply(0xC2, 0x03, 1);
    const Bytes second = ShortReply(-1000);
    both.insert(both.end(), second.begin(), second.end());
    Arrive(both);
    EXPECT_EQ(host.channels[0].ValueText(), "-10.00");  // short reply, standard format of 20V
    EXPECT_EQ(host.channels[0].Flags(), 0x03);
}

TEST_F(BusCycleTest, ReadingRepliesGoToTheChannelAddressedLast) {
    bus.foundCount = 3;
    bus.rotationIndex = 0;
    Arrive(ReadReply(0xC2, 0x03, 5));  // nothing addressed yet: ignored
    EXPECT_EQ(host.channels[0].ValueText(), "----");
    bus.rotationIndex = 3;
    Arrive(ReadReply(0xC4, 0x20, 1234));
    EXPECT_EQ(host.channels[2].TypeText(), "AC");
    EXPECT_EQ(host.channels[2].RangeText(), "200V");
    EXPECT_EQ(host.channels[2].ValueText(), "123.4");
    Arrive(ShortReply(567));  // only the value changes
    EXPECT_EQ(host.channels[2].ValueText(), "056.7");
    EXPECT_EQ(host.channels[2].TypeText(), "AC");
}

TEST_F(BusCycleTest, ProbeRepliesInScanModeTakeTheNextFreeEntry) {
    Arrive(ProbeReply(5, 0xC1, 0x03, 0x0012AB34));
    Arrive(ProbeReply(9, 0x7F, 0x21, 0x1A2B3C4D));
    EXPECT_EQ(bus.foundCount, 2);
    EXPECT_EQ(bus.addressTable[0], 5);
    EXPECT_EQ(bus.addressTable[1], 9);
    EXPECT_EQ(host.channels[0].SerialNoText(), "0012AB34");
    EXPECT_EQ(host.channels[1].RangeText(), "100KHz");
    EXPECT_EQ(host.channels[1].TypeText(), "AC");
}

TEST_F(BusCycleTest, ScanModeProbeRepliesBeyondTheTwentiethEntryAreDropped) {
    for (int i = 0; i < 25; ++i) Arrive(ProbeReply(std::uint8_t(i + 1), 0xC1, 0x03, std::uint32_t(i)));
    EXPECT_EQ(bus.foundCount, 20);
    EXPECT_EQ(bus.addressTable[19], 20);
    EXPECT_EQ(host.channels[19].SerialNoText(), "00000013");
}

TEST_F(BusCycleTest, ProbeRepliesInFixedModeGoToTheChannelAddressedLastAndLeaveTheTable) {
    bus.fixedAddressMode = true;
    bus.foundCount = 4;
    bus.addressTable = {3, 0, 7, 0};
    bus.rotationIndex = 0;
    Arrive(ProbeReply(3, 0xC1, 0x03, 1));
    EXPECT_EQ(host.channels[0].SerialNoText(), "--------");
    bus.rotationIndex = 3;
    Arrive(ProbeReply(99, 0xC1, 0x03, 0xABCD));
    EXPECT_EQ(host.channels[2].SerialNoText(), "0000ABCD");
    EXPECT_EQ(bus.addressTable[2], 7);
    EXPECT_EQ(bus.foundCount, 4);
}

TEST_F(BusCycleTest, OtherCommandsAndBadChecksumsChangeNothing) {
    bus.foundCount = 1;
    bus.rotationIndex = 1;
    Bytes bad = ReadReply(0xC2, 0x03, 42);
    bad.back() ^= 1;
    Arrive(bad);
    Arrive(BuildFrame(Bytes{0x04, 0xF4, 0x01, 0x80}));  // a request echoed back
    Arrive(BuildFrame(Bytes{0x00}));                     // L = 0: command 0
    EXPECT_EQ(host.channels[0].ValueText(), "----");
    EXPECT_EQ(bus.foundCount, 1);
    EXPECT_TRUE(bus.receiver.IsIdle());
}

TEST_F(BusCycleTest, PollStepCompletesRotationsBeforeTheRequest) {
    bus.foundCount = 3;
    bus.addressTable = {4, 5, 6};
    std::vector<int> rotationsAtRequest;
    for (int tick = 1; tick <= 7; ++tick) {
        bus.PollStep();
        rotationsAtRequest.push_back(host.rotations);
    }
    EXPECT_EQ(rotationsAtRequest, (std::vector<int>{0, 0, 0, 1, 1, 1, 2}));
    std::vector<int> addresses;
    for (const Bytes& w : port.written) addresses.push_back(w[4]);
    EXPECT_EQ(addresses, (std::vector<int>{4, 5, 6, 4, 5, 6, 4}));
    bus.foundCount = 0;
    bus.PollStep();
    EXPECT_EQ(port.written.size(), 7u);
}

}  // namespace
}  // namespace zuz
