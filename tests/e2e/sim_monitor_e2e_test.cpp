// The monitor's core with the real serial port classes against the zuzavadi-sim program: the
// demo bus is found over a pseudo-terminal and polled, readings arrive on every channel.
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

#include "app/core/monitor_core.h"
#include "child_process.h"
#include "protocol/frame.h"
#include "real_time_loop.h"
#include "serial/port_list.h"
#include "serial/serial_byte_port.h"
#include "serial/serial_error.h"
#include "serial/serial_wnd.h"
#include "serial/virtual_ports.h"
#include "sim/sim_config.h"

namespace zuz::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Hosts the monitor's core as the window does: timers on the loop, the serial notification
// handed from the watcher thread to the loop's thread.
class SerialHost : public IMonitorHost, private ISerialNotifySink {
public:
    SerialHost() : core(*this, clock_) {
        loop.onTimer = [this](unsigned id) { core.OnTimer(id); };
        core.SetPort(&bytePort_);
    }
    ~SerialHost() override { serial_.Close(); }

    void StartTimer(unsigned id, unsigned periodMs) override { loop.StartTimer(id, periodMs); }
    void StopTimer(unsigned id) override { loop.StopTimer(id); }
    void ShowMessage(const std::string&, const std::string&, MessageIcon) override {}
    void ShowStatusLine(const std::string& line) override { statusLines.push_back(line); }
    long OpenPort(const std::string& name) override { return serial_.Open(name.c_str(), this); }
    std::string PortErrorText(long error) const override { return SerialErrorText(error); }
    void SetupPort(unsigned baud) override { serial_.Setup(baud); }
    void ClosePort() override { serial_.Close(); }
    void OnChannelUpdated(unsigned channel, unsigned char command) override { ++updates[{channel, command}]; }

    unsigned Updates(unsigned channel, std::uint8_t command) const {
        const auto it = updates.find({channel, command});
        return it == updates.end() ? 0 : it->second;
    }
    bool StatusSays(const std::string& text) const {
        return std::any_of(statusLines.begin(), statusLines.end(),
                           [&](const std::string& l) { return l.size() >= text.size() && l.ends_with(text); });
    }

    RealTimeLoop loop;
    std::vector<std::string> statusLines;
    std::map<std::pair<unsigned, unsigned>, unsigned> updates;

private:
    void PostSerialNotification(unsigned, std::uint32_t wParam, std::intptr_t lParam) override {
        loop.Post([this, wParam, lParam] { core.OnSerialEvent(wParam, lParam); });
    }

    SystemClock clock_;
    CSerialWnd serial_;
    SerialBytePort bytePort_{serial_};

public:
    MonitorCore core;  // last: built on the members above
};

class SimMonitorTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/zuz-e2e-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        if (sim_.Pid() > 0) {
            sim_.Signal(SIGTERM);
            EXPECT_EQ(sim_.Wait(10000), std::optional<int>(0)) << sim_.Stderr();
        }
        fs::remove_all(dir_);
    }

    // Starts the simulator; returns its device path.
    std::string StartSim(std::vector<std::string> args) {
        args.insert(args.begin(), std::string(ZUZ_BIN_DIR) + "/zuzavadi-sim");
        args.push_back("--log");
        args.push_back((dir_ / "sim.log").string());
        if (!sim_.Start(args, {{kPortDirVariable, dir_.string()}})) return "";
        return sim_.ReadLine(10000).value_or("");
    }

    fs::path dir_;
    ChildProcess sim_;
};

std::string Hex8(std::uint32_t v) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", v);
    return text;
}

TEST_F(SimMonitorTest, TheMonitorFindsTheDemoBusAndPollsIt) {
    const std::string device = StartSim({});
    ASSERT_FALSE(device.empty()) << sim_.Stderr();
    // The monitor's port list offers the simulator.
    const auto ports = ListSerialPorts("/nonexistent-sysfs", dir_.string());
    EXPECT_NE(std::find(ports.begin(), ports.end(), device), ports.end());

    SerialHost host;
    host.core.portName = device;
    host.core.bus.channelCount = 8;
    ASSERT_TRUE(host.core.Connect(kDefaultBaudEntry)) << host.statusLines.back();

    // Done when every channel has had a few readings.
    auto enoughReadings = [&] {
        if (host.core.bus.foundCount < 8 || !host.loop.TimerRunning(TIMER_POLL)) return false;
        for (unsigned i = 0; i < 8; ++i)
            if (host.Updates(i, CMD_READ_REPLY) + host.Updates(i, CMD_READ_REPLY_SHORT) < 3) return false;
        return true;
    };
    EXPECT_TRUE(host.loop.RunUntil(enoughReadings, 60s)) << "found " << int(host.core.bus.foundCount);
    EXPECT_TRUE(host.StatusSays("查找到 8 个设备"));

    const sim::BusConfig demo = sim::DemoBus();
    for (unsigned i = 0; i < 8; ++i) {
        const auto& in = demo.instruments[i];
        const ChannelReading& ch = host.core.channels[i];
        EXPECT_EQ(host.core.bus.addressTable[i], in.address) << i;
        EXPECT_EQ(ch.SerialNoText(), Hex8(in.serial)) << i;
        EXPECT_EQ(ch.TypeText(), in.range == 0x6E ? "TMP" : (in.flags & 0x20 ? "AC" : "DC")) << i;
        EXPECT_NE(ch.ValueText(), "----") << i;
        // Only the instruments' own replies: long ones for long instruments, short ones for short.
        const std::uint8_t other = in.form == sim::ReplyForm::Long ? CMD_READ_REPLY_SHORT : CMD_READ_REPLY;
        EXPECT_EQ(host.Updates(i, other), 0u) << i;
    }
    EXPECT_EQ(host.core.channels[6].RangeText(), "100℃");
    EXPECT_EQ(host.core.channels[5].UnitText(), "KΩ");

    host.core.Disconnect();
    EXPECT_TRUE(host.StatusSays("断开串口成功"));
}

TEST_F(SimMonitorTest, OnAFaultyLineEveryChannelStillShowsItsOwnInstrument) {
    const std::string device = StartSim({"--seed", "3", "--split", "0.2", "--garbage", "0.2", "--duplicate", "0.05",
                                         "--bad-checksum", "0.05", "--delayed", "0.05", "--no-reply", "0.05"});
    ASSERT_FALSE(device.empty()) << sim_.Stderr();
    SerialHost host;
    host.core.portName = device;
    host.core.bus.channelCount = 8;
    ASSERT_TRUE(host.core.Connect(kDefaultBaudEntry));

    auto polledAWhile = [&] {
        if (!host.loop.TimerRunning(TIMER_POLL)) return false;
        for (unsigned i = 0; i < host.core.bus.foundCount; ++i)
            if (host.Updates(i, CMD_READ_REPLY) + host.Updates(i, CMD_READ_REPLY_SHORT) < 3) return false;
        return true;
    };
    EXPECT_TRUE(host.loop.RunUntil(polledAWhile, 60s)) << "found " << int(host.core.bus.foundCount);
    ASSERT_GE(host.core.bus.foundCount, 1);

    // Whatever was lost, doubled or late, a channel's identity is that of the address it polls.
    const sim::BusConfig demo = sim::DemoBus();
    for (unsigned i = 0; i < host.core.bus.foundCount; ++i) {
        const auto in = std::find_if(demo.instruments.begin(), demo.instruments.end(),
                                     [&](const auto& d) { return d.address == host.core.bus.addressTable[i]; });
        ASSERT_NE(in, demo.instruments.end()) << "channel " << i << " has address " << int(host.core.bus.addressTable[i]);
        EXPECT_EQ(host.core.channels[i].SerialNoText(), Hex8(in->serial)) << i;
    }
    host.core.Disconnect();

    // And the line was faulty indeed: the simulator's log names the faults it committed.
    std::ifstream log(dir_ / "sim.log");
    std::map<std::string, int> faults;
    for (std::string line; std::getline(log, line);)
        for (const char* fault : {"split", "garbage", "duplicate", "bad-checksum", "delayed"})
            faults[fault] += line.find(fault) != std::string::npos;
    for (const auto& [fault, count] : faults) EXPECT_GT(count, 0) << fault;
}

}  // namespace
}  // namespace zuz::test
