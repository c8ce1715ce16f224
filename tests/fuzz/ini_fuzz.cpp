// The settings reader on any text: parsing and writing back is stable and keeps a CR LF text
// byte for byte, lookups stay within their limits, and a value set is read back as written
// while every other value stays as it was.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "storage/ini_file.h"
#include "storage/text_encoding.h"
#include "fuzz_check.h"

namespace {

// Every line ends with CR LF and no LF stands alone: the form the writer produces.
bool IsCrLfText(std::string_view t) {
    if (t.empty()) return true;
    if (t.size() < 2 || t.substr(t.size() - 2) != "\r\n") return false;
    for (std::size_t i = 0; i < t.size(); ++i)
        if (t[i] == '\n' && (i == 0 || t[i - 1] != '\r')) return false;
    return true;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

bool SameName(std::string_view a, std::string_view b) {
    a = Trim(a), b = Trim(b);
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The tail after the last 0x00 byte (if any) names one section, key and value to set,
    // separated by 0x01; the rest is the file text.
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    const std::size_t cut = all.rfind('\0');
    const std::string_view text = cut == std::string_view::npos ? all : all.substr(0, cut);
    const std::string_view edit = cut == std::string_view::npos ? std::string_view() : all.substr(cut + 1);

    const zuz::IniFile ini = zuz::IniFile::Parse(text);
    const std::string once = ini.Serialize();
    CHECK(zuz::IniFile::Parse(once).Serialize() == once);
    if (IsCrLfText(text)) CHECK(once == text);

    const auto entries = ini.Entries();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto& e = entries[i];
        bool first = true;  // the first key of that name wins; later ones are never read
        for (std::size_t j = 0; j < i && first; ++j)
            first = !(SameName(entries[j].section, e.section) && SameName(entries[j].key, e.key));
        const auto v = ini.Value(e.section, e.key);
        if (!first || !v) continue;  // !v: the key sits in a later section of the same name
        if (e.value.size() <= zuz::kIniValueMaxBytes) {
            CHECK(*v == e.value);
        } else {
            CHECK(v->size() <= zuz::kIniValueMaxBytes);
            // Cut at the limit, backing off to a character start: never more than 3 bytes of
            // a well-formed text. (Files reach the reader converted to valid UTF-8; a run of
            // stray continuation bytes may make it back off further, which is harmless.)
            if (zuz::IsValidUtf8(e.value)) CHECK(v->size() + 3 >= zuz::kIniValueMaxBytes);
            CHECK(e.value.compare(0, v->size(), *v) == 0);
        }
    }

    if (cut == std::string_view::npos) return 0;
    const std::size_t a = edit.find('\1');
    const std::size_t b = a == std::string_view::npos ? a : edit.find('\1', a + 1);
    if (b == std::string_view::npos) return 0;
    const std::string_view section = edit.substr(0, a), key = edit.substr(a + 1, b - a - 1),
                           value = edit.substr(b + 1);

    zuz::IniFile changed = ini;
    if (!changed.SetValue(section, key, value)) {
        CHECK(changed.Serialize() == once);  // a refused write changes nothing
        return 0;
    }
    const auto got = changed.Value(section, key);
    CHECK(got.has_value());
    const std::string_view want = Trim(value);
    CHECK(want.substr(0, got->size()) == *got);
    if (want.size() <= zuz::kIniValueMaxBytes) CHECK(*got == want);
    // What was written reads back the same from the file text.
    const zuz::IniFile reread = zuz::IniFile::Parse(changed.Serialize());
    CHECK(reread.Value(section, key) == got);
    CHECK(changed.LineCount() <= ini.LineCount() + 1 ||
          (changed.LineCount() == ini.LineCount() + 2));  // a new section: header and key
    // Every other key keeps its value.
    for (const auto& e : entries) {
        if (SameName(e.section, section) && SameName(e.key, key)) continue;
        CHECK(reread.Value(e.section, e.key) == ini.Value(e.section, e.key));
    }
    return 0;
}
