#include "sim/reading_generator.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zuz::sim {
namespace {

std::vector<std::int64_t> Take(const std::string& text, std::size_t n, std::int64_t stepUs = 0,
                               std::uint64_t seed = 7) {
    std::string problem;
    const auto pattern = ParseReadingPattern(text, &problem);
    EXPECT_TRUE(pattern) << text << ": " << problem;
    if (!pattern) return {};
    ReadingGenerator gen(*pattern, {}, seed);
    std::vector<std::int64_t> values;
    for (std::size_t i = 0; i < n; ++i) values.push_back(gen.Next(static_cast<std::int64_t>(i) * stepUs).value);
    return values;
}

TEST(ReadingGenerator, SequencesOfEachKind) {
    struct Case {
        const char* text;
        std::int64_t stepUs;
        std::vector<std::int64_t> expected;
    };
    const Case cases[] = {
        {"constant -42", 0, {-42, -42, -42}},
        {"list 1 -2 3", 0, {1, -2, 3, 1, -2}},
        {"ramp 0 10 5", 0, {0, 5, 10, 0, 5}},
        {"ramp 0 9 5", 0, {0, 5, 0, 5}},  // 10 would pass TO: back to FROM
        {"ramp 10 -10 -10", 0, {10, 0, -10, 10}},
        {"ramp 7 7 1", 0, {7, 7}},
        // A quarter period per reading: centre, top, centre, bottom.
        {"sine 100 50 4", 1'000'000, {100, 150, 100, 50, 100}},
        {"  SINE 0 1000 0.5 ", 125'000, {0, 1000, 0, -1000}},
        {"walk 5 0 0 10", 0, {5, 5, 5}},
    };
    for (const auto& c : cases) EXPECT_EQ(Take(c.text, c.expected.size(), c.stepUs), c.expected) << c.text;
}

TEST(ReadingGenerator, WalkStaysInBoundsMovesAtMostStepAndRepeatsWithItsSeed) {
    const auto a = Take("walk 0 3 -5 5", 2000, 0, 11);
    ASSERT_EQ(a.size(), 2000u);
    EXPECT_EQ(a[0], 0);
    bool reachedLow = false, reachedHigh = false;
    for (std::size_t i = 1; i < a.size(); ++i) {
        ASSERT_LE(std::abs(a[i] - a[i - 1]), 3) << i;
        ASSERT_GE(a[i], -5);
        ASSERT_LE(a[i], 5);
        reachedLow |= a[i] == -5;
        reachedHigh |= a[i] == 5;
    }
    EXPECT_TRUE(reachedLow && reachedHigh) << "the walk should wander over its whole range";
    EXPECT_EQ(Take("walk 0 3 -5 5", 2000, 0, 11), a);
    EXPECT_NE(Take("walk 0 3 -5 5", 2000, 0, 12), a);
}

TEST(ReadingGenerator, OverloadEpisodesAreTheLastReadingsOfEachPeriod) {
    struct Case {
        OverloadPattern pattern;
        std::vector<bool> expected;
    };
    const Case cases[] = {
        {{0, 0}, {false, false, false, false}},
        {{4, 1}, {false, false, false, true, false, false, false, true}},
        {{5, 2}, {false, false, false, true, true, false, false, false, true, true}},
        {{3, 3}, {true, true, true}},
        {{3, 0}, {false, false, false}},
    };
    for (const auto& c : cases) {
        ReadingGenerator gen(ReadingPattern{}, c.pattern, 1);
        std::vector<bool> got;
        for (std::size_t i = 0; i < c.expected.size(); ++i) got.push_back(gen.Next(0).overload);
        EXPECT_EQ(got, c.expected) << c.pattern.every << " " << c.pattern.length;
    }
}

TEST(ReadingGenerator, BadTextsAreRefusedWithAReason) {
    struct Case {
        const char* text;
        const char* inProblem;
    };
    const Case cases[] = {
        {"", "empty"},
        {"square 1 2", "unknown reading"},
        {"constant", "takes 1"},
        {"constant 1 2", "takes 1"},
        {"constant 1.5", "not a 32-bit whole number"},
        {"constant 4294967296", "not a 32-bit whole number"},
        {"list", "at least one"},
        {"ramp 0 10 0", "non-zero"},
        {"ramp 0 10 -1", "towards TO"},
        {"sine 0 10 0", "PERIOD_S"},
        {"sine 0 -10 1", "AMPLITUDE"},
        {"walk 20 1 0 10", "LOW <= START <= HIGH"},
        {"walk 0 -1 0 10", "STEP >= 0"},
    };
    for (const auto& c : cases) {
        std::string problem;
        EXPECT_FALSE(ParseReadingPattern(c.text, &problem)) << c.text;
        EXPECT_NE(problem.find(c.inProblem), std::string::npos) << c.text << " -> " << problem;
    }
    for (const char* bad : {"", "5", "1 2 3", "2 3", "x 1"}) EXPECT_FALSE(ParseOverloadPattern(bad, nullptr)) << bad;
}

TEST(ReadingGenerator, TextFormReadsBackToTheSameSequence) {
    for (const char* text : {"constant 7", "list 3 -1 4", "ramp -100 100 25", "sine 5 70 2.5", "walk 10 2 0 20"}) {
        const auto pattern = ParseReadingPattern(text, nullptr);
        ASSERT_TRUE(pattern) << text;
        const std::string again = ReadingPatternText(*pattern);
        EXPECT_EQ(Take(again, 30, 100'000), Take(text, 30, 100'000)) << text << " vs " << again;
    }
}

}  // namespace
}  // namespace zuz::sim
