// An INI text in memory, read and written the way the instruments' Windows tools read and
// write their profile files: "[Section]" lines, "Key=Value" lines, ';' or '#' comments.
// Section and key names match ignoring ASCII letter case; blanks (space, tab) around names
// and values are ignored. Writing a value changes only that value's line and keeps every
// other line as it was, comments and lines it does not understand included.
//
// Texts are UTF-8; ReadIniFile/WriteIniFile convert at the file boundary. Plain data: use
// one object from one thread at a time.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "storage/text_encoding.h"

namespace zuz {

// The longest value Value() gives, in bytes; the profile reader this replaces used a
// 260-byte buffer with its terminating zero.
inline constexpr std::size_t kIniValueMaxBytes = 259;

class IniFile {
public:
    struct Entry {
        std::string section, key, value;
        int line;  // 1-based
    };

    // Splits at LF (a CR before it is dropped). Never fails: lines it does not understand
    // are kept and listed by MalformedLines().
    static IniFile Parse(std::string_view utf8Text);

    // Every line, CR LF after each one.
    std::string Serialize() const;

    // The value of `key` in the first section named `section`; the first such key wins.
    // Trimmed, then cut to at most kIniValueMaxBytes bytes, backing off so that no UTF-8
    // character is split. Absent when the section or the key is not there; a key with
    // nothing after '=' gives "".
    std::optional<std::string> Value(std::string_view section, std::string_view key) const;

    // Replaces the value of the key in place (the line keeps what stood before the value),
    // or adds "key=value" after the section's last key line, or adds the section at the end.
    // False, changing nothing, when a text could not be read back as written: an empty name,
    // a line break anywhere, ']' in the section, '=' in the key, or a key starting with ';',
    // '#' or '['. Blanks around a value are written but, as always, dropped on reading.
    bool SetValue(std::string_view section, std::string_view key, std::string_view value);

    // Every key line in file order; keys before any section have an empty section name.
    // Values are trimmed but not cut.
    std::vector<Entry> Entries() const;
    // Lines that are neither a section, a key line, a comment nor blank: 1-based line
    // number and the line's text.
    std::vector<std::pair<int, std::string>> MalformedLines() const;

    std::size_t LineCount() const { return lines_.size(); }

private:
    enum class Kind { Blank, Comment, Section, Key, Malformed };
    struct Line {
        std::string text;
        Kind kind = Kind::Blank;
        std::string name;            // section name or key name, trimmed
        std::size_t valueStart = 0;  // Key: where the value begins in `text` (after '=' and blanks)
        int section = -1;            // Key: index of its section's line, -1 before any section
    };

    static Line Classify(std::string text);
    int FindSection(std::string_view section) const;
    int FindKey(int sectionLine, std::string_view key) const;

    std::vector<Line> lines_;
};

// Reads a settings text from disk. UTF-8 (with a byte-order mark, or containing non-ASCII
// bytes that form valid UTF-8) is read as UTF-8; anything else as GB18030. `encoding`, when
// given, receives what was found, so that WriteIniFile can keep it. False with `error` set
// when the file cannot be opened or read or is not a regular file.
bool ReadIniFile(const std::string& path, IniFile& ini, TextEncoding* encoding, std::string* error);

// Writes the whole text in `encoding`, through a temporary file in the same folder that
// then replaces `path`, so that a failed write leaves the old file whole. False with `error`
// set on any failure.
bool WriteIniFile(const std::string& path, const IniFile& ini, TextEncoding encoding, std::string* error);

}  // namespace zuz
