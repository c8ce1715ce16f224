// Long runs in fast time: the monitoring core on a fake clock, the bus simulator in-process with
// its seeded fault mix (no reply, wrong checksum, split, garbage, late and duplicated replies),
// twenty instruments, recording one row per rotation into a temporary folder.
//
// Every instrument reads in a value band of its own, so every value tells who sent it. A value
// may land only on its instrument's channel, or, for a reply that came after the next request,
// on the channel addressed right after it; every recorded row must be whole and hold only such
// values; the heap must not grow once the run has settled.
//
// ctest runs short soaks; ZUZ_SOAK_HOURS=24 runs the day-long one (1.7 million polls).
#include <gtest/gtest.h>

#include <malloc.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
// From the sanitizer runtime (gcc ships no header for it).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

#include "app/core/monitor_core.h"
#include "fake_loop.h"
#include "scoped_work_dir.h"
#include "protocol/frame.h"
#include "sim/bus_simulator.h"
#include "storage/text_encoding.h"

namespace zuz {
namespace {

namespace fs = std::filesystem;
using test::ScopedWorkDir;
using test::FakeLoop;

// Bytes the program holds on the heap right now.
std::size_t LiveHeapBytes() {
#if defined(__SANITIZE_ADDRESS__)
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

long ResidentKb() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

constexpr unsigned kInstruments = 20;
constexpr std::int32_t kBand = 1000;  // instrument k reads k*1000+1 .. k*1000+999

std::uint8_t AddressOf(unsigned k) { return std::uint8_t(3 + 4 * k); }

sim::BusConfig SoakBus(std::uint64_t seed) {
    // A mix of range codes, resolutions and both reply forms, so every formatting path runs.
    static constexpr std::uint8_t kRanges[] = {0xC1, 0xC2, 0xC3, 0xC4, 0xB6, 0x7E, 0xA6, 0x6D, 0xAB, 0xC6};
    sim::BusConfig bus;
    for (unsigned k = 0; k < kInstruments; ++k) {
        sim::InstrumentConfig in;
        in.name = "i" + std::to_string(k);
        in.address = AddressOf(k);
        in.serial = 0x5A000000u + k;
        in.range = kRanges[k % std::size(kRanges)];
        in.flags = std::uint8_t((k % 4 == 0 ? 0x20 : 0x00) | (k % 3 == 0 ? 0x01 : 0x03));
        in.form = k % 2 ? sim::ReplyForm::Short : sim::ReplyForm::Long;
        in.responseDelayUs = 1500 + 300 * (k % 5);
        in.reading.kind = sim::ReadingKind::Ramp;
        in.reading.start = std::int32_t(k) * kBand + 1;
        in.reading.stop = std::int32_t(k) * kBand + kBand - 1;
        in.reading.step = std::int32_t(1 + k % 7);
        bus.instruments.push_back(in);
    }
    bus.faults.noReply = 0.02;
    bus.faults.badChecksum = 0.02;
    bus.faults.split = 0.05;
    bus.faults.garbage = 0.03;
    bus.faults.delayed = 0.01;
    bus.faults.duplicate = 0.02;
    bus.seed = seed;
    return bus;
}

struct Tally {
    std::uint64_t polls = 0, updates = 0, ownValues = 0, lateValues = 0, defects = 0;
    std::vector<std::string> firstDefects;
    void Defect(const std::string& what) {
        ++defects;
        if (firstDefects.size() < 10) firstDefects.push_back(what);
    }
};

// The program around the core: fake timers, a status line that keeps only its last text, the
// simulator as the port.
class SoakRig final : public IMonitorHost, public IBytePort {
public:
    explicit SoakRig(const sim::BusConfig& config) : sim_(config) {
        core.SetPort(this);
        core.portName = "/dev/ttySOAK";
        for (unsigned k = 0; k < kInstruments; ++k) {
            const auto& in = config.instruments[k];
            instrumentOfAddress_[in.address] = k;
            serial_[k] = in.serial;
            range_[k] = in.range;
        }
    }

    // IMonitorHost
    void StartTimer(unsigned id, unsigned periodMs) override { loop.StartTimer(id, periodMs); }
    void StopTimer(unsigned id) override { loop.StopTimer(id); }
    void ShowStatusLine(const std::string& line) override { lastStatus = line; }
    void ShowMessage(const std::string& text, const std::string&, MessageIcon) override { lastMessage = text; }
    long OpenPort(const std::string&) override { return 0; }
    std::string PortErrorText(long) const override { return {}; }
    void SetupPort(unsigned) override {}
    void ClosePort() override {}
    void OnChannelUpdated(unsigned channel, unsigned char command) override { Check(channel, command); }

    // IBytePort
    long Read(std::uint8_t* buffer, std::size_t length, std::size_t* count) override {
        std::size_t n = 0;
        while (n < length && !input_.empty()) buffer[n++] = input_.front(), input_.pop_front();
        *count = n;
        return 0;
    }
    long Write(const std::uint8_t* data, std::size_t length) override {
        const std::int64_t nowUs = loop.Elapsed() * 1000;
        if (length == 8 && data[3] == CMD_READ) ++tally.polls;
        for (sim::SimOutput& out : sim_.OnBytes(data, length, nowUs)) {
            const auto delayMs = (out.atUs - nowUs + 999) / 1000;
            loop.After(delayMs, [this, bytes = std::move(out.bytes)] {
                input_.insert(input_.end(), bytes.begin(), bytes.end());
                core.OnSerialEvent(EV_RXCHAR, 0);
            });
        }
        // Remember what the addressed instrument has just sent, to know a stale value from a
        // fresh one.
        if (length == 8 && data[3] == CMD_READ) {
            if (const auto it = instrumentOfAddress_.find(data[4]); it != instrumentOfAddress_.end()) {
                auto& recent = sent_[it->second];
                recent.push_back(sim_.Find(data[4])->LastSent());
                if (recent.size() > 4) recent.pop_front();
            }
        }
        return 0;
    }

    void Run(FakeLoop::Ms ms) { loop.Run(ms, [this](unsigned id) { core.OnTimer(id); }); }

    // Which instruments may show on channel c: its own and the one addressed just before it.
    std::pair<int, int> Allowed(unsigned c) const {
        const unsigned found = core.bus.foundCount;
        if (found == 0) return {-1, -1};
        return {InstrumentAt(c), InstrumentAt((c + found - 1) % found)};
    }
    int InstrumentAt(unsigned c) const {
        const auto it = instrumentOfAddress_.find(core.bus.addressTable[c]);
        return it == instrumentOfAddress_.end() ? -1 : int(it->second);
    }
    // The instrument a raw reading came from, by its band.
    static int SourceOf(std::int64_t raw) {
        if (raw <= 0 || raw % kBand == 0 || raw / kBand >= kInstruments) return -1;
        return int(raw / kBand);
    }
    std::uint32_t SerialOf(unsigned k) const { return serial_[k]; }
    const sim::SimCounters& SimCounters() const { return sim_.Counters(); }

    FakeLoop loop;
    MonitorCore core{*this, loop};
    Tally tally;
    std::string lastStatus, lastMessage;

private:
    void Check(unsigned channel, std::uint8_t command) {
        ++tally.updates;
        const ChannelReading& ch = core.channels[channel];
        const auto [own, previous] = Allowed(channel);
        const std::string where = "channel " + std::to_string(channel) + " at " + std::to_string(loop.Elapsed()) + " ms";
        if (command == CMD_PROBE_REPLY) {
            const bool ok = (own >= 0 && ch.SerialNo() == serial_[own]) ||
                            (previous >= 0 && ch.SerialNo() == serial_[previous]);
            if (!ok) tally.Defect(where + ": serial number " + ch.GetSerialNoText() + " from no instrument it may show");
            return;
        }
        const std::int32_t raw = command == CMD_READ_REPLY ? ch.Value32() : ch.Value16();
        const int source = SourceOf(raw);
        if (source < 0) return tally.Defect(where + ": value " + std::to_string(raw) + " sent by no instrument");
        bool recent = false;
        for (std::int32_t v : sent_[source]) recent |= v == raw;
        if (!recent) tally.Defect(where + ": value " + std::to_string(raw) + " is not among the last sent");
        if (command == CMD_READ_REPLY && ch.RangeCode() != range_[source])
            tally.Defect(where + ": range code of another instrument than the value's");
        if (source == own)
            ++tally.ownValues;
        else if (source == previous)
            ++tally.lateValues;
        else
            tally.Defect(where + ": value of instrument " + std::to_string(source) + " (shows " +
                         std::to_string(own) + ")");
    }

    sim::BusSimulator sim_;
    std::deque<std::uint8_t> input_;
    std::map<std::uint8_t, unsigned> instrumentOfAddress_;
    std::array<std::uint32_t, kInstruments> serial_{};
    std::array<std::uint8_t, kInstruments> range_{};
    std::array<std::deque<std::int32_t>, kInstruments> sent_;
};

// A value text back to the raw reading: the digits with the point taken out.
std::optional<std::int64_t> RawFromText(const std::string& text) {
    std::string digits;
    bool negative = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '-' && i == 0) negative = true;
        else if (c >= '0' && c <= '9') digits += c;
        else if (c != '.') return std::nullopt;
    }
    if (digits.empty() || digits.size() > 12) return std::nullopt;
    const std::int64_t v = std::stoll(digits);
    return negative ? -v : v;
}

struct RowCheck {
    std::uint64_t rows = 0, values = 0, blanks = 0, defects = 0;
    std::vector<std::string> firstDefects;
    void Defect(const std::string& what) {
        ++defects;
        if (firstDefects.size() < 10) firstDefects.push_back(what);
    }
};

// Every line of the recording: three header rows, then rows of a date, a time and one value
// per channel, each followed by a comma, CR LF at the end; values only from the instruments
// that the column may show.
RowCheck CheckRecording(const std::string& path, const SoakRig& rig, unsigned channels) {
    RowCheck check;
    std::ifstream file(path, std::ios::binary);
    std::stringstream all;
    all << file.rdbuf();
    const std::string text = all.str();
    if (text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0) check.Defect("the file does not end in CR LF");
    std::size_t at = 0;
    unsigned line = 0;
    std::string lastStamp;
    while (at < text.size()) {
        const std::size_t end = text.find("\r\n", at);
        if (end == std::string::npos) break;
        const std::string row = text.substr(at, end - at);
        at = end + 2;
        ++line;
        std::vector<std::string> fields;
        std::size_t from = 0;
        for (std::size_t comma; (comma = row.find(',', from)) != std::string::npos; from = comma + 1)
            fields.push_back(row.substr(from, comma - from));
        const std::string where = "line " + std::to_string(line);
        if (from != row.size() || fields.size() != channels + 2) {
            check.Defect(where + " is not whole: " + row.substr(0, 80));
            continue;
        }
        if (line <= 3) {
            static const char* kLabels[] = {"DeviceNo", "DeviceInfo", "DeviceRange"};
            if (fields[0] != kLabels[line - 1] || !fields[1].empty()) check.Defect(where + ": header label");
            for (unsigned c = 0; c < channels; ++c) {
                const std::string& f = fields[c + 2];
                if (f.size() < 2 || f.front() != '[' || f.back() != ']') check.Defect(where + ": header field");
            }
            continue;
        }
        ++check.rows;
        // 2024-01-02,03:04:05:678 — fixed widths; the fake clock never goes back.
        const std::string stamp = fields[0] + " " + fields[1];
        if (fields[0].size() != 10 || fields[1].size() != 12 || stamp < lastStamp) check.Defect(where + ": time " + stamp);
        lastStamp = stamp;
        for (unsigned c = 0; c < channels; ++c) {
            const std::string& f = fields[c + 2];
            if (f == "----") {
                ++check.blanks;  // no reading yet on that channel
                continue;
            }
            ++check.values;
            const auto raw = RawFromText(f);
            const int source = raw ? SoakRig::SourceOf(*raw) : -1;
            const auto [own, previous] = rig.Allowed(c);
            if (source < 0 || (source != own && source != previous))
                check.Defect(where + " column " + std::to_string(c) + ": '" + f + "' from no instrument it may show");
        }
    }
    if (at != text.size()) check.Defect("text after the last CR LF");
    return check;
}

struct SoakCase {
    const char* name;
    bool fixedAddresses;
    double hours;
    std::uint64_t seed;
    friend void PrintTo(const SoakCase& c, std::ostream* os) { *os << c.name; }
};

class SoakTest : public ::testing::TestWithParam<SoakCase> {};

TEST_P(SoakTest, ValuesOnlyWhereTheyBelongAndEveryRowWhole) {
    SoakCase sc = GetParam();
    if (const char* h = std::getenv("ZUZ_SOAK_HOURS"); h && sc.fixedAddresses) sc.hours = std::atof(h);
    ScopedWorkDir work;
    const sim::BusConfig config = SoakBus(sc.seed);
    SoakRig rig(config);
    rig.core.bus.channelCount = kInstruments;

    if (sc.fixedAddresses) {
        std::string ini;
        for (unsigned n = 1; n <= kInstruments; ++n) {
            char section[16];
            std::snprintf(section, sizeof section, "[Addr%02u]\r\n", n);
            ini += section + ("Addr=" + std::to_string(AddressOf(n - 1)) + "\r\n") +
                   Utf8ToGb18030("Info=" + std::to_string(n) + "号炉 Ω\r\n");
        }
        std::ofstream("Settings.ini", std::ios::binary) << ini;
        ASSERT_TRUE(rig.core.SetFixedAddressBox(true));
    }

    ASSERT_TRUE(rig.core.Connect(kDefaultBaudEntry));
    // Finding: the scan needs at most 101 ticks, fixed probing 21.
    rig.Run(6000);
    ASSERT_TRUE(rig.loop.TimerRunning(TIMER_POLL)) << rig.lastStatus;
    ASSERT_GT(rig.core.bus.foundCount, kInstruments / 2) << "the fault mix kept most instruments from the scan";
    rig.core.saveDataTicked = true;
    rig.core.ToggleRecording(true);
    ASSERT_TRUE(rig.core.saveDataTicked) << rig.lastStatus;
    const std::string path = rig.core.savePath;

    const auto total = FakeLoop::Ms(sc.hours * 3600 * 1000);
    const FakeLoop::Ms chunk = 60 * 1000;
    std::size_t heapAtTenth = 0;
    long rssAtTenth = 0;
    for (FakeLoop::Ms done = 0; done < total; done += chunk) {
        rig.Run(std::min(chunk, total - done));
        if (heapAtTenth == 0 && done + chunk >= total / 10) heapAtTenth = LiveHeapBytes(), rssAtTenth = ResidentKb();
    }
    const std::size_t heapAtEnd = LiveHeapBytes();
    const long rssAtEnd = ResidentKb();

    const RowCheck rows = CheckRecording(path, rig, kInstruments);
    const auto& sim = rig.SimCounters();
    std::printf("[soak %s] %.2f h: %llu polls, %llu updates (%llu own, %llu late), %llu rows checked "
                "(%llu values, %llu blanks), recorded %u; faults: %llu no reply, %llu bad checksum, %llu split, "
                "%llu garbage, %llu late, %llu duplicate; heap %zu -> %zu bytes, RSS %ld -> %ld KB; "
                "%llu + %llu defects\n",
                sc.name, sc.hours, (unsigned long long)rig.tally.polls, (unsigned long long)rig.tally.updates,
                (unsigned long long)rig.tally.ownValues, (unsigned long long)rig.tally.lateValues,
                (unsigned long long)rows.rows, (unsigned long long)rows.values, (unsigned long long)rows.blanks,
                rig.core.recordCounter, (unsigned long long)sim.noReply, (unsigned long long)sim.badChecksum,
                (unsigned long long)sim.split, (unsigned long long)sim.garbage, (unsigned long long)sim.delayed,
                (unsigned long long)sim.duplicate, heapAtTenth, heapAtEnd, rssAtTenth, rssAtEnd,
                (unsigned long long)rig.tally.defects, (unsigned long long)rows.defects);

    EXPECT_EQ(rig.tally.defects, 0u) << ::testing::PrintToString(rig.tally.firstDefects);
    EXPECT_EQ(rows.defects, 0u) << ::testing::PrintToString(rows.firstDefects);
    EXPECT_EQ(rows.rows, rig.core.recordCounter);
    // Every fault happened, and late replies did land on the next channel.
    EXPECT_GT(sim.delayed, 0u);
    EXPECT_GT(sim.split, 0u);
    EXPECT_GT(rig.tally.lateValues, 0u);
    // One row per rotation of the instruments found, at 50 ms a poll.
    EXPECT_GE(rows.rows, std::uint64_t(total / (50 * rig.core.bus.foundCount)) - 2);
    // Nothing grows once polling has settled (a few kilobytes of slack for the allocator).
    EXPECT_LT(heapAtEnd, heapAtTenth + 64 * 1024) << "live heap grew from " << heapAtTenth << " to " << heapAtEnd;
}

INSTANTIATE_TEST_SUITE_P(Soak, SoakTest,
                         ::testing::Values(SoakCase{"scan", false, 0.25, 7}, SoakCase{"fixed", true, 1.0, 11}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zuz
