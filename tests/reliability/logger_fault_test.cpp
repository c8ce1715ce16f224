// zuzavadi-log against zuzavadi-sim with faults around its files: the disk filling up during a
// recording, the recording file locked by another opener for a while, the logger killed
// outright in the middle of rows, Settings.ini full of junk, remarks that GBK cannot hold. In
// each: no crash, every recorded row whole and counted, a status line that says what happened,
// and a clean end. (The port vanishing and SIGTERM during a row are in the logger's own tests.)
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "storage/text_encoding.h"
#include "tests/cli/logger_on_sim.h"

namespace zuz::test {
namespace {

// Both instruments show "12.3456"-shaped texts in the 20 V range: a late reply credited to the
// other channel still gives a row of the same shape.
const char* kInstruments[] = {"address=2,serial=0012AB34,range=20V,flags=0x03,form=long,reading=constant 123456",
                              "address=7,serial=00C0FFEE,range=20V,flags=0x03,form=long,reading=constant 45678"};
const std::regex kDataRow(R"(\d{4}-\d\d-\d\d,\d\d:\d\d:\d\d:\d{3},((----|12\.3456|04\.5678),){2})");

class LoggerFaults : public LoggerOnSimulator {
protected:
    void SetUp() override {
        LoggerOnSimulator::SetUp();
        StartSim(std::vector<std::string>(std::begin(kInstruments), std::end(kInstruments)), "3");
    }
    // Every byte of the file lies in whole rows; returns the number of data rows.
    static std::size_t ExpectWholeRows(const std::string& path) {
        const std::string csv = ReadFileBytes(path);
        EXPECT_TRUE(csv.size() >= 2 && csv.ends_with("\r\n")) << "the file ends inside a row";
        const auto rows = SplitCrLf(csv);
        EXPECT_GE(rows.size(), 4u);
        for (std::size_t i = 0; i + 1 < rows.size(); ++i) {
            if (i < 3)
                EXPECT_TRUE(rows[i].starts_with(std::vector<const char*>{"DeviceNo,,", "DeviceInfo,,", "DeviceRange,,"}[i]))
                    << rows[i];
            else
                EXPECT_TRUE(std::regex_match(rows[i], kDataRow)) << "row " << i << ": " << rows[i];
        }
        return rows.size() > 4 ? rows.size() - 4 : 0;
    }
    std::size_t CountStartingWith(const std::string& prefix) const {
        return std::size_t(std::count_if(texts_.begin(), texts_.end(), [&](const std::string& t) { return t.starts_with(prefix); }));
    }
};

TEST_F(LoggerFaults, DiskFullSkipsRowsWithAStatusAndEndsCleanly) {
    const std::string file = work_ + "/full.csv";
    // The logger inherits a file size limit: the header and about five rows fit, then every
    // write fails as on a full disk (EFBIG instead of ENOSPC; SIGXFSZ stays ignored across exec).
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    struct rlimit small = old;
    small.rlim_cur = 3 * 40 + 5 * 44 + 20;
    struct sigaction ignore {}, oldAction {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &oldAction);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    ChildProcess logger;
    StartLogger(logger, {"--record", file, "--duration", "2"});
    setrlimit(RLIMIT_FSIZE, &old);
    sigaction(SIGXFSZ, &oldAction, nullptr);

    ASSERT_EQ(Finish(logger), 0) << stderr_;
    EXPECT_GT(CountStartingWith("写入存储文件失败: " + file + " (File too large)"), 0u);
    EXPECT_EQ(texts_.back(), "断开串口成功");
    const std::size_t rows = ExpectWholeRows(file);
    EXPECT_GT(rows, 0u);
    EXPECT_EQ(rows, LastStoredCount()) << "a row was counted that is not in the file";
}

TEST_F(LoggerFaults, FileLockedForAWhileLosesNoWrittenRowAndRecordingGoesOn) {
    const std::string file = work_ + "/locked.csv";
    ChildProcess logger;
    StartLogger(logger, {"--record", file, "--duration", "4"});
    AwaitRows(file, 3);
    const int fd = open(file.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX), 0);
    const std::string whileLocked = ReadFileBytes(file);
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    const std::string afterLock = ReadFileBytes(file);
    close(fd);
    ASSERT_EQ(Finish(logger), 0) << stderr_;

    EXPECT_EQ(afterLock, whileLocked) << "written while another opener held the lock";
    const std::size_t rows = ExpectWholeRows(file);
    EXPECT_EQ(rows, LastStoredCount());
    EXPECT_GT(rows, SplitCrLf(afterLock).size() - 4) << "recording did not go on after the lock";
    EXPECT_TRUE(ReadFileBytes(file).starts_with(afterLock));
}

TEST_F(LoggerFaults, KilledOutrightLeavesOnlyWholeRows) {
    // SIGKILL gives the logger no chance to finish anything: each row must go to the file
    // whole or not at all.
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        const std::string file = work_ + "/killed" + std::to_string(round) + ".csv";
        ChildProcess logger;
        StartLogger(logger, {"--record", file});
        AwaitRows(file, std::size_t(2 + round));
        std::this_thread::sleep_for(std::chrono::milliseconds(17 * round));
        logger.Signal(SIGKILL);
        EXPECT_EQ(Finish(logger), 128 + SIGKILL);
        ExpectWholeRows(file);
    }
}

struct BadSettings {
    const char* name;
    std::string (*content)();
    friend void PrintTo(const BadSettings& b, std::ostream* os) { *os << b.name; }
};

class LoggerBadSettings : public LoggerFaults, public ::testing::WithParamInterface<BadSettings> {};

TEST_P(LoggerBadSettings, FixedModeRunsAndEndsCleanly) {
    WriteFileBytes(work_ + "/Settings.ini", GetParam().content());
    ChildProcess logger;
    StartLogger(logger, {"--fixed", "--duration", "1.5", "--record", "out.csv"});
    ASSERT_EQ(Finish(logger), 0) << stderr_;
    EXPECT_EQ(texts_.back(), "断开串口成功");
    EXPECT_EQ(ExpectWholeRows(work_ + "/out.csv"), LastStoredCount());
}

INSTANTIATE_TEST_SUITE_P(
    Settings, LoggerBadSettings,
    ::testing::Values(BadSettings{"BinaryJunk",
                                  [] {
                                      std::mt19937 rng(5);
                                      std::string s(32 * 1024, '\0');
                                      for (char& c : s) c = char(rng());
                                      return s;
                                  }},
                      BadSettings{"TenMegabytes",
                                  [] {
                                      std::string s = "[Addr01]\r\nAddr=2\r\n[Addr02]\r\nAddr=7\r\n";
                                      while (s.size() < 10 * 1024 * 1024) s += "x=" + std::string(80, 'z') + "\r\n";
                                      return s;
                                  }},
                      BadSettings{"LinesWithoutEquals", [] { return std::string("[Addr01]\r\nAddr 2\r\nInfo\r\n"); }},
                      BadSettings{"DuplicateSections",
                                  [] { return std::string("[Addr01]\r\nAddr=2\r\n[ADDR01]\r\nAddr=7\r\n[Addr01]\r\n"); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LoggerFaults, RemarkBeyondGbkReachesTheRecordingHeader) {
    const std::string remark = "温度😀 \u2126";  // neither the emoji nor the ohm sign is in GBK
    WriteFileBytes(work_ + "/Settings.ini",
                   Utf8ToGb18030("[Addr01]\r\nAddr=2\r\nInfo=" + remark + "\r\n[Addr02]\r\nAddr=7\r\nInfo=泵\r\n"));
    ChildProcess logger;
    StartLogger(logger, {"--fixed", "--duration", "1", "--record", "gb.csv"});
    ASSERT_EQ(Finish(logger), 0) << stderr_;
    const auto rows = SplitCrLf(ReadFileBytes(work_ + "/gb.csv"));
    ASSERT_GE(rows.size(), 3u);
    EXPECT_EQ(rows[1], Utf8ToGb18030("DeviceInfo,,[" + remark + "],[泵],"));
    EXPECT_EQ(Gb18030ToUtf8(rows[1]), "DeviceInfo,,[" + remark + "],[泵],");
}

}  // namespace
}  // namespace zuz::test
