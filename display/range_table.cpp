#include "display/range_table.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>

namespace zuz {
namespace {

// code, range text, unit text, fine 32-bit, fine 16-bit, standard, temperature.
// Formats are {width, decimals}; decimals -1 means a whole number.
// 0xEA has a unit but no range text. "Ω" is U+03A9 and "℃" U+2103; both become their
// two-byte GBK forms only in files.
constexpr std::array kRanges = std::to_array<RangeRow>({
    {0x6D, "100℃", "℃", {5, -1}, {5, -1}, {4, -1}, true},
    {0x6E, "100℃", "℃", {5, -1}, {5, -1}, {4, -1}, true},
    {0x6F, "100℃", "℃", {5, -1}, {5, -1}, {4, -1}, true},
    {0x7D, "1KHz", "KHz", {7, 5}, {6, 4}, {5, 3}, false},
    {0x7E, "10KHz", "KHz", {7, 4}, {6, 3}, {5, 3}, false},
    {0x7F, "100KHz", "KHz", {7, 3}, {6, 2}, {5, 2}, false},
    {0xA5, "2Ω", "Ω", {7, 5}, {6, 4}, {4, -1}, false},
    {0xA6, "20Ω", "Ω", {7, 4}, {6, 3}, {4, -1}, false},
    {0xA7, "20MΩ", "MΩ", {5, -1}, {5, -1}, {5, 2}, false},
    {0xA8, "2MΩ", "KΩ", {6, 2}, {5, 1}, {3, -1}, false},
    {0xA9, "200KΩ", "KΩ", {7, 3}, {6, 2}, {4, -1}, false},
    {0xAA, "20KΩ", "KΩ", {7, 4}, {6, 3}, {5, 2}, false},
    {0xAB, "2KΩ", "KΩ", {7, 5}, {6, 4}, {5, 3}, false},
    {0xAC, "200Ω", "Ω", {7, 3}, {6, 2}, {4, -1}, false},
    {0xAE, "250A", "A", {6, 2}, {5, 1}, {3, -1}, false},
    {0xAF, "800A", "A", {6, 2}, {5, 1}, {3, -1}, false},
    {0xB0, "750A", "A", {6, 2}, {5, 1}, {3, -1}, false},
    {0xB1, "600A", "A", {6, 2}, {5, 1}, {3, -1}, false},
    {0xB2, "500A", "A", {6, 2}, {5, 1}, {3, -1}, false},
    {0xB3, "400A", "A", {6, 2}, {5, 1}, {3, -1}, false},
    {0xB4, "300A", "A", {6, 2}, {5, 1}, {3, -1}, false},
    {0xB5, "100A", "A", {7, 3}, {6, 2}, {5, 1}, false},
    {0xB6, "10A", "A", {6, 4}, {5, 3}, {5, 2}, false},
    {0xB7, "30A", "A", {7, 3}, {5, 2}, {4, 1}, false},
    {0xB8, "40A", "A", {7, 3}, {5, 2}, {4, 1}, false},
    {0xB9, "50A", "A", {7, 3}, {5, 2}, {4, 1}, false},
    {0xBA, "60A", "A", {7, 3}, {5, 2}, {4, 1}, false},
    {0xBB, "75A", "A", {7, 3}, {5, 2}, {4, 1}, false},
    {0xBC, "80A", "A", {7, 3}, {5, 2}, {4, 1}, false},
    {0xBD, "150A", "A", {7, 3}, {5, 2}, {4, 1}, false},
    {0xBE, "20A", "A", {7, 4}, {6, 3}, {5, 2}, false},
    {0xBF, "200A", "A", {7, 3}, {6, 2}, {5, 1}, false},
    {0xC1, "2V", "V", {7, 5}, {6, 4}, {5, 3}, false},
    {0xC2, "20V", "V", {7, 4}, {6, 3}, {5, 2}, false},
    {0xC3, "20mV", "mV", {7, 4}, {6, 3}, {5, 2}, false},
    {0xC4, "200V", "V", {7, 3}, {6, 2}, {5, 1}, false},
    {0xC5, "200mV", "mV", {7, 3}, {6, 2}, {5, 1}, false},
    {0xC6, "4V", "V", {6, 4}, {5, 3}, {4, 2}, false},
    {0xC7, "40V", "V", {7, 3}, {5, 2}, {4, 1}, false},
    {0xC8, "40mV", "mV", {7, 3}, {5, 2}, {4, 1}, false},
    {0xC9, "400V", "V", {6, 2}, {5, 1}, {3, -1}, false},
    {0xCA, "400mV", "mV", {6, 2}, {5, 1}, {3, -1}, false},
    {0xCB, "5V", "V", {6, 4}, {5, 3}, {4, 2}, false},
    {0xCC, "50V", "V", {7, 3}, {5, 2}, {4, 1}, false},
    {0xCD, "50mV", "mV", {7, 3}, {5, 2}, {4, 1}, false},
    {0xCE, "500V", "V", {6, 2}, {5, 1}, {3, -1}, false},
    {0xCF, "500mV", "mV", {6, 2}, {5, 1}, {3, -1}, false},
    {0xD0, "6V", "V", {6, 4}, {5, 3}, {4, 2}, false},
    {0xD1, "60V", "V", {7, 3}, {5, 2}, {4, 1}, false},
    {0xD2, "60mV", "mV", {7, 3}, {5, 2}, {4, 1}, false},
    {0xD3, "600V", "V", {6, 2}, {5, 1}, {3, -1}, false},
    {0xD4, "600mV", "mV", {6, 2}, {5, 1}, {3, -1}, false},
    {0xD5, "2A", "mA", {6, 1}, {6, 1}, {5, 3}, false},
    {0xD6, "2mA", "mA", {7, 5}, {6, 4}, {5, 3}, false},
    {0xD7, "20mA", "mA", {7, 4}, {6, 3}, {5, 2}, false},
    {0xD8, "200mA", "mA", {7, 3}, {6, 2}, {5, 1}, false},
    {0xD9, "200uA", "mA", {6, 5}, {6, 5}, {5, 1}, false},
    {0xDA, "4mA", "mA", {6, 4}, {5, 3}, {4, -1}, false},
    {0xDB, "40mA", "mA", {7, 3}, {5, 2}, {4, 1}, false},
    {0xDC, "400mA", "mA", {6, 2}, {5, 1}, {3, -1}, false},
    {0xDD, "400uA", "uA", {6, 2}, {5, 1}, {3, -1}, false},
    {0xDE, "5mA", "mA", {6, 4}, {5, 3}, {4, -1}, false},
    {0xDF, "50mA", "mA", {7, 3}, {5, 2}, {4, 1}, false},
    {0xE0, "500mA", "mA", {6, 2}, {5, 1}, {3, -1}, false},
    {0xE1, "500uA", "mA", {7, 5}, {6, 4}, {3, -1}, false},
    {0xE2, "6mA", "mA", {6, 4}, {5, 3}, {4, -1}, false},
    {0xE3, "60mA", "mA", {7, 3}, {5, 2}, {4, 1}, false},
    {0xE4, "600mA", "mA", {6, 2}, {5, 1}, {3, -1}, false},
    {0xE5, "600uA", "uA", {6, 2}, {5, 1}, {3, -1}, false},
    {0xE6, "4A", "A", {6, 4}, {5, 3}, {4, 2}, false},
    {0xE7, "5A", "mA", {6, 1}, {5, 3}, {4, 2}, false},
    {0xE8, "6A", "A", {6, 4}, {5, 3}, {4, 2}, false},
    {0xE9, "2KV", "V", {6, 1}, {6, 1}, {4, -1}, false},
    {0xEA, "", "V", {5, -1}, {5, -1}, {4, -1}, false},
    {0xEC, "20uA", "uA", {5, -1}, {5, -1}, {5, 2}, false},
    {0xEF, "700V", "V", {6, 2}, {5, 1}, {3, -1}, false},
});

static_assert(std::is_sorted(kRanges.begin(), kRanges.end(),
                             [](const RangeRow& a, const RangeRow& b) { return a.code < b.code; }));

// A direct index by code, built once at compile time, keeps the lookup off the hot path.
constexpr std::array<std::int8_t, 256> BuildIndex() {
    std::array<std::int8_t, 256> index{};
    index.fill(-1);
    for (std::size_t i = 0; i < kRanges.size(); ++i) index[kRanges[i].code] = static_cast<std::int8_t>(i);
    return index;
}
constexpr auto kIndex = BuildIndex();

}  // namespace

const RangeRow* FindRange(std::uint8_t code) {
    const int i = kIndex[code];
    return i < 0 ? nullptr : &kRanges[static_cast<std::size_t>(i)];
}

std::span<const RangeRow> AllRanges() { return kRanges; }

std::string FormatText(NumberFormat format) {
    char text[16];
    if (format.IsWhole())
        std::snprintf(text, sizeof text, "%%0%ud", unsigned(format.width));
    else
        std::snprintf(text, sizeof text, "%%0%u.%df", unsigned(format.width), int(format.decimals));
    return text;
}

}  // namespace zuz
