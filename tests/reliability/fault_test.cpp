// Faults around the monitor's files, in fast time with the in-process bus: the disk filling up
// under a recording, the recording file held by another opener, the file deleted, a device
// that takes no data; Settings.ini full of junk; remarks that GBK cannot hold. In each: no
// crash, no recorded row lost or cut, and a status text that says what happened.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <ostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "storage/settings_file.h"
#include "storage/text_encoding.h"
#include "scoped_work_dir.h"
#include "test_host.h"

namespace zuz {
namespace {

namespace fs = std::filesystem;
using test::ScopedWorkDir;
using test::TestHost;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// The data rows of a recording; fails the test on any line that is not whole.
std::vector<std::string> WholeDataRows(const std::string& text, unsigned channels, bool withHeader) {
    std::vector<std::string> rows;
    EXPECT_TRUE(text.empty() || text.ends_with("\r\n")) << "the file ends inside a row";
    std::size_t at = 0;
    unsigned line = 0;
    for (std::size_t end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2) {
        const std::string row = text.substr(at, end - at);
        ++line;
        EXPECT_EQ(std::count(row.begin(), row.end(), ','), long(channels + 2)) << "line " << line << ": " << row;
        EXPECT_TRUE(row.ends_with(",")) << "line " << line << ": " << row;
        if (withHeader && line <= 3) continue;
        EXPECT_EQ(row.size(), std::string("2024-01-02,03:04:05:678,").size() + channels * 8) << row;
        rows.push_back(row);
    }
    return rows;
}

// Two instruments reading 12.3456-style values, found and polled; one row per 100 ms rotation.
class RecordingFaultTest : public ::testing::Test {
protected:
    void SetUp() override {
        h.bus.instruments[1] = {0x0012AB34, 0xC2, 0x03, false, 123456};
        h.bus.instruments[2] = {0x0000BEEF, 0xC1, 0x03, false, 200000};
        ASSERT_TRUE(h.core.Connect(kDefaultBaudEntry));
        h.Run(1000);
        ASSERT_TRUE(h.loop.TimerRunning(TIMER_POLL));
        h.core.savePath = path;
        StartRecording();
    }
    void StartRecording() {
        h.core.saveDataTicked = true;
        h.core.ToggleRecording(true);
    }
    std::string LastStatus() const { return h.LastStatus(); }

    ScopedWorkDir work;
    std::string path = work / "rec.csv";
    TestHost h;
};

TEST_F(RecordingFaultTest, DiskFullCutsNoRowAndRecordingGoesOnWhenThereIsRoomAgain) {
    h.Run(2000);
    const std::uint32_t before = h.core.recordCounter;
    ASSERT_GT(before, 10u);
    // The file may grow by two and a half rows more: the third row is written in part and must
    // be taken back.
    const auto rowBytes = std::string("2024-01-02,03:04:05:678,").size() + 2 * 8;
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    struct sigaction ignore {}, oldAction {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &oldAction);
    struct rlimit small = old;
    small.rlim_cur = fs::file_size(path) + rowBytes * 2 + rowBytes / 2;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    h.Run(1000);
    const std::uint32_t whileFull = h.core.recordCounter;
    const std::string fullStatus = LastStatus();
    setrlimit(RLIMIT_FSIZE, &old);
    sigaction(SIGXFSZ, &oldAction, nullptr);

    EXPECT_EQ(whileFull, before + 2);
    EXPECT_EQ(fullStatus, "写入存储文件失败: " + path + " (File too large)");
    EXPECT_TRUE(h.core.saveDataTicked) << "recording must stay on and try again";
    h.Run(1000);
    EXPECT_GT(h.core.recordCounter, whileFull + 5);
    const auto rows = WholeDataRows(ReadAll(path), 2, true);
    EXPECT_EQ(rows.size(), h.core.recordCounter);
}

TEST_F(RecordingFaultTest, DeviceWithoutRoomRefusesTheStartWithTheReason) {
    h.core.ToggleRecording(false);
    h.core.savePath = "/dev/full";
    StartRecording();
    EXPECT_FALSE(h.core.saveDataTicked);
    EXPECT_FALSE(h.saveBoxShown);
    EXPECT_EQ(LastStatus(), "写入存储文件失败: /dev/full (No space left on device)");
}

// Faults that come and go while the recording runs: rows in the meantime are skipped without
// a word (the counter stays), and recording picks up again afterwards.
struct PassingFault {
    const char* name;
    std::function<int(const std::string&)> begin;  // returns a descriptor to close at the end, or -1
    bool headerAfter;                               // the header rows are still at the top
    friend void PrintTo(const PassingFault& f, std::ostream* os) { *os << f.name; }
};

class PassingFaultTest : public RecordingFaultTest, public ::testing::WithParamInterface<PassingFault> {};

TEST_P(PassingFaultTest, RowsAreSkippedWhileItLastsAndNothingWrittenIsLost) {
    h.Run(1000);
    const std::uint32_t before = h.core.recordCounter;
    const std::string rowsBefore = ReadAll(path);
    const int fd = GetParam().begin(path);
    h.Run(1000);
    const std::uint32_t during = h.core.recordCounter;
    if (fd >= 0) close(fd);
    h.Run(1000);

    const std::string text = ReadAll(path);
    const auto rows = WholeDataRows(text, 2, GetParam().headerAfter);
    if (GetParam().headerAfter) {
        EXPECT_EQ(during, before) << "a row was counted that could not be written";
        EXPECT_TRUE(text.starts_with(rowsBefore)) << "rows written before the fault changed";
        EXPECT_EQ(rows.size(), h.core.recordCounter);
    }
    EXPECT_GT(h.core.recordCounter, during + 5) << "recording did not pick up again";
    EXPECT_TRUE(h.core.saveDataTicked);
    EXPECT_EQ(LastStatus(), "已存储" + std::to_string(h.core.recordCounter) + "条数据");
}

INSTANTIATE_TEST_SUITE_P(
    Faults, PassingFaultTest,
    ::testing::Values(PassingFault{"LockedByAnotherOpener",
                                   [](const std::string& p) {
                                       const int fd = open(p.c_str(), O_RDWR);
                                       EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
                                       return fd;
                                   },
                                   true},
                      PassingFault{"DeletedWhileRecording",
                                   [](const std::string& p) {
                                       fs::remove(p);
                                       return -1;
                                   },
                                   false}),
    [](const auto& info) { return std::string(info.param.name); });

// Settings.ini as it should never be: whatever it holds, loading ends, takes what it can read
// and leaves everything else as it was.
struct BadSettings {
    const char* name;
    std::function<std::string()> content;
    std::uint8_t entry0, entry1;  // address-table entries 0 and 1 afterwards (they start 77, 88)
    std::string remark0;          // channel 0's remark afterwards (it starts "old")
    friend void PrintTo(const BadSettings& b, std::ostream* os) { *os << b.name; }
};

std::string Junk(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char& c : s) c = char(rng());
    return s;
}

class BadSettingsTest : public ::testing::TestWithParam<BadSettings> {};

TEST_P(BadSettingsTest, LoadsWhatItCanAndKeepsTheRest) {
    ScopedWorkDir work;
    std::ofstream(work / "Settings.ini", std::ios::binary) << GetParam().content();
    TestHost h;
    h.core.bus.addressTable[0] = 77;
    h.core.bus.addressTable[1] = 88;
    h.core.channels[0].SetRemark("old");
    EXPECT_TRUE(h.core.SetFixedAddressBox(true));
    EXPECT_EQ(h.core.bus.addressTable[0], GetParam().entry0);
    EXPECT_EQ(h.core.bus.addressTable[1], GetParam().entry1);
    EXPECT_EQ(h.core.channels[0].GetRemark(), GetParam().remark0);
    // The dialog reads the same file, and a connect in fixed mode still finds and polls.
    SettingsFields fields;
    h.core.ReadSettingsDialogFields(fields);
    EXPECT_TRUE(h.messages.empty());
    ASSERT_TRUE(h.core.Connect(kDefaultBaudEntry));
    h.Run(500);
    EXPECT_TRUE(h.loop.TimerRunning(TIMER_POLL));
}

INSTANTIATE_TEST_SUITE_P(
    Settings, BadSettingsTest,
    ::testing::Values(
        BadSettings{"BinaryJunk", [] { return Junk(64 * 1024, 1); }, 77, 88, "old"},
        BadSettings{"JunkAroundASection",
                    [] { return Junk(4000, 2) + "\r\n[Addr02]\r\nAddr=9\r\n" + Junk(4000, 3); }, 77, 9, "old"},
        BadSettings{"TenMegabytes",
                    [] {
                        std::string s = "[Addr01]\r\nAddr=5\r\n";
                        while (s.size() < 10 * 1024 * 1024) s += "Filler=" + std::string(60, 'x') + "\r\n";
                        return s + "[Addr02]\r\nAddr=6\r\n";
                    },
                    5, 6, "old"},
        BadSettings{"OneTenMegabyteLine", [] { return "[Addr01]\r\nInfo=" + std::string(10 * 1024 * 1024, 'y'); },
                    77, 88, std::string(259, 'y')},
        // A section line without its bracket is no section: the key after it stays in Addr01.
        BadSettings{"LinesWithoutEquals", [] { return std::string("[Addr01]\r\nAddr 5\r\nInfo\r\n[Addr02\r\nAddr=3\r\n"); },
                    3, 88, "old"},
        BadSettings{"DuplicateSectionsFirstWins",
                    [] { return std::string("[Addr01]\r\nAddr=5\r\n[addr01]\r\nAddr=6\r\nInfo=late\r\n"); }, 5, 88, "old"},
        BadSettings{"NulBytesAndLoneCarriageReturns",
                    [] { return std::string("[Addr01]\r\nAddr=1\0" "2\r\nInfo=a\rb\r\n", 28); }, 1, 88, "a\rb"},
        BadSettings{"NoLineEndsAtAll", [] { return std::string("[Addr01]"); }, 77, 88, "old"},
        BadSettings{"EmptyFile", [] { return std::string(); }, 77, 88, "old"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MissingSettingsTest, IsReportedAndChangesNothing) {
    ScopedWorkDir work;
    TestHost h;
    h.core.bus.addressTable[0] = 77;
    EXPECT_FALSE(h.core.SetFixedAddressBox(true));
    EXPECT_EQ(h.core.bus.addressTable[0], 77);
    ASSERT_EQ(h.messages.size(), 1u);
    EXPECT_EQ(h.messages[0].text, "配置文件不存在！");
    EXPECT_EQ(h.LastStatus(), "配置文件不存在！");
}

// Remarks with characters that GBK has no code for: GB18030 holds them, so they come back
// from the settings file and reach the recording's header unchanged.
struct Remark {
    const char* name;
    const char* text;
    friend void PrintTo(const Remark& r, std::ostream* os) { *os << r.name; }
};

class RemarkRoundTripTest : public ::testing::TestWithParam<Remark> {};

TEST_P(RemarkRoundTripTest, SurvivesSettingsFileAndRecordingHeader) {
    const std::string remark = GetParam().text;
    ScopedWorkDir work;
    TestHost h;
    SettingsFields written;
    written.address[0] = "1";
    written.remark[0] = remark;
    h.core.WriteSettingsDialogFields(written);
    ASSERT_FALSE(h.messages.empty());
    EXPECT_EQ(h.messages.back().text, "写入配置成功！");
    const std::string onDisk = ReadAll(work / "Settings.ini");
    EXPECT_NE(onDisk.find(Utf8ToGb18030(remark)), std::string::npos) << "not stored as GB18030";

    SettingsFields read;
    h.core.ReadSettingsDialogFields(read);
    EXPECT_EQ(read.remark[0], remark);
    ASSERT_TRUE(h.core.SetFixedAddressBox(true));
    EXPECT_EQ(h.core.channels[0].GetRemark(), remark);

    h.bus.instruments[1] = {};
    ASSERT_TRUE(h.core.Connect(kDefaultBaudEntry));
    h.Run(500);
    h.core.savePath = work / "rec.csv";
    h.core.saveDataTicked = true;
    h.core.ToggleRecording(true);
    ASSERT_TRUE(h.core.saveDataTicked) << h.LastStatus();
    const std::string header = Gb18030ToUtf8(ReadAll(work / "rec.csv"));
    EXPECT_NE(header.find("DeviceInfo,,[" + remark + "],[],\r\n"), std::string::npos) << header;
}

INSTANTIATE_TEST_SUITE_P(Remarks, RemarkRoundTripTest,
                         ::testing::Values(Remark{"InGbk", "1号炉"}, Remark{"Emoji", "温度😀"}, Remark{"Euro", "€ 5"},
                                           Remark{"GreekAndMicro", "Ω µ"}, Remark{"OhmSign", "\u2126 ohm sign"},
                                           Remark{"CjkExtensionB", "𠀀 ext-B"}, Remark{"Hangul", "한국어"},
                                           Remark{"Thai", "ไทย"}, Remark{"TitleCaseDigraphs", "Ǆ ǅ ǆ"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zuz
