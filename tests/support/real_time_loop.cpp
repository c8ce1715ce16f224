#include "real_time_loop.h"

namespace zuz::test {

void RealTimeLoop::StartTimer(unsigned id, unsigned periodMs) {
    const std::chrono::milliseconds period(periodMs == 0 ? 1 : periodMs);
    timers_[id] = {period, Clock::now() + period};
}

void RealTimeLoop::StopTimer(unsigned id) { timers_.erase(id); }

void RealTimeLoop::Post(std::function<void()> work) {
    {
        std::lock_guard lock(mutex_);
        posted_.push_back(std::move(work));
    }
    wake_.notify_one();
}

bool RealTimeLoop::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const Clock::time_point deadline = Clock::now() + limit;
    while (!done()) {
        const Clock::time_point now = Clock::now();
        if (now >= deadline) return false;
        // The timer due first, if it is due now.
        auto due = timers_.end();
        for (auto it = timers_.begin(); it != timers_.end(); ++it)
            if (it->second.due <= now && (due == timers_.end() || it->second.due < due->second.due)) due = it;
        if (due != timers_.end()) {
            due->second.due = now + due->second.period;
            if (onTimer) onTimer(due->first);
            continue;
        }
        Clock::time_point wakeAt = deadline;
        for (const auto& [id, timer] : timers_) wakeAt = std::min(wakeAt, timer.due);
        std::function<void()> work;
        {
            std::unique_lock lock(mutex_);
            wake_.wait_until(lock, wakeAt, [this] { return !posted_.empty(); });
            if (posted_.empty()) continue;
            work = std::move(posted_.front());
            posted_.pop_front();
        }
        work();
    }
    return true;
}

}  // namespace zuz::test
