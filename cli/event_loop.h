// The logger's one thread: a poll() loop over a few descriptors and a handful of periodic
// timers on the monotonic clock. No timer descriptor per timer: the loop sleeps in ppoll()
// until the nearest deadline, so an idle logger wakes only when a timer is due or a
// descriptor has something to say.
//
// Handlers run one at a time, to completion, on the thread that calls Run(); a Quit() takes
// effect between two handlers. Everything here is for that one thread, except that other
// threads and signal handlers may write to descriptors the loop watches.
#pragma once

#include <poll.h>

#include <chrono>
#include <functional>
#include <vector>

#include "protocol/host.h"

namespace zuz::cli {

class EventLoop : public ITimerHost {
public:
    using Clock = std::chrono::steady_clock;

    // Starting a running timer restarts it with the new period; stopping one that does not
    // run does nothing. A period of 0 is taken as 1 ms.
    void StartTimer(unsigned id, unsigned periodMs) override;
    void StopTimer(unsigned id) override;
    bool TimerRunning(unsigned id) const;

    // Called with the timer's identifier each time it is due. A tick that comes late (the
    // machine was busy or suspended) is delivered once, and the timer goes on a full period
    // from then: ticks are never bunched up to catch up.
    std::function<void(unsigned)> onTimer;

    // Calls onReady with poll()'s revents whenever `fd` has one of `events` (POLLIN: readable),
    // has hung up or failed; with events 0 only the last two. The handler must consume what
    // made it ready or stop watching: poll() reports a hang-up for as long as the descriptor
    // stays open, and the loop would spin on it.
    void Watch(int fd, std::function<void(short revents)> onReady, short events = POLLIN);
    // Stops watching `fd` (before it is closed). Safe from any handler: a descriptor unwatched
    // during a round gets no further call in that round.
    void Unwatch(int fd);

    // Runs until Quit(). Returns at once if Quit() was called before.
    void Run();
    void Quit() { quit_ = true; }
    bool Quitting() const { return quit_; }

    // Wake-ups of the loop so far (each return from ppoll), for the logger's frugality checks.
    unsigned long long WakeUps() const { return wakeUps_; }

private:
    struct Timer {
        unsigned id;
        Clock::duration period;
        Clock::time_point due;
    };
    struct Watched {
        int fd;
        std::function<void(short)> onReady;
        short events;
        bool removed = false;  // unwatched during a round; erased after it
    };
    Timer* Find(unsigned id);
    void FireDueTimers();

    std::vector<Timer> timers_;
    std::vector<Watched> watched_;
    bool quit_ = false;
    bool dispatching_ = false;
    unsigned long long wakeUps_ = 0;
};

}  // namespace zuz::cli
