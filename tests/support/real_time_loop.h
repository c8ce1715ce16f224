// A real-time loop for tests that run the monitor against a real peer: periodic timers on the
// steady clock, and work handed over from other threads (the serial port's watcher) to run on
// the thread that calls RunUntil, one item at a time, like the window's message loop.
//
// Timers and RunUntil belong to the test's thread; Post may be called from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>

#include "protocol/host.h"

namespace zuz::test {

class RealTimeLoop : public ITimerHost {
public:
    using Clock = std::chrono::steady_clock;

    // Starting a running timer restarts it; stopping one that does not run does nothing.
    void StartTimer(unsigned id, unsigned periodMs) override;
    void StopTimer(unsigned id) override;
    bool TimerRunning(unsigned id) const { return timers_.count(id) != 0; }

    // Called with the identifier of each timer that is due. A late tick is delivered once and
    // the timer goes on a full period from then.
    std::function<void(unsigned)> onTimer;

    // Thread-safe: runs `work` on the loop's thread, in the order posted.
    void Post(std::function<void()> work);

    // Runs timers and posted work until `done` returns true (checked after every handler) or
    // `limit` has passed. Returns what `done` last said. The limit only keeps a broken run from
    // hanging the test.
    bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);

private:
    struct Timer {
        std::chrono::milliseconds period;
        Clock::time_point due;
    };
    std::map<unsigned, Timer> timers_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> posted_;
};

}  // namespace zuz::test
