// Conversions between UTF-8 and GB18030 on any bytes: a valid UTF-8 text survives the round
// trip exactly, a lossless decode encodes back to the same bytes, the output of a decode is
// always valid UTF-8, and converting in pieces gives what converting at once gives.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "storage/text_encoding.h"
#include "fuzz_check.h"

namespace {

// Well-formed UTF-8 by the table of the Unicode standard (no overlongs, no surrogates,
// nothing above U+10FFFF).
bool ReferenceValidUtf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t n;
        unsigned lo = 0x80, hi = 0xBF;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            n = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            n = 2;
            if (c == 0xE0) lo = 0xA0;
            if (c == 0xED) hi = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            n = 3;
            if (c == 0xF0) lo = 0x90;
            if (c == 0xF4) hi = 0x8F;
        } else {
            return false;
        }
        for (std::size_t k = 1; k <= n; ++k) {
            if (i + k >= s.size()) return false;
            const auto t = static_cast<unsigned char>(s[i + k]);
            if (t < (k == 1 ? lo : 0x80) || t > (k == 1 ? hi : 0xBF)) return false;
        }
        i += n + 1;
    }
    return true;
}

std::string InPieces(zuz::TextConverter::Direction d, std::string_view s, std::uint8_t seed) {
    zuz::TextConverter conv(d);
    std::string out;
    std::size_t at = 0;
    unsigned step = seed;
    while (at < s.size()) {
        step = step * 1103515245u + 12345u;
        const std::size_t n = std::min<std::size_t>(s.size() - at, (step >> 16) % 5);
        conv.Feed(s.substr(at, n), out);
        at += n;
    }
    conv.Finish(out);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t seed = data[0];
    const std::string_view s(reinterpret_cast<const char*>(data) + 1, size - 1);

    const bool valid = zuz::IsValidUtf8(s);
    CHECK(valid == ReferenceValidUtf8(s));
    if (valid) {
        bool lossless = false;
        const std::string gb = zuz::Utf8ToGb18030(s, &lossless);
        CHECK(lossless);
        CHECK(zuz::Gb18030ToUtf8(gb) == s);
        CHECK(InPieces(zuz::TextConverter::Direction::Utf8ToGb18030, s, seed) == gb);
    }

    bool lossless = false;
    const std::string utf8 = zuz::Gb18030ToUtf8(s, &lossless);
    CHECK(zuz::IsValidUtf8(utf8));
    if (lossless) CHECK(zuz::Utf8ToGb18030(utf8) == s);
    CHECK(InPieces(zuz::TextConverter::Direction::Gb18030ToUtf8, s, seed) == utf8);
    return 0;
}
