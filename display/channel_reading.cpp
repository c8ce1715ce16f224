#include "display/channel_reading.h"

#include <cstdio>

#include "display/range_table.h"

namespace zuz {
namespace {

constexpr double kPowersOfTen[] = {1.0, 10.0, 100.0, 1000.0, 10000.0, 100000.0};

}  // namespace

std::string FormatReading(std::int32_t raw, NumberFormat format, double* displayValue) {
    char text[48];
    int length;
    if (format.IsWhole()) {
        // The whole-number formats were sized for 16-bit readings; a wider 32-bit reading is
        // printed in full rather than cut to its low 16 bits.
        const int width = format.width + (raw < 0 ? 1 : 0);
        length = std::snprintf(text, sizeof text, "%0*d", width, static_cast<int>(raw));
        *displayValue = raw;
    } else {
        const double value = raw / kPowersOfTen[format.decimals];
        const int width = format.width + (value < 0 ? 1 : 0);
        length = std::snprintf(text, sizeof text, "%0*.*f", width, int(format.decimals), value);
        *displayValue = value;
    }
    return std::string(text, static_cast<std::size_t>(length));
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
