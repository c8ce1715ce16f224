// The recording file: a comma-separated text of three header rows (each channel's serial
// number, remark and range) and one time-stamped row of every channel's value text per
// recording event. Rows are built in UTF-8 and stored as GB18030.
//
// Every access opens the file, holds an exclusive advisory lock (flock) while it is open, and
// closes it again, so no descriptor outlives a call and the file on disk is complete after
// every row. A row goes to the kernel in one write(2): there is no user-space buffer to flush.
// There is no fsync per row: it would cost milliseconds, and a row in the page cache survives
// a crash of this program (only a crash of the machine can lose the last rows).
//
// Pure functions over the caller's data; call from one thread at a time per file.
#pragma once

#include <array>
#include <chrono>
#include <span>
#include <string>
#include <string_view>

#include "display/channel_reading.h"

namespace zuz {

// The three header rows, CR LF each: "DeviceNo,,[serial],…", "DeviceInfo,,[remark],…",
// "DeviceRange,,[range],…", one bracketed field per channel. Nothing is quoted or escaped.
std::array<std::string, 3> RecordingHeaderRows(std::span<const ChannelReading> channels);

// "YYYY-mm-dd,HH:MM:SS:mmm," in local time, then every channel's value text and ",", then
// CR LF. Appends to `row` (so a caller can reuse one buffer).
void AppendRecordingDataRow(std::string& row, std::chrono::system_clock::time_point when,
                            std::span<const ChannelReading> channels);

// "Sample%Y%m%d%H%M%S.csv" of the local time `when`; when a file of that name exists in
// `folder` (empty: the working directory), "-2", "-3" … is put before ".csv", the smallest
// that makes it new. The result has no folder part when `folder` is empty.
std::string AutomaticRecordingName(std::chrono::system_clock::time_point when, const std::string& folder = "");

struct RecordingResult {
    enum class Kind {
        Ok,
        OpenFailed,   // could not open or lock the file; nothing was written
        WriteFailed,  // opened, but the data could not be written; the file is as before
    };
    Kind kind = Kind::Ok;
    int error = 0;  // errno of the failure
    bool ok() const { return kind == Kind::Ok; }
};

// Opens (creating) the file, empties it and writes the three rows, one write each.
RecordingResult WriteRecordingHeader(const std::string& path, const std::array<std::string, 3>& utf8Rows);

// Opens (creating, so a deleted file starts again without header) the file and appends the
// row at its end. A row that cannot be written whole is cut off again, so the file never ends
// in half a row.
RecordingResult AppendRecordingRow(const std::string& path, std::string_view utf8Row);

}  // namespace zuz
