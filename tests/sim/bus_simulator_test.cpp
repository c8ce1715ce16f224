#include "sim/bus_simulator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

#include "protocol/frame.h"
#include "protocol/frame_receiver.h"

namespace zuz::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Request(std::uint8_t command, std::uint8_t address) { return BuildRequestFrame(command, address); }

InstrumentConfig Meter(std::uint8_t address, ReplyForm form, const char* reading = "constant 0") {
    InstrumentConfig in;
    in.address = address;
    in.serial = 0x1A2B3C4D;
    in.range = 0xC3;
    in.flags = 0x23;
    in.form = form;
    in.responseDelayUs = 3000;
    in.reading = *ParseReadingPattern(reading, nullptr);
    return in;
}

// A decoded reply as the monitor's receiver sees it.
struct Frame {
    std::uint8_t length, command;
    std::array<std::uint8_t, 12> at{};  // bytes by frame offset
    bool checksumOk;
};

// Runs bytes through the monitor's own frame receiver; every completed frame comes out.
std::vector<Frame> Decode(const Bytes& bytes) {
    FrameReceiver rx;
    rx.Reset();
    std::vector<Frame> frames;
    for (std::uint8_t b : bytes) {
        if (!rx.Step(b)) continue;
        Frame f{rx.AtOffset(2), rx.AtOffset(3), {}, rx.ChecksumMatches()};
        for (unsigned o = 2; o < 12; ++o) f.at[o] = rx.AtOffset(o);
        frames.push_back(f);
        rx.Reset();
    }
    return frames;
}

Bytes Joined(const std::vector<SimOutput>& outputs) {
    Bytes all;
    for (const auto& o : outputs) all.insert(all.end(), o.bytes.begin(), o.bytes.end());
    return all;
}

BusConfig Bus(std::vector<InstrumentConfig> instruments) {
    BusConfig config;
    config.instruments = std::move(instruments);
    return config;
}

std::uint32_t Le32(const Frame& f, unsigned offset) {
    return f.at[offset] | f.at[offset + 1] << 8 | f.at[offset + 2] << 16 | std::uint32_t(f.at[offset + 3]) << 24;
}

class BusSimulatorTest : public ::testing::Test {
protected:
    std::vector<SimOutput> Send(const Bytes& bytes, std::int64_t nowUs = 0) {
        return sim->OnBytes(bytes.data(), bytes.size(), nowUs);
    }
    void Make(BusConfig config) { sim.emplace(config); }
    std::optional<BusSimulator> sim;
};

TEST_F(BusSimulatorTest, ProbeReplyCarriesAddressRangeFlagsAndSerial) {
    struct Case {
        std::uint8_t address, range, flags;
        std::uint32_t serial;
        ReplyForm form;
    };
    const Case cases[] = {
        {1, 0xC1, 0x03, 0x12345678, ReplyForm::Long},
        {100, 0x6E, 0x00, 0x0000001F, ReplyForm::Short},
        {34, 0xAB, 0x23, 0xFFFFFFFF, ReplyForm::Long},
        {255, 0x00, 0xFF, 0x80000000, ReplyForm::Short},
    };
    for (const auto& c : cases) {
        InstrumentConfig in = Meter(c.address, c.form);
        in.range = c.range;
        in.flags = c.flags;
        in.serial = c.serial;
        Make(Bus({in}));
        const auto frames = Decode(Joined(Send(Request(CMD_PROBE, c.address))));
        ASSERT_EQ(frames.size(), 1u) << int(c.address);
        const Frame& f = frames[0];
        EXPECT_TRUE(f.checksumOk);
        EXPECT_EQ(f.command, CMD_PROBE_REPLY);
        EXPECT_GE(f.length, 10);
        EXPECT_EQ(f.at[5], c.address);
        EXPECT_EQ(f.at[6], c.range);
        EXPECT_EQ(f.at[7], c.flags);
        EXPECT_EQ(Le32(f, 8), c.serial);
    }
}

TEST_F(BusSimulatorTest, ReadRepliesInBothFormsWithOverloadAndClamping) {
    struct Case {
        ReplyForm form;
        const char* reading;
        OverloadPattern overload;
        std::int64_t expected;
    };
    const Case cases[] = {
        {ReplyForm::Long, "constant 123456", {}, 123456},
        {ReplyForm::Long, "constant -5", {}, -5},
        {ReplyForm::Long, "constant -2147483648", {}, INT32_MIN},
        {ReplyForm::Long, "constant 1", {1, 1}, static_cast<std::int32_t>(0x80008000u)},
        {ReplyForm::Short, "constant -1000", {}, -1000},
        {ReplyForm::Short, "constant 70000", {}, 32767},
        // Only an overload may carry 0x8000: a low reading stops one above it.
        {ReplyForm::Short, "constant -32768", {}, -32767},
        {ReplyForm::Short, "constant 5", {1, 1}, -32768},
    };
    for (const auto& c : cases) {
        InstrumentConfig in = Meter(9, c.form, c.reading);
        in.overload = c.overload;
        Make(Bus({in}));
        const auto frames = Decode(Joined(Send(Request(CMD_READ, 9))));
        ASSERT_EQ(frames.size(), 1u) << c.reading;
        const Frame& f = frames[0];
        EXPECT_TRUE(f.checksumOk) << c.reading;
        if (c.form == ReplyForm::Long) {
            EXPECT_EQ(f.command, CMD_READ_REPLY);
            EXPECT_EQ(f.length, 10);
            EXPECT_EQ(f.at[6], 0xC3);
            EXPECT_EQ(f.at[7], 0x23);
            EXPECT_EQ(static_cast<std::int32_t>(Le32(f, 8)), c.expected) << c.reading;
        } else {
            EXPECT_EQ(f.command, CMD_READ_REPLY_SHORT);
            EXPECT_EQ(f.length, 6);
            EXPECT_EQ(static_cast<std::int16_t>(f.at[6] | f.at[7] << 8), c.expected) << c.reading;
        }
        EXPECT_EQ(sim->Find(9)->LastSent(), c.expected);
    }
}

TEST_F(BusSimulatorTest, ShortReplyMatchesTheFrameOfTheProtocolPage) {
    Make(Bus({Meter(2, ReplyForm::Short, "constant -1000")}));
    EXPECT_EQ(Joined(Send(Request(CMD_READ, 2))), (Bytes{0xAA, 0x55, 0x06, 0xF6, 0x00, 0x02, 0x18, 0xFC, 0x02, 0x12}));
}

TEST_F(BusSimulatorTest, OnlyWellFormedRequestsToPresentInstrumentsAreAnswered) {
    Make(Bus({Meter(5, ReplyForm::Long)}));
    Bytes badSum = Request(CMD_READ, 5);
    badSum[7] ^= 1;
    Bytes longer = {0xAA, 0x55, 0x05, 0xFE, 0x05, 0x80, 0x00, 0x01, 0x88};
    struct Case {
        const char* name;
        Bytes bytes;
        int replies;
    };
    const Case cases[] = {
        {"probe", Request(CMD_PROBE, 5), 1},
        {"read", Request(CMD_READ, 5), 1},
        {"other address", Request(CMD_PROBE, 6), 0},
        {"address 0", Request(CMD_READ, 0), 0},
        {"other command", Request(0xE2, 5), 0},
        {"wrong checksum", badSum, 0},
        {"length other than 4", longer, 0},
        {"header only", {0xAA, 0x55}, 0},
    };
    for (const auto& c : cases) {
        Make(Bus({Meter(5, ReplyForm::Long)}));
        EXPECT_EQ(int(Decode(Joined(Send(c.bytes))).size()), c.replies) << c.name;
        // Whatever came before, the next good request is answered.
        EXPECT_EQ(Decode(Joined(Send(Request(CMD_READ, 5)))).size(), 1u) << "after " << c.name;
    }
}

TEST_F(BusSimulatorTest, RequestsAreFoundInNoiseAndAcrossWrites) {
    Make(Bus({Meter(5, ReplyForm::Long), Meter(6, ReplyForm::Short)}));
    std::vector<SimRequest> seen;
    sim->SetRequestObserver([&](const SimRequest& r) { seen.push_back(r); });
    Bytes stream = {0x00, 0xAA, 0x12, 0x55, 0xAA, 0x55, 0x04, 0xF4};  // noise and a cut-off request
    const Bytes a = Request(CMD_READ, 5), b = Request(CMD_PROBE, 6);
    stream.insert(stream.end(), a.begin(), a.end());
    stream.insert(stream.end(), {0xAA, 0xAA});
    stream.insert(stream.end(), b.begin(), b.end());
    // Fed one byte per write.
    std::vector<SimOutput> outputs;
    for (std::size_t i = 0; i < stream.size(); ++i) {
        auto out = sim->OnBytes(&stream[i], 1, std::int64_t(i) * 100);
        outputs.insert(outputs.end(), out.begin(), out.end());
    }
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].Command(), CMD_READ);
    EXPECT_EQ(seen[0].Address(), 5);
    EXPECT_EQ(seen[1].Command(), CMD_PROBE);
    EXPECT_EQ(seen[1].Address(), 6);
    EXPECT_EQ(Decode(Joined(outputs)).size(), 2u);
    EXPECT_EQ(sim->Counters().requests, 2u);
    EXPECT_GT(sim->Counters().skippedBytes, 0u);
}

TEST_F(BusSimulatorTest, ReplyLeavesAfterResponseDelayPlusLineTime) {
    struct Case {
        std::uint32_t baud;
        ReplyForm form;
        std::int64_t expectedUs;  // from the request
    };
    const Case cases[] = {
        {9600, ReplyForm::Long, 3000 + 14 * 10 * 1'000'000 / 9600},
        {9600, ReplyForm::Short, 3000 + 10 * 10 * 1'000'000 / 9600},
        {115200, ReplyForm::Long, 3000 + 14 * 10 * 1'000'000 / 115200},
    };
    for (const auto& c : cases) {
        BusConfig config = Bus({Meter(1, c.form)});
        config.baud = c.baud;
        Make(config);
        const auto out = Send(Request(CMD_READ, 1), 1'000'000);
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(out[0].atUs - 1'000'000, c.expectedUs) << c.baud;
    }
    // Two requests at once: the second reply waits for the line.
    BusConfig config = Bus({Meter(1, ReplyForm::Long), Meter(2, ReplyForm::Long)});
    config.baud = 9600;
    Make(config);
    const auto first = Send(Request(CMD_READ, 1), 0);
    const auto second = Send(Request(CMD_READ, 2), 0);
    ASSERT_EQ(first.size() + second.size(), 2u);
    EXPECT_EQ(second[0].atUs, first[0].atUs + sim->TransmitUs(14));
}

// Fault rates, counted over many replies with a fixed seed.
struct FaultCase {
    const char* name;
    double FaultRates::*rate;
    std::uint64_t SimCounters::*counter;
};

TEST_F(BusSimulatorTest, EachFaultHappensAtItsRate) {
    const FaultCase cases[] = {
        {"no reply", &FaultRates::noReply, &SimCounters::noReply},
        {"bad checksum", &FaultRates::badChecksum, &SimCounters::badChecksum},
        {"split", &FaultRates::split, &SimCounters::split},
        {"garbage", &FaultRates::garbage, &SimCounters::garbage},
        {"delayed", &FaultRates::delayed, &SimCounters::delayed},
        {"duplicate", &FaultRates::duplicate, &SimCounters::duplicate},
    };
    constexpr int kRequests = 4000;
    for (const auto& c : cases) {
        for (double rate : {0.0, 0.1, 0.5, 1.0}) {
            BusConfig config = Bus({Meter(3, ReplyForm::Long)});
            config.faults.*c.rate = rate;
            config.seed = 2024;
            Make(config);
            int decoded = 0, goodChecksum = 0;
            std::int64_t now = 0;
            for (int i = 0; i < kRequests; ++i, now += 50'000) {
                const auto frames = Decode(Joined(Send(Request(CMD_READ, 3), now)));
                decoded += int(frames.size());
                for (const auto& f : frames) goodChecksum += f.checksumOk;
            }
            const double seen = double(sim->Counters().*c.counter) / kRequests;
            EXPECT_NEAR(seen, rate, 0.03) << c.name << " at " << rate;
            // The fault shows on the wire, not only in the counter.
            const double perRequest = double(decoded) / kRequests, good = double(goodChecksum) / kRequests;
            if (c.rate == &FaultRates::noReply) { EXPECT_NEAR(perRequest, 1 - rate, 0.03) << c.name; }
            if (c.rate == &FaultRates::badChecksum) { EXPECT_NEAR(good, 1 - rate, 0.03) << c.name; }
            if (c.rate == &FaultRates::duplicate) { EXPECT_NEAR(perRequest, 1 + rate, 0.03) << c.name; }
            if (c.rate == &FaultRates::split || c.rate == &FaultRates::garbage || c.rate == &FaultRates::delayed) {
                EXPECT_EQ(goodChecksum, kRequests) << c.name << ": the reply itself stays whole";
            }
        }
    }
}

TEST_F(BusSimulatorTest, FaultsHaveTheirShapeOnTheWire) {
    constexpr std::int64_t kNow = 10'000'000;
    struct Case {
        const char* name;
        double FaultRates::*rate;
    };
    const Case cases[] = {
        {"split", &FaultRates::split},
        {"garbage", &FaultRates::garbage},
        {"delayed", &FaultRates::delayed},
        {"duplicate", &FaultRates::duplicate},
    };
    for (const auto& c : cases) {
        for (std::uint64_t seed = 1; seed <= 50; ++seed) {
            BusConfig config = Bus({Meter(3, ReplyForm::Long, "constant 77")});
            config.faults.*c.rate = 1.0;
            config.seed = seed;
            Make(config);
            const auto out = Send(Request(CMD_READ, 3), kNow);
            ASSERT_FALSE(out.empty());
            const Bytes clean = [] {
                const std::uint8_t body[] = {10, CMD_READ_REPLY, 0, 3, 0xC3, 0x23, 77, 0, 0, 0};
                return BuildFrame(body);
            }();
            const Bytes all = Joined(out);
            if (c.rate == &FaultRates::split) {
                ASSERT_GE(out.size(), 2u) << seed;
                ASSERT_LE(out.size(), 4u) << seed;
                EXPECT_EQ(all, clean) << seed;
                for (std::size_t i = 1; i < out.size(); ++i)
                    EXPECT_GE(out[i].atUs - out[i - 1].atUs, 1000 + sim->TransmitUs(out[i].bytes.size())) << seed;
            } else if (c.rate == &FaultRates::garbage) {
                ASSERT_EQ(out.size(), 1u);
                const std::size_t noise = all.size() - clean.size();
                EXPECT_GE(noise, 1u);
                EXPECT_LE(noise, 6u);
                EXPECT_TRUE(std::equal(clean.begin(), clean.end(), all.begin() + noise)) << seed;
                EXPECT_EQ(std::count(all.begin(), all.begin() + noise, 0x55), 0) << seed;
                EXPECT_EQ(Decode(all).size(), 1u) << seed;
            } else if (c.rate == &FaultRates::delayed) {
                ASSERT_EQ(out.size(), 1u);
                EXPECT_EQ(all, clean);
                EXPECT_GE(out[0].atUs, kNow + 75'000) << "after the monitor's next request, 50 ms later";
            } else {
                ASSERT_EQ(out.size(), 2u);
                EXPECT_EQ(out[0].bytes, clean);
                EXPECT_EQ(out[1].bytes, clean);
                EXPECT_GT(out[1].atUs, out[0].atUs);
            }
        }
    }
}

TEST_F(BusSimulatorTest, SameSeedSameBusAnotherSeedAnotherBus) {
    auto run = [&](std::uint64_t seed) {
        BusConfig config = Bus({Meter(3, ReplyForm::Long, "walk 0 100 -1000 1000"), Meter(4, ReplyForm::Short)});
        config.faults = {0.1, 0.1, 0.1, 0.1, 0.1, 0.1};
        config.seed = seed;
        Make(config);
        std::vector<std::pair<std::int64_t, Bytes>> trace;
        for (int i = 0; i < 300; ++i)
            for (const auto& o : Send(Request(CMD_READ, std::uint8_t(3 + i % 2)), i * 50'000)) trace.emplace_back(o.atUs, o.bytes);
        return trace;
    };
    EXPECT_EQ(run(5), run(5));
    EXPECT_NE(run(5), run(6));
}

}  // namespace
}  // namespace zuz::sim
