// zuzavadi-log end to end: the program against zuzavadi-sim on a pseudo-terminal.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <regex>
#include <thread>

#include "display/channel_reading.h"
#include "logger_on_sim.h"

namespace zuz::test {
namespace {

// The instruments of these tests, with the texts a panel shows for them.
struct Instrument {
    int address;
    const char* serial;
    std::uint8_t range;
    const char* rangeName;
    std::uint8_t flags;
    bool shortForm;
    int reading;

    std::string Option() const {
        char flagText[8];
        std::snprintf(flagText, sizeof flagText, "0x%02X", flags);
        return "address=" + std::to_string(address) + ",serial=" + serial + ",range=" + rangeName +
               ",flags=" + flagText + ",form=" + (shortForm ? "short" : "long") +
               ",reading=constant " + std::to_string(reading);
    }
    ChannelReading Panel() const {
        ChannelReading c;
        c.SetFlags(flags);
        c.SetRange(range);
        c.SetSerialNo(std::uint32_t(std::stoul(serial, nullptr, 16)));
        if (shortForm)
            c.SetValue16(std::int16_t(reading));
        else
            c.SetValue32(reading);
        return c;
    }
};

// All in one range and form: on a busy machine a reply can come after the next request and is
// then credited to the channel asked last (as the monitor does); with one format for all, such
// a reading shows as the other instrument's value text and the rows stay checkable.
const Instrument kFurnace{2, "0012AB34", 0xC2, "20V", 0x03, false, 123456};
const Instrument kPump{7, "00C0FFEE", 0xC2, "20V", 0x03, false, -45678};
const Instrument kFar{40, "0BADF00D", 0xC2, "20V", 0x03, false, 42};

std::size_t CountOf(const std::vector<std::string>& texts, const std::string& text) {
    return std::size_t(std::count(texts.begin(), texts.end(), text));
}

std::string Escaped(const std::string& text) { return std::regex_replace(text, std::regex(R"([.\-+])"), R"(\$&)"); }

// A data row of the recording, `columns` value fields, each one of `values` or the blank
// "----" of a channel that has not been read yet.
std::regex DataRow(std::size_t columns, const std::vector<std::string>& values) {
    std::string choice = "(----";
    for (const std::string& v : values) choice += "|" + Escaped(v);
    choice += "),";
    std::string pattern = R"(\d{4}-\d\d-\d\d,\d\d:\d\d:\d\d:\d{3},)";
    for (std::size_t i = 0; i < columns; ++i) pattern += choice;
    return std::regex(pattern);
}

class LoggerEndToEnd : public LoggerOnSimulator {
protected:
    void StartSim(const std::vector<Instrument>& instruments) {
        std::vector<std::string> options;
        for (const Instrument& in : instruments) options.push_back(in.Option());
        LoggerOnSimulator::StartSim(options, "7");
    }
    // Runs a logger to its end. Returns the exit status.
    int RunLogger(const std::vector<std::string>& args) {
        ChildProcess logger;
        StartLogger(logger, args);
        return Finish(logger);
    }
    // As the base, and the lines that are not status lines go to readings_.
    int Finish(ChildProcess& logger) {
        const int status = LoggerOnSimulator::Finish(logger);
        const std::regex statusLine(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d -- .+)");
        readings_.clear();
        for (const std::string& line : lines_) {
            if (line.find(" -- ") == std::string::npos)
                readings_.push_back(line);
            else
                EXPECT_TRUE(std::regex_match(line, statusLine)) << line;
        }
        return status;
    }
    // Every byte of the file is in whole rows: headers as given, then data rows.
    void ExpectWholeRows(const std::string& path, const std::vector<std::string>& header, const std::regex& row) {
        const std::string csv = ReadFileBytes(path);
        ASSERT_GE(csv.size(), 2u);
        EXPECT_EQ(csv.substr(csv.size() - 2), "\r\n") << "the file ends with a whole row";
        const auto rows = SplitCrLf(csv);
        ASSERT_GE(rows.size(), 4u);
        for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(rows[i], header[i]);
        for (std::size_t i = 3; i + 1 < rows.size(); ++i) EXPECT_TRUE(std::regex_match(rows[i], row)) << rows[i];
    }

    std::vector<std::string> readings_;
};

TEST_F(LoggerEndToEnd, ScanTakesTheFirstInstrumentsAndPrintsTheirReadings) {
    StartSim({kFar, kPump, kFurnace});
    ASSERT_EQ(RunLogger({"--channels", "2", "--print", "--duration", "1.5"}), 0) << stderr_;

    ASSERT_GE(texts_.size(), 3u);
    EXPECT_EQ(texts_[0], "连接串口成功，正在扫描设备");
    EXPECT_EQ(texts_[1], "查找到 2 个设备");
    EXPECT_EQ(texts_.back(), "断开串口成功");
    EXPECT_EQ(CountOf(texts_, "数据保存结束"), 0u);

    // Channel 1 is address 2, channel 2 address 7 (their titles carry the serials); address 40
    // is never reached. A line: time, channel, title, value, unit.
    const ChannelReading first = kFurnace.Panel(), second = kPump.Panel(), far = kFar.Panel();
    const std::string value = "(" + Escaped(first.ValueText()) + "|" + Escaped(second.ValueText()) + ")";
    const std::regex line(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3},(1,)" + first.TitleText() + "|2," +
                          second.TitleText() + ")," + value + ",V");
    ASSERT_GE(readings_.size(), 2u);
    bool sawOne = false, sawTwo = false;
    for (const std::string& r : readings_) {
        EXPECT_TRUE(std::regex_match(r, line)) << r;
        EXPECT_EQ(r.find(far.ValueText()), std::string::npos) << r;
        sawOne |= r.find(",1,") != std::string::npos;
        sawTwo |= r.find(",2,") != std::string::npos;
    }
    EXPECT_TRUE(sawOne && sawTwo);
}

TEST_F(LoggerEndToEnd, EmptyBusIsReportedAndTheLoggerStaysUntilTheEnd) {
    StartSim({{150, "00000001", 0xC2, "20V", 0x03, false, 1}});  // beyond the scanned addresses
    ASSERT_EQ(RunLogger({"--duration", "6.5", "--print"}), 0) << stderr_;
    EXPECT_EQ(texts_, (std::vector<std::string>{"连接串口成功，正在扫描设备", "未查找到有效设备", "断开串口成功"}));
    EXPECT_TRUE(readings_.empty());
}

TEST_F(LoggerEndToEnd, FixedAddressesFromGbkSettingsAreRecordedWithTheirRemarks) {
    StartSim({kFurnace, kPump});
    // Channel 1 asks address 7, channel 2 address 2; remarks 1号炉 and 2号泵 in GBK.
    WriteFileBytes(work_ + "/Settings.ini",
                   "[Addr01]\r\nAddr=7\r\nInfo=1\xBA\xC5\xC2\xAF\r\n[Addr02]\r\nAddr=2\r\nInfo=2\xBA\xC5\xB1\xC3\r\n");
    ASSERT_EQ(RunLogger({"--fixed", "--record", "fixed.csv", "--duration", "1.5"}), 0) << stderr_;

    EXPECT_EQ(CountOf(texts_, "查找到 2 个设备"), 0u) << "fixed addresses show no scan result";
    EXPECT_EQ(texts_[texts_.size() - 2], "数据保存结束");
    const ChannelReading c1 = kPump.Panel(), c2 = kFurnace.Panel();
    ExpectWholeRows(work_ + "/fixed.csv",
                    {"DeviceNo,,[00C0FFEE],[0012AB34],", "DeviceInfo,,[1\xBA\xC5\xC2\xAF],[2\xBA\xC5\xB1\xC3],",
                     "DeviceRange,,[20V],[20V],"},
                    DataRow(2, {c1.ValueText(), c2.ValueText()}));
    EXPECT_GE(DataRows(work_ + "/fixed.csv").size(), 1u);
}

TEST_F(LoggerEndToEnd, FixedModeWithoutSettingsFileEndsWithStatusOne) {
    StartSim({kFurnace});
    EXPECT_EQ(RunLogger({"--fixed", "--duration", "5"}), 1);
    EXPECT_EQ(texts_, std::vector<std::string>{"配置文件不存在！"});
}

struct RecordCase {
    const char* name;
    std::vector<std::string> options;
    std::size_t maxRows;  // per rotation there would be dozens
};

TEST_F(LoggerEndToEnd, RecordsPerRotationAndPerInterval) {
    StartSim({kFurnace, kPump});
    const ChannelReading c1 = kFurnace.Panel(), c2 = kPump.Panel();
    const RecordCase cases[] = {
        {"per rotation", {"--duration", "2"}, 1000},
        {"every second", {"--interval", "1", "--duration", "3.5"}, 4},
    };
    int n = 0;
    for (const RecordCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = "rec" + std::to_string(n++) + ".csv";
        std::vector<std::string> args = {"--record", file};
        args.insert(args.end(), c.options.begin(), c.options.end());
        ASSERT_EQ(RunLogger(args), 0) << stderr_;

        ASSERT_GE(texts_.size(), 5u);
        EXPECT_EQ(texts_[2], "创建存储文件成功: " + file);
        ExpectWholeRows(work_ + "/" + file,
                        {"DeviceNo,,[0012AB34],[00C0FFEE],", "DeviceInfo,,[],[],", "DeviceRange,,[20V],[20V],"},
                        DataRow(2, {c1.ValueText(), c2.ValueText()}));
        const std::size_t rows = DataRows(work_ + "/" + file).size();
        EXPECT_GE(rows, 1u);
        EXPECT_LE(rows, c.maxRows);
        EXPECT_EQ(rows, LastStoredCount()) << "every row counted, every count a row";
        EXPECT_EQ(texts_[texts_.size() - 2], "数据保存结束");
        EXPECT_EQ(texts_.back(), "断开串口成功");
    }
}

TEST_F(LoggerEndToEnd, SignalInTheMiddleOfARecordingLeavesWholeRows) {
    StartSim({kFurnace, kPump});
    const ChannelReading c1 = kFurnace.Panel(), c2 = kPump.Panel();
    for (int sig : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(strsignal(sig));
        const std::string file = work_ + "/signal" + std::to_string(sig) + ".csv";
        ChildProcess logger;
        StartLogger(logger, {"--record", file});
        AwaitRows(file, 5);
        logger.Signal(sig);
        ASSERT_EQ(Finish(logger), 0) << stderr_;
        EXPECT_EQ(texts_[texts_.size() - 2], "数据保存结束");
        EXPECT_EQ(texts_.back(), "断开串口成功");
        ExpectWholeRows(file, {"DeviceNo,,[0012AB34],[00C0FFEE],", "DeviceInfo,,[],[],", "DeviceRange,,[20V],[20V],"},
                        DataRow(2, {c1.ValueText(), c2.ValueText()}));
        EXPECT_EQ(DataRows(file).size(), LastStoredCount());
    }
}

TEST_F(LoggerEndToEnd, SimulatorKilledMidRunEndsWithStatusOneAndAnIntactFile) {
    StartSim({kFurnace, kPump});
    const std::string file = work_ + "/lost.csv";
    ChildProcess logger;
    StartLogger(logger, {"--record", file});
    AwaitRows(file, 3);
    sim_.Signal(SIGKILL);
    sim_.Wait(10000);
    ASSERT_EQ(Finish(logger), 1) << stderr_;

    ASSERT_GE(texts_.size(), 3u);
    EXPECT_EQ(texts_[texts_.size() - 3].rfind("串口连接丢失: " + pty_ + " (", 0), 0u) << texts_[texts_.size() - 3];
    EXPECT_EQ(texts_[texts_.size() - 2], "数据保存结束");
    EXPECT_EQ(texts_.back(), "断开串口成功");
    const ChannelReading c1 = kFurnace.Panel(), c2 = kPump.Panel();
    ExpectWholeRows(file, {"DeviceNo,,[0012AB34],[00C0FFEE],", "DeviceInfo,,[],[],", "DeviceRange,,[20V],[20V],"},
                    DataRow(2, {c1.ValueText(), c2.ValueText()}));
    EXPECT_EQ(DataRows(file).size(), LastStoredCount());
}

TEST_F(LoggerEndToEnd, PortHeldByAnotherLoggerIsRefusedWithTheReason) {
    StartSim({kFurnace});
    ChildProcess first;
    StartLogger(first, {});
    ASSERT_TRUE(first.ReadLine(20000).has_value()) << "the first logger connected";
    EXPECT_EQ(RunLogger({"--duration", "5"}), 1);
    ASSERT_EQ(texts_.size(), 1u);
    EXPECT_EQ(texts_[0].rfind("打开串口失败: " + pty_ + " (", 0), 0u) << texts_[0];
    first.Signal(SIGTERM);
    EXPECT_EQ(first.Wait(30000), 0);
}

TEST(LoggerProgram, MissingDeviceGivesTheSystemsReason) {
    std::string out, err;
    EXPECT_EQ(ChildProcess::Run({kLoggerProgram, "--port", "/dev/zuz-no-such-port"}, &out, &err), 1);
    const auto texts = StatusTextsOf(LinesOf(out));
    ASSERT_EQ(texts.size(), 1u) << out;
    EXPECT_EQ(texts[0], "打开串口失败: /dev/zuz-no-such-port (No such file or directory)");
}

TEST(LoggerProgram, BadArgumentsExitTwoWithOneLineNamingTheArgument) {
    CliTempDir dir;
    const std::string full = dir / "full.csv";
    WriteFileBytes(full, "DeviceNo,,[0012AB34],\r\n");
    const struct {
        std::vector<std::string> args;
        const char* named;
    } cases[] = {
        {{"--bogus"}, "--bogus"},
        {{"--port", "/dev/x", "--channels", "3"}, "--channels"},
        {{"--port", "/dev/x", "--channels", "21"}, "--channels"},
        {{"--port", "/dev/x", "--baud", "4800"}, "--baud"},
        {{"--port", "/dev/x", "--baud", "fast"}, "--baud"},
        {{"--port", "/dev/x", "--interval", "256"}, "--interval"},
        {{"--port", "/dev/x", "--interval", "x"}, "--interval"},
        {{"--port", "/dev/x", "--duration", "soon"}, "--duration"},
        {{"--port"}, "--port"},
        {{"--port", "/dev/x", "--record"}, "--record"},
        {{"--print"}, "--port"},
        {{"--port", "/dev/x", "stray"}, "stray"},
        {{"--port", "/dev/x", "--record", full}, full.c_str()},
        {{"--port", "/dev/x", "--record", dir.Path()}, dir.Path().c_str()},
    };
    for (const auto& c : cases) {
        std::vector<std::string> argv = {kLoggerProgram};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(::testing::PrintToString(c.args));
        std::string out, err;
        EXPECT_EQ(ChildProcess::Run(argv, &out, &err), 2);
        EXPECT_EQ(out, "");
        ASSERT_FALSE(err.empty());
        EXPECT_EQ(err.find('\n'), err.size() - 1) << "one line: " << err;
        EXPECT_NE(err.find(c.named), std::string::npos) << err;
    }
    EXPECT_EQ(ReadFileBytes(full), "DeviceNo,,[0012AB34],\r\n") << "a refused file is left as it was";
}

TEST(LoggerProgram, VersionHelpAndPortList) {
    std::string out, err;
    EXPECT_EQ(ChildProcess::Run({kLoggerProgram, "--version"}, &out, &err), 0);
    EXPECT_TRUE(std::regex_match(out, std::regex("zuzavadi-log \\d+\\.\\d+\\.\\d+\n"))) << out;

    EXPECT_EQ(ChildProcess::Run({kLoggerProgram, "--help"}, &out, &err), 0);
    EXPECT_NE(out.find("--list-ports"), std::string::npos);

    // The simulator's port is listed as the window would list it.
    CliTempDir ports;
    ChildProcess sim;
    ASSERT_TRUE(sim.Start({kSimProgram}, {{"ZUZAVADI_PORT_DIR", ports.Path()}}));
    const auto pty = sim.ReadLine(20000);
    ASSERT_TRUE(pty.has_value());
    EXPECT_EQ(ChildProcess::Run({kLoggerProgram, "--list-ports"}, &out, &err, {{"ZUZAVADI_PORT_DIR", ports.Path()}}), 0);
    const auto listed = LinesOf(out);
    EXPECT_NE(std::find(listed.begin(), listed.end(), *pty), listed.end()) << out;
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(10000), 0);
}

TEST(LoggerProgram, LinksNoQt) {
    std::string out, err;
    ASSERT_EQ(ChildProcess::Run({"/usr/bin/ldd", kLoggerProgram}, &out, &err), 0) << err;
    EXPECT_NE(out.find("libc.so"), std::string::npos) << "ldd listed the libraries: " << out;
    EXPECT_EQ(out.find("Qt"), std::string::npos) << out;
}

}  // namespace
}  // namespace zuz::test
