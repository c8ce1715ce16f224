#include "storage/text_encoding.h"

#include <cerrno>
#include <cstdint>
#include <iconv.h>

namespace zuz {

namespace {

constexpr std::string_view kUtf8Replacement = "\xEF\xBF\xBD";       // U+FFFD
constexpr std::string_view kGb18030Replacement = "\x84\x31\xA4\x37";  // U+FFFD

}  // namespace

bool IsAscii(std::string_view text) {
    for (const unsigned char c : text)
        if (c >= 0x80) return false;
    return true;
}

bool IsValidUtf8(std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        const unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int length;
        unsigned lowest;  // smallest code point for this length, to refuse overlong forms
        std::uint32_t code;
        if ((c & 0xE0) == 0xC0) {
            length = 2, lowest = 0x80, code = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            length = 3, lowest = 0x800, code = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            length = 4, lowest = 0x10000, code = c & 0x07;
        } else {
            return false;
        }
        if (end - p < length) return false;
        for (int i = 1; i < length; ++i) {
            if ((p[i] & 0xC0) != 0x80) return false;
            code = (code << 6) | (p[i] & 0x3F);
        }
        if (code < lowest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        p += length;
    }
    return true;
}

TextConverter::TextConverter(Direction direction) : direction_(direction) {
    const bool toUtf8 = direction == Direction::Gb18030ToUtf8;
    iconv_t cd = iconv_open(toUtf8 ? "UTF-8" : "GB18030", toUtf8 ? "GB18030" : "UTF-8");
    cd_ = cd == reinterpret_cast<iconv_t>(-1) ? nullptr : cd;
}

TextConverter::~TextConverter() {
    if (cd_ != nullptr) iconv_close(static_cast<iconv_t>(cd_));
}

void TextConverter::Feed(std::string_view piece, std::string& out) {
    if (pending_.empty()) {
        Convert(piece, out, false);
    } else {
        std::string joined = std::move(pending_);
        pending_.clear();
        joined.append(piece);
        Convert(joined, out, false);
    }
}

void TextConverter::Finish(std::string& out) {
    std::string rest = std::move(pending_);
    pending_.clear();
    Convert(rest, out, true);
    if (cd_ != nullptr) iconv(static_cast<iconv_t>(cd_), nullptr, nullptr, nullptr, nullptr);
}

void TextConverter::Convert(std::string_view input, std::string& out, bool final) {
    const std::string_view replacement =
        direction_ == Direction::Gb18030ToUtf8 ? kUtf8Replacement : kGb18030Replacement;
    if (cd_ == nullptr) {
        // No converter in this C library: keep ASCII, replace the rest.
        for (const char c : input) {
            if (static_cast<unsigned char>(c) < 0x80) {
                out.push_back(c);
            } else {
                out.append(replacement);
                lossless_ = false;
            }
        }
        return;
    }
    auto cd = static_cast<iconv_t>(cd_);
    char* in = const_cast<char*>(input.data());
    std::size_t inLeft = input.size();
    char buffer[1024];
    while (inLeft > 0) {
        char* o = buffer;
        std::size_t oLeft = sizeof buffer;
        const std::size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
        out.append(buffer, static_cast<std::size_t>(o - buffer));
        if (r != static_cast<std::size_t>(-1)) continue;
        if (errno == E2BIG) continue;  // buffer full: drain and go on
        if (errno == EINVAL && !final) {
            // A character cut by the end of this piece: keep its bytes for the next one.
            pending_.assign(in, inLeft);
            return;
        }
        // EILSEQ, or an incomplete character at the very end: replace one byte and go on.
        out.append(replacement);
        lossless_ = false;
        ++in;
        --inLeft;
    }
}

std::string Gb18030ToUtf8(std::string_view gb, bool* lossless) {
    if (IsAscii(gb)) {
        if (lossless != nullptr) *lossless = true;
        return std::string(gb);
    }
    TextConverter converter(TextConverter::Direction::Gb18030ToUtf8);
    std::string out;
    out.reserve(gb.size() * 3 / 2);
    converter.Feed(gb, out);
    converter.Finish(out);
    if (lossless != nullptr) *lossless = converter.Lossless();
    return out;
}

std::string Utf8ToGb18030(std::string_view utf8, bool* lossless) {
    if (IsAscii(utf8)) {
        if (lossless != nullptr) *lossless = true;
        return std::string(utf8);
    }
    TextConverter converter(TextConverter::Direction::Utf8ToGb18030);
    std::string out;
    out.reserve(utf8.size());
    converter.Feed(utf8, out);
    converter.Finish(out);
    if (lossless != nullptr) *lossless = converter.Lossless();
    return out;
}

}  // namespace zuz
