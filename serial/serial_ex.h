// The serial port with a watcher thread that reports communication events.
//
// While the watcher runs it waits (poll) on the device and on an eventfd that wakes it for
// StopWatcher and after reads. For each completed wait whose masked events are not empty it
// calls HandleEvent(events, errors) on the watcher thread:
//   - EV_RXCHAR once per arrival: after reporting input the watcher does not report it again
//     until the owner has called Read (any Read, whatever it returned), so input that waits
//     unread is never reported over and over. The next Read re-arms it; input still queued
//     then is reported again, so a reader that reads in pieces is never left waiting.
//   - EV_BREAK / EV_ERR with CE_ flags from the driver's error counters, where it keeps them.
//   - On a hang-up: HandleEvent(EV_ERR, CE_PORT_GONE), whatever the event mask, once; then
//     the watcher ends (it never spins on a device that keeps reporting the hang-up). The port
//     stays open until Close.
// If the wait itself fails, the watcher stores the error as the last error and ends.
//
// Threads: Open, Close, StartWatcher, StopWatcher, Read and Write belong to the owner thread;
// HandleEvent runs on the watcher thread and must not call back into the port except Read-free
// getters.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "serial/serial.h"

namespace zuz {

class CSerialEx : public CSerial {
public:
    CSerialEx() = default;
    ~CSerialEx() override;

    // Opens as CSerial::Open does, always allowing time-outs, and starts the watcher when
    // startWatcher is set. On failure nothing stays open and no watcher runs.
    long Open(const char* device, unsigned inQueue = 0, unsigned outQueue = 0,
              bool startWatcher = false) override;
    // Stops the watcher (returns after it has ended), then closes the port. 0.
    long Close() override;
    // Reads as CSerial::Read does and lets the watcher report input again.
    long Read(void* buffer, std::size_t length, std::size_t* count = nullptr,
              long timeoutMs = kInfinite) override;

    // Starts the watcher unless one runs. ERROR_INVALID_HANDLE when the port is closed, the
    // errno code when no thread can be made.
    long StartWatcher();
    // Asks the watcher to end and waits for it; with kInfinite it returns only after the
    // thread has ended. A finite time-out that runs out gives ERROR_TIMEOUT and leaves the
    // thread ending on its own; a later StopWatcher or Close joins it. 0 otherwise, also when
    // no watcher runs.
    long StopWatcher(long timeoutMs = kInfinite);

    // True from StartWatcher until the watcher thread has finished its loop.
    bool IsWatcherRunning() const { return watcherActive_.load(); }
    // How often the watcher has come back from waiting, since Open: for tests and diagnostics
    // (a spinning watcher shows as a fast-growing count).
    std::uint64_t WatcherWakeups() const { return wakeups_.load(); }

protected:
    // Called on the watcher thread for each completed wait with masked events (see above).
    virtual void HandleEvent(std::uint32_t events, std::uint32_t errors) = 0;

private:
    void WatcherLoop();
    void Wake();
    void JoinWatcher();

    std::atomic<bool> stop_{false};
    std::thread watcher_;
    int wakeFd_ = -1;                       // eventfd: StopWatcher and Read wake the watcher
    std::atomic<bool> inputReported_{false};  // input seen; wait for a Read before the next
    std::atomic<bool> watcherActive_{false};
    std::atomic<std::uint64_t> wakeups_{0};
    std::mutex doneMutex_;  // guards nothing but the wait for the watcher's end
    std::condition_variable doneSignal_;
};

}  // namespace zuz
