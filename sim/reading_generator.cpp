#include "sim/reading_generator.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "sim/parse_util.h"

namespace zuz::sim {
namespace {

constexpr std::int64_t kMin32 = INT32_MIN, kMax32 = INT32_MAX;

bool Fail(std::string* problem, std::string text) {
    if (problem) *problem = std::move(text);
    return false;
}

// Reads `count` whole numbers (all of them when count is 0) after the kind word.
bool ReadIntegers(const std::vector<std::string_view>& words, std::size_t count, std::vector<std::int32_t>& out,
                  std::string* problem) {
    const std::size_t given = words.size() - 1;
    if (count != 0 && given != count)
        return Fail(problem, "'" + std::string(words[0]) + "' takes " + std::to_string(count) + " numbers, " +
                                 std::to_string(given) + " given");
    for (std::size_t i = 1; i < words.size(); ++i) {
        const auto v = ParseInteger(words[i], kMin32, kMax32);
        if (!v) return Fail(problem, "'" + std::string(words[i]) + "' is not a 32-bit whole number");
        out.push_back(static_cast<std::int32_t>(*v));
    }
    return true;
}

}  // namespace

std::optional<ReadingPattern> ParseReadingPattern(std::string_view text, std::string* problem) {
    const auto words = SplitWords(text);
    if (words.empty()) {
        Fail(problem, "empty reading (use constant, list, ramp, sine or walk)");
        return std::nullopt;
    }
    const std::string kind = Lower(words[0]);
    ReadingPattern pattern;
    std::vector<std::int32_t> n;
    if (kind == "constant") {
        if (!ReadIntegers(words, 1, n, problem)) return std::nullopt;
        pattern.kind = ReadingKind::Constant;
        pattern.values = n;
    } else if (kind == "list") {
        if (words.size() < 2) {
            Fail(problem, "'list' needs at least one value");
            return std::nullopt;
        }
        if (!ReadIntegers(words, 0, n, problem)) return std::nullopt;
        pattern.kind = ReadingKind::List;
        pattern.values = n;
    } else if (kind == "ramp") {
        if (!ReadIntegers(words, 3, n, problem)) return std::nullopt;
        pattern.kind = ReadingKind::Ramp;
        pattern.start = n[0];
        pattern.stop = n[1];
        pattern.step = n[2];
        if (pattern.step == 0 || (pattern.stop != pattern.start && (pattern.stop > pattern.start) != (pattern.step > 0))) {
            Fail(problem, "ramp STEP must be non-zero and lead from FROM towards TO");
            return std::nullopt;
        }
    } else if (kind == "sine") {
        if (words.size() != 4) {
            Fail(problem, "'sine' takes CENTRE AMPLITUDE PERIOD_S");
            return std::nullopt;
        }
        const auto centre = ParseInteger(words[1], kMin32, kMax32);
        const auto amplitude = ParseInteger(words[2], 0, kMax32);
        const auto period = ParseNumber(words[3]);
        if (!centre || !amplitude) {
            Fail(problem, "sine CENTRE and AMPLITUDE must be whole numbers (AMPLITUDE not negative)");
            return std::nullopt;
        }
        if (!period || *period <= 0) {
            Fail(problem, "sine PERIOD_S must be a number of seconds above 0");
            return std::nullopt;
        }
        pattern.kind = ReadingKind::Sine;
        pattern.start = static_cast<std::int32_t>(*centre);
        pattern.amplitude = static_cast<std::int32_t>(*amplitude);
        pattern.periodS = *period;
    } else if (kind == "walk") {
        if (!ReadIntegers(words, 4, n, problem)) return std::nullopt;
        pattern.kind = ReadingKind::Walk;
        pattern.start = n[0];
        pattern.step = n[1];
        pattern.low = n[2];
        pattern.high = n[3];
        if (pattern.step < 0 || pattern.low > pattern.high || pattern.start < pattern.low || pattern.start > pattern.high) {
            Fail(problem, "walk needs STEP >= 0 and LOW <= START <= HIGH");
            return std::nullopt;
        }
    } else {
        Fail(problem, "unknown reading '" + std::string(words[0]) + "' (use constant, list, ramp, sine or walk)");
        return std::nullopt;
    }
    return pattern;
}

std::optional<OverloadPattern> ParseOverloadPattern(std::string_view text, std::string* problem) {
    const auto words = SplitWords(text);
    const auto every = words.size() == 2 ? ParseInteger(words[0], 0, UINT32_MAX) : std::nullopt;
    const auto length = words.size() == 2 ? ParseInteger(words[1], 0, UINT32_MAX) : std::nullopt;
    if (!every || !length || *length > *every) {
        Fail(problem, "overload takes EVERY LENGTH, whole numbers with LENGTH <= EVERY");
        return std::nullopt;
    }
    return OverloadPattern{static_cast<std::uint32_t>(*every), static_cast<std::uint32_t>(*length)};
}

std::string ReadingPatternText(const ReadingPattern& pattern) {
    auto s = [](auto v) { return std::to_string(v); };
    switch (pattern.kind) {
        case ReadingKind::Constant: return "constant " + s(pattern.values.empty() ? 0 : pattern.values[0]);
        case ReadingKind::List: {
            std::string text = "list";
            for (auto v : pattern.values) text += " " + s(v);
            return text;
        }
        case ReadingKind::Ramp: return "ramp " + s(pattern.start) + " " + s(pattern.stop) + " " + s(pattern.step);
        case ReadingKind::Sine: {
            char period[32];
            std::snprintf(period, sizeof period, "%g", pattern.periodS);
            return "sine " + s(pattern.start) + " " + s(pattern.amplitude) + " " + period;
        }
        case ReadingKind::Walk:
            return "walk " + s(pattern.start) + " " + s(pattern.step) + " " + s(pattern.low) + " " + s(pattern.high);
    }
    return "constant 0";
}

ReadingGenerator::ReadingGenerator(ReadingPattern pattern, OverloadPattern overload, std::uint64_t seed)
    : pattern_(std::move(pattern)), overload_(overload), rng_(seed), walk_(pattern_.start) {
    if (pattern_.values.empty()) pattern_.values.push_back(0);
}

ReadingGenerator::Reading ReadingGenerator::Next(std::int64_t nowUs) {
    const std::uint64_t index = count_++;
    const std::int64_t value = NextValue(nowUs);
    const bool overload = overload_.every != 0 && index % overload_.every >= overload_.every - overload_.length;
    return {value, overload};
}

std::int64_t ReadingGenerator::NextValue(std::int64_t nowUs) {
    const std::uint64_t index = count_ - 1;
    switch (pattern_.kind) {
        case ReadingKind::Constant: return pattern_.values[0];
        case ReadingKind::List: return pattern_.values[index % pattern_.values.size()];
        case ReadingKind::Ramp: {
            const std::int64_t steps = (std::int64_t{pattern_.stop} - pattern_.start) / pattern_.step + 1;
            return pattern_.start + static_cast<std::int64_t>(index % static_cast<std::uint64_t>(steps)) * pattern_.step;
        }
        case ReadingKind::Sine: {
            const double t = static_cast<double>(nowUs) / 1e6;
            const double phase = 2.0 * std::numbers::pi * std::fmod(t / pattern_.periodS, 1.0);
            return pattern_.start + std::llround(pattern_.amplitude * std::sin(phase));
        }
        case ReadingKind::Walk: {
            if (index == 0) return walk_;
            walk_ = std::clamp<std::int64_t>(walk_ + rng_.Between(-pattern_.step, pattern_.step), pattern_.low, pattern_.high);
            return walk_;
        }
    }
    return 0;
}

}  // namespace zuz::sim
