// A fake clock with timers and scheduled events, for running the monitor in fast time.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "protocol/host.h"

namespace zuz::test {

class FakeLoop : public IClock {
public:
    using Ms = std::int64_t;
    // 2024-01-02 03:04:05.678 UTC by default: a fixed, known wall-clock start.
    explicit FakeLoop(Ms epochMs = 1704164645678) : epochMs_(epochMs) {}

    std::chrono::system_clock::time_point Now() const override {
        return std::chrono::system_clock::time_point(std::chrono::milliseconds(epochMs_ + now_));
    }
    Ms Elapsed() const { return now_; }

    void StartTimer(unsigned id, unsigned periodMs);
    void StopTimer(unsigned id);
    bool TimerRunning(unsigned id) const { return timers_.count(id) != 0; }
    unsigned TimerPeriod(unsigned id) const { return timers_.at(id).period; }

    // Runs `action` at now + delay (after timer ticks due at the same moment).
    void After(Ms delay, std::function<void()> action);

    // Runs timers (through onTimer) and events in time order up to now + duration.
    void Run(Ms duration, const std::function<void(unsigned)>& onTimer);

private:
    struct Timer {
        unsigned period;
        Ms due;
    };
    Ms epochMs_;
    Ms now_ = 0;
    std::map<unsigned, Timer> timers_;
    std::multimap<Ms, std::function<void()>> events_;
};

}  // namespace zuz::test
