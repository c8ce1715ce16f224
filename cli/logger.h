// zuzavadi-log's heart: one MonitorCore hosted on an EventLoop, doing what the window's
// Connect, Save data and Disconnect do, as the command line asks.
//
// Everything runs on the loop's thread. The loop sleeps until the next timer tick, the port
// hangs up, or the stop descriptor is written (by a signal handler: RequestStopFromSignal).
// Replies are read at the tick after they arrive, before its request goes out.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "app/core/monitor_core.h"
#include "cli/event_loop.h"
#include "cli/logger_options.h"
#include "cli/logger_port.h"

namespace zuz::cli {

// Exit statuses of zuzavadi-log.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // port not opened, Settings.ini missing, port lost...
inline constexpr int kExitUsage = 2;    // bad arguments, a --record path that holds data

// Identifier of the --duration timer; the monitor's own timers are 17, 18 and 20.
inline constexpr unsigned kDurationTimer = 1000;

// Why a --record path may not be used: it exists and is not an empty regular file (the
// recording would overwrite it). Nullopt when it is free to use. An empty path (automatic
// name) is always free: an automatic name never replaces a file.
std::optional<std::string> RecordPathProblem(const std::string& path);

class Logger : private IMonitorHost {
public:
    // `writeLine` gets every line meant for stdout, without its line end.
    Logger(const LoggerOptions& options, ILoggerPort& port, const IClock& clock,
           std::function<void(const std::string&)> writeLine);
    ~Logger() override;
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    // Connects, runs until the duration ends, a stop is requested or the port is lost, then
    // disconnects as the window does. Returns the exit status.
    int Run();

    // Writing 8 bytes (any value) here asks the loop to end, between two handlers.
    int StopFd() const { return stopFd_; }
    // For a signal handler: async-signal-safe.
    static void RequestStopFromSignal(int stopFd);

    MonitorCore& Core() { return core_; }
    EventLoop& Loop() { return loop_; }

private:
    // The port as the core sees it: every read or write failure is noted as a lost port.
    class WatchedPort : public IBytePort {
    public:
        explicit WatchedPort(ILoggerPort& port) : port_(port) {}
        long Read(std::uint8_t* buffer, std::size_t length, std::size_t* count) override;
        long Write(const std::uint8_t* data, std::size_t length) override;
        long failure = 0;

    private:
        ILoggerPort& port_;
    };

    // IMonitorHost
    void StartTimer(unsigned id, unsigned periodMs) override { loop_.StartTimer(id, periodMs); }
    void StopTimer(unsigned id) override { loop_.StopTimer(id); }
    void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) override;
    void ShowStatusLine(const std::string& line) override { writeLine_(line); }
    long OpenPort(const std::string& portName) override;
    std::string PortErrorText(long error) const override { return port_.ErrorText(error); }
    void SetupPort(unsigned baudRate) override { port_.Setup(baudRate); }
    void ClosePort() override;
    void OnChannelUpdated(unsigned channel, unsigned char command) override;
    void OnFindingOver() override;
    void OnPortLost() override;

    void OnTimer(unsigned id);
    void OnPortReady(short revents);
    void CheckPort();
    void Stop(int exitCode);

    LoggerOptions options_;
    ILoggerPort& port_;
    const IClock& clock_;
    std::function<void(const std::string&)> writeLine_;
    EventLoop loop_;
    WatchedPort watchedPort_{port_};
    MonitorCore core_;

    int stopFd_ = -1;
    int portFd_ = -1;  // the port's descriptor while the loop watches it
    long long durationLeftMs_ = 0;
    std::optional<int> exitCode_;
};

}  // namespace zuz::cli
