#include "cli/event_loop.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

namespace zuz::cli {

EventLoop::Timer* EventLoop::Find(unsigned id) {
    for (Timer& t : timers_)
        if (t.id == id) return &t;
    return nullptr;
}

void EventLoop::StartTimer(unsigned id, unsigned periodMs) {
    const Clock::duration period = std::chrono::milliseconds(std::max(periodMs, 1u));
    const Clock::time_point due = Clock::now() + period;
    if (Timer* t = Find(id)) {
        t->period = period;
        t->due = due;
    } else {
        timers_.push_back({id, period, due});
    }
}

void EventLoop::StopTimer(unsigned id) {
    std::erase_if(timers_, [id](const Timer& t) { return t.id == id; });
}

bool EventLoop::TimerRunning(unsigned id) const {
    return std::any_of(timers_.begin(), timers_.end(), [id](const Timer& t) { return t.id == id; });
}

void EventLoop::Watch(int fd, std::function<void(short)> onReady, short events) {
    watched_.push_back({fd, std::move(onReady), events});
}

void EventLoop::Unwatch(int fd) {
    for (Watched& w : watched_)
        if (w.fd == fd) w.removed = true;
    // During a round the entries keep their places, so that the round's poll results still
    // line up with them; the round erases them when it is over.
    if (!dispatching_) std::erase_if(watched_, [](const Watched& w) { return w.removed; });
}

void EventLoop::FireDueTimers() {
    // A handler may stop, restart or start timers (the scan step stops its own timer and starts
    // the poll timer), so pick one due timer at a time, earliest first, and look again.
    const Clock::time_point now = Clock::now();
    for (;;) {
        if (quit_) return;
        Timer* next = nullptr;
        for (Timer& t : timers_)
            if (t.due <= now && (next == nullptr || t.due < next->due)) next = &t;
        if (next == nullptr) return;
        const unsigned id = next->id;
        next->due += next->period;
        if (next->due <= now) next->due = now + next->period;
        if (onTimer) onTimer(id);
    }
}

void EventLoop::Run() {
    std::vector<pollfd> fds;
    while (!quit_) {
        fds.clear();
        for (const Watched& w : watched_) fds.push_back({w.fd, w.events, 0});

        timespec timeout{};
        timespec* timeoutPtr = nullptr;
        if (!timers_.empty()) {
            Clock::time_point nearest = timers_.front().due;
            for (const Timer& t : timers_) nearest = std::min(nearest, t.due);
            const auto wait = std::max(nearest - Clock::now(), Clock::duration::zero());
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
            timeout.tv_sec = static_cast<time_t>(ns / 1000000000);
            timeout.tv_nsec = static_cast<long>(ns % 1000000000);
            timeoutPtr = &timeout;
        }
        const int ready = ppoll(fds.data(), fds.size(), timeoutPtr, nullptr);
        ++wakeUps_;
        if (ready < 0 && errno != EINTR) {
            Quit();  // nothing sensible is left to wait for
            return;
        }
        // Descriptors first: a stop or a hang-up that came before a due tick is acted on
        // before the tick. Handlers may add entries (at the end) and mark entries removed, but
        // none moves until the round is over, so index i still names the entry of fds[i].
        dispatching_ = true;
        for (std::size_t i = 0; ready > 0 && i < fds.size() && !quit_; ++i) {
            if (fds[i].revents == 0 || watched_[i].removed) continue;
            // A copy: a handler that adds a watch may move the entries' storage.
            const std::function<void(short)> onReady = watched_[i].onReady;
            onReady(fds[i].revents);
        }
        dispatching_ = false;
        std::erase_if(watched_, [](const Watched& w) { return w.removed; });
        FireDueTimers();
    }
}

}  // namespace zuz::cli
