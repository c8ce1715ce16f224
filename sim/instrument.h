// One simulated instrument behind the master controller: its identity and measuring set-up,
// how it replies to a read (long 32-bit or short 16-bit form), how long it takes to answer,
// and what it reads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/reading_generator.h"

namespace zuz::sim {

enum class ReplyForm { Long, Short };

struct InstrumentConfig {
    std::string name;              // for messages and the log only
    std::uint8_t address = 1;      // bus address
    std::uint32_t serial = 0;      // shown by the monitor as eight hex digits
    std::uint8_t range = 0xC1;     // range code ("2V")
    std::uint8_t flags = 0x03;     // low nibble: resolution code; 0x20: AC
    ReplyForm form = ReplyForm::Long;
    std::int64_t responseDelayUs = 2000;  // from the end of the request to the reply's first byte
    ReadingPattern reading;
    OverloadPattern overload;
};

class Instrument {
public:
    Instrument(InstrumentConfig config, std::uint64_t seed);

    const InstrumentConfig& Config() const { return config_; }

    // The probe reply frame: F5, 4: 0, 5: address, 6: range, 7: flags, 8-11: serial (LE).
    std::vector<std::uint8_t> ProbeReply() const;
    // Takes the next reading and returns its reply frame: E2 (6 range, 7 flags, 8-11 int32 LE)
    // or F6 (6-7 int16 LE); offset 4 is 0 and offset 5 the address in both.
    // Overloaded readings carry 0x80008000 or 0x8000. A reading that does not fit the reply
    // form is clamped to it, and a 16-bit reading never hits 0x8000 by accident.
    std::vector<std::uint8_t> ReadReply(std::int64_t nowUs);

    // The raw value of the last ReadReply as sent (the overload pattern included).
    std::int32_t LastSent() const { return lastSent_; }

private:
    InstrumentConfig config_;
    ReadingGenerator generator_;
    std::int32_t lastSent_ = 0;
};

}  // namespace zuz::sim
