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

std::optional<ReadingSpec> ParseReadingSpec(std::string_view text, std::string* problem) {
    const auto words = SplitWords(text);
    if (words.empty()) {
        Fail(problem, "empty reading (use constant, list, ramp, sine or walk)");
        return std::nullopt;
    }
    const std::string kind = Lower(words[0]);
    ReadingSpec spec;
    std::vector<std::int32_t> n;
    if (kind == "constant") {
        if (!ReadIntegers(words, 1, n, problem)) return std::nullopt;
        spec.kind = ReadingKind::Constant;
        spec.values = n;
    } else if (kind == "list") {
        if (words.size() < 2) {
            Fail(problem, "'list' needs at least one value");
            return std::nullopt;
        }
        if (!ReadIntegers(words, 0, n, problem)) return std::nullopt;
        spec.kind = ReadingKind::List;
        spec.values = n;
    } else if (kind == "ramp") {
        if (!ReadIntegers(words, 3, n, problem)) return std::nullopt;
        spec.kind = ReadingKind::Ramp;
        spec.start = n[0];
        spec.stop = n[1];
        spec.step = n[2];
        if (spec.step == 0 || (spec.stop != spec.start && (spec.stop > spec.start) != (spec.step > 0))) {
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
        spec.kind = ReadingKind::Sine;
        spec.start = static_cast<std::int32_t>(*centre);
        spec.amplitude = static_cast<std::int32_t>(*amplitude);
        spec.periodS = *period;
    } else if (kind == "walk") {
        if (!ReadIntegers(words, 4, n, problem)) return std::nullopt;
        spec.kind = ReadingKind::Walk;
        spec.start = n[0];
        spec.step = n[1];
        spec.low = n[2];
        spec.high = n[3];
        if (spec.step < 0 || spec.low > spec.high || spec.start < spec.low || spec.start > spec.high) {
            Fail(problem, "walk needs STEP >= 0 and LOW <= START <= HIGH");
            return std::nullopt;
        }
    } else {
        Fail(problem, "unknown reading '" + std::string(words[0]) + "' (use constant, list, ramp, sine or walk)");
        return std::nullopt;
    }
    return spec;
}

std::optional<OverloadSpec> ParseOverloadSpec(std::string_view text, std::string* problem) {
    const auto words = SplitWords(text);
    const auto every = words.size() == 2 ? ParseInteger(words[0], 0, UINT32_MAX) : std::nullopt;
    const auto length = words.size() == 2 ? ParseInteger(words[1], 0, UINT32_MAX) : std::nullopt;
    if (!every || !length || *length > *every) {
        Fail(problem, "overload takes EVERY LENGTH, whole numbers with LENGTH <= EVERY");
        return std::nullopt;
    }
    return OverloadSpec{static_cast<std::uint32_t>(*every), static_cast<std::uint32_t>(*length)};
}

std::string ReadingSpecText(const ReadingSpec& spec) {
    auto s = [](auto v) { return std::to_string(v); };
    switch (spec.kind) {
        case ReadingKind::Constant: return "constant " + s(spec.values.empty() ? 0 : spec.values[0]);
        case ReadingKind::List: {
            std::string text = "list";
            for (auto v : spec.values) text += " " + s(v);
            return text;
        }
        case ReadingKind::Ramp: return "ramp " + s(spec.start) + " " + s(spec.stop) + " " + s(spec.step);
        case ReadingKind::Sine: {
            char period[32];
            std::snprintf(period, sizeof period, "%g", spec.periodS);
            return "sine " + s(spec.start) + " " + s(spec.amplitude) + " " + period;
        }
        case ReadingKind::Walk:
            return "walk " + s(spec.start) + " " + s(spec.step) + " " + s(spec.low) + " " + s(spec.high);
    }
    return "constant 0";
}

ReadingGenerator::ReadingGenerator(ReadingSpec spec, OverloadSpec overload, std::uint64_t seed)
    : spec_(std::move(spec)), overload_(overload), rng_(seed), walk_(spec_.start) {
    if (spec_.values.empty()) spec_.values.push_back(0);
}

ReadingGenerator::Reading ReadingGenerator::Next(std::int64_t nowUs) {
    const std::uint64_t index = count_++;
    const std::int64_t value = NextValue(nowUs);
    const bool overload = overload_.every != 0 && index % overload_.every >= overload_.every - overload_.length;
    return {value, overload};
}

std::int64_t ReadingGenerator::NextValue(std::int64_t nowUs) {
    const std::uint64_t index = count_ - 1;
    switch (spec_.kind) {
        case ReadingKind::Constant: return spec_.values[0];
        case ReadingKind::List: return spec_.values[index % spec_.values.size()];
        case ReadingKind::Ramp: {
            const std::int64_t steps = (std::int64_t{spec_.stop} - spec_.start) / spec_.step + 1;
            return spec_.start + static_cast<std::int64_t>(index % static_cast<std::uint64_t>(steps)) * spec_.step;
        }
        case ReadingKind::Sine: {
            const double t = static_cast<double>(nowUs) / 1e6;
            const double phase = 2.0 * std::numbers::pi * std::fmod(t / spec_.periodS, 1.0);
            return spec_.start + std::llround(spec_.amplitude * std::sin(phase));
        }
        case ReadingKind::Walk: {
            if (index == 0) return walk_;
            walk_ = std::clamp<std::int64_t>(walk_ + rng_.Between(-spec_.step, spec_.step), spec_.low, spec_.high);
            return walk_;
        }
    }
    return 0;
}

}  // namespace zuz::sim
