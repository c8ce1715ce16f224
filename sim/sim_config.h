// The simulator's configuration: the built-in demo bus, the INI file, and the command-line
// forms of an instrument.
//
// File format (names ignore letter case; ';' or '#' start a comment line):
//   [bus]         seed = N, baud = N
//   [faults]      no_reply, bad_checksum, split, garbage, delayed, duplicate = rate 0..1;
//                 late_ms = extra delay of a delayed reply; split_gap_ms = longest gap in a split
//   [instrument NAME]   one section per instrument (any section whose name starts with
//                 "instrument"): address (required, 1..255), serial (hex), range (code or range
//                 text such as "20mV"), flags, form (long|short), delay_ms, reading, overload
// The reading and overload texts are described in reading_generator.h.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "sim/bus_simulator.h"

namespace zuz::sim {

// Eight instruments at addresses 1, 2, 3, 5, 8, 13, 21 and 34 covering volts, millivolts,
// amperes, milliamperes, kilohertz, ohms and degrees, AC and DC, fine and standard resolution,
// long and short replies, with overloads now and then. No faults.
BusConfig DemoBus();

// One key of an instrument (file) or of the --instrument option. False with *problem set when
// the key is unknown or the value wrong.
bool ApplyInstrumentKey(InstrumentConfig& instrument, std::string_view key, std::string_view value,
                        std::string* problem);
// One key of the [faults] section or a fault option (same names).
bool ApplyFaultKey(FaultRates& rates, FaultShape& shape, std::string_view key, std::string_view value,
                   std::string* problem);
// One key of the [bus] section.
bool ApplyBusKey(BusConfig& bus, std::string_view key, std::string_view value, std::string* problem);

// "address=5,range=20mV,form=short,reading=sine 0 1000 5": the instrument keys, comma-separated.
std::optional<InstrumentConfig> ParseInstrumentOption(std::string_view text, std::string* problem);

// Reads a configuration file into *bus (which starts empty of instruments). On failure returns
// false with *error = "FILE:LINE: problem" (or "FILE: problem" when no line is to blame).
bool LoadBusConfig(const std::string& path, BusConfig* bus, std::string* error);

// Problems that no single key shows: no instrument, two instruments at one address.
// Empty when the bus is fine.
std::string CheckBus(const BusConfig& bus);

// The configuration as a file text that LoadBusConfig reads back to the same bus.
std::string BusConfigText(const BusConfig& bus);

}  // namespace zuz::sim
