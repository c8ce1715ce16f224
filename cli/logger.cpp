#include "cli/logger.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "protocol/frame.h"
#include "protocol/serial_events.h"

namespace zuz::cli {
namespace {

// The longest single run of the --duration timer (its period is an unsigned count of ms).
constexpr long long kLongestTimerMs = 1LL << 30;

void DrainEventFd(int fd) {
    std::uint64_t count = 0;
    while (read(fd, &count, sizeof count) < 0 && errno == EINTR) {
    }
}

// "YYYY-mm-dd HH:MM:SS.mmm" in local time.
std::string LocalTimeWithMs(std::chrono::system_clock::time_point when) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000 - (ms % 1000 < 0 ? 1 : 0));
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[48];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(text + n, sizeof text - n, ".%03d", int(((ms % 1000) + 1000) % 1000));
    return text;
}

int BaudEntryFor(unsigned baudRate) {
    for (std::size_t i = 0; i < std::size(kBaudRates); ++i)
        if (kBaudRates[i] == baudRate) return int(i);
    return -1;
}

}  // namespace

std::optional<std::string> RecordPathProblem(const std::string& path) {
    if (path.empty()) return std::nullopt;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return std::nullopt;  // missing: recording creates it
    if (S_ISDIR(st.st_mode)) return "--record '" + path + "' is a directory";
    if (S_ISREG(st.st_mode) && st.st_size == 0) return std::nullopt;
    if (!S_ISREG(st.st_mode)) return std::nullopt;  // /dev/null and the like: nothing to lose
    return "--record '" + path + "' exists and is not empty; nothing was changed (choose a new path or 'auto')";
}

long Logger::WatchedPort::Read(std::uint8_t* buffer, std::size_t length, std::size_t* count) {
    const long result = port_.Read(buffer, length, count);
    if (result != 0 && failure == 0) failure = result;
    return result;
}

long Logger::WatchedPort::Write(const std::uint8_t* data, std::size_t length) {
    const long result = port_.Write(data, length);
    if (result != 0 && failure == 0) failure = result;
    return result;
}

Logger::Logger(const LoggerOptions& options, ILoggerPort& port, const IClock& clock,
               std::function<void(const std::string&)> writeLine)
    : options_(options), port_(port), clock_(clock), writeLine_(std::move(writeLine)), core_(*this, clock) {
    stopFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    core_.SetPort(&watchedPort_);
    core_.bus.channelCount = static_cast<std::uint8_t>(options_.channelCount);
    core_.portName = options_.port;
    core_.saveInterval = static_cast<std::uint8_t>(std::min(options_.saveInterval, 255u));
    loop_.onTimer = [this](unsigned id) { OnTimer(id); };
    loop_.Watch(stopFd_, [this](short) {
        DrainEventFd(stopFd_);
        Stop(kExitOk);
    });
}

Logger::~Logger() {
    if (core_.bus.connected) port_.Close();
    if (stopFd_ >= 0) close(stopFd_);
}

void Logger::RequestStopFromSignal(int stopFd) {
    const int savedErrno = errno;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(stopFd, &one, sizeof one);
    errno = savedErrno;
}

int Logger::Run() {
    if (stopFd_ < 0) {
        writeLine_(FormatStatusLine(clock_.Now(), std::string("eventfd: ") + std::strerror(errno)));
        return kExitFailure;
    }
    if (options_.fixedAddresses) {
        // The window refuses the Fixed address box without the file; so do we, before connecting.
        if (!core_.LoadFixedAddresses()) return kExitFailure;
        core_.bus.fixedAddressMode = true;
    }
    if (!core_.Connect(BaudEntryFor(options_.baudRate))) return kExitFailure;

    if (options_.durationMs) {
        durationLeftMs_ = *options_.durationMs;
        const long long first = std::min(durationLeftMs_, kLongestTimerMs);
        durationLeftMs_ -= first;
        loop_.StartTimer(kDurationTimer, unsigned(first));
    }
    loop_.Run();

    if (core_.bus.connected) core_.Disconnect();
    loop_.StopTimer(kDurationTimer);
    return exitCode_.value_or(kExitOk);
}

void Logger::Stop(int exitCode) {
    if (!exitCode_) exitCode_ = exitCode;
    loop_.Quit();
}

void Logger::OnTimer(unsigned id) {
    if (id == kDurationTimer) {
        if (durationLeftMs_ <= 0) {
            Stop(kExitOk);
            return;
        }
        const long long next = std::min(durationLeftMs_, kLongestTimerMs);
        durationLeftMs_ -= next;
        loop_.StartTimer(kDurationTimer, unsigned(next));
        return;
    }
    // What arrived since the last tick is read now, before the tick's own request resets the
    // receiver: credited exactly as if it had been read on arrival (only ticks move the
    // rotation on), at one wake-up per request instead of two.
    if (portFd_ >= 0) {
        core_.OnSerialEvent(EV_RXCHAR, 0);
        CheckPort();
        if (loop_.Quitting()) return;  // the port failed: no tick on a lost port
    }
    core_.OnTimer(id);
    CheckPort();
}

// The port is watched for a hang-up only; input is read at the ticks (see OnTimer).
void Logger::OnPortReady(short revents) {
    std::uint32_t events = EV_RXCHAR;
    if (revents & (POLLHUP | POLLERR | POLLNVAL)) {
        // Reported for as long as the descriptor is open: stop listening now, once.
        loop_.Unwatch(portFd_);
        portFd_ = -1;
        events |= EV_ERR | (CE_PORT_GONE << 16);
    }
    // Bytes that came before the port went are still read and credited; a port that has gone
    // ends up in OnPortLost.
    core_.OnSerialEvent(events, 0);
    CheckPort();
}

void Logger::CheckPort() {
    if (watchedPort_.failure != 0 && core_.bus.connected) core_.PortLost(port_.ErrorText(watchedPort_.failure));
}

void Logger::OnPortLost() {
    if (!exitCode_) Stop(kExitFailure);
}

long Logger::OpenPort(const std::string& portName) {
    watchedPort_.failure = 0;
    const long result = port_.Open(portName);
    if (result == 0) {
        portFd_ = port_.Descriptor();
        loop_.Watch(portFd_, [this](short revents) { OnPortReady(revents); }, 0);
    }
    return result;
}

void Logger::ClosePort() {
    if (portFd_ >= 0) loop_.Unwatch(portFd_);
    portFd_ = -1;
    port_.Close();
}

void Logger::ShowMessage(const std::string& text, const std::string& caption, MessageIcon /*icon*/) {
    // No one to click a box: the message goes to the log, marked with its caption.
    writeLine_(FormatStatusLine(clock_.Now(), "[" + caption + "] " + text));
}

void Logger::OnChannelUpdated(unsigned channel, unsigned char command) {
    if (!options_.printReadings) return;
    if (command != CMD_READ_REPLY && command != CMD_READ_REPLY_SHORT) return;  // identity only
    const ChannelReading& c = core_.channels[channel];
    writeLine_(LocalTimeWithMs(clock_.Now()) + "," + std::to_string(channel + 1) + "," + c.TitleText() + "," +
               c.ValueText() + "," + c.UnitText());
}

void Logger::OnFindingOver() {
    if (!options_.recordPath || core_.saveDataTicked) return;
    // As a user ticking Save data now would: the box changes, then its handler runs.
    core_.savePath = *options_.recordPath;
    core_.saveDataTicked = true;
    SetSaveDataBox(true);
    core_.ToggleRecording(true);
    if (!core_.saveDataTicked) Stop(kExitFailure);  // refused; the status line says why
}

}  // namespace zuz::cli
