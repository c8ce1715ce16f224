// The heart's hot paths: bytes through the frame receiver, and readings into texts.
#include <benchmark/benchmark.h>

#include <array>
#include <vector>

#include "display/channel_reading.h"
#include "protocol/bus_cycle.h"
#include "protocol/frame.h"

namespace {

using namespace zuz;

class BenchHost : public IBusCycleHost {
public:
    ChannelReading& Channel(unsigned i) override { return channels[i]; }
    void StartTimer(unsigned, unsigned) override {}
    void StopTimer(unsigned) override {}
    void ShowStatus(const std::string&) override {}
    std::array<ChannelReading, kMaxChannels> channels;
};

// A realistic stream: long and short reading replies in turn, with the odd noise byte.
std::vector<std::uint8_t> ReplyStream() {
    std::vector<std::uint8_t> stream;
    for (int i = 0; i < 1000; ++i) {
        const std::uint32_t v = 100000u + unsigned(i) * 37u;
        const std::uint8_t longBody[] = {10, CMD_READ_REPLY, 0, 0, 0xC2, 0x03, std::uint8_t(v),
                                         std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24)};
        const std::uint8_t shortBody[] = {6, CMD_READ_REPLY_SHORT, 0, 0, std::uint8_t(v), std::uint8_t(v >> 8)};
        const auto a = BuildFrame(longBody);
        const auto b = BuildFrame(shortBody);
        stream.insert(stream.end(), a.begin(), a.end());
        stream.insert(stream.end(), b.begin(), b.end());
        if (i % 10 == 0) stream.push_back(0x13);
    }
    return stream;
}

void BM_FrameReceiverDispatch(benchmark::State& state) {
    BenchHost host;
    BusCycle bus(host);
    bus.foundCount = 20;
    bus.rotationIndex = 3;  // replies land on channel 2
    const auto stream = ReplyStream();
    for (auto _ : state) {
        for (std::uint8_t b : stream) bus.FeedByte(b);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(stream.size()));
}
BENCHMARK(BM_FrameReceiverDispatch);

void BM_ValueFormatting(benchmark::State& state) {
    ChannelReading reading;
    reading.SetFlags(static_cast<std::uint8_t>(state.range(0)));
    reading.SetRange(0xC2);
    std::int32_t raw = -50000;
    for (auto _ : state) {
        reading.SetValue32(raw);
        raw = raw > 200000 ? -50000 : raw + 7;
        benchmark::DoNotOptimize(reading.ValueText().data());
    }
    state.SetItemsProcessed(std::int64_t(state.iterations()));
}
BENCHMARK(BM_ValueFormatting)->Arg(0x03)->Arg(0x00);

}  // namespace
