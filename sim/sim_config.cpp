#include "sim/sim_config.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>

#include "display/range_table.h"
#include "sim/parse_util.h"
#include "storage/ini_file.h"

namespace zuz::sim {
namespace {

bool Fail(std::string* problem, std::string text) {
    if (problem) *problem = std::move(text);
    return false;
}

std::string Quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

std::optional<std::uint32_t> ParseHex32(std::string_view text) {
    text = Trim(text);
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.remove_prefix(2);
    if (text.empty() || text.size() > 8) return std::nullopt;
    std::uint32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<std::uint8_t> ParseRange(std::string_view text) {
    if (const auto code = ParseInteger(text, 0, 255)) return static_cast<std::uint8_t>(*code);
    for (const RangeRow& row : AllRanges())
        if (!row.range.empty() && row.range == Trim(text)) return row.code;
    return std::nullopt;
}

std::string Hex(unsigned value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", digits, value);
    return text;
}

InstrumentConfig Make(const char* name, std::uint8_t address, std::uint32_t serial, std::uint8_t range,
                      std::uint8_t flags, ReplyForm form, std::int64_t delayUs, const char* reading,
                      OverloadPattern overload = {}) {
    InstrumentConfig in;
    in.name = name;
    in.address = address;
    in.serial = serial;
    in.range = range;
    in.flags = flags;
    in.form = form;
    in.responseDelayUs = delayUs;
    in.reading = *ParseReadingPattern(reading, nullptr);
    in.overload = overload;
    return in;
}

}  // namespace

BusConfig DemoBus() {
    BusConfig bus;
    const auto L = ReplyForm::Long, S = ReplyForm::Short;
    // Flags: 0x20 AC; resolution code 3 is fine for long replies, 1 for short ones.
    bus.instruments = {
        Make("volts", 1, 0x20240001, 0xC1, 0x03, L, 2000, "sine 0 150000 20"),              // 2V, ±1.50000
        Make("millivolts", 2, 0x20240002, 0xC3, 0x01, S, 3000, "ramp -15000 15000 250", {100, 2}),  // 20mV
        Make("amperes", 3, 0x20240003, 0xB6, 0x00, L, 2500, "walk 523 7 0 999"),            // 10A, 5.23
        Make("milliamperes-ac", 5, 0x20240005, 0xD7, 0x23, L, 2000, "sine 120000 5000 7"),  // 20mA AC
        Make("frequency", 8, 0x20240008, 0x7E, 0x01, S, 4000, "list 4998 5000 5001 5003 5000 4999"),  // 10KHz
        Make("ohms", 13, 0x20240013, 0xAB, 0x03, L, 3000, "walk 100000 30 99500 100500", {60, 3}),     // 2KΩ
        Make("temperature", 21, 0x20240021, 0x6E, 0x00, S, 3500, "walk 25 1 18 35"),        // 100℃
        Make("mains-ac", 34, 0x20240034, 0xC4, 0x20, L, 2000, "sine 2200 30 5"),            // 200V AC
    };
    return bus;
}

bool ApplyInstrumentKey(InstrumentConfig& in, std::string_view key, std::string_view value, std::string* problem) {
    const std::string k = Lower(Trim(key));
    value = Trim(value);
    if (k == "name") {
        in.name = std::string(value);
    } else if (k == "address") {
        const auto v = ParseInteger(value, 1, 255);
        if (!v) return Fail(problem, "address " + Quoted(value) + " is not a bus address 1..255");
        in.address = static_cast<std::uint8_t>(*v);
    } else if (k == "serial") {
        const auto v = ParseHex32(value);
        if (!v) return Fail(problem, "serial " + Quoted(value) + " is not 1 to 8 hex digits");
        in.serial = *v;
    } else if (k == "range") {
        const auto v = ParseRange(value);
        if (!v) return Fail(problem, "range " + Quoted(value) + " is neither a code 0..255 nor a range text like 20mV");
        in.range = *v;
    } else if (k == "flags") {
        const auto v = ParseInteger(value, 0, 255);
        if (!v) return Fail(problem, "flags " + Quoted(value) + " is not a byte 0..255");
        in.flags = static_cast<std::uint8_t>(*v);
    } else if (k == "form") {
        const std::string v = Lower(value);
        if (v == "long" || v == "32")
            in.form = ReplyForm::Long;
        else if (v == "short" || v == "16")
            in.form = ReplyForm::Short;
        else
            return Fail(problem, "form " + Quoted(value) + " is neither long nor short");
    } else if (k == "delay_ms") {
        const auto v = ParseNumber(value);
        if (!v || *v < 0 || *v > 10000) return Fail(problem, "delay_ms " + Quoted(value) + " is not 0..10000");
        in.responseDelayUs = std::llround(*v * 1000);
    } else if (k == "reading") {
        std::string why;
        auto pattern = ParseReadingPattern(value, &why);
        if (!pattern) return Fail(problem, "reading " + Quoted(value) + ": " + why);
        in.reading = std::move(*pattern);
    } else if (k == "overload") {
        std::string why;
        const auto pattern = ParseOverloadPattern(value, &why);
        if (!pattern) return Fail(problem, "overload " + Quoted(value) + ": " + why);
        in.overload = *pattern;
    } else {
        return Fail(problem, "unknown instrument key " + Quoted(key) +
                                 " (name, address, serial, range, flags, form, delay_ms, reading, overload)");
    }
    return true;
}

bool ApplyFaultKey(FaultRates& rates, FaultShape& shape, std::string_view key, std::string_view value,
                   std::string* problem) {
    const std::string k = Lower(Trim(key));
    const std::map<std::string, double*> rateKeys = {
        {"no_reply", &rates.noReply}, {"bad_checksum", &rates.badChecksum}, {"split", &rates.split},
        {"garbage", &rates.garbage},  {"delayed", &rates.delayed},          {"duplicate", &rates.duplicate},
    };
    const auto v = ParseNumber(value);
    if (const auto it = rateKeys.find(k); it != rateKeys.end()) {
        if (!v || *v < 0 || *v > 1) return Fail(problem, k + " " + Quoted(Trim(value)) + " is not a rate 0..1");
        *it->second = *v;
    } else if (k == "late_ms") {
        if (!v || *v < 0 || *v > 10000) return Fail(problem, "late_ms " + Quoted(Trim(value)) + " is not 0..10000");
        shape.lateUs = std::llround(*v * 1000);
    } else if (k == "split_gap_ms") {
        if (!v || *v < 1 || *v > 1000) return Fail(problem, "split_gap_ms " + Quoted(Trim(value)) + " is not 1..1000");
        shape.splitGapMaxUs = std::llround(*v * 1000);
    } else {
        return Fail(problem, "unknown fault key " + Quoted(key) +
                                 " (no_reply, bad_checksum, split, garbage, delayed, duplicate, late_ms, "
                                 "split_gap_ms)");
    }
    return true;
}

bool ApplyBusKey(BusConfig& bus, std::string_view key, std::string_view value, std::string* problem) {
    const std::string k = Lower(Trim(key));
    if (k == "seed") {
        const auto v = ParseInteger(value, 0, std::int64_t{1} << 62);
        if (!v) return Fail(problem, "seed " + Quoted(Trim(value)) + " is not a whole number >= 0");
        bus.seed = static_cast<std::uint64_t>(*v);
    } else if (k == "baud") {
        const auto v = ParseInteger(value, 50, 4000000);
        if (!v) return Fail(problem, "baud " + Quoted(Trim(value)) + " is not a baud rate 50..4000000");
        bus.baud = static_cast<std::uint32_t>(*v);
    } else {
        return Fail(problem, "unknown bus key " + Quoted(key) + " (seed, baud)");
    }
    return true;
}

std::optional<InstrumentConfig> ParseInstrumentOption(std::string_view text, std::string* problem) {
    InstrumentConfig in;
    bool hasAddress = false;
    std::set<std::string> seen;
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        const std::string_view item = Trim(text.substr(0, comma));
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
        if (item.empty()) continue;
        const std::size_t eq = item.find('=');
        if (eq == std::string_view::npos) {
            Fail(problem, Quoted(item) + " is not key=value");
            return std::nullopt;
        }
        const std::string key = Lower(Trim(item.substr(0, eq)));
        if (!seen.insert(key).second) {
            Fail(problem, Quoted(key) + " given twice");
            return std::nullopt;
        }
        if (!ApplyInstrumentKey(in, key, item.substr(eq + 1), problem)) return std::nullopt;
        hasAddress = hasAddress || key == "address";
    }
    if (!hasAddress) {
        Fail(problem, "an instrument needs address=N");
        return std::nullopt;
    }
    return in;
}

bool LoadBusConfig(const std::string& path, BusConfig* bus, std::string* error) {
    auto failAt = [&](int line, const std::string& problem) {
        if (error) *error = path + (line > 0 ? ":" + std::to_string(line) : std::string()) + ": " + problem;
        return false;
    };
    IniFile ini;
    std::string why;
    if (!ReadIniFile(path, ini, nullptr, &why)) return failAt(0, "cannot read the file: " + why);
    if (const auto bad = ini.MalformedLines(); !bad.empty())
        return failAt(bad.front().first, "not a [section], key = value line or comment: " + Quoted(bad.front().second));

    struct Section {
        std::size_t index;  // into bus->instruments
        int firstLine;
        int addressLine = 0;
        std::string title;
    };
    std::map<std::string, Section> instruments;
    std::set<std::pair<std::string, std::string>> seen;
    for (const IniFile::Entry& e : ini.Entries()) {
        const std::string section = Lower(Trim(e.section));
        const std::string key = Lower(e.key);
        if (section.empty()) return failAt(e.line, "key " + Quoted(e.key) + " comes before any [section]");
        if (!seen.insert({section, key}).second)
            return failAt(e.line, Quoted(e.key) + " given twice in [" + e.section + "]");
        std::string problem;
        bool ok = true;
        if (section == "bus") {
            ok = ApplyBusKey(*bus, key, e.value, &problem);
        } else if (section == "faults") {
            ok = ApplyFaultKey(bus->faults, bus->faultShape, key, e.value, &problem);
        } else if (section.rfind("instrument", 0) == 0) {
            auto [it, added] = instruments.try_emplace(section, Section{bus->instruments.size(), e.line, 0, e.section});
            if (added) {
                InstrumentConfig in;
                std::string_view name = Trim(std::string_view(e.section).substr(10));
                while (!name.empty() && (name.front() == ':' || name.front() == '-' || name.front() == '_'))
                    name.remove_prefix(1);
                in.name = std::string(Trim(name));
                bus->instruments.push_back(in);
            }
            ok = ApplyInstrumentKey(bus->instruments[it->second.index], key, e.value, &problem);
            if (key == "address") it->second.addressLine = e.line;
        } else {
            return failAt(e.line, "unknown section [" + e.section + "] (use [bus], [faults] or [instrument NAME])");
        }
        if (!ok) return failAt(e.line, problem);
    }

    std::map<std::uint8_t, const Section*> byAddress;
    std::vector<const Section*> inFileOrder;
    for (const auto& [name, s] : instruments) inFileOrder.push_back(&s);
    std::sort(inFileOrder.begin(), inFileOrder.end(), [](auto* a, auto* b) { return a->firstLine < b->firstLine; });
    for (const Section* s : inFileOrder) {
        if (s->addressLine == 0) return failAt(s->firstLine, "[" + s->title + "] has no address");
        const std::uint8_t address = bus->instruments[s->index].address;
        const auto [it, added] = byAddress.try_emplace(address, s);
        if (!added)
            return failAt(s->addressLine, "address " + std::to_string(address) + " is already taken by [" +
                                              it->second->title + "]");
    }
    if (bus->instruments.empty()) return failAt(0, "no [instrument NAME] section: the bus would be empty");
    return true;
}

std::string CheckBus(const BusConfig& bus) {
    if (bus.instruments.empty()) return "no instrument on the bus";
    std::set<std::uint8_t> addresses;
    for (const auto& in : bus.instruments)
        if (!addresses.insert(in.address).second) return "two instruments at address " + std::to_string(in.address);
    return "";
}

std::string BusConfigText(const BusConfig& bus) {
    auto number = [](double v) {
        char text[32];
        std::snprintf(text, sizeof text, "%g", v);
        return std::string(text);
    };
    std::string text = "[bus]\nseed = " + std::to_string(bus.seed) + "\nbaud = " + std::to_string(bus.baud) + "\n\n";
    const FaultRates& f = bus.faults;
    text += "[faults]\nno_reply = " + number(f.noReply) + "\nbad_checksum = " + number(f.badChecksum) +
            "\nsplit = " + number(f.split) + "\ngarbage = " + number(f.garbage) + "\ndelayed = " + number(f.delayed) +
            "\nduplicate = " + number(f.duplicate) + "\nlate_ms = " + number(bus.faultShape.lateUs / 1000.0) +
            "\nsplit_gap_ms = " + number(bus.faultShape.splitGapMaxUs / 1000.0) + "\n";
    int unnamed = 0;
    for (const auto& in : bus.instruments) {
        const RangeRow* row = FindRange(in.range);
        // A name that would not read back as a section name loses the offending characters.
        std::string name = in.name.empty() ? std::to_string(++unnamed) : in.name;
        for (char& ch : name)
            if (ch == ']' || ch == '\r' || ch == '\n') ch = '_';
        text += "\n[instrument " + name + "]\n";
        text += "address = " + std::to_string(in.address) + "\n";
        text += "serial = " + Hex(in.serial, 8) + "\n";
        // A range text names one code only when no other code shares it (the temperature codes do).
        int sharing = 0;
        if (row && !row->range.empty())
            for (const RangeRow& r : AllRanges()) sharing += r.range == row->range;
        text += "range = " + (sharing == 1 ? std::string(row->range) : "0x" + Hex(in.range, 2)) + "\n";
        text += "flags = 0x" + Hex(in.flags, 2) + "\n";
        text += std::string("form = ") + (in.form == ReplyForm::Short ? "short" : "long") + "\n";
        text += "delay_ms = " + number(in.responseDelayUs / 1000.0) + "\n";
        text += "reading = " + ReadingPatternText(in.reading) + "\n";
        if (in.overload.every != 0)
            text += "overload = " + std::to_string(in.overload.every) + " " + std::to_string(in.overload.length) + "\n";
    }
    return text;
}

}  // namespace zuz::sim
