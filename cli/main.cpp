// zuzavadi-log: the monitor without a window. See `zuzavadi-log --help`.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <variant>
#include <vector>

#include "cli/logger.h"
#include "cli/logger_options.h"
#include "cli/serial_logger_port.h"
#include "serial/port_list.h"

namespace {

int g_stopFd = -1;

void OnStopSignal(int) { zuz::cli::Logger::RequestStopFromSignal(g_stopFd); }

// One line to stdout, at once: whoever follows the log (journald, a pipe) sees it as it happens.
void WriteLine(const std::string& line) {
    std::string text = line;
    text += '\n';
    const char* p = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t n = write(STDOUT_FILENO, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // a closed stdout must not stop the recording
        p += n;
        left -= std::size_t(n);
    }
}

void PrintError(const std::string& message) { std::fprintf(stderr, "%s\n", message.c_str()); }

}  // namespace

int main(int argc, char** argv) {
    using zuz::cli::LoggerOptions;
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const auto parsed = zuz::cli::ParseLoggerArguments(arguments);
    if (const auto* error = std::get_if<zuz::cli::UsageError>(&parsed)) {
        PrintError(error->message);
        return zuz::cli::kExitUsage;
    }
    const LoggerOptions& options = std::get<LoggerOptions>(parsed);

    switch (options.action) {
        case LoggerOptions::Action::Help:
            std::fputs(zuz::cli::LoggerUsageText().c_str(), stdout);
            return zuz::cli::kExitOk;
        case LoggerOptions::Action::Version:
            WriteLine(std::string("zuzavadi-log ") + ZUZ_VERSION);
            return zuz::cli::kExitOk;
        case LoggerOptions::Action::ListPorts:
            for (const std::string& port : zuz::ListSerialPorts()) WriteLine(port);
            return zuz::cli::kExitOk;
        case LoggerOptions::Action::Run: break;
    }

    if (options.recordPath) {
        if (const auto problem = zuz::cli::RecordPathProblem(*options.recordPath)) {
            PrintError("zuzavadi-log: " + *problem);
            return zuz::cli::kExitUsage;
        }
    }

    // A reader that goes away must not kill a recording with SIGPIPE.
    signal(SIGPIPE, SIG_IGN);

    zuz::SystemClock clock;
    zuz::cli::SerialLoggerPort port;
    zuz::cli::Logger logger(options, port, clock, WriteLine);

    g_stopFd = logger.StopFd();
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    const int status = logger.Run();
    // The loop is over: later signals end the process the ordinary way.
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    return status;
}
