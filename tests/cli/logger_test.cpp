// The logger's host on its real loop, against an in-process fake port that answers like a bus:
// connecting, recording from the end of finding, stopping between handlers, a lost port, and
// the refusals. Runs end when the fake port has seen a given number of requests, not after a
// time, so nothing here depends on the machine's speed.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <map>
#include <regex>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

#include "cli/logger.h"
#include "cli_test_util.h"
#include "protocol/frame.h"
#include "sim_bus.h"

namespace zuz::cli {
namespace {

using test::CliTempDir;
using test::FakeInstrument;

// Answers every probe and read at once, as a quick bus. Its descriptor is a pipe's read end
// that holds a byte while replies wait unread; closing the write end is an unplugged port.
class FakeLoggerPort : public ILoggerPort {
public:
    std::map<std::uint8_t, FakeInstrument> instruments;
    long openError = 0;
    long readError = 0;   // from the first read after `failAfterWrites` writes
    long writeError = 0;  // likewise for writes
    int failAfterWrites = -1;
    // After this many writes, the action runs (inside the write, as if during a handler).
    int actAfterWrites = -1;
    std::function<void()> action;

    std::string openedDevice;
    unsigned baudRate = 0;
    int closeCount = 0;
    int writes = 0;
    std::vector<std::pair<std::uint8_t, std::uint8_t>> requests;  // command, address

    ~FakeLoggerPort() override { CloseDescriptors(); }

    long Open(const std::string& device) override {
        openedDevice = device;
        if (openError != 0) return openError;
        if (pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) return 0x20000000 + errno;
        return 0;
    }
    void Setup(unsigned baud) override { baudRate = baud; }
    void Close() override {
        ++closeCount;
        CloseDescriptors();
    }
    std::string ErrorText(long error) const override { return "fake reason " + std::to_string(error); }
    int Descriptor() const override { return pipe_[0]; }

    // The adapter is pulled out: the loop sees the descriptor hang up.
    void Unplug() {
        if (pipe_[1] >= 0) close(pipe_[1]);
        pipe_[1] = -1;
    }

    long Read(std::uint8_t* buffer, std::size_t length, std::size_t* count) override {
        *count = 0;
        if (Failing() && readError != 0) return readError;
        char drain[64];
        while (pipe_[0] >= 0 && read(pipe_[0], drain, sizeof drain) > 0) {
        }
        while (*count < length && !input_.empty()) {
            buffer[(*count)++] = input_.front();
            input_.pop_front();
        }
        return 0;
    }
    long Write(const std::uint8_t* data, std::size_t length) override {
        ++writes;
        if (writes == actAfterWrites && action) action();
        if (Failing() && writeError != 0) return writeError;
        if (length != 8) return 0;
        const std::uint8_t command = data[3], address = data[4];
        requests.push_back({command, address});
        const auto it = instruments.find(address);
        if (it == instruments.end()) return 0;
        const auto reply = command == CMD_PROBE ? test::ProbeReplyFrame(address, it->second)
                                                : test::ReadReplyFrame(it->second);
        input_.insert(input_.end(), reply.begin(), reply.end());
        if (pipe_[1] >= 0) {
            EXPECT_EQ(write(pipe_[1], "r", 1), 1);
        }
        return 0;
    }

private:
    bool Failing() const { return failAfterWrites >= 0 && writes > failAfterWrites; }
    void CloseDescriptors() {
        for (int& fd : pipe_) {
            if (fd >= 0) close(fd);
            fd = -1;
        }
    }
    int pipe_[2] = {-1, -1};
    std::deque<std::uint8_t> input_;
};

class LoggerTest : public ::testing::Test {
protected:
    void SetUp() override {
        options.port = "/dev/fake0";
        port.instruments[3] = {0x0012AB34, 0xC2, 0x03, false, 123456};
        port.instruments[5] = {0x00C0FFEE, 0xC1, 0x01, true, -1234};
        port.instruments[9] = {0x11111111, 0xC1, 0x03, false, 1};
    }
    // Runs a logger; it ends after `requests` requests (as if SIGTERM came then).
    int RunLogger(int requests) {
        Logger logger(options, port, clock, [this](const std::string& line) { lines.push_back(line); });
        port.actAfterWrites = requests;
        port.action = [&logger] { Logger::RequestStopFromSignal(logger.StopFd()); };
        const int status = logger.Run();
        wakeUps = logger.Loop().WakeUps();
        return status;
    }
    std::vector<std::string> Texts() const { return test::StatusTextsOf(lines); }

    LoggerOptions options;
    FakeLoggerPort port;
    SystemClock clock;
    std::vector<std::string> lines;
    std::uint64_t wakeUps = 0;
    CliTempDir dir;
};

TEST_F(LoggerTest, ScanRecordsPerRotationAndDisconnectsOnStop) {
    options.recordPath = dir / "run.csv";
    // Probes 1..5 find 3 and 5, which fills the two channels; the stop comes during poll 20.
    const int status = RunLogger(5 + 20);

    EXPECT_EQ(status, kExitOk);
    EXPECT_EQ(port.openedDevice, "/dev/fake0");
    EXPECT_EQ(port.baudRate, 115200u);
    EXPECT_EQ(port.closeCount, 1);
    ASSERT_EQ(port.requests.size(), 25u) << "the request during which the stop came is the last";
    EXPECT_EQ(port.requests[4], std::make_pair(CMD_PROBE, std::uint8_t(5)));
    EXPECT_EQ(port.requests[5], std::make_pair(CMD_READ, std::uint8_t(3)));
    EXPECT_EQ(port.requests[6], std::make_pair(CMD_READ, std::uint8_t(5)));
    EXPECT_EQ(port.requests[7], std::make_pair(CMD_READ, std::uint8_t(3)));

    const auto texts = Texts();
    ASSERT_GE(texts.size(), 5u);
    EXPECT_EQ(texts[0], "连接串口成功，正在扫描设备");
    EXPECT_EQ(texts[1], "查找到 2 个设备");
    EXPECT_EQ(texts[2], "创建存储文件成功: " + *options.recordPath);
    EXPECT_EQ(texts[3], "已存储1条数据");
    EXPECT_EQ(texts[texts.size() - 2], "数据保存结束");
    EXPECT_EQ(texts.back(), "断开串口成功");

    // Rows come at poll ticks 3, 5, 7 … 19: nine rows.
    const auto rows = test::SplitCrLf(test::ReadFileBytes(*options.recordPath));
    ASSERT_EQ(rows.size(), 3u + 9u + 1u);
    EXPECT_EQ(rows[0], "DeviceNo,,[0012AB34],[00C0FFEE],");
    EXPECT_EQ(rows[2], "DeviceRange,,[20V],[2V],");
    EXPECT_EQ(rows.back(), "") << "the file ends with a whole row";
    const std::regex row(R"(\d{4}-\d\d-\d\d,\d\d:\d\d:\d\d:\d{3},[^,]+,[^,]+,)");
    for (std::size_t i = 3; i + 1 < rows.size(); ++i) EXPECT_TRUE(std::regex_match(rows[i], row)) << rows[i];
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "已存储9条数据"), 1);
}

TEST_F(LoggerTest, PrintGivesOneLinePerReading) {
    options.printReadings = true;
    RunLogger(5 + 4);  // the stop comes with poll 4, whose reply is never read
    std::vector<std::string> readings;
    for (const std::string& line : lines)
        if (line.find(" -- ") == std::string::npos) readings.push_back(line);

    // The texts a panel would show for these instruments.
    ChannelReading first, second;
    first.SetFlags(0x03);
    first.SetRange(0xC2);
    first.SetSerialNo(0x0012AB34);
    first.SetValue32(123456);
    second.SetFlags(0x01);
    second.SetRange(0xC1);
    second.SetSerialNo(0x00C0FFEE);
    second.SetValue16(-1234);
    const std::string stamp = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3},)";
    const auto expect = [&](const std::string& line, int channel, const ChannelReading& c) {
        const std::string tail = "," + std::to_string(channel) + "," + c.TitleText() + "," + c.ValueText() + "," + c.UnitText();
        EXPECT_TRUE(std::regex_match(line.substr(0, 24), std::regex(stamp))) << line;
        EXPECT_EQ(line.substr(23), tail);
    };
    ASSERT_EQ(readings.size(), 3u) << "probe replies are not readings";
    expect(readings[0], 1, first);
    expect(readings[1], 2, second);
    expect(readings[2], 1, first);
    EXPECT_EQ(readings[0].substr(23), ",1,DC-20V-0012AB34," + first.ValueText() + ",V");
}

struct LostCase {
    const char* name;
    std::function<void(FakeLoggerPort&)> arrange;  // makes the port fail after 10 requests
    std::string reason;
};

TEST_F(LoggerTest, LostPortEndsWithStatusOneAfterDisconnectingAndKeepsTheRows) {
    const LostCase cases[] = {
        {"unplugged",
         [](FakeLoggerPort& p) {
             p.actAfterWrites = 10;
             p.action = [&p] { p.Unplug(); };
         },
         "端口已移除或挂断"},
        {"read failure",
         [](FakeLoggerPort& p) {
             p.failAfterWrites = 10;
             p.readError = 0x20000005;
         },
         "fake reason " + std::to_string(0x20000005)},
        {"write failure",
         [](FakeLoggerPort& p) {
             p.failAfterWrites = 10;
             p.writeError = 0x20000005;
         },
         "fake reason " + std::to_string(0x20000005)},
    };
    for (const LostCase& c : cases) {
        SCOPED_TRACE(c.name);
        FakeLoggerPort port;
        port.instruments = this->port.instruments;
        c.arrange(port);
        LoggerOptions o = options;
        o.recordPath = dir / (std::string(c.name) + ".csv");
        lines.clear();
        Logger logger(o, port, clock, [this](const std::string& line) { lines.push_back(line); });
        // Safety net: without the loss the run would end here, with status 0.
        if (port.actAfterWrites < 0) {
            port.actAfterWrites = 40;
            port.action = [&logger] { Logger::RequestStopFromSignal(logger.StopFd()); };
        }
        EXPECT_EQ(logger.Run(), kExitFailure);
        EXPECT_LE(port.writes, 12) << "no request after the loss was seen";
        EXPECT_EQ(port.closeCount, 1);

        const auto texts = Texts();
        ASSERT_GE(texts.size(), 3u);
        EXPECT_EQ(texts[texts.size() - 3], "串口连接丢失: /dev/fake0 (" + c.reason + ")");
        EXPECT_EQ(texts[texts.size() - 2], "数据保存结束");
        EXPECT_EQ(texts.back(), "断开串口成功");
        const std::string csv = test::ReadFileBytes(*o.recordPath);
        ASSERT_FALSE(csv.empty());
        EXPECT_EQ(csv.substr(csv.size() - 2), "\r\n");
        EXPECT_EQ(test::SplitCrLf(csv).size(), 3u + 2u + 1u) << "rows at polls 3 and 5";
    }
}

TEST_F(LoggerTest, PortThatCannotBeOpenedGivesTheReason) {
    port.openError = 0x2000000D;
    EXPECT_EQ(RunLogger(100), kExitFailure);
    const auto texts = Texts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0], "打开串口失败: /dev/fake0 (fake reason " + std::to_string(0x2000000D) + ")");
    EXPECT_TRUE(port.requests.empty());
    EXPECT_EQ(port.closeCount, 0);
}

TEST_F(LoggerTest, FixedModeWithoutSettingsFileRefusesBeforeOpening) {
    options.fixedAddresses = true;
    test::WorkingDirectory cwd(dir.Path());
    EXPECT_EQ(RunLogger(100), kExitFailure);
    EXPECT_EQ(Texts(), std::vector<std::string>{"配置文件不存在！"});
    EXPECT_EQ(port.openedDevice, "") << "the port was not touched";
}

TEST_F(LoggerTest, RecordingThatCannotStartEndsWithStatusOne) {
    options.recordPath = dir / "missing-folder/run.csv";
    EXPECT_EQ(RunLogger(100), kExitFailure);
    const auto texts = Texts();
    ASSERT_GE(texts.size(), 3u);
    EXPECT_EQ(texts[texts.size() - 2], "创建/打开存储文件失败: " + *options.recordPath);
    EXPECT_EQ(texts.back(), "断开串口成功") << "no recording ran, so none is ended";
    EXPECT_EQ(port.requests.size(), 5u) << "no poll after the refusal";
}

TEST_F(LoggerTest, AutomaticNameLandsInTheWorkingDirectory) {
    options.recordPath = "";
    options.saveInterval = 1;
    test::WorkingDirectory cwd(dir.Path());
    RunLogger(5 + 2);
    const auto texts = Texts();
    ASSERT_GE(texts.size(), 3u);
    const std::string prefix = "创建存储文件成功: ";
    ASSERT_EQ(texts[2].compare(0, prefix.size(), prefix), 0) << texts[2];
    const std::string name = texts[2].substr(prefix.size());
    EXPECT_TRUE(std::regex_match(name, std::regex(R"(Sample\d{14}\.csv)"))) << name;
    EXPECT_EQ(test::SplitCrLf(test::ReadFileBytes(dir / name)).size(), 4u) << "header only: no second passed";
}

TEST_F(LoggerTest, DurationEndsTheRunNormally) {
    options.durationMs = 100;  // ends in the middle of the scan
    EXPECT_EQ(RunLogger(-1), kExitOk);
    EXPECT_EQ(Texts(), (std::vector<std::string>{"连接串口成功，正在扫描设备", "断开串口成功"}));
    EXPECT_EQ(port.closeCount, 1);
}

TEST_F(LoggerTest, ReadsRepliesAtTheNextTickWakingOncePerRequest) {
    // Every reply waits in the port until the tick that sends the next request, which reads it
    // first: the loop wakes once per request instead of twice, and no reply is lost.
    options.printReadings = true;
    const int requests = 5 + 40;
    EXPECT_EQ(RunLogger(requests), kExitOk);
    ASSERT_EQ(port.requests.size(), std::size_t(requests));
    EXPECT_LE(wakeUps, std::uint64_t(requests) + 3u);
    const auto readings = std::count_if(lines.begin(), lines.end(),
                                        [](const std::string& l) { return l.find(" -- ") == std::string::npos; });
    EXPECT_EQ(readings, 39) << "all polls but the last, whose reply the stop came before";
}

TEST(RecordPath, OnlyAFileThatHoldsDataIsRefused) {
    CliTempDir dir;
    test::WriteFileBytes(dir / "empty.csv", "");
    test::WriteFileBytes(dir / "full.csv", "DeviceNo,,\r\n");
    const struct {
        std::string path;
        bool refused;
    } cases[] = {
        {"", false},
        {dir / "new.csv", false},
        {dir / "empty.csv", false},
        {dir / "full.csv", true},
        {dir.Path(), true},
        {"/dev/null", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const auto problem = RecordPathProblem(c.path);
        EXPECT_EQ(problem.has_value(), c.refused);
        if (problem) {
            EXPECT_NE(problem->find(c.path), std::string::npos);
        }
    }
}

}  // namespace
}  // namespace zuz::cli
