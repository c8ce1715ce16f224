// The logger's argument parser on any words: it never fails to answer, refusals name the
// program and point to --help, accepted options lie inside their lists, and the options it
// accepted, written back as arguments, parse to the same options.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <variant>
#include <vector>

#include "cli/logger_options.h"
#include "fuzz_check.h"

namespace {

using zuz::cli::LoggerOptions;

std::vector<std::string> AsArguments(const LoggerOptions& o) {
    switch (o.action) {
        case LoggerOptions::Action::Help: return {"--help"};
        case LoggerOptions::Action::Version: return {"--version"};
        case LoggerOptions::Action::ListPorts: return {"--list-ports"};
        case LoggerOptions::Action::Run: break;
    }
    std::vector<std::string> a = {"--port=" + o.port, "--baud", std::to_string(o.baudRate), "--channels",
                                  std::to_string(o.channelCount), "--interval=" + std::to_string(o.saveInterval)};
    if (o.fixedAddresses) a.push_back("--fixed");
    if (o.printReadings) a.push_back("--print");
    if (o.recordPath) a.push_back("--record=" + (o.recordPath->empty() ? std::string("auto") : *o.recordPath));
    if (o.durationMs) {
        char text[40];
        std::snprintf(text, sizeof text, "%lld.%03lld", *o.durationMs / 1000, *o.durationMs % 1000);
        a.push_back(std::string("--duration=") + text);
    }
    return a;
}

bool IsOneOf(unsigned v, std::initializer_list<unsigned> list) {
    for (unsigned x : list)
        if (x == v) return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Words are separated by 0x00.
    std::vector<std::string> words;
    std::string word;
    bool any = false;
    for (std::size_t i = 0; i < size; ++i) {
        any = true;
        if (data[i] == 0) {
            words.push_back(word);
            word.clear();
        } else {
            word += char(data[i]);
        }
    }
    if (any) words.push_back(word);
    if (words.size() > 64) return 0;

    const auto result = zuz::cli::ParseLoggerArguments(words);
    bool asksHelp = false;
    for (const auto& w : words) asksHelp |= w == "--help" || w == "-h";

    if (const auto* error = std::get_if<zuz::cli::UsageError>(&result)) {
        CHECK(!asksHelp);
        CHECK(error->message.rfind("zuzavadi-log: ", 0) == 0);
        const std::string tail = "(see zuzavadi-log --help)";
        CHECK(error->message.size() > tail.size() &&
              error->message.compare(error->message.size() - tail.size(), tail.size(), tail) == 0);
        return 0;
    }
    const LoggerOptions& o = std::get<LoggerOptions>(result);
    CHECK(asksHelp == (o.action == LoggerOptions::Action::Help));
    if (o.action == LoggerOptions::Action::Run) {
        CHECK(!o.port.empty());
        CHECK(IsOneOf(o.baudRate, {9600, 19200, 38400, 57600, 115200}));
        CHECK(IsOneOf(o.channelCount, {2, 4, 6, 8, 9, 10, 12, 15, 16, 20}));
        CHECK(o.saveInterval <= 255);
        CHECK(!o.durationMs || *o.durationMs > 0);
    }
    if (o.action != LoggerOptions::Action::Help) {
        const auto again = zuz::cli::ParseLoggerArguments(AsArguments(o));
        CHECK(std::holds_alternative<LoggerOptions>(again));
        CHECK(std::get<LoggerOptions>(again) == o);
    }
    return 0;
}
