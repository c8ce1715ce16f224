#include "cli/logger_options.h"

#include <algorithm>
#include <array>
#include <set>
#include <string_view>

#include "app/core/monitor_core.h"  // the baud list and the channel counts

namespace zuz::cli {
namespace {

constexpr long long kMaxDurationSeconds = 1000000000LL;  // about 31 years: keeps ms in range

UsageError Refuse(const std::string& what) {
    return UsageError{"zuzavadi-log: " + what + " (see zuzavadi-log --help)"};
}

// Plain decimal digits only: no sign, no blanks, no base prefix. Nullopt for anything else or
// for a value above `limit`.
std::optional<unsigned long long> ParseUnsigned(std::string_view text, unsigned long long limit) {
    if (text.empty() || text.size() > 19) return std::nullopt;
    unsigned long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + unsigned(c - '0');
    }
    if (value > limit) return std::nullopt;
    return value;
}

// Seconds with up to three decimals ("90", "2.5", "0.250"), as milliseconds.
std::optional<long long> ParseSecondsAsMs(std::string_view text) {
    const std::size_t dot = text.find('.');
    const std::string_view whole = text.substr(0, dot);
    std::string_view fraction = dot == std::string_view::npos ? std::string_view{} : text.substr(dot + 1);
    if (dot != std::string_view::npos && (fraction.empty() || fraction.size() > 3)) return std::nullopt;
    const auto seconds = ParseUnsigned(whole, kMaxDurationSeconds);
    if (!seconds) return std::nullopt;
    long long ms = static_cast<long long>(*seconds) * 1000;
    if (!fraction.empty()) {
        const auto digits = ParseUnsigned(fraction, 999);
        if (!digits) return std::nullopt;
        long long scaled = static_cast<long long>(*digits);
        for (std::size_t i = fraction.size(); i < 3; ++i) scaled *= 10;
        ms += scaled;
    }
    return ms;
}

template <typename T, std::size_t N>
std::string JoinList(const T (&values)[N]) {
    std::string out;
    for (unsigned v : values) {
        if (!out.empty()) out += ", ";
        out += std::to_string(v);
    }
    return out;
}

struct OptionInfo {
    std::string_view name;
    bool takesValue;
};

constexpr std::array<OptionInfo, 11> kOptions = {{
    {"--port", true},
    {"--baud", true},
    {"--channels", true},
    {"--fixed", false},
    {"--record", true},
    {"--interval", true},
    {"--duration", true},
    {"--print", false},
    {"--list-ports", false},
    {"--help", false},
    {"--version", false},
}};

const OptionInfo* FindOption(std::string_view name) {
    for (const OptionInfo& o : kOptions)
        if (o.name == name) return &o;
    return nullptr;
}

}  // namespace

std::variant<LoggerOptions, UsageError> ParseLoggerArguments(const std::vector<std::string>& arguments) {
    // --help answers whatever else is on the line: someone asking for it is unsure of the rest.
    for (const std::string& a : arguments)
        if (a == "--help" || a == "-h") {
            LoggerOptions help;
            help.action = LoggerOptions::Action::Help;
            return help;
        }

    LoggerOptions options;
    std::set<std::string_view> seen;
    bool standalone = false;  // --list-ports or --version

    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& word = arguments[i];
        if (word.size() < 3 || word.compare(0, 2, "--") != 0)
            return Refuse("unexpected argument '" + word + "'");

        std::string_view name = word;
        std::optional<std::string> inlineValue;
        if (const std::size_t eq = word.find('='); eq != std::string::npos) {
            name = std::string_view(word).substr(0, eq);
            inlineValue = word.substr(eq + 1);
        }
        const OptionInfo* option = FindOption(name);
        if (option == nullptr) return Refuse("unknown option '" + std::string(name) + "'");
        if (!seen.insert(option->name).second) return Refuse(std::string(name) + " given twice");

        std::string value;
        if (option->takesValue) {
            if (inlineValue) {
                value = *inlineValue;
            } else {
                // An option word is never taken as a value: "--port --print" lacks the device.
                if (i + 1 >= arguments.size() || arguments[i + 1].compare(0, 2, "--") == 0)
                    return Refuse(std::string(name) + " needs a value");
                value = arguments[++i];
            }
            if (value.empty()) return Refuse(std::string(name) + " needs a value");
        } else if (inlineValue) {
            return Refuse(std::string(name) + " takes no value");
        }

        if (name == "--port") {
            options.port = value;
        } else if (name == "--baud") {
            const auto rate = ParseUnsigned(value, 1u << 30);
            if (!rate || std::find(std::begin(kBaudRates), std::end(kBaudRates), *rate) == std::end(kBaudRates))
                return Refuse("--baud '" + value + "' is not one of " + JoinList(kBaudRates));
            options.baudRate = unsigned(*rate);
        } else if (name == "--channels") {
            const auto count = ParseUnsigned(value, 1000);
            if (!count || !IsValidChannelCount(unsigned(*count)))
                return Refuse("--channels '" + value + "' is not one of " + JoinList(kChannelCounts));
            options.channelCount = unsigned(*count);
        } else if (name == "--fixed") {
            options.fixedAddresses = true;
        } else if (name == "--record") {
            options.recordPath = value == "auto" ? std::string() : value;
        } else if (name == "--interval") {
            const auto seconds = ParseUnsigned(value, 255);
            if (!seconds) return Refuse("--interval '" + value + "' is not a whole number of seconds from 0 to 255");
            options.saveInterval = unsigned(*seconds);
        } else if (name == "--duration") {
            const auto ms = ParseSecondsAsMs(value);
            if (!ms || *ms == 0) return Refuse("--duration '" + value + "' is not a number of seconds above 0");
            options.durationMs = *ms;
        } else if (name == "--print") {
            options.printReadings = true;
        } else if (name == "--list-ports") {
            options.action = LoggerOptions::Action::ListPorts;
            standalone = true;
        } else if (name == "--version") {
            options.action = LoggerOptions::Action::Version;
            standalone = true;
        }
    }

    if (standalone) {
        if (seen.size() > 1) {
            const char* alone = options.action == LoggerOptions::Action::Version ? "--version" : "--list-ports";
            return Refuse(std::string(alone) + " stands alone, without other options");
        }
        return options;
    }
    if (options.port.empty()) return Refuse("--port DEVICE is missing");
    return options;
}

std::string LoggerUsageText() {
    return "Usage:\n"
           "  zuzavadi-log --port DEVICE [--baud 9600|19200|38400|57600|115200]\n"
           "               [--channels 2|4|6|8|9|10|12|15|16|20] [--fixed]\n"
           "               [--record PATH|auto] [--interval SECONDS] [--duration SECONDS] [--print]\n"
           "  zuzavadi-log --list-ports | --help | --version\n"
           "\n"
           "Connects to the master controller on DEVICE (8N1), finds the instruments and reads them\n"
           "in an endless rotation, as the window's Connect does. Every status text is printed on\n"
           "stdout as \"YYYY-mm-dd HH:MM:SS -- text\".\n"
           "\n"
           "  --port DEVICE      the serial device, e.g. /dev/ttyUSB0 (see --list-ports)\n"
           "  --baud RATE        line speed (default 115200)\n"
           "  --channels N       number of channels (default 2); the scan stops at N instruments\n"
           "  --fixed            probe the addresses listed in Settings.ini in the working\n"
           "                     directory instead of scanning (their remarks go to the header)\n"
           "  --record PATH      record to PATH (CSV, GB18030) once finding is over; a PATH that\n"
           "                     exists and is not empty is refused; 'auto' makes the automatic\n"
           "                     name SampleYYYYmmddHHMMSS.csv in the working directory\n"
           "  --interval S       one row every S seconds (1..255); 0 (default) one row per rotation\n"
           "  --duration S       end after S seconds (decimals allowed); default: run until\n"
           "                     SIGINT or SIGTERM\n"
           "  --print            also print one line per reading: time, channel, title, value, unit\n"
           "  --list-ports       list the serial ports the window would offer, one per line\n"
           "  --version          print the version\n"
           "\n"
           "Exit status: 0 after a normal end (duration, SIGINT, SIGTERM); 1 when the port cannot\n"
           "be opened, Settings.ini is missing with --fixed, recording cannot start or the port is\n"
           "lost; 2 for bad arguments or a --record PATH that would overwrite data.\n";
}

}  // namespace zuz::cli
