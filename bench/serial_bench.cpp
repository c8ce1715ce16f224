// The serial port on a pseudo-terminal pair: a whole open-write-read-close cycle, and what the
// watcher thread costs while the port sits idle.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

#include "serial/serial_wnd.h"

namespace {

struct Pty {
    Pty() {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return;
        char name[128] = {};
        if (ptsname_r(master, name, sizeof name) == 0) slave = name;
    }
    ~Pty() {
        if (master >= 0) close(master);
    }
    int master = -1;
    std::string slave;
};

class CountingSink : public zuz::ISerialNotifySink {
public:
    void PostSerialNotification(unsigned, std::uint32_t, std::intptr_t) override { ++posted; }
    std::uint64_t posted = 0;
};

bool ReadExactly(int fd, std::uint8_t* buffer, std::size_t n) {
    std::size_t got = 0;
    while (got < n) {
        const ssize_t r = read(fd, buffer + got, n - got);
        if (r > 0) {
            got += static_cast<std::size_t>(r);
        } else if (r == 0) {
            return false;
        } else {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 1000) <= 0) return false;
        }
    }
    return true;
}

// Open, write a probe-sized frame, read the far end's answer, close: what a connect, one
// request and a disconnect cost on the port's side.
void BM_SerialOpenWriteReadClose(benchmark::State& state) {
    Pty pty;
    if (pty.slave.empty()) {
        state.SkipWithError("no pseudo-terminals");
        return;
    }
    CountingSink sink;
    const std::uint8_t frame[8] = {0xAA, 0x55, 0x04, 0xF4, 0x01, 0x5A, 0x01, 0xF8};
    std::uint8_t buffer[8];
    for (auto _ : state) {
        zuz::CSerialWnd port;
        if (port.Open(pty.slave.c_str(), &sink) != zuz::ERROR_SUCCESS ||
            port.Setup(115200, 8, 0, 0) != zuz::ERROR_SUCCESS ||
            port.Write(frame, sizeof frame) != zuz::ERROR_SUCCESS ||
            !ReadExactly(pty.master, buffer, sizeof buffer) ||
            write(pty.master, frame, sizeof frame) != sizeof frame) {
            state.SkipWithError("port failed");
            break;
        }
        std::size_t got = 0;
        while (got < sizeof buffer) {
            std::size_t count = 0;
            port.Read(buffer + got, sizeof buffer - got, &count);
            got += count;
            if (count == 0) {
                pollfd p{port.Handle(), POLLIN, 0};
                poll(&p, 1, 1000);
            }
        }
        port.Close();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SerialOpenWriteReadClose)->Unit(benchmark::kMicrosecond);

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// An open port with nothing arriving: the process's CPU time over a few seconds, in percent of
// one core, and how often the watcher woke. Both should stay at about zero.
void BM_SerialWatcherIdle(benchmark::State& state) {
    Pty pty;
    if (pty.slave.empty()) {
        state.SkipWithError("no pseudo-terminals");
        return;
    }
    CountingSink sink;
    zuz::CSerialWnd port;
    if (port.Open(pty.slave.c_str(), &sink) != zuz::ERROR_SUCCESS) {
        state.SkipWithError("open failed");
        return;
    }
    const auto idle = std::chrono::seconds(state.range(0));
    double cpu = 0;
    for (auto _ : state) {
        const double before = CpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(idle);
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        cpu = (CpuSeconds() - before) / wall;
        state.SetIterationTime(wall);
    }
    state.counters["cpu_percent"] = cpu * 100.0;
    state.counters["watcher_wakeups"] = static_cast<double>(port.WatcherWakeups());
    state.counters["notifications"] = static_cast<double>(sink.posted);
    port.Close();
}
BENCHMARK(BM_SerialWatcherIdle)->Arg(3)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
