#include "protocol/frame_receiver.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "protocol/frame.h"

namespace zuz {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Feeds bytes and collects what the check would do with each completed frame, resetting after
// each as the monitor does.
struct Outcome {
    std::vector<Bytes> accepted;  // L bytes of each good frame
    int rejected = 0;
};

Outcome Feed(FrameReceiver& r, const Bytes& bytes) {
    Outcome out;
    for (std::uint8_t b : bytes) {
        if (!r.Step(b)) continue;
        if (r.ChecksumMatches())
            out.accepted.emplace_back(r.Buffer().begin(), r.Buffer().begin() + r.Buffer()[0]);
        else
            ++out.rejected;
        r.Reset();
    }
    return out;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

const Bytes kProbeBody = {0x04, 0xF4, 0x01, 0x80};
const Bytes kProbeFrame = {0xAA, 0x55, 0x04, 0xF4, 0x01, 0x80, 0x01, 0x79};
const Bytes kProbeTail = {0x04, 0xF4, 0x01, 0x80, 0x01, 0x79};  // the frame after its header

struct StreamCase {
    const char* name;
    Bytes stream;
    int accepted;
    int rejected;
};

TEST(FrameReceiver, HeaderAndFramingCases) {
    const StreamCase cases[] = {
        {"plain frame", kProbeFrame, 1, 0},
        {"AA AA 55 opens after the 55", Concat({{0xAA, 0xAA, 0x55}, kProbeTail}), 1, 0},
        {"bytes between AA and 55 are skipped", Concat({{0xAA, 0x12, 0x34, 0x55}, kProbeTail}), 1, 0},
        {"55 without AA is skipped", Concat({{0x55, 0x13}, kProbeFrame}), 1, 0},
        {"lone 55 then body never opens a frame", Concat({{0x55}, kProbeTail}), 0, 0},
        {"two frames back to back", Concat({kProbeFrame, kProbeFrame}), 2, 0},
        {"wrong checksum dropped, next frame accepted",
         Concat({{0xAA, 0x55, 0x04, 0xF4, 0x01, 0x80, 0x79, 0x01}, kProbeFrame}), 1, 1},
        {"checksum low byte first is wrong", {0xAA, 0x55, 0x04, 0xF4, 0x01, 0x80, 0x79, 0x01}, 0, 1},
        {"L = 0 complete after two bytes, valid with 00", {0xAA, 0x55, 0x00, 0x00}, 1, 0},
        {"L = 0 with a non-zero second byte", {0xAA, 0x55, 0x00, 0x01}, 0, 1},
        {"noise only", {0x01, 0x02, 0x03, 0x55, 0x55}, 0, 0},
    };
    for (const auto& c : cases) {
        FrameReceiver r;
        const Outcome out = Feed(r, c.stream);
        EXPECT_EQ(int(out.accepted.size()), c.accepted) << c.name;
        EXPECT_EQ(out.rejected, c.rejected) << c.name;
    }
}

TEST(FrameReceiver, HeaderBytesInsideAFrameAreData) {
    // Payload full of AA and 55: stored, no restart.
    const Bytes body = {0x08, 0xE2, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55};
    FrameReceiver r;
    const Outcome out = Feed(r, BuildFrame(body));
    ASSERT_EQ(out.accepted.size(), 1u);
    EXPECT_EQ(out.accepted[0], body);
}

TEST(FrameReceiver, ShortFrameReadsZerosAndItsOwnChecksumAtFixedPlaces) {
    // A short reading reply with L = 4: offsets 6 and 7 are its checksum bytes; offsets past
    // them read as 0 because every reset zero-fills the buffer.
    const Bytes body = {0x04, 0xF6, 0x00, 0x02};
    FrameReceiver r;
    for (std::uint8_t b : BuildFrame(body)) {
        if (r.Step(b)) break;
    }
    ASSERT_TRUE(r.ChecksumMatches());
    EXPECT_EQ(r.AtOffset(6), 0x00);  // sum 0x00FC, high byte
    EXPECT_EQ(r.AtOffset(7), 0xFC);
    EXPECT_EQ(r.AtOffset(8), 0x00);
    EXPECT_EQ(r.AtOffset(11), 0x00);
}

TEST(FrameReceiver, ResetReturnsToIdle) {
    FrameReceiver r;
    EXPECT_TRUE(r.IsIdle());
    for (std::uint8_t b : Bytes{0xAA, 0x55, 0x0A, 0xE2, 0x01}) r.Step(b);
    EXPECT_FALSE(r.IsIdle());
    r.Reset();
    EXPECT_TRUE(r.IsIdle());
    r.Step(0xAA);
    EXPECT_TRUE(r.HeaderByteSeen());
    r.Reset();
    EXPECT_TRUE(r.IsIdle());
}

TEST(FrameReceiver, LengthsThatCannotCompleteAreDroppedAtOnce) {
    for (std::uint8_t length : {std::uint8_t(254), std::uint8_t(255)}) {
        FrameReceiver r;
        r.Step(0xAA);
        r.Step(0x55);
        r.Step(length);
        EXPECT_TRUE(r.IsIdle()) << int(length);
        // The stream goes on: a good frame right after is accepted.
        EXPECT_EQ(Feed(r, kProbeFrame).accepted.size(), 1u);
    }
    // 253 is the longest length that completes: 255 stored bytes.
    Bytes body(253, 0x01);
    body[0] = 253;
    FrameReceiver r;
    EXPECT_EQ(Feed(r, BuildFrame(body)).accepted.size(), 1u);
}

TEST(FrameReceiver, RandomStreamsStayInsideTheBufferAndNeverWedge) {
    // Random, truncated, oversized and interleaved streams: the receiver may accept or drop
    // anything, but its count stays within the buffer, and after a reset a good frame always
    // gets through.
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> byte(0, 255), len(0, 600), pick(0, 3);
    for (int round = 0; round < 2000; ++round) {
        FrameReceiver r;
        Bytes stream;
        const int n = len(rng);
        for (int i = 0; i < n; ++i) {
            switch (pick(rng)) {
                case 0: stream.push_back(0xAA); break;
                case 1: stream.push_back(0x55); break;
                default: stream.push_back(std::uint8_t(byte(rng)));
            }
        }
        Feed(r, stream);
        EXPECT_LE(r.Count(), 255);
        r.Reset();
        ASSERT_EQ(Feed(r, kProbeFrame).accepted.size(), 1u) << "round " << round;
    }
}

}  // namespace
}  // namespace zuz
