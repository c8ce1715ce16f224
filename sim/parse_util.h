// Small text helpers for the simulator's configuration and options.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zuz::sim {

// Blank-separated words.
std::vector<std::string_view> SplitWords(std::string_view text);
std::string_view Trim(std::string_view text);
std::string Lower(std::string_view text);

// A whole number, decimal with an optional sign or hexadecimal with 0x; nothing when the text
// is not one or is outside [low, high].
std::optional<std::int64_t> ParseInteger(std::string_view text, std::int64_t low, std::int64_t high);
// A plain decimal number ("0.05", "2", "1e-3"); nothing on any other text.
std::optional<double> ParseNumber(std::string_view text);

}  // namespace zuz::sim
