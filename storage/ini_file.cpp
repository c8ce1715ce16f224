#include "storage/ini_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zuz {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
    a = Trim(a);
    b = Trim(b);
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    return true;
}

bool HasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

// At most `limit` bytes, never ending inside a UTF-8 character.
std::string CutUtf8(std::string_view s, std::size_t limit) {
    if (s.size() <= limit) return std::string(s);
    std::size_t end = limit;
    // Back off over continuation bytes to the start of the character that the cut splits.
    while (end > 0 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) --end;
    return std::string(s.substr(0, end));
}

std::string ErrnoText(const std::string& what, const std::string& path, int err) {
    return what + " " + path + ": " + std::strerror(err);
}

}  // namespace

IniFile::Line IniFile::Classify(std::string text) {
    Line line;
    line.text = std::move(text);
    const std::string_view t = Trim(line.text);
    if (t.empty()) {
        line.kind = Kind::Blank;
    } else if (t.front() == ';' || t.front() == '#') {
        line.kind = Kind::Comment;
    } else if (t.front() == '[') {
        const std::size_t close = t.find(']');
        if (close == std::string_view::npos || Trim(t.substr(1, close - 1)).empty()) {
            line.kind = Kind::Malformed;
        } else {
            line.kind = Kind::Section;
            line.name = std::string(Trim(t.substr(1, close - 1)));
        }
    } else if (const std::size_t eq = line.text.find('='); eq != std::string::npos &&
                                                           !Trim(std::string_view(line.text).substr(0, eq)).empty()) {
        line.kind = Kind::Key;
        line.name = std::string(Trim(std::string_view(line.text).substr(0, eq)));
        std::size_t start = eq + 1;
        while (start < line.text.size() && IsBlank(line.text[start])) ++start;
        line.valueStart = start;
    } else {
        line.kind = Kind::Malformed;
    }
    return line;
}

IniFile IniFile::Parse(std::string_view text) {
    IniFile ini;
    int section = -1;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view raw = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
        Line line = Classify(std::string(raw));
        if (line.kind == Kind::Section) section = static_cast<int>(ini.lines_.size());
        if (line.kind == Kind::Key) line.section = section;
        ini.lines_.push_back(std::move(line));
    }
    return ini;
}

std::string IniFile::Serialize() const {
    std::size_t size = 0;
    for (const Line& line : lines_) size += line.text.size() + 2;
    std::string out;
    out.reserve(size);
    for (const Line& line : lines_) {
        out += line.text;
        out += "\r\n";
    }
    return out;
}

int IniFile::FindSection(std::string_view section) const {
    for (std::size_t i = 0; i < lines_.size(); ++i)
        if (lines_[i].kind == Kind::Section && SameName(lines_[i].name, section)) return static_cast<int>(i);
    return -1;
}

int IniFile::FindKey(int sectionLine, std::string_view key) const {
    for (std::size_t i = static_cast<std::size_t>(sectionLine) + 1; i < lines_.size(); ++i) {
        const Line& line = lines_[i];
        if (line.kind == Kind::Section) break;
        if (line.kind == Kind::Key && SameName(line.name, key)) return static_cast<int>(i);
    }
    return -1;
}

std::optional<std::string> IniFile::Value(std::string_view section, std::string_view key) const {
    const int s = FindSection(section);
    if (s < 0) return std::nullopt;
    const int k = FindKey(s, key);
    if (k < 0) return std::nullopt;
    const Line& line = lines_[static_cast<std::size_t>(k)];
    return CutUtf8(Trim(std::string_view(line.text).substr(line.valueStart)), kIniValueMaxBytes);
}

bool IniFile::SetValue(std::string_view section, std::string_view key, std::string_view value) {
    const std::string_view s = Trim(section), k = Trim(key);
    if (s.empty() || k.empty() || HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value) ||
        s.find(']') != std::string_view::npos || k.find('=') != std::string_view::npos || k.front() == ';' ||
        k.front() == '#' || k.front() == '[')
        return false;

    const int sectionLine = FindSection(s);
    if (sectionLine >= 0) {
        if (const int keyLine = FindKey(sectionLine, k); keyLine >= 0) {
            Line& line = lines_[static_cast<std::size_t>(keyLine)];
            line.text.resize(line.valueStart);
            line.text.append(value);
            return true;
        }
        // After the section's last key line (or its header), before any blank lines or
        // comments that lead into the next section.
        std::size_t at = static_cast<std::size_t>(sectionLine);
        for (std::size_t i = at + 1; i < lines_.size() && lines_[i].kind != Kind::Section; ++i)
            if (lines_[i].kind == Kind::Key) at = i;
        Line line = Classify(std::string(k) + "=" + std::string(value));
        line.section = sectionLine;
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at) + 1, std::move(line));
        // Lines after the insertion moved down by one: renumber the section links.
        int current = -1;
        for (std::size_t i = 0; i < lines_.size(); ++i) {
            if (lines_[i].kind == Kind::Section) current = static_cast<int>(i);
            if (lines_[i].kind == Kind::Key) lines_[i].section = current;
        }
        return true;
    }
    const int header = static_cast<int>(lines_.size());
    lines_.push_back(Classify("[" + std::string(s) + "]"));
    Line line = Classify(std::string(k) + "=" + std::string(value));
    line.section = header;
    lines_.push_back(std::move(line));
    return true;
}

std::vector<IniFile::Entry> IniFile::Entries() const {
    std::vector<Entry> entries;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const Line& line = lines_[i];
        if (line.kind != Kind::Key) continue;
        entries.push_back({line.section >= 0 ? lines_[static_cast<std::size_t>(line.section)].name : std::string(),
                           line.name, std::string(Trim(std::string_view(line.text).substr(line.valueStart))),
                           static_cast<int>(i) + 1});
    }
    return entries;
}

std::vector<std::pair<int, std::string>> IniFile::MalformedLines() const {
    std::vector<std::pair<int, std::string>> out;
    for (std::size_t i = 0; i < lines_.size(); ++i)
        if (lines_[i].kind == Kind::Malformed) out.emplace_back(static_cast<int>(i) + 1, lines_[i].text);
    return out;
}

namespace {
// "; 本文件为 GB18030 编码" in GB18030, and a line end.
constexpr std::string_view kGb18030MarkerLine =
    "; \xB1\xBE\xCE\xC4\xBC\xFE\xCE\xAA GB18030 \xB1\xE0\xC2\xEB\r\n";
}  // namespace

bool ReadIniFile(const std::string& path, IniFile& ini, TextEncoding* encoding, std::string* error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (error != nullptr) *error = ErrnoText("cannot open", path, errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int err = errno;
        ::close(fd);
        if (error != nullptr) *error = S_ISREG(st.st_mode) ? ErrnoText("cannot stat", path, err) : path + ": not a regular file";
        return false;
    }
    std::string bytes;
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            bytes.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            const int err = errno;
            ::close(fd);
            if (error != nullptr) *error = ErrnoText("cannot read", path, err);
            return false;
        }
    }
    ::close(fd);

    TextEncoding found;
    std::string text;
    if (std::string_view(bytes).starts_with(kUtf8Bom)) {
        found = TextEncoding::Utf8Bom;
        text = bytes.substr(kUtf8Bom.size());
    } else if (!IsAscii(bytes) && IsValidUtf8(bytes)) {
        found = TextEncoding::Utf8;
        text = std::move(bytes);
    } else {
        // Plain ASCII counts as GB18030, so that Chinese text written into it later is
        // stored the way the other tools expect.
        found = TextEncoding::Gb18030;
        text = Gb18030ToUtf8(bytes);
    }
    ini = IniFile::Parse(text);
    if (encoding != nullptr) *encoding = found;
    return true;
}

bool WriteIniFile(const std::string& path, const IniFile& ini, TextEncoding encoding, std::string* error) {
    std::string bytes;
    switch (encoding) {
        case TextEncoding::Gb18030:
            bytes = Utf8ToGb18030(ini.Serialize());
            // Short Chinese texts in GBK can happen to be valid UTF-8 ("炉" is C2 AF) and would
            // then be read back as UTF-8. A comment line that no UTF-8 text can hold settles
            // it; it is kept by later writes, and other INI readers skip it.
            if (!IsAscii(bytes) && IsValidUtf8(bytes)) bytes = std::string(kGb18030MarkerLine) + bytes;
            break;
        case TextEncoding::Utf8: bytes = ini.Serialize(); break;
        case TextEncoding::Utf8Bom: bytes = std::string(kUtf8Bom) + ini.Serialize(); break;
    }

    // The new text goes into a temporary file beside the old one and replaces it in one
    // rename, so that a crash or a full disk never leaves half a settings file.
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        if (error != nullptr) *error = ErrnoText("cannot create", temp, errno);
        return false;
    }
    auto fail = [&](const char* what, int err) {
        ::close(fd);
        ::unlink(temp.c_str());
        if (error != nullptr) *error = ErrnoText(what, path, err);
        return false;
    };
    // Keep the old file's permissions; a new file gets the usual rw-r--r--.
    struct stat st {};
    const mode_t mode = (::stat(path.c_str(), &st) == 0) ? (st.st_mode & 07777) : 0644;
    if (::fchmod(fd, mode) != 0) return fail("cannot set permissions of", errno);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail("cannot write", errno);
        }
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0) return fail("cannot sync", errno);
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        if (error != nullptr) *error = ErrnoText("cannot close", path, err);
        return false;
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        if (error != nullptr) *error = ErrnoText("cannot replace", path, err);
        return false;
    }
    return true;
}

}  // namespace zuz
