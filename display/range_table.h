// What each range code of an instrument means: its range text, its unit text and the number
// formats of its readings. One row per code; a code without a row changes no text and
// formats its readings as whole numbers.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace zuz {

// A zero-padded printf number format: "%0W.Df" when decimals >= 0, "%0Wd" when decimals < 0.
struct NumberFormat {
    std::uint8_t width;
    std::int8_t decimals;

    constexpr bool IsWhole() const { return decimals < 0; }
    friend constexpr bool operator==(NumberFormat, NumberFormat) = default;
};

struct RangeRow {
    std::uint8_t code;
    std::string_view range;  // empty: the range text stays as it was
    std::string_view unit;   // empty: the unit text stays as it was
    NumberFormat fine32;     // 32-bit readings with resolution code 3
    NumberFormat fine16;     // 16-bit readings with resolution code 1
    NumberFormat standard;   // every other reading
    bool temperature;        // the type text becomes "TMP"
};

// Formats for codes with no row.
inline constexpr NumberFormat kDefaultFineFormat{5, -1};      // "%05d"
inline constexpr NumberFormat kDefaultStandardFormat{4, -1};  // "%04d"

// The row for a code, or nothing.
const RangeRow* FindRange(std::uint8_t code);

// Every row, in code order (for tests and tools).
std::span<const RangeRow> AllRanges();

// "%07.5f" style text of a format, for messages and tests.
std::string FormatText(NumberFormat format);

}  // namespace zuz
