#include "display/range_table.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <set>

#include "display/channel_reading.h"

namespace zuz {
namespace {

// Every row of the range table as the monitor shows it: range, unit and type texts after
// SetRange on a fresh record ("--"/"V" remain where the table has nothing).
struct RangeTextCase {
    std::uint8_t code;
    const char* range;
    const char* unit;
    const char* type;
};

constexpr RangeTextCase kRangeTexts[] = {
    {0x6D, "100℃", "℃", "TMP"}, {0x6E, "100℃", "℃", "TMP"}, {0x6F, "100℃", "℃", "TMP"},
    {0x7D, "1KHz", "KHz", "--"}, {0x7E, "10KHz", "KHz", "--"}, {0x7F, "100KHz", "KHz", "--"},
    {0xA5, "2Ω", "Ω", "--"}, {0xA6, "20Ω", "Ω", "--"}, {0xA7, "20MΩ", "MΩ", "--"},
    {0xA8, "2MΩ", "KΩ", "--"}, {0xA9, "200KΩ", "KΩ", "--"}, {0xAA, "20KΩ", "KΩ", "--"},
    {0xAB, "2KΩ", "KΩ", "--"}, {0xAC, "200Ω", "Ω", "--"}, {0xAE, "250A", "A", "--"},
    {0xAF, "800A", "A", "--"}, {0xB0, "750A", "A", "--"}, {0xB1, "600A", "A", "--"},
    {0xB2, "500A", "A", "--"}, {0xB3, "400A", "A", "--"}, {0xB4, "300A", "A", "--"},
    {0xB5, "100A", "A", "--"}, {0xB6, "10A", "A", "--"}, {0xB7, "30A", "A", "--"},
    {0xB8, "40A", "A", "--"}, {0xB9, "50A", "A", "--"}, {0xBA, "60A", "A", "--"},
    {0xBB, "75A", "A", "--"}, {0xBC, "80A", "A", "--"}, {0xBD, "150A", "A", "--"},
    {0xBE, "20A", "A", "--"}, {0xBF, "200A", "A", "--"}, {0xC1, "2V", "V", "--"},
    {0xC2, "20V", "V", "--"}, {0xC3, "20mV", "mV", "--"}, {0xC4, "200V", "V", "--"},
    {0xC5, "200mV", "mV", "--"}, {0xC6, "4V", "V", "--"}, {0xC7, "40V", "V", "--"},
    {0xC8, "40mV", "mV", "--"}, {0xC9, "400V", "V", "--"}, {0xCA, "400mV", "mV", "--"},
    {0xCB, "5V", "V", "--"}, {0xCC, "50V", "V", "--"}, {0xCD, "50mV", "mV", "--"},
    {0xCE, "500V", "V", "--"}, {0xCF, "500mV", "mV", "--"}, {0xD0, "6V", "V", "--"},
    {0xD1, "60V", "V", "--"}, {0xD2, "60mV", "mV", "--"}, {0xD3, "600V", "V", "--"},
    {0xD4, "600mV", "mV", "--"}, {0xD5, "2A", "mA", "--"}, {0xD6, "2mA", "mA", "--"},
    {0xD7, "20mA", "mA", "--"}, {0xD8, "200mA", "mA", "--"}, {0xD9, "200uA", "mA", "--"},
    {0xDA, "4mA", "mA", "--"}, {0xDB, "40mA", "mA", "--"}, {0xDC, "400mA", "mA", "--"},
    {0xDD, "400uA", "uA", "--"}, {0xDE, "5mA", "mA", "--"}, {0xDF, "50mA", "mA", "--"},
    {0xE0, "500mA", "mA", "--"}, {0xE1, "500uA", "mA", "--"}, {0xE2, "6mA", "mA", "--"},
    {0xE3, "60mA", "mA", "--"}, {0xE4, "600mA", "mA", "--"}, {0xE5, "600uA", "uA", "--"},
    {0xE6, "4A", "A", "--"}, {0xE7, "5A", "mA", "--"}, {0xE8, "6A", "A", "--"},
    {0xE9, "2KV", "V", "--"}, {0xEA, "--", "V", "--"}, {0xEC, "20uA", "uA", "--"},
    {0xEF, "700V", "V", "--"},
};

TEST(RangeTable, EveryCodeSetsItsTexts) {
    std::set<int> listed;
    for (const auto& c : kRangeTexts) {
        ChannelReading r;
        r.SetRange(c.code);
        EXPECT_EQ(r.RangeText(), c.range) << std::hex << int(c.code);
        EXPECT_EQ(r.UnitText(), c.unit) << std::hex << int(c.code);
        EXPECT_EQ(r.TypeText(), c.type) << std::hex << int(c.code);
        listed.insert(c.code);
    }
    // Every other code changes no text.
    for (int code = 0; code < 256; ++code) {
        if (listed.count(code)) continue;
        ChannelReading r;
        r.SetRange(std::uint8_t(code));
        EXPECT_EQ(r.RangeText(), "--") << code;
        EXPECT_EQ(r.UnitText(), "V") << code;
        EXPECT_EQ(r.RangeCode(), code);
        EXPECT_EQ(FindRange(std::uint8_t(code)), nullptr) << code;
    }
    EXPECT_EQ(AllRanges().size(), std::size(kRangeTexts));
}

TEST(RangeTable, OhmAndDegreeAreTheCharactersThatGbkCanHold) {
    ChannelReading r;
    r.SetRange(0xAB);
    EXPECT_EQ(r.RangeText(), "2K\xCE\xA9");  // U+03A9, not U+2126 OHM SIGN
    r.SetRange(0x6E);
    EXPECT_EQ(r.UnitText(), "\xE2\x84\x83");  // U+2103
}

// The fast formatter must give exactly what printf gives for the table's formats, with the
// negative widening, for readings across the whole 16-bit range and beyond.
TEST(RangeTable, FormattingMatchesPrintfForEveryFormatInTheTable) {
    std::set<std::pair<int, int>> formats{{5, -1}, {4, -1}};
    for (const RangeRow& row : AllRanges())
        for (NumberFormat f : {row.fine32, row.fine16, row.standard}) formats.insert({f.width, f.decimals});

    std::mt19937 rng(42);
    std::uniform_int_distribution<std::int32_t> any(-2147483647 - 1, 2147483647);
    std::vector<std::int32_t> readings = {0, 1, -1, 5, -5, 9, 10, 99999, 100000, -100000, 123456, -123456,
                                          32767, -32768, 70000, -70000, 2147483647, -2147483647 - 1};
    for (int i = 0; i < 2000; ++i) readings.push_back(any(rng) >> (i % 24));

    for (auto [width, decimals] : formats) {
        const NumberFormat f{std::uint8_t(width), std::int8_t(decimals)};
        for (std::int32_t raw : readings) {
            char expected[64];
            double value = 0;
            if (f.IsWhole()) {
                std::snprintf(expected, sizeof expected, "%0*d", width + (raw < 0), raw);
            } else {
                const double v = raw / std::pow(10.0, decimals);
                std::snprintf(expected, sizeof expected, "%0*.*f", width + (v < 0), decimals, v);
            }
            EXPECT_EQ(FormatReading(raw, f, &value), expected) << FormatText(f) << " raw " << raw;
        }
    }
}

}  // namespace
}  // namespace zuz
