// A notification sink that records what the watcher thread posts, for the test thread to wait
// on and inspect.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "pty_pair.h"
#include "serial/serial_wnd.h"

namespace zuz::test {

struct Notification {
    unsigned message;
    std::uint32_t wParam;
    std::intptr_t lParam;
    std::uint32_t Events() const { return wParam & 0xFFFFu; }
    std::uint32_t Errors() const { return wParam >> 16; }
};

class NotifyRecorder : public ISerialNotifySink {
public:
    void PostSerialNotification(unsigned message, std::uint32_t wParam,
                                std::intptr_t lParam) override {
        if (onPost) onPost();
        std::lock_guard<std::mutex> lock(mutex_);
        posted_.push_back({message, wParam, lParam});
        changed_.notify_all();
    }

    // Waits until `done` holds for the notifications so far (or kPatience has passed); returns
    // whether it held.
    bool WaitUntil(const std::function<bool(const std::vector<Notification>&)>& done) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kPatience, [&] { return done(posted_); });
    }
    // Waits for a notification with any of `events` in its low bits.
    bool WaitForEvents(std::uint32_t events) {
        return WaitUntil([events](const std::vector<Notification>& all) {
            for (const Notification& n : all) {
                if (n.Events() & events) return true;
            }
            return false;
        });
    }

    std::vector<Notification> Posted() {
        std::lock_guard<std::mutex> lock(mutex_);
        return posted_;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        posted_.clear();
    }

    // Runs on the watcher thread at the start of every post (before it is recorded).
    std::function<void()> onPost;

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Notification> posted_;
};

}  // namespace zuz::test
