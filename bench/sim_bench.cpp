// The simulator's engine: one read request in, its reply pieces out, on a clean and on a faulty
// line. The simulator must keep up with the monitor (20 requests a second) by orders of
// magnitude; this shows by how many.
#include <benchmark/benchmark.h>

#include "protocol/frame.h"
#include "sim/bus_simulator.h"
#include "sim/sim_config.h"

namespace {

using namespace zuz;

void RequestReply(benchmark::State& state, const sim::FaultRates& faults) {
    sim::BusConfig config = sim::DemoBus();
    config.faults = faults;
    sim::BusSimulator bus(config);
    const std::uint8_t addresses[] = {1, 2, 3, 5, 8, 13, 21, 34};
    std::vector<std::vector<std::uint8_t>> requests;
    for (std::uint8_t a : addresses) requests.push_back(BuildRequestFrame(CMD_READ, a));
    std::int64_t now = 0;
    std::size_t i = 0, bytes = 0;
    for (auto _ : state) {
        const auto& r = requests[i++ % requests.size()];
        const auto out = bus.OnBytes(r.data(), r.size(), now += 50'000);
        for (const auto& o : out) bytes += o.bytes.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["reply_bytes"] = benchmark::Counter(double(bytes), benchmark::Counter::kIsRate);
}

void BM_SimReadCleanLine(benchmark::State& state) { RequestReply(state, {}); }
void BM_SimReadFaultyLine(benchmark::State& state) { RequestReply(state, {0.05, 0.05, 0.2, 0.2, 0.05, 0.05}); }

BENCHMARK(BM_SimReadCleanLine);
BENCHMARK(BM_SimReadFaultyLine);

}  // namespace
