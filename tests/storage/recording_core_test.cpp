// The monitor's recording, driven through the core with a fake clock and a simulated bus.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "protocol/frame.h"
#include "storage/recording_file.h"
#include "temp_dir.h"
#include "test_host.h"

namespace zuz::test {
namespace {

constexpr FakeLoop::Ms kDefaultEpochMs = 1704164645678;  // 2024-01-02 03:04:05.678 UTC

class RecordingCoreTest : public TempDirTest {
protected:
    static int CountOf(const std::vector<std::string>& texts, const std::string& text) {
        return static_cast<int>(std::count(texts.begin(), texts.end(), text));
    }
    static std::vector<std::string> Lines(const std::string& file) {
        std::vector<std::string> lines;
        for (std::size_t at = 0; at < file.size();) {
            const std::size_t end = file.find("\r\n", at);
            if (end == std::string::npos) break;
            lines.push_back(file.substr(at, end - at));
            at = end + 2;
        }
        return lines;
    }
    // Two instruments found by the scan; the box ticked with the given path and interval.
    static void ConnectAndRecord(TestHost& h, const std::string& path, std::uint8_t interval) {
        h.bus.instruments[4] = {.serial = 0x44, .range = 0xC2, .flags = 0x03, .value = 10000};
        h.bus.instruments[6] = {.serial = 0x66, .range = 0xAB, .flags = 0x03, .value = 20000};
        ASSERT_TRUE(h.core.Connect(kDefaultBaudEntry));
        h.Run(10 * 50);  // the scan finds both by the 6th tick and ends
        h.core.savePath = path;
        h.core.saveInterval = interval;
        h.core.saveDataTicked = true;
        h.core.ToggleRecording(true);
    }
};

// Fixed addresses 3 and 5 from a GBK settings file, an instrument at 3 only, interval 0.
TEST_F(RecordingCoreTest, ReproducesTheReferenceRecordingByteForByte) {
    // Connect at 0; probes at 50 and 100, finding over at 150; reads of channel 0 at 200,
    // channel 1 at 250; the tick at 300 completes the first rotation and writes the first row.
    constexpr FakeLoop::Ms kFirstRowMs = 300;
    TestHost h(FakeLoop(kDefaultEpochMs - kFirstRowMs));
    Put("Settings.ini", "[Addr01]\r\nAddr=3\r\nInfo=1\xBA\xC5\xC2\xAF\r\n[Addr02]\r\nAddr=5\r\nInfo=\r\n");
    h.bus.instruments[3] = {.serial = 0x0012AB34, .range = 0xC2, .flags = 0x03, .value = 123456};
    ASSERT_TRUE(h.core.SetFixedAddressBox(true));
    ASSERT_TRUE(h.core.Connect(kDefaultBaudEntry));
    // The reading changes in time for the read sent at the end of the first rotation.
    h.loop.After(kFirstRowMs - 1, [&h] { h.bus.instruments[3].value = 123457; });
    // The box is ticked once finding is over, so the header names the instrument.
    h.Run(160);
    h.core.saveDataTicked = true;
    h.core.ToggleRecording(true);
    ASSERT_TRUE(h.core.saveDataTicked);
    const std::string name = "Sample20240102030405.csv";
    EXPECT_EQ(h.core.savePath, name);
    h.Run(kFirstRowMs - 160 + 100 + 50);

    EXPECT_EQ(Slurp(name),
              "DeviceNo,,[0012AB34],[--------],\r\n"
              "DeviceInfo,,[1\xBA\xC5\xC2\xAF],[],\r\n"
              "DeviceRange,,[20V],[--],\r\n"
              "2024-01-02,03:04:05:678,12.3456,----,\r\n"
              "2024-01-02,03:04:05:778,12.3457,----,\r\n");
    EXPECT_EQ(h.core.recordCounter, 2u);
    EXPECT_EQ(h.LastStatus(), "已存储2条数据");
    EXPECT_FALSE(h.loop.TimerRunning(TIMER_RECORD));
}

TEST_F(RecordingCoreTest, RowsComePerRotationOrPerTimer) {
    struct Case {
        const char* name;
        std::uint8_t interval;
        FakeLoop::Ms run;
        std::vector<std::string> times;  // time column of the rows
    };
    // Recording starts at 500 ms, after the scan; polls every 50 ms over two instruments.
    const std::vector<Case> cases = {
        {"per_rotation", 0, 300, {"03:04:06:278", "03:04:06:378", "03:04:06:478"}},
        {"every_5_s", 5, 15000, {"03:04:11:178", "03:04:16:178", "03:04:21:178"}},
        {"every_255_s", 255, 255000, {"03:08:21:178"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestHost h;
        const std::string path = std::string(c.name) + ".csv";
        ConnectAndRecord(h, path, c.interval);
        ASSERT_TRUE(h.core.saveDataTicked);
        EXPECT_EQ(h.loop.TimerRunning(TIMER_RECORD), c.interval != 0);
        if (c.interval != 0) {
            EXPECT_EQ(h.loop.TimerPeriod(TIMER_RECORD), c.interval * 1000u);
        }
        h.Run(c.run);
        const auto lines = Lines(Slurp(path));
        ASSERT_EQ(lines.size(), 3 + c.times.size());
        EXPECT_EQ(lines[0], "DeviceNo,,[00000044],[00000066],");
        EXPECT_EQ(lines[2], "DeviceRange,,[20V],[2K\xA6\xB8],");  // Ω as GBK A6 B8
        for (std::size_t i = 0; i < c.times.size(); ++i) {
            EXPECT_EQ(lines[3 + i].substr(0, 24), "2024-01-02," + c.times[i] + ",") << i;
            EXPECT_EQ(lines[3 + i].substr(24), "01.0000,0.20000,");
        }
        EXPECT_EQ(h.core.recordCounter, c.times.size());
        EXPECT_EQ(h.LastStatus(), "已存储" + std::to_string(c.times.size()) + "条数据");
    }
}

TEST_F(RecordingCoreTest, AutomaticNameInTheWorkingDirectoryNeverReplacesAFile) {
    Put("Sample20240102030405.csv", "someone else's");
    TestHost h;
    h.bus.instruments[1] = {};
    ASSERT_TRUE(h.core.Connect(kDefaultBaudEntry));
    h.core.saveDataTicked = true;
    h.core.ToggleRecording(true);
    EXPECT_EQ(h.core.savePath, "Sample20240102030405-2.csv");
    EXPECT_EQ(h.LastStatus(), "创建存储文件成功: Sample20240102030405-2.csv");
    EXPECT_EQ(Slurp("Sample20240102030405.csv"), "someone else's");
    EXPECT_EQ(Slurp("Sample20240102030405-2.csv"),
              "DeviceNo,,[--------],[--------],\r\nDeviceInfo,,[],[],\r\nDeviceRange,,[--],[--],\r\n");
    EXPECT_EQ(h.core.recordCounter, 0u);
}

TEST_F(RecordingCoreTest, StartIsRefusedWhileDisconnectedOrWhenTheFileCannotBeOpened) {
    TestHost h;
    h.core.saveDataTicked = true;
    h.saveBoxShown = true;
    h.core.ToggleRecording(true);
    ASSERT_EQ(h.messages.size(), 1u);
    EXPECT_EQ(h.messages[0].text, "请先选择连接主控设备");
    EXPECT_EQ(h.messages[0].caption, "存储警告");
    EXPECT_EQ(h.messages[0].icon, MessageIcon::Warning);
    EXPECT_FALSE(h.core.saveDataTicked);
    EXPECT_FALSE(h.saveBoxShown);
    EXPECT_TRUE(h.statusLines.empty());
    EXPECT_EQ(FileCount(), 0u);

    struct Case {
        const char* name;
        std::string path;
    };
    std::filesystem::create_directory("a-folder");
    const Case cases[] = {{"missing_folder", "no/such/dir/rec.csv"}, {"a_folder", "a-folder"}};
    ASSERT_TRUE(h.core.Connect(kDefaultBaudEntry));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        h.core.savePath = c.path;
        h.core.saveInterval = 3;
        h.core.saveDataTicked = h.saveBoxShown = true;
        h.core.ToggleRecording(true);
        EXPECT_EQ(h.LastStatus(), "创建/打开存储文件失败: " + c.path);
        EXPECT_FALSE(h.core.saveDataTicked);
        EXPECT_FALSE(h.saveBoxShown);
        EXPECT_EQ(h.core.savePath, c.path);
        EXPECT_FALSE(h.loop.TimerRunning(TIMER_RECORD));
    }
    EXPECT_EQ(h.messages.size(), 1u);
}

TEST_F(RecordingCoreTest, StopAndDisconnectEndTheRecording) {
    struct Case {
        const char* name;
        bool byDisconnect;
    };
    for (const Case c : {Case{"untick", false}, Case{"disconnect", true}}) {
        SCOPED_TRACE(c.name);
        TestHost h;
        ConnectAndRecord(h, "chosen.csv", 2);
        h.Run(2000);
        ASSERT_EQ(h.core.recordCounter, 1u);
        if (c.byDisconnect) {
            h.core.Disconnect();
            EXPECT_FALSE(h.saveBoxShown);
        } else {
            h.core.saveDataTicked = false;
            h.core.ToggleRecording(false);
        }
        EXPECT_FALSE(h.core.saveDataTicked);
        EXPECT_EQ(CountOf(h.StatusTexts(), "数据保存结束"), 1);
        EXPECT_EQ(h.core.savePath, "");
        EXPECT_FALSE(h.loop.TimerRunning(TIMER_RECORD));
        h.Run(10000);
        EXPECT_EQ(Lines(Slurp("chosen.csv")).size(), 4u);
        EXPECT_EQ(h.core.recordCounter, 1u);  // kept until the next start
    }
}

TEST_F(RecordingCoreTest, RowsAreSkippedWhileAnotherProgramHoldsTheFile) {
    TestHost h;
    ConnectAndRecord(h, "rec.csv", 1);
    h.Run(1000);
    ASSERT_EQ(h.core.recordCounter, 1u);
    const std::size_t statusCount = h.statusLines.size();

    const int other = ::open("rec.csv", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    h.Run(3000);
    EXPECT_EQ(h.core.recordCounter, 1u);
    EXPECT_EQ(h.statusLines.size(), statusCount);  // skipped silently
    EXPECT_EQ(Lines(Slurp("rec.csv")).size(), 4u);
    ::close(other);

    h.Run(2000);
    EXPECT_EQ(h.core.recordCounter, 3u);
    EXPECT_EQ(h.LastStatus(), "已存储3条数据");
    EXPECT_EQ(Lines(Slurp("rec.csv")).size(), 6u);
}

TEST_F(RecordingCoreTest, ADeletedFileIsCreatedAgainWithoutHeader) {
    TestHost h;
    ConnectAndRecord(h, "rec.csv", 1);
    h.Run(1000);
    std::filesystem::remove("rec.csv");
    h.Run(1000);
    const auto lines = Lines(Slurp("rec.csv"));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].substr(0, 10), "2024-01-02");
    EXPECT_EQ(h.core.recordCounter, 2u);
}

TEST_F(RecordingCoreTest, AFullDiskIsReportedAndNothingIsCounted) {
    TestHost h;
    ConnectAndRecord(h, "rec.csv", 1);
    h.Run(1000);
    ASSERT_EQ(h.core.recordCounter, 1u);
    h.core.savePath = "/dev/full";
    h.Run(2000);
    EXPECT_EQ(h.core.recordCounter, 1u);
    EXPECT_EQ(h.LastStatus(), "写入存储文件失败: /dev/full (" + std::string(std::strerror(ENOSPC)) + ")");
    EXPECT_EQ(CountOf(h.StatusTexts(), h.LastStatus()), 2);
    EXPECT_TRUE(h.core.saveDataTicked);
    EXPECT_TRUE(h.loop.TimerRunning(TIMER_RECORD));

    // A header that cannot be written refuses the start.
    h.core.saveDataTicked = false;
    h.core.ToggleRecording(false);
    h.core.savePath = "/dev/full";
    h.core.saveDataTicked = true;
    h.core.ToggleRecording(true);
    EXPECT_FALSE(h.core.saveDataTicked);
    EXPECT_EQ(h.LastStatus(), "写入存储文件失败: /dev/full (" + std::string(std::strerror(ENOSPC)) + ")");
}

}  // namespace
}  // namespace zuz::test
