#include "display/channel_reading.h"

#include <algorithm>
#include <cstdio>

#include "display/range_table.h"

namespace zuz {
namespace {

constexpr double kPowersOfTen[] = {1.0, 10.0, 100.0, 1000.0, 10000.0, 100000.0, 1000000.0, 10000000.0, 1e8, 1e9};
constexpr std::uint64_t kIntegerPowersOfTen[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000,
                                                 100000000, 1000000000};

// Writes `value` in decimal with at least `minDigits` digits (zero-padded) at `out`; returns
// the end. Readings arrive ten or more times a second per channel, so this stays off printf.
char* WriteDigits(char* out, std::uint64_t value, int minDigits) {
    char reversed[24];
    int n = 0;
    do {
        reversed[n++] = char('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (n < minDigits) reversed[n++] = '0';
    while (n > 0) *out++ = reversed[--n];
    return out;
}

}  // namespace

// The text is what printf gives for "%0W.Df" of raw / 10^D (or "%0Wd" of raw), with one more
// column for a negative reading. A reading is an integer, so its decimal digits are exact: the
// fixed-point text is the reading's own digits with a point put in, which printf's rounding of
// the quotient gives too (tested against printf over the whole table).
std::string FormatReading(std::int32_t raw, NumberFormat format, double* displayValue) {
    const bool negative = raw < 0;
    const std::uint64_t magnitude = negative ? std::uint64_t(-std::int64_t(raw)) : std::uint64_t(raw);
    char text[48];
    char* out = text;
    if (negative) *out++ = '-';
    if (format.IsWhole()) {
        // The whole-number formats were sized for 16-bit readings; a wider 32-bit reading is
        // printed in full rather than cut to its low 16 bits.
        *displayValue = raw;
        out = WriteDigits(out, magnitude, format.width);
    } else {
        const int decimals = format.decimals;
        *displayValue = raw / kPowersOfTen[decimals];
        const std::uint64_t divisor = kIntegerPowersOfTen[decimals];
        // Width counts the decimal point and the decimals; the negative widening adds the sign.
        const int integerDigits = std::max(1, int(format.width) - decimals - (decimals > 0 ? 1 : 0));
        out = WriteDigits(out, magnitude / divisor, integerDigits);
        if (decimals > 0) {
            *out++ = '.';
            out = WriteDigits(out, magnitude % divisor, decimals);
        }
    }
    return std::string(text, out);
}

void ChannelReading::Reset() {
    m_strType = "--";
    m_strRange = "--";
    m_strSerialNo = "--------";
    m_strUnit = "V";
    m_strValue = "-----";
    m_strRemark.clear();
    m_bMarker = false;
    RequestRepaint();
}

void ChannelReading::SetFlags(std::uint8_t flags) {
    m_nFlags = flags;
    m_strType = (flags & kAcFlag) ? "AC" : "DC";
    RequestRepaint();
}

void ChannelReading::SetRange(std::uint8_t code) {
    m_nRange = code;
    if (const RangeRow* row = FindRange(code)) {
        if (!row->range.empty()) {
            m_strRange = row->range;
            if (row->temperature) m_strType = "TMP";
        }
        if (!row->unit.empty()) m_strUnit = row->unit;
    }
    RequestRepaint();
}

void ChannelReading::SetSerialNo(std::uint32_t serial) {
    m_dwSerialNo = serial;
    char text[16];
    std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(serial));
    m_strSerialNo = text;
    RequestRepaint();
}

void ChannelReading::SetRemark(const std::string& text) { m_strRemark = text; }

void ChannelReading::SetValue32(std::int32_t raw) {
    m_nValue32 = raw;
    const bool fine = (m_nFlags & 0x0F) == kFine32Resolution;
    const RangeRow* row = FindRange(m_nRange);
    const NumberFormat format = !row ? (fine ? kDefaultFineFormat : kDefaultStandardFormat)
                                     : (fine ? row->fine32 : row->standard);
    ApplyValue(raw, format, raw == kOverload32);
}

void ChannelReading::SetValue16(std::int16_t raw) {
    m_nValue16 = raw;
    const bool fine = (m_nFlags & 0x0F) == kFine16Resolution;
    const RangeRow* row = FindRange(m_nRange);
    const NumberFormat format = !row ? (fine ? kDefaultFineFormat : kDefaultStandardFormat)
                                     : (fine ? row->fine16 : row->standard);
    ApplyValue(raw, format, raw == kOverload16);
}

void ChannelReading::ApplyValue(std::int32_t raw, NumberFormat format, bool overload) {
    std::string text = FormatReading(raw, format, &m_dValue);
    m_strValue = overload ? std::string("OVLD") : std::move(text);
    m_bMarker = !m_bMarker;
    RequestRepaint();
}

std::string ChannelReading::TitleText() const {
    return m_strType + "-" + m_strRange + "-" + (m_strRemark.empty() ? m_strSerialNo : m_strRemark);
}

}  // namespace zuz
