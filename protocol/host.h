// What the monitoring core needs from whoever hosts it (the window, the headless logger, a
// test). All calls come on the host's one thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace zuz {

// Timer identifiers, kept as the monitor's own numbers.
inline constexpr unsigned TIMER_RECORD = 17;
inline constexpr unsigned TIMER_SCAN = 18;
inline constexpr unsigned TIMER_POLL = 20;

inline constexpr unsigned kScanPeriodMs = 50;
inline constexpr unsigned kPollPeriodMs = 50;
inline constexpr unsigned kSinglePollPeriodMs = 100;

class ITimerHost {
public:
    virtual ~ITimerHost() = default;
    // Starting a running timer restarts it with the new period.
    virtual void StartTimer(unsigned id, unsigned periodMs) = 0;
    // Stopping a timer that does not run does nothing.
    virtual void StopTimer(unsigned id) = 0;
};

class IStatusSink {
public:
    virtual ~IStatusSink() = default;
    // The status line: replaces what it showed with the local time and the text (UTF-8).
    virtual void ShowStatus(const std::string& text) = 0;
};

// Wall-clock time, for the status line and the recording. Tests give a fake one.
class IClock {
public:
    virtual ~IClock() = default;
    virtual std::chrono::system_clock::time_point Now() const = 0;
};

class SystemClock final : public IClock {
public:
    std::chrono::system_clock::time_point Now() const override {
        return std::chrono::system_clock::now();
    }
};

// Message boxes that the monitor shows; a host answers them at once (a test) or asks a person.
enum class MessageIcon { Warning, Information, None };
class IMessageBoxes {
public:
    virtual ~IMessageBoxes() = default;
    virtual void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) = 0;
};

}  // namespace zuz
