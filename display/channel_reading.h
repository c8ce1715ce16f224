// What one channel knows of its instrument, and the texts that its panel draws and the
// recording writes. Texts are made once, when data arrive; drawing and recording only copy
// them. Plain data: it needs no window, and reaches one only through an optional repaint hook.
//
// Call on the monitor's thread only.
#pragma once

#include <cstdint>
#include <string>

#include "display/range_table.h"

namespace zuz {

// Whoever draws a channel: told to repaint the whole panel after a change.
class IPanelView {
public:
    virtual ~IPanelView() = default;
    virtual void Repaint() = 0;
};

class ChannelReading {
public:
    // Bits 0-3 of the flag byte are the resolution code; bit 5 marks an AC measurement.
    static constexpr std::uint8_t kAcFlag = 0x20;
    static constexpr std::uint8_t kFine32Resolution = 3;
    static constexpr std::uint8_t kFine16Resolution = 1;
    // Raw readings that mean "overload".
    static constexpr std::int32_t kOverload32 = static_cast<std::int32_t>(0x80008000u);
    static constexpr std::int16_t kOverload16 = static_cast<std::int16_t>(0x8000);

    // The view to repaint after changes; nullptr detaches (changes then repaint nothing).
    void AttachView(IPanelView* view) { view_ = view; }

    // Placeholders back, remark cleared, marker off; flags, range, serial and raw readings
    // stay, so a short reading after a Reset still formats with the old range.
    void Reset();
    // Stores the flag byte; the type text becomes "AC" or "DC". The value text stays.
    void SetFlags(std::uint8_t flags);
    // Stores the range code; range, unit and type texts from the range table where it has
    // them. The value text stays.
    void SetRange(std::uint8_t code);
    void SetSerialNo(std::uint32_t serial);
    // No repaint: a new remark shows at the next repaint that something else causes.
    void SetRemark(const std::string& text);
    // Format the reading with the flags and range in force now, flip the activity marker.
    void SetValue32(std::int32_t raw);
    void SetValue16(std::int16_t raw);

    std::string GetSerialNoText() const { return m_strSerialNo; }
    std::string GetRangeText() const { return m_strRange; }
    std::string GetValueText() const { return m_strValue; }
    std::string GetRemark() const { return m_strRemark; }

    // Read-only views for the panel and tools (no copies).
    const std::string& TypeText() const { return m_strType; }
    const std::string& RangeText() const { return m_strRange; }
    const std::string& SerialNoText() const { return m_strSerialNo; }
    const std::string& UnitText() const { return m_strUnit; }
    const std::string& ValueText() const { return m_strValue; }
    const std::string& Remark() const { return m_strRemark; }
    bool Marker() const { return m_bMarker; }
    std::uint8_t Flags() const { return m_nFlags; }
    std::uint8_t RangeCode() const { return m_nRange; }
    std::uint32_t SerialNo() const { return m_dwSerialNo; }
    std::int16_t Value16() const { return m_nValue16; }
    std::int32_t Value32() const { return m_nValue32; }
    double Value() const { return m_dValue; }
    // The title line: type-range-remark, or type-range-serial when there is no remark.
    std::string TitleText() const;

private:
    void ApplyValue(std::int32_t raw, NumberFormat format, bool overload);
    void RequestRepaint() {
        if (view_) view_->Repaint();
    }

    std::uint8_t m_nFlags = 0x11;
    std::uint8_t m_nRange = 0xC1;  // "2V"
    std::uint32_t m_dwSerialNo = 0;
    std::int16_t m_nValue16 = 0;
    std::int32_t m_nValue32 = 0;
    double m_dValue = 0.0;
    std::string m_strType = "--";
    std::string m_strRange = "--";
    std::string m_strSerialNo = "--------";
    std::string m_strUnit = "V";
    std::string m_strValue = "----";
    std::string m_strRemark;
    bool m_bMarker = false;
    IPanelView* view_ = nullptr;
};

// Formats a raw reading with a zero-padded format; a negative reading gets one more column
// so that it keeps its digits. Fixed-point formats divide by 10^decimals and store the result
// in *displayValue; whole-number formats print the reading as it is.
std::string FormatReading(std::int32_t raw, NumberFormat format, double* displayValue);

}  // namespace zuz
