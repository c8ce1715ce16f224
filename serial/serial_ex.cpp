#include "serial/serial_ex.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <system_error>

namespace zuz {

CSerialEx::~CSerialEx() {
    JoinWatcher();
    if (wakeFd_ >= 0) close(wakeFd_);
}

long CSerialEx::Open(const char* device, unsigned inQueue, unsigned outQueue, bool startWatcher) {
    if (IsOpen()) return SetResult(ERROR_ALREADY_INITIALIZED);
    // A thread from an earlier session that was stopped with a time-out is joined first.
    JoinWatcher();
    const long opened = CSerial::Open(device, inQueue, outQueue, true);
    if (opened != ERROR_SUCCESS) return opened;
    if (wakeFd_ < 0) {
        wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (wakeFd_ < 0) {
            const int error = errno;
            CSerial::Close();
            return SetErrno(error);
        }
    }
    inputReported_.store(false);
    wakeups_.store(0);
    if (startWatcher) {
        const long started = StartWatcher();
        if (started != ERROR_SUCCESS) {
            CSerial::Close();
            return SetResult(started);
        }
    }
    return SetResult(ERROR_SUCCESS);
}

long CSerialEx::Close() {
    StopWatcher(kInfinite);
    return CSerial::Close();
}

long CSerialEx::Read(void* buffer, std::size_t length, std::size_t* count, long timeoutMs) {
    const long result = CSerial::Read(buffer, length, count, timeoutMs);
    // After the read, so that input arriving meanwhile is seen by the watcher's next wait.
    if (inputReported_.exchange(false)) Wake();
    return result;
}

long CSerialEx::StartWatcher() {
    if (!CheckOpen()) return ERROR_INVALID_HANDLE;
    if (watcher_.joinable()) {
        if (watcherActive_.load() && !stop_.load()) return SetResult(ERROR_SUCCESS);
        JoinWatcher();  // one that ended by itself (hang-up, failed wait)
    }
    stop_.store(false);
    watcherActive_.store(true);
    try {
        watcher_ = std::thread(&CSerialEx::WatcherLoop, this);
    } catch (const std::system_error& e) {
        watcherActive_.store(false);
        return SetErrno(e.code().value());
    }
    return SetResult(ERROR_SUCCESS);
}

long CSerialEx::StopWatcher(long timeoutMs) {
    SetResult(ERROR_SUCCESS);
    if (!watcher_.joinable()) return ERROR_SUCCESS;
    stop_.store(true);
    Wake();
    if (timeoutMs != kInfinite) {
        std::unique_lock<std::mutex> lock(doneMutex_);
        if (!doneSignal_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [this] { return !watcherActive_.load(); })) {
            return SetResult(ERROR_TIMEOUT);
        }
    }
    JoinWatcher();
    return SetResult(ERROR_SUCCESS);
}

void CSerialEx::JoinWatcher() {
    if (!watcher_.joinable()) return;
    stop_.store(true);
    Wake();
    watcher_.join();
    stop_.store(false);
}

void CSerialEx::Wake() {
    if (wakeFd_ < 0) return;
    const std::uint64_t one = 1;
    // Cannot block or fail short of the counter's limit, which a woken watcher keeps at 0.
    [[maybe_unused]] const ssize_t n = write(wakeFd_, &one, sizeof one);
}

void CSerialEx::WatcherLoop() {
    const int device = Handle();
    for (;;) {
        // Input already reported is not asked for again until the owner has read, or poll()
        // would return at once for as long as it waits unread. Hang-ups are reported anyway.
        pollfd fds[2] = {
            {device, static_cast<short>(inputReported_.load() ? 0 : POLLIN), 0},
            {wakeFd_, POLLIN, 0},
        };
        const int r = poll(fds, 2, -1);
        wakeups_.fetch_add(1);
        if (r < 0) {
            if (errno == EINTR) continue;
            SetErrno(errno);
            break;
        }
        if (fds[1].revents & POLLIN) {
            std::uint64_t drained = 0;
            [[maybe_unused]] const ssize_t n = read(wakeFd_, &drained, sizeof drained);
        }
        if (stop_.load()) break;
        if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            HandleEvent(EV_ERR, CE_PORT_GONE);
            break;
        }

        const LineChanges changes = TakeLineChanges();
        std::uint32_t events = changes.events;
        // Only break characters in the queue: the break is reported now and their NUL bytes
        // as data on the next round, so the owner still learns that there is something to read.
        if ((fds[0].revents & POLLIN) && !changes.breakOnly) {
            inputReported_.store(true);
            events |= EV_RXCHAR;
        }
        events &= eventMask_.load();
        eventResult_.store(0);
        if (events != 0) HandleEvent(events, changes.errors & 0xFFFF);
    }
    {
        std::lock_guard<std::mutex> lock(doneMutex_);
        watcherActive_.store(false);
    }
    doneSignal_.notify_all();
}

}  // namespace zuz
