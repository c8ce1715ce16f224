// Recording speed: one data row of twenty channels, built, opened, locked, appended and closed
// on the local disk, as the monitor does per recording event (goal: at least 5000 rows a
// second, fifty times the fastest rotation).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/core/monitor_core.h"
#include "storage/recording_file.h"

namespace {

using namespace zuz;

class QuietHost : public IMonitorHost {
public:
    void StartTimer(unsigned, unsigned) override {}
    void StopTimer(unsigned) override {}
    void ShowMessage(const std::string&, const std::string&, MessageIcon) override {}
    void ShowStatusLine(const std::string& line) override { benchmark::DoNotOptimize(line.data()); }
    long OpenPort(const std::string&) override { return 0; }
    std::string PortErrorText(long) const override { return {}; }
    void SetupPort(unsigned) override {}
    void ClosePort() override {}
};

// A folder on the local disk (not a memory file system), removed at the end.
struct ScratchFolder {
    ScratchFolder() {
        std::string pattern = "/var/tmp/zuz-bench-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) pattern = std::filesystem::temp_directory_path().string();
        path = pattern;
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::filesystem::path path;
};

void FillChannels(std::array<ChannelReading, kMaxChannels>& channels) {
    for (unsigned i = 0; i < kMaxChannels; ++i) {
        channels[i].SetRange(0xC2);
        channels[i].SetFlags(0x03);
        channels[i].SetSerialNo(0x0012AB00 + i);
        channels[i].SetValue32(123456 + std::int32_t(i));
    }
}

void BM_WriteDataRow20Channels(benchmark::State& state) {
    ScratchFolder folder;
    QuietHost host;
    SystemClock clock;
    MonitorCore core(host, clock);
    core.bus.channelCount = 20;
    core.bus.connected = true;
    FillChannels(core.channels);
    core.savePath = (folder.path / "bench.csv").string();
    core.saveDataTicked = true;
    core.ToggleRecording(true);
    for (auto _ : state) core.WriteDataRow();
    state.SetItemsProcessed(state.iterations());
    if (core.recordCounter != state.iterations()) state.SkipWithError("rows were not stored");
}
// Wall time: the disk, not this process, is what limits the rate.
BENCHMARK(BM_WriteDataRow20Channels)->UseRealTime();

// The row text alone, without the file.
void BM_BuildDataRow20Channels(benchmark::State& state) {
    std::array<ChannelReading, kMaxChannels> channels;
    FillChannels(channels);
    std::string row;
    const auto now = std::chrono::system_clock::now();
    for (auto _ : state) {
        row.clear();
        AppendRecordingDataRow(row, now, channels);
        benchmark::DoNotOptimize(row.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BuildDataRow20Channels);

}  // namespace
