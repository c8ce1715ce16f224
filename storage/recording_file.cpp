#include "storage/recording_file.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "storage/text_encoding.h"

namespace zuz {

namespace {

// An open, exclusively locked recording file; closing releases the lock.
class LockedFile {
public:
    explicit LockedFile(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd_ < 0) {
            error_ = errno;
            return;
        }
        // Another program honouring the lock makes us skip, like a file held without sharing.
        if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            error_ = errno;
            ::close(fd_);
            fd_ = -1;
            return;
        }
        struct stat st {};
        regular_ = ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode);
    }
    ~LockedFile() {
        if (fd_ >= 0) ::close(fd_);
    }
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;

    bool open() const { return fd_ >= 0; }
    int error() const { return error_; }
    int fd() const { return fd_; }
    // Devices such as /dev/full can be recorded into but not truncated.
    bool regular() const { return regular_; }

    // Writes all of `bytes` at the current position, in one write(2) unless the kernel takes
    // less. On failure the file is cut back to where the write began. Returns 0 or errno.
    int WriteWhole(std::string_view bytes) {
        const off_t start = ::lseek(fd_, 0, SEEK_CUR);
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            const int err = n < 0 ? errno : EIO;
            if (regular_ && start >= 0 && done > 0) {
                // Leave no half row behind (best effort; the error is reported either way).
                const int cut = ::ftruncate(fd_, start);
                static_cast<void>(cut);
            }
            return err;
        }
        return 0;
    }

private:
    int fd_ = -1;
    int error_ = 0;
    bool regular_ = false;
};

// The calendar second that holds `when` (rounding down, also before 1970).
std::tm LocalTime(std::chrono::system_clock::time_point when) {
    const std::time_t t = std::chrono::system_clock::to_time_t(std::chrono::floor<std::chrono::seconds>(when));
    std::tm local{};
    localtime_r(&t, &local);
    return local;
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace

std::array<std::string, 3> RecordingHeaderRows(std::span<const ChannelReading> channels) {
    std::array<std::string, 3> rows = {"DeviceNo,,", "DeviceInfo,,", "DeviceRange,,"};
    for (const ChannelReading& channel : channels) {
        rows[0] += "[" + channel.GetSerialNoText() + "],";
        rows[1] += "[" + channel.GetRemark() + "],";
        rows[2] += "[" + channel.GetRangeText() + "],";
    }
    for (std::string& row : rows) row += "\r\n";
    return rows;
}

void AppendRecordingDataRow(std::string& row, std::chrono::system_clock::time_point when,
                            std::span<const ChannelReading> channels) {
    using namespace std::chrono;
    const std::tm local = LocalTime(when);
    const auto milli = static_cast<unsigned>(duration_cast<milliseconds>(when - floor<seconds>(when)).count());
    char stamp[64];
    const int n = std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u,%02u:%02u:%02u:%03u,",
                                unsigned(local.tm_year + 1900), unsigned(local.tm_mon + 1), unsigned(local.tm_mday),
                                unsigned(local.tm_hour), unsigned(local.tm_min), unsigned(local.tm_sec), milli);
    row.append(stamp, static_cast<std::size_t>(n));
    for (const ChannelReading& channel : channels) {
        row += channel.ValueText();
        row += ',';
    }
    row += "\r\n";
}

std::string AutomaticRecordingName(std::chrono::system_clock::time_point when, const std::string& folder) {
    const std::tm local = LocalTime(when);
    char stem[32];
    const std::size_t n = std::strftime(stem, sizeof stem, "Sample%Y%m%d%H%M%S", &local);
    const std::string base(stem, n);
    const std::string prefix = folder.empty() ? "" : (folder.back() == '/' ? folder : folder + "/");
    std::string name = base + ".csv";
    for (unsigned suffix = 2; Exists(prefix + name); ++suffix) name = base + "-" + std::to_string(suffix) + ".csv";
    return prefix + name;
}

RecordingResult WriteRecordingHeader(const std::string& path, const std::array<std::string, 3>& utf8Rows) {
    LockedFile file(path);
    if (!file.open()) return {RecordingResult::Kind::OpenFailed, file.error()};
    // A recording starts a file afresh: old content would sit between header and rows.
    if (file.regular() && ::ftruncate(file.fd(), 0) != 0) return {RecordingResult::Kind::WriteFailed, errno};
    for (const std::string& row : utf8Rows)
        if (const int err = file.WriteWhole(Utf8ToGb18030(row)); err != 0)
            return {RecordingResult::Kind::WriteFailed, err};
    return {};
}

RecordingResult AppendRecordingRow(const std::string& path, std::string_view utf8Row) {
    LockedFile file(path);
    if (!file.open()) return {RecordingResult::Kind::OpenFailed, file.error()};
    if (::lseek(file.fd(), 0, SEEK_END) < 0 && file.regular()) return {RecordingResult::Kind::WriteFailed, errno};
    const int err = IsAscii(utf8Row) ? file.WriteWhole(utf8Row) : file.WriteWhole(Utf8ToGb18030(utf8Row));
    if (err != 0) return {RecordingResult::Kind::WriteFailed, err};
    return {};
}

}  // namespace zuz
