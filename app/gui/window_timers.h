// Window timers kept by their numbers (TIMER_RECORD, TIMER_SCAN, TIMER_POLL): one QTimer per
// number, firing `onTimer(id)` on the owner's thread every period until stopped.
//
// GUI thread only.
#pragma once

#include <QObject>
#include <QTimer>

#include <functional>
#include <map>

namespace zuz::gui {

class WindowTimers {
public:
    WindowTimers(QObject* owner, std::function<void(unsigned)> onTimer);
    WindowTimers(const WindowTimers&) = delete;
    WindowTimers& operator=(const WindowTimers&) = delete;

    // Starting a running timer restarts it with the new period.
    void Start(unsigned id, unsigned periodMs);
    // Stopping a timer that does not run does nothing.
    void Stop(unsigned id);
    void StopAll();

    bool IsRunning(unsigned id) const;
    // The period of the timer, or -1 when it was never started.
    int PeriodMs(unsigned id) const;

private:
    QObject* owner_;
    std::function<void(unsigned)> onTimer_;
    std::map<unsigned, QTimer*> timers_;  // owned by owner_
};

}  // namespace zuz::gui
