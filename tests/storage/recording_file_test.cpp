#include "storage/recording_file.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "temp_dir.h"

namespace zuz::test {
namespace {

using namespace std::chrono;

// 2024-01-02 03:04:05.678 UTC
const system_clock::time_point kStart{milliseconds(1704164645678)};

class RecordingFileTest : public TempDirTest {
protected:
    std::array<ChannelReading, 3> channels;
    const std::string path = "rec.csv";

    std::string Row(system_clock::time_point when = kStart) {
        std::string row;
        AppendRecordingDataRow(row, when, channels);
        return row;
    }
};

TEST_F(RecordingFileTest, HeaderRowsNameEveryChannelAndConvertToGbk) {
    channels[0].SetSerialNo(0x0012AB34);
    channels[0].SetRange(0xAB);  // 2KΩ
    channels[0].SetRemark("1\u53F7\u7089");
    channels[1].SetRemark("a,b");  // a comma splits the field: nothing is quoted
    channels[2].SetRange(0x6D);    // 100℃
    const auto rows = RecordingHeaderRows(channels);
    EXPECT_EQ(rows[0], "DeviceNo,,[0012AB34],[--------],[--------],\r\n");
    EXPECT_EQ(rows[1], "DeviceInfo,,[1\u53F7\u7089],[a,b],[],\r\n");
    EXPECT_EQ(rows[2], "DeviceRange,,[2K\u03A9],[--],[100\u2103],\r\n");

    ASSERT_TRUE(WriteRecordingHeader(path, rows).ok());
    EXPECT_EQ(Slurp(path),
              "DeviceNo,,[0012AB34],[--------],[--------],\r\n"
              "DeviceInfo,,[1\xBA\xC5\xC2\xAF],[a,b],[],\r\n"
              "DeviceRange,,[2K\xA6\xB8],[--],[100\xA1\xE6],\r\n");
}

TEST_F(RecordingFileTest, DataRowsCarryLocalDateTimeWithMilliseconds) {
    struct Case {
        const char* name;
        system_clock::time_point when;
        const char* stamp;
    };
    const Case cases[] = {
        {"start", kStart, "2024-01-02,03:04:05:678,"},
        {"whole_second", kStart + milliseconds(322), "2024-01-02,03:04:06:000,"},
        {"next_day", kStart + hours(21), "2024-01-03,00:04:05:678,"},
        {"before_1970", system_clock::time_point(milliseconds(-1)), "1969-12-31,23:59:59:999,"},
    };
    channels[0].SetValue32(123456);
    const std::string values = channels[0].GetValueText() + ",----,----,\r\n";
    for (const Case& c : cases) EXPECT_EQ(Row(c.when), c.stamp + values) << c.name;
}

TEST_F(RecordingFileTest, AStartEmptiesAChosenFileAndRowsAreAppended) {
    Put(path, std::string(500, 'o'));
    ASSERT_TRUE(WriteRecordingHeader(path, RecordingHeaderRows(channels)).ok());
    ASSERT_TRUE(AppendRecordingRow(path, Row()).ok());
    ASSERT_TRUE(AppendRecordingRow(path, Row(kStart + milliseconds(100))).ok());
    const std::string header = RecordingHeaderRows(channels)[0] + RecordingHeaderRows(channels)[1] +
                               RecordingHeaderRows(channels)[2];
    EXPECT_EQ(Slurp(path), header + Row() + Row(kStart + milliseconds(100)));
}

TEST_F(RecordingFileTest, AutomaticNamesNeverReplaceAFile) {
    EXPECT_EQ(AutomaticRecordingName(kStart), "Sample20240102030405.csv");
    Put("Sample20240102030405.csv", "x");
    Put("Sample20240102030405-2.csv", "x");
    Put("Sample20240102030405-4.csv", "x");
    EXPECT_EQ(AutomaticRecordingName(kStart), "Sample20240102030405-3.csv");
    EXPECT_EQ(AutomaticRecordingName(kStart, dir.string()), (dir / "Sample20240102030405-3.csv").string());
    EXPECT_EQ(AutomaticRecordingName(kStart + seconds(1)), "Sample20240102030406.csv");
}

TEST_F(RecordingFileTest, ALockedFileIsSkippedUntilItIsFree) {
    ASSERT_TRUE(WriteRecordingHeader(path, RecordingHeaderRows(channels)).ok());
    const std::string header = Slurp(path);
    const int other = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    const RecordingResult locked = AppendRecordingRow(path, Row());
    EXPECT_EQ(locked.kind, RecordingResult::Kind::OpenFailed);
    EXPECT_EQ(WriteRecordingHeader(path, RecordingHeaderRows(channels)).kind, RecordingResult::Kind::OpenFailed);
    EXPECT_EQ(Slurp(path), header);
    ::close(other);
    EXPECT_TRUE(AppendRecordingRow(path, Row()).ok());
    EXPECT_EQ(Slurp(path), header + Row());
}

TEST_F(RecordingFileTest, FailuresAreToldApart) {
    struct Case {
        const char* name;
        std::string path;
        RecordingResult::Kind kind;
        int error;
    };
    std::filesystem::create_directory("folder");
    const Case cases[] = {
        {"missing_folder", "no/such/folder.csv", RecordingResult::Kind::OpenFailed, ENOENT},
        {"a_folder", "folder", RecordingResult::Kind::OpenFailed, EISDIR},
        {"full_device", "/dev/full", RecordingResult::Kind::WriteFailed, ENOSPC},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const RecordingResult row = AppendRecordingRow(c.path, Row());
        EXPECT_EQ(row.kind, c.kind);
        EXPECT_EQ(row.error, c.error);
        const RecordingResult header = WriteRecordingHeader(c.path, RecordingHeaderRows(channels));
        EXPECT_EQ(header.kind, c.kind);
        EXPECT_EQ(header.error, c.error);
    }
}

TEST_F(RecordingFileTest, ADeletedFileStartsAgainWithoutHeader) {
    ASSERT_TRUE(WriteRecordingHeader(path, RecordingHeaderRows(channels)).ok());
    std::filesystem::remove(path);
    ASSERT_TRUE(AppendRecordingRow(path, Row()).ok());
    EXPECT_EQ(Slurp(path), Row());
}

// A file-size limit makes the kernel take only part of a row; the part must not stay.
TEST_F(RecordingFileTest, ARowThatDoesNotFitWholeIsCutOffAgain) {
    ASSERT_TRUE(WriteRecordingHeader(path, RecordingHeaderRows(channels)).ok());
    ASSERT_TRUE(AppendRecordingRow(path, Row()).ok());
    const std::string before = Slurp(path);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{before.size() + 10, before.size() + 10};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(3);
        const RecordingResult r = AppendRecordingRow(path, Row());
        ::_exit(r.kind == RecordingResult::Kind::WriteFailed && r.error == EFBIG ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(Slurp(path), before);
}

}  // namespace
}  // namespace zuz::test
