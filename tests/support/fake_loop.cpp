#include "fake_loop.h"

#include <limits>

namespace zuz::test {

void FakeLoop::StartTimer(unsigned id, unsigned periodMs) { timers_[id] = Timer{periodMs, now_ + periodMs}; }

void FakeLoop::StopTimer(unsigned id) { timers_.erase(id); }

void FakeLoop::After(Ms delay, std::function<void()> action) { events_.emplace(now_ + delay, std::move(action)); }

void FakeLoop::Run(Ms duration, const std::function<void(unsigned)>& onTimer) {
    const Ms end = now_ + duration;
    for (;;) {
        Ms nextTimer = std::numeric_limits<Ms>::max();
        unsigned timerId = 0;
        for (const auto& [id, t] : timers_)
            if (t.due < nextTimer) nextTimer = t.due, timerId = id;
        const Ms nextEvent = events_.empty() ? std::numeric_limits<Ms>::max() : events_.begin()->first;
        const Ms next = std::min(nextTimer, nextEvent);
        if (next > end) break;
        now_ = next;
        if (nextTimer <= nextEvent) {
            timers_[timerId].due += timers_[timerId].period;
            onTimer(timerId);
        } else {
            auto action = std::move(events_.begin()->second);
            events_.erase(events_.begin());
            action();
        }
    }
    now_ = end;
}

}  // namespace zuz::test
