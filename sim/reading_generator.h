// What an instrument reads, reading after reading: a constant, a list in turn, a ramp, a sine
// over time or a random walk; with optional overload episodes.
//
// Values are raw readings as they go on the wire (the monitor divides them by its format's
// divisor), e.g. 123456 in the "2V" range with fine resolution shows as 1.23456.
//
// Text forms (used by the configuration file and the command line):
//   constant V
//   list V1 V2 ...            the values in turn, then again from the first
//   ramp FROM TO STEP         FROM, FROM+STEP, ... up to TO, then again from FROM
//   sine CENTRE AMPLITUDE PERIOD_S     CENTRE + AMPLITUDE * sin(2 pi t / PERIOD_S), t in seconds
//   walk START STEP LOW HIGH  starts at START, moves by at most STEP per reading, kept in [LOW, HIGH]
// Overload episodes: "EVERY LENGTH" makes the last LENGTH readings of every EVERY readings
// overloaded (EVERY 50, LENGTH 2: readings 49 and 50, 99 and 100, ...).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/sim_rng.h"

namespace zuz::sim {

// The overload bit patterns of the two reply forms.
inline constexpr std::int32_t kOverload32 = static_cast<std::int32_t>(0x80008000u);
inline constexpr std::int16_t kOverload16 = static_cast<std::int16_t>(0x8000);

enum class ReadingKind { Constant, List, Ramp, Sine, Walk };

struct ReadingPattern {
    ReadingKind kind = ReadingKind::Constant;
    std::vector<std::int32_t> values{0};  // constant: {value}; list: the values in turn
    std::int32_t start = 0;               // ramp: FROM; sine: CENTRE; walk: START
    std::int32_t stop = 0;                // ramp: TO
    std::int32_t step = 1;                // ramp: STEP (not 0); walk: largest move
    std::int32_t low = 0, high = 0;       // walk: bounds
    std::int32_t amplitude = 0;           // sine
    double periodS = 10.0;                // sine, above 0
};

struct OverloadPattern {
    std::uint32_t every = 0;   // 0: never overloaded
    std::uint32_t length = 0;  // overloaded readings per episode, at most `every`
};

// Parses a text form; on failure returns nothing and says why in *problem.
std::optional<ReadingPattern> ParseReadingPattern(std::string_view text, std::string* problem);
std::optional<OverloadPattern> ParseOverloadPattern(std::string_view text, std::string* problem);
// The text form of a pattern (ParseReadingPattern gives it back).
std::string ReadingPatternText(const ReadingPattern& pattern);

class ReadingGenerator {
public:
    ReadingGenerator(ReadingPattern pattern, OverloadPattern overload, std::uint64_t seed);

    struct Reading {
        std::int64_t value;  // the raw reading (the caller fits it to its reply form)
        bool overload;
    };

    // The next reading; nowUs (simulator time) drives the sine.
    Reading Next(std::int64_t nowUs);
    std::uint64_t Count() const { return count_; }

private:
    std::int64_t NextValue(std::int64_t nowUs);

    ReadingPattern pattern_;
    OverloadPattern overload_;
    SimRng rng_;
    std::uint64_t count_ = 0;
    std::int64_t walk_;
};

}  // namespace zuz::sim
