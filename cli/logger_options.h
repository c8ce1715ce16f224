// The command line of zuzavadi-log, parsed without touching the system: a pure function from
// the arguments to either the options or the reason they are refused. Safe on any input.
#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace zuz::cli {

struct LoggerOptions {
    enum class Action { Run, ListPorts, Help, Version };
    Action action = Action::Run;

    std::string port;          // --port DEVICE (required for Run)
    unsigned baudRate = 115200;  // --baud, one of the baud list's rates
    unsigned channelCount = 2;   // --channels, one of the channel counts
    bool fixedAddresses = false; // --fixed: addresses and remarks from Settings.ini
    // --record: nullopt = no recording; "" = the automatic name in the working directory.
    std::optional<std::string> recordPath;
    unsigned saveInterval = 0;  // --interval, 0..255 seconds (0: one row per rotation)
    // --duration in milliseconds; nullopt = until a signal or a lost port.
    std::optional<long long> durationMs;
    bool printReadings = false;  // --print

    bool operator==(const LoggerOptions&) const = default;
};

// One line naming the argument and what is wrong with it, ending with a hint to --help.
struct UsageError {
    std::string message;
};

// `arguments` are the words after the program's name. "--name value" and "--name=value" are
// both accepted. --help wins over everything else; --version and --list-ports stand alone.
std::variant<LoggerOptions, UsageError> ParseLoggerArguments(const std::vector<std::string>& arguments);

// The text --help prints.
std::string LoggerUsageText();

}  // namespace zuz::cli
