// Conversion between the UTF-8 texts the program keeps in memory and the GB18030 bytes of the
// files it shares with the instruments' other tools (GB18030 is byte-identical to GBK for
// every GBK character and can encode every Unicode character).
//
// Pure functions and a small stream converter; safe from any thread (each converter object
// from one thread at a time).
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace zuz {

// How a text file is stored on disk.
enum class TextEncoding {
    Gb18030,  // the default: GBK/GB18030 bytes, no byte-order mark
    Utf8,     // UTF-8 without a byte-order mark
    Utf8Bom,  // UTF-8 starting with EF BB BF
};

inline constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates, nothing above
// U+10FFFF, no cut-off sequence at the end).
bool IsValidUtf8(std::string_view text);
// True when every byte is below 0x80.
bool IsAscii(std::string_view text);

// Converts a whole text. Bytes that cannot be converted become U+FFFD (from GB18030) or its
// GB18030 form 84 31 A4 37 (from UTF-8); `lossless`, when given, tells whether that happened.
std::string Gb18030ToUtf8(std::string_view gb, bool* lossless = nullptr);
std::string Utf8ToGb18030(std::string_view utf8, bool* lossless = nullptr);

// Converts a text that arrives in pieces. A multi-byte character cut by the end of a piece is
// kept and completed by the next piece; Finish() turns a leftover into a replacement.
class TextConverter {
public:
    enum class Direction { Gb18030ToUtf8, Utf8ToGb18030 };
    explicit TextConverter(Direction direction);
    ~TextConverter();
    TextConverter(const TextConverter&) = delete;
    TextConverter& operator=(const TextConverter&) = delete;

    // Appends the converted form of `piece` to `out`.
    void Feed(std::string_view piece, std::string& out);
    // Ends the text: an incomplete character left over becomes a replacement.
    void Finish(std::string& out);
    // False once anything had to be replaced.
    bool Lossless() const { return lossless_; }

private:
    void Convert(std::string_view input, std::string& out, bool final);

    Direction direction_;
    void* cd_;  // iconv_t
    std::string pending_;
    bool lossless_ = true;
};

}  // namespace zuz
