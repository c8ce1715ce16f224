// A pseudo-terminal pair: the test plays the device's far end on the master side while the
// port under test opens the slave path.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace zuz::test {

// Generous bound for things that must happen soon; only ends a test that would hang.
inline constexpr std::chrono::seconds kPatience{10};

class PtyPair {
public:
    PtyPair() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
        char name[128] = {};
        if (ptsname_r(master_, name, sizeof name) != 0) return;
        slave_ = name;
        // Non-blocking, so that the helpers below can give up instead of hanging a test.
        fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    }
    ~PtyPair() { CloseMaster(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool Ok() const { return master_ >= 0 && !slave_.empty(); }
    const std::string& SlavePath() const { return slave_; }
    int Master() const { return master_; }

    // Hangs the slave side up.
    void CloseMaster() {
        if (master_ >= 0) close(master_);
        master_ = -1;
    }

    // Writes everything to the master side (the port receives it).
    bool Send(const std::vector<std::uint8_t>& bytes) const {
        std::size_t done = 0;
        const auto until = std::chrono::steady_clock::now() + kPatience;
        while (done < bytes.size() && std::chrono::steady_clock::now() < until) {
            const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                break;  // the slave side is gone
            } else {
                pollfd p{master_, POLLOUT, 0};
                poll(&p, 1, 100);
            }
        }
        return done == bytes.size();
    }

    // Reads from the master side until `count` bytes have come (what the port sent), or gives
    // up after kPatience.
    std::vector<std::uint8_t> Receive(std::size_t count) const {
        std::vector<std::uint8_t> got;
        const auto until = std::chrono::steady_clock::now() + kPatience;
        std::uint8_t buffer[4096];
        while (got.size() < count && std::chrono::steady_clock::now() < until) {
            const ssize_t n = read(master_, buffer, sizeof buffer);
            if (n > 0) {
                got.insert(got.end(), buffer, buffer + n);
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                break;  // the slave side is gone
            } else {
                pollfd p{master_, POLLIN, 0};
                poll(&p, 1, 100);
            }
        }
        return got;
    }

private:
    int master_ = -1;
    std::string slave_;
};

// Waits until the terminal `fd` has at least `count` bytes queued for reading (data written
// to a pty master reaches the slave's queue a moment later).
inline bool WaitQueued(int fd, int count) {
    const auto until = std::chrono::steady_clock::now() + kPatience;
    while (std::chrono::steady_clock::now() < until) {
        int queued = 0;
        if (ioctl(fd, FIONREAD, &queued) == 0 && queued >= count) return true;
        usleep(1000);
    }
    return false;
}

inline std::vector<std::uint8_t> Pattern(std::size_t n) {
    std::vector<std::uint8_t> bytes(n);
    for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
    return bytes;
}

}  // namespace zuz::test
