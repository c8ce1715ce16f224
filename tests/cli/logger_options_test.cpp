// The logger's command line: what is accepted and what it becomes, and every refusal names
// the argument at fault and points to --help.
#include <gtest/gtest.h>

#include "cli/logger_options.h"

namespace zuz::cli {
namespace {

using Args = std::vector<std::string>;

LoggerOptions Parsed(const Args& args) {
    auto result = ParseLoggerArguments(args);
    if (auto* error = std::get_if<UsageError>(&result)) {
        ADD_FAILURE() << "refused: " << error->message;
        return {};
    }
    return std::get<LoggerOptions>(result);
}

LoggerOptions Run(const std::string& port) {
    LoggerOptions o;
    o.port = port;
    return o;
}

struct GoodCase {
    const char* name;
    Args args;
    LoggerOptions expected;
};

std::vector<GoodCase> GoodCases() {
    std::vector<GoodCase> cases;
    cases.push_back({"defaults", {"--port", "/dev/ttyUSB0"}, Run("/dev/ttyUSB0")});
    {
        LoggerOptions o = Run("/dev/pts/3");
        o.baudRate = 9600;
        o.channelCount = 20;
        o.fixedAddresses = true;
        o.recordPath = "out.csv";
        o.saveInterval = 255;
        o.durationMs = 60000;
        o.printReadings = true;
        cases.push_back({"everything",
                         {"--port", "/dev/pts/3", "--baud", "9600", "--channels", "20", "--fixed", "--record",
                          "out.csv", "--interval", "255", "--duration", "60", "--print"},
                         o});
    }
    {
        LoggerOptions o = Run("/dev/x");
        o.baudRate = 57600;
        o.recordPath = "";
        cases.push_back({"equals form, auto name", {"--baud=57600", "--record=auto", "--port=/dev/x"}, o});
    }
    {
        LoggerOptions o = Run("/dev/x");
        o.durationMs = 2500;
        cases.push_back({"fractional duration", {"--port", "/dev/x", "--duration", "2.5"}, o});
    }
    {
        LoggerOptions o = Run("/dev/x");
        o.durationMs = 1;
        cases.push_back({"millisecond duration", {"--port", "/dev/x", "--duration", "0.001"}, o});
    }
    {
        LoggerOptions o = Run("/dev/x");
        o.saveInterval = 0;
        o.channelCount = 9;
        cases.push_back({"interval zero, nine channels", {"--port", "/dev/x", "--interval", "0", "--channels", "9"}, o});
    }
    {
        LoggerOptions o = Run("-odd name");
        cases.push_back({"device starting with one dash", {"--port", "-odd name"}, o});
    }
    {
        LoggerOptions o;
        o.action = LoggerOptions::Action::ListPorts;
        cases.push_back({"list ports", {"--list-ports"}, o});
    }
    {
        LoggerOptions o;
        o.action = LoggerOptions::Action::Version;
        cases.push_back({"version", {"--version"}, o});
    }
    {
        LoggerOptions o;
        o.action = LoggerOptions::Action::Help;
        cases.push_back({"help wins over bad arguments", {"--baud", "7", "--help", "--nonsense"}, o});
        cases.push_back({"short help", {"-h"}, o});
    }
    return cases;
}

TEST(LoggerOptions, AcceptedCommandLines) {
    for (const GoodCase& c : GoodCases()) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Parsed(c.args), c.expected);
    }
}

TEST(LoggerOptions, EveryBaudRateAndChannelCountOfTheLists) {
    for (unsigned baud : {9600u, 19200u, 38400u, 57600u, 115200u})
        EXPECT_EQ(Parsed({"--port", "p", "--baud", std::to_string(baud)}).baudRate, baud);
    for (unsigned n : {2u, 4u, 6u, 8u, 9u, 10u, 12u, 15u, 16u, 20u})
        EXPECT_EQ(Parsed({"--port", "p", "--channels", std::to_string(n)}).channelCount, n);
}

struct BadCase {
    const char* name;
    Args args;
    const char* mustName;  // the argument the message must name
};

TEST(LoggerOptions, RefusalsNameTheArgumentAndHintAtHelp) {
    const BadCase cases[] = {
        {"nothing at all", {}, "--port"},
        {"unknown option", {"--port", "p", "--speed", "9600"}, "--speed"},
        {"unknown option in equals form", {"--colour=red", "--port", "p"}, "--colour"},
        {"positional word", {"--port", "p", "extra"}, "extra"},
        {"single dash option", {"-p", "/dev/x"}, "-p"},
        {"missing port value at end", {"--port"}, "--port"},
        {"port value is an option", {"--port", "--print"}, "--port"},
        {"empty port", {"--port="}, "--port"},
        {"baud not in list", {"--port", "p", "--baud", "4800"}, "--baud"},
        {"baud above every rate", {"--port", "p", "--baud", "99999999999999999999999"}, "--baud"},
        {"baud not a number", {"--port", "p", "--baud", "fast"}, "--baud"},
        {"baud with sign", {"--port", "p", "--baud", "+9600"}, "--baud"},
        {"baud missing value", {"--port", "p", "--baud"}, "--baud"},
        {"channels not in list", {"--port", "p", "--channels", "3"}, "--channels"},
        {"channels zero", {"--port", "p", "--channels", "0"}, "--channels"},
        {"channels above 20", {"--port", "p", "--channels", "21"}, "--channels"},
        {"channels with blank", {"--port", "p", "--channels", " 4"}, "--channels"},
        {"interval above 255", {"--port", "p", "--interval", "256"}, "--interval"},
        {"interval negative", {"--port", "p", "--interval", "-1"}, "--interval"},
        {"interval fractional", {"--port", "p", "--interval", "1.5"}, "--interval"},
        {"interval hex", {"--port", "p", "--interval", "0x10"}, "--interval"},
        {"interval missing value", {"--port", "p", "--interval"}, "--interval"},
        {"duration zero", {"--port", "p", "--duration", "0"}, "--duration"},
        {"duration negative", {"--port", "p", "--duration", "-5"}, "--duration"},
        {"duration words", {"--port", "p", "--duration", "ten"}, "--duration"},
        {"duration bare dot", {"--port", "p", "--duration", "5."}, "--duration"},
        {"duration four decimals", {"--port", "p", "--duration", "1.0001"}, "--duration"},
        {"duration absurd", {"--port", "p", "--duration", "9999999999999"}, "--duration"},
        {"record missing value", {"--port", "p", "--record"}, "--record"},
        {"flag given a value", {"--port", "p", "--fixed=yes"}, "--fixed"},
        {"option twice", {"--port", "a", "--port", "b"}, "--port"},
        {"list ports with others", {"--list-ports", "--port", "p"}, "--list-ports"},
        {"version with others", {"--print", "--version"}, "--version"},
        {"no port with other options", {"--baud", "9600", "--print"}, "--port"},
    };
    for (const BadCase& c : cases) {
        SCOPED_TRACE(c.name);
        const auto result = ParseLoggerArguments(c.args);
        const auto* error = std::get_if<UsageError>(&result);
        ASSERT_NE(error, nullptr);
        EXPECT_NE(error->message.find(c.mustName), std::string::npos) << error->message;
        EXPECT_NE(error->message.find("--help"), std::string::npos) << error->message;
        EXPECT_EQ(error->message.find('\n'), std::string::npos) << "one line: " << error->message;
    }
}

}  // namespace
}  // namespace zuz::cli
