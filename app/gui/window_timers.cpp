#include "app/gui/window_timers.h"

namespace zuz::gui {

WindowTimers::WindowTimers(QObject* owner, std::function<void(unsigned)> onTimer)
    : owner_(owner), onTimer_(std::move(onTimer)) {}

void WindowTimers::Start(unsigned id, unsigned periodMs) {
    QTimer*& timer = timers_[id];
    if (!timer) {
        timer = new QTimer(owner_);
        // The poll cadence is the bus's pace; coarse timers would let it drift by 5 %.
        timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(timer, &QTimer::timeout, owner_, [this, id] { onTimer_(id); });
    }
    timer->start(int(periodMs));
}

void WindowTimers::Stop(unsigned id) {
    if (auto it = timers_.find(id); it != timers_.end()) it->second->stop();
}

void WindowTimers::StopAll() {
    for (auto& entry : timers_) entry.second->stop();
}

bool WindowTimers::IsRunning(unsigned id) const {
    auto it = timers_.find(id);
    return it != timers_.end() && it->second->isActive();
}

int WindowTimers::PeriodMs(unsigned id) const {
    auto it = timers_.find(id);
    return it == timers_.end() ? -1 : it->second->interval();
}

}  // namespace zuz::gui
