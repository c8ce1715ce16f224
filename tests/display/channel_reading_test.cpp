#include "display/channel_reading.h"

#include <gtest/gtest.h>

namespace zuz {
namespace {

class CountingView : public IPanelView {
public:
    void Repaint() override { ++repaints; }
    int repaints = 0;
};

TEST(ChannelReading, FreshAndResetPlaceholders) {
    ChannelReading r;
    EXPECT_EQ(r.TypeText(), "--");
    EXPECT_EQ(r.RangeText(), "--");
    EXPECT_EQ(r.SerialNoText(), "--------");
    EXPECT_EQ(r.UnitText(), "V");
    EXPECT_EQ(r.ValueText(), "----");
    EXPECT_EQ(r.Remark(), "");
    EXPECT_FALSE(r.Marker());
    EXPECT_EQ(r.Flags(), 0x11);
    EXPECT_EQ(r.RangeCode(), 0xC1);
    EXPECT_EQ(r.TitleText(), std::string(14, '-'));

    r.SetFlags(0x23);
    r.SetRange(0xC2);
    r.SetSerialNo(0x1F);
    r.SetRemark("炉");
    r.SetValue32(1234);
    r.Reset();
    EXPECT_EQ(r.TypeText(), "--");
    EXPECT_EQ(r.RangeText(), "--");
    EXPECT_EQ(r.SerialNoText(), "--------");
    EXPECT_EQ(r.UnitText(), "V");
    EXPECT_EQ(r.ValueText(), "-----");
    EXPECT_EQ(r.Remark(), "");
    EXPECT_FALSE(r.Marker());
    // What came from the instrument stays.
    EXPECT_EQ(r.Flags(), 0x23);
    EXPECT_EQ(r.RangeCode(), 0xC2);
    EXPECT_EQ(r.SerialNo(), 0x1Fu);
    EXPECT_EQ(r.Value32(), 1234);
}

TEST(ChannelReading, TypeTextFromFlags) {
    const std::pair<std::uint8_t, const char*> cases[] = {{0x20, "AC"}, {0xFF, "AC"}, {0x00, "DC"}, {0x11, "DC"}};
    for (auto [flags, type] : cases) {
        ChannelReading r;
        r.SetFlags(flags);
        EXPECT_EQ(r.TypeText(), type) << int(flags);
    }
}

TEST(ChannelReading, TemperatureTypeLastsUntilTheNextFlags) {
    ChannelReading r;
    r.SetRange(0x6E);
    EXPECT_EQ(r.TypeText(), "TMP");
    EXPECT_EQ(r.RangeText(), "100℃");
    EXPECT_EQ(r.UnitText(), "℃");
    r.SetFlags(0x20);
    EXPECT_EQ(r.TypeText(), "AC");
    r.SetFlags(0x03);
    r.SetValue32(251);
    EXPECT_EQ(r.ValueText(), "00251");
    r.SetFlags(0x00);
    r.SetValue32(251);
    EXPECT_EQ(r.ValueText(), "0251");
}

TEST(ChannelReading, CodesWithoutTextsLeaveTextsAlone) {
    ChannelReading r;
    r.SetRange(0xC5);  // 200mV
    for (std::uint8_t code : {0x00, 0x80, 0xF0}) {
        r.SetRange(code);
        EXPECT_EQ(r.RangeText(), "200mV");
        EXPECT_EQ(r.UnitText(), "mV");
        EXPECT_EQ(r.RangeCode(), code);
    }
    r.SetRange(0xEA);
    EXPECT_EQ(r.RangeText(), "200mV");
    EXPECT_EQ(r.UnitText(), "V");
}

struct ValueCase {
    const char* name;
    std::uint8_t flags, range;
    bool wide;  // SetValue32, else SetValue16
    std::int32_t raw;
    const char* text;
};

TEST(ChannelReading, ValueFormattingExamples) {
    const ValueCase cases[] = {
        {"2V fine 32", 0x03, 0xC1, true, 123456, "1.23456"},
        {"2V fine 32 negative", 0x03, 0xC1, true, -5, "-0.00005"},
        {"2V fine 32 zero", 0x03, 0xC1, true, 0, "0.00000"},
        {"2V fine 16", 0x01, 0xC1, false, 12345, "1.2345"},
        {"200V standard", 0x00, 0xC4, true, 1234, "123.4"},
        {"200V standard padded", 0x00, 0xC4, true, 56, "005.6"},
        {"250A whole", 0x00, 0xAE, true, 42, "042"},
        {"250A whole negative", 0x00, 0xAE, true, -42, "-042"},
        {"200uA fine", 0x03, 0xD9, true, 12345, "0.12345"},
        {"200uA fine negative", 0x03, 0xD9, true, -12345, "-0.12345"},
        {"unknown code standard", 0x00, 0x80, true, 7, "0007"},
        {"unknown code standard negative", 0x00, 0x80, true, -7, "-0007"},
        {"unknown code fine", 0x03, 0x80, true, 7, "00007"},
        {"short reply -1000 in 20V standard", 0x00, 0xC2, false, -1000, "-10.00"},
        {"16-bit with code 3 uses standard", 0x03, 0xC1, false, 1234, "1.234"},
        {"32-bit with code 1 uses standard", 0x01, 0xC1, true, 1234, "1.234"},
        {"more digits than the width", 0x00, 0xC4, true, 123456, "12345.6"},
        // Wider than 16 bits in a whole-number format: printed in full, not as its low 16 bits.
        {"70000 whole", 0x00, 0xAE, true, 70000, "70000"},
        {"-70000 whole", 0x00, 0xAE, true, -70000, "-70000"},
        {"0x80000000 is a number", 0x00, 0x80, true, std::int32_t(0x80000000u), "-2147483648"},
        {"overload 32", 0x03, 0xC1, true, std::int32_t(0x80008000u), "OVLD"},
        {"overload 16", 0x01, 0xC4, false, -32768, "OVLD"},
        {"overload 16 unknown range", 0x00, 0x80, false, -32768, "OVLD"},
        {"-32768 as 32-bit is a number", 0x00, 0x80, true, -32768, "-32768"},
    };
    for (const auto& c : cases) {
        ChannelReading r;
        r.SetFlags(c.flags);
        r.SetRange(c.range);
        if (c.wide)
            r.SetValue32(c.raw);
        else
            r.SetValue16(std::int16_t(c.raw));
        EXPECT_EQ(r.ValueText(), c.text) << c.name;
    }
}

TEST(ChannelReading, DisplayValueIsTheReadingInDisplayUnits) {
    ChannelReading r;
    r.SetFlags(0x03);
    r.SetValue32(123456);  // 2V, "%07.5f"
    EXPECT_DOUBLE_EQ(r.Value(), 1.23456);
    r.SetRange(0xAE);
    r.SetFlags(0x00);
    r.SetValue32(-42);  // whole number
    EXPECT_DOUBLE_EQ(r.Value(), -42.0);
}

TEST(ChannelReading, FlagsAndRangeApplyOnlyToTheNextValue) {
    ChannelReading r;
    r.SetFlags(0x03);
    r.SetValue32(123456);
    r.SetRange(0xC4);
    r.SetFlags(0x20);
    EXPECT_EQ(r.ValueText(), "1.23456");
    // A short reading after a Reset formats with the range and flags of before the Reset.
    r.Reset();
    r.SetValue16(1234);
    EXPECT_EQ(r.ValueText(), "123.4");
}

TEST(ChannelReading, MarkerFlipsOnEveryValueAndResetClearsIt) {
    ChannelReading r;
    r.SetValue32(1);
    EXPECT_TRUE(r.Marker());
    r.SetValue16(-32768);  // OVLD flips too
    EXPECT_FALSE(r.Marker());
    r.SetValue32(1);
    EXPECT_TRUE(r.Marker());
    r.Reset();
    EXPECT_FALSE(r.Marker());
}

TEST(ChannelReading, SerialNumberIsEightUpperCaseHexDigits) {
    ChannelReading r;
    r.SetSerialNo(0x1F);
    EXPECT_EQ(r.GetSerialNoText(), "0000001F");
    r.SetSerialNo(0x1A2B3C4D);
    EXPECT_EQ(r.GetSerialNoText(), "1A2B3C4D");
    r.SetSerialNo(0xFFFFFFFF);
    EXPECT_EQ(r.GetSerialNoText(), "FFFFFFFF");
}

TEST(ChannelReading, RepaintHookIsCalledByEverySetterButSetRemark) {
    ChannelReading r;
    r.SetValue32(5);  // no view attached: nothing to call
    CountingView view;
    r.AttachView(&view);
    r.SetRemark("x");
    EXPECT_EQ(view.repaints, 0);
    EXPECT_EQ(r.GetRemark(), "x");
    r.SetFlags(1);
    r.SetRange(0x80);  // a code without texts still repaints
    r.SetSerialNo(1);
    r.SetValue32(1);
    r.SetValue16(1);
    r.Reset();
    EXPECT_EQ(view.repaints, 6);
    r.AttachView(nullptr);
    r.SetValue32(2);
    EXPECT_EQ(view.repaints, 6);
}

TEST(ChannelReading, TitleUsesTheRemarkInPlaceOfTheSerialNumber) {
    ChannelReading r;
    r.SetFlags(0);
    r.SetRange(0xC1);
    r.SetSerialNo(0x1A2B3C4D);
    EXPECT_EQ(r.TitleText(), "DC-2V-1A2B3C4D");
    r.SetRemark("1号炉");
    EXPECT_EQ(r.TitleText(), "DC-2V-1号炉");
}

}  // namespace
}  // namespace zuz
