#include "serial/serial.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "serial/line_settings.h"

namespace zuz {
namespace {

// Milliseconds left until `deadline`, or -1 (poll's "no limit") without one.
using Clock = std::chrono::steady_clock;
int PollTimeout(bool limited, Clock::time_point deadline) {
    if (!limited) return -1;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(left > 1000000 ? 1000000 : left);
}

// Waits for `events` on fd. Returns 1 when ready, 0 on time-out, -1 with errno on failure;
// a hang-up counts as ready (the following read or write reports it).
int WaitFor(int fd, short events, bool limited, Clock::time_point deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        const int r = poll(&p, 1, PollTimeout(limited, deadline));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return -1;
        if (r == 0) return 0;
        if (p.revents & POLLNVAL) {
            errno = EBADF;
            return -1;
        }
        return 1;
    }
}

}  // namespace

CSerial::~CSerial() {
    if (fd_ >= 0) CSerial::Close();
}

long CSerial::Open(const char* device, unsigned /*inQueue*/, unsigned /*outQueue*/,
                   bool overlapped) {
    SetResult(ERROR_SUCCESS);
    if (fd_ >= 0) return SetResult(ERROR_ALREADY_INITIALIZED);
    if (device == nullptr || *device == '\0') return SetErrno(ENOENT);

    const int fd = open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return SetErrno(errno);
    auto fail = [&](int error) {
        close(fd);
        return SetErrno(error);
    };

    termios settings{};
    if (tcgetattr(fd, &settings) != 0) return fail(errno);
    // TIOCEXCL keeps other users out but not root; the lock keeps out every opener that takes
    // it, root included.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) return fail(errno);
    if (ioctl(fd, TIOCEXCL) != 0) return fail(errno);

    // Raw line: bytes pass unchanged both ways, no echo, no signals, no flow control; the
    // receiver is on and modem lines do not hang the port up. A break is read as one NUL byte
    // (and counted by drivers that keep counters).
    settings.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                               ICRNL | IXON | IXOFF | IXANY);
    settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    settings.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    settings.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
    settings.c_cflag |= CLOCAL | CREAD;
    // With VMIN 1 and no timer an empty non-blocking read fails with EAGAIN instead of giving
    // 0, which stays reserved for a hang-up.
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &settings) != 0) return fail(errno);

    fd_ = fd;
    overlapped_ = overlapped;
    readMode_ = kReadNonBlocking;
    eventCharacter_ = 0;
    eventResult_.store(0);
    eventMask_.store(kDefaultEventMask);
    {
        std::lock_guard<std::mutex> lock(countersMutex_);
        countersKnown_ = ReadLineCounters(&lastCounters_);
    }
    return SetResult(ERROR_SUCCESS);
}

long CSerial::Close() {
    SetResult(ERROR_SUCCESS);
    if (fd_ < 0) return ERROR_SUCCESS;
    ioctl(fd_, TIOCNXCL);
    close(fd_);  // also drops the lock
    fd_ = -1;
    overlapped_ = false;
    eventMask_.store(0);
    eventResult_.store(0);
    eventCharacter_ = 0;
    return SetResult(ERROR_SUCCESS);
}

bool CSerial::ReadSettings(termios* settings) {
    if (tcgetattr(fd_, settings) == 0) return true;
    SetErrno(errno);
    return false;
}

long CSerial::WriteSettings(const termios& settings) {
    if (tcsetattr(fd_, TCSANOW, &settings) != 0) return SetErrno(errno);
    return SetResult(ERROR_SUCCESS);
}

long CSerial::Setup(long baudRate, int dataBits, int parity, int stopBits) {
    if (!CheckOpen()) return ERROR_INVALID_HANDLE;
    termios settings{};
    if (!ReadSettings(&settings)) return GetLastError();
    if (!ApplyLineSettings({baudRate, dataBits, parity, stopBits}, &settings)) {
        return SetErrno(EINVAL);
    }
    return WriteSettings(settings);
}

long CSerial::SetEventCharacter(std::uint8_t character, bool adjustMask) {
    if (!CheckOpen()) return ERROR_INVALID_HANDLE;
    eventCharacter_ = character;
    if (adjustMask) return SetEventMask(eventMask_.load() | EV_RXFLAG);
    return SetResult(ERROR_SUCCESS);
}

long CSerial::SetEventMask(std::uint32_t mask) {
    if (!CheckOpen()) return ERROR_INVALID_HANDLE;
    eventMask_.store(mask);
    return SetResult(ERROR_SUCCESS);
}

bool CSerial::ReadLineCounters(LineCounters* counters) {
    serial_icounter_struct raw{};
    if (fd_ < 0 || ioctl(fd_, TIOCGICOUNT, &raw) != 0) return false;
    counters->rx = static_cast<std::uint32_t>(raw.rx);
    counters->brk = static_cast<std::uint32_t>(raw.brk);
    counters->frame = static_cast<std::uint32_t>(raw.frame);
    counters->parity = static_cast<std::uint32_t>(raw.parity);
    counters->overrun = static_cast<std::uint32_t>(raw.overrun);
    counters->bufOverrun = static_cast<std::uint32_t>(raw.buf_overrun);
    return true;
}

CSerial::LineChanges CSerial::TakeLineChanges() {
    LineChanges changes;
    LineCounters now;
    if (!ReadLineCounters(&now)) return changes;
    std::lock_guard<std::mutex> lock(countersMutex_);
    if (!countersKnown_) {
        lastCounters_ = now;
        countersKnown_ = true;
        return changes;
    }
    // Unsigned differences stay right when a counter wraps.
    const LineCounters& was = lastCounters_;
    const std::uint32_t rx = now.rx - was.rx;
    const std::uint32_t brk = now.brk - was.brk;
    struct {
        std::uint32_t delta;
        std::uint32_t flag;
    } const errors[] = {
        {now.bufOverrun - was.bufOverrun, CE_RXOVER},
        {now.overrun - was.overrun, CE_OVERRUN},
        {now.parity - was.parity, CE_RXPARITY},
        {now.frame - was.frame, CE_FRAME},
    };
    for (const auto& e : errors) {
        if (e.delta != 0) {
            changes.errors |= e.flag;
            changes.events |= EV_ERR;
        }
    }
    if (brk != 0) {
        changes.errors |= CE_BREAK;
        changes.events |= EV_BREAK;
        // Drivers differ in whether a break also counts as a received character; either way,
        // no more characters than breaks means no data came with it.
        changes.breakOnly = rx <= brk;
    }
    lastCounters_ = now;
    return changes;
}

long CSerial::WaitForEvent(long timeoutMs) {
    if (!CheckOpen()) return ERROR_INVALID_HANDLE;
    if (!TimeoutAllowed(timeoutMs)) return SetResult(ERROR_INVALID_FUNCTION);
    const bool limited = timeoutMs != kInfinite;
    const auto deadline = limited ? Clock::now() + std::chrono::milliseconds(timeoutMs) : Clock::time_point();
    for (;;) {
        pollfd p{fd_, POLLIN, 0};
        const int r = poll(&p, 1, PollTimeout(limited, deadline));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return SetErrno(errno);
        if (r == 0) return SetResult(ERROR_TIMEOUT);
        if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) {
            eventResult_.store(EV_ERR & eventMask_.load());
            return SetErrno(EIO);
        }
        const LineChanges changes = TakeLineChanges();
        std::uint32_t events = changes.events;
        if (!changes.breakOnly) events |= EV_RXCHAR;
        events &= eventMask_.load();
        if (events != 0) {
            eventResult_.store(events);
            return SetResult(ERROR_SUCCESS);
        }
        // Input the mask does not ask for stays queued and would wake poll() at once for ever:
        // wait for the rest of the time for a hang-up only.
        pollfd idle{fd_, 0, 0};
        const int w = poll(&idle, 1, PollTimeout(limited, deadline));
        if (w < 0 && errno != EINTR) return SetErrno(errno);
        if (w == 0) return SetResult(ERROR_TIMEOUT);
    }
}

long CSerial::SetHandshaking(int mode) {
    if (!CheckOpen()) return ERROR_INVALID_HANDLE;
    if (mode != kHandshakeOff && mode != kHandshakeHardware && mode != kHandshakeSoftware) {
        return SetResult(E_INVALIDARG);
    }
    termios settings{};
    if (!ReadSettings(&settings)) return GetLastError();
    settings.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
    settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    if (mode == kHandshakeHardware) settings.c_cflag |= CRTSCTS;
    if (mode == kHandshakeSoftware) settings.c_iflag |= IXON | IXOFF;
    return WriteSettings(settings);
}

long CSerial::SetReadMode(int mode) {
    if (!CheckOpen()) return ERROR_INVALID_HANDLE;
    if (mode != kReadNonBlocking && mode != kReadBlocking) return SetResult(E_INVALIDARG);
    // Both modes keep the descriptor non-blocking with VMIN 1 (set by Open); Read does the
    // waiting for the blocking mode.
    readMode_ = mode;
    return SetResult(ERROR_SUCCESS);
}

long CSerial::GetBaudRate() {
    LineSettings line;
    return ReadLine(&line) ? line.baudRate : -1;
}

int CSerial::GetDataBits() {
    LineSettings line;
    return ReadLine(&line) ? line.dataBits : -1;
}

int CSerial::GetParity() {
    LineSettings line;
    return ReadLine(&line) ? line.parity : -1;
}

int CSerial::GetStopBits() {
    LineSettings line;
    return ReadLine(&line) ? line.stopBits : -1;
}

bool CSerial::ReadLine(LineSettings* line) {
    if (!CheckOpen()) return false;
    termios settings{};
    if (!ReadSettings(&settings)) return false;
    *line = LineSettingsOf(settings);
    return true;
}

int CSerial::GetHandshaking() {
    if (!CheckOpen()) return -1;
    termios settings{};
    if (!ReadSettings(&settings)) return -1;
    if (settings.c_cflag & CRTSCTS) return kHandshakeHardware;
    if ((settings.c_iflag & (IXON | IXOFF)) == (IXON | IXOFF)) return kHandshakeSoftware;
    return kHandshakeOff;
}

std::uint32_t CSerial::GetEventMask() {
    if (!CheckOpen()) return 0;
    return eventMask_.load();
}

std::uint8_t CSerial::GetEventCharacter() {
    if (!CheckOpen()) return 0;
    return eventCharacter_;
}

long CSerial::WriteString(const char* text, std::size_t* written, long timeoutMs) {
    return Write(text, text != nullptr ? std::strlen(text) : 0, written, timeoutMs);
}

long CSerial::Write(const void* data, std::size_t length, std::size_t* written, long timeoutMs) {
    std::size_t local = 0;
    std::size_t& done = written != nullptr ? *written : local;
    done = 0;
    if (!CheckOpen()) return ERROR_INVALID_HANDLE;
    if (!TimeoutAllowed(timeoutMs)) return SetResult(ERROR_INVALID_FUNCTION);
    const bool limited = timeoutMs != kInfinite;
    const auto deadline = limited ? Clock::now() + std::chrono::milliseconds(timeoutMs) : Clock::time_point();
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    while (done < length) {
        const ssize_t n = write(fd_, bytes + done, length - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return SetErrno(errno);
        // The driver's buffer is full: wait until it takes more.
        const int ready = WaitFor(fd_, POLLOUT, limited, deadline);
        if (ready < 0) return SetErrno(errno);
        if (ready == 0) return SetResult(ERROR_TIMEOUT);
    }
    return SetResult(ERROR_SUCCESS);
}

long CSerial::Read(void* buffer, std::size_t length, std::size_t* count, long timeoutMs) {
    std::size_t local = 0;
    std::size_t& done = count != nullptr ? *count : local;
    done = 0;
    if (!CheckOpen()) return ERROR_INVALID_HANDLE;
    if (!TimeoutAllowed(timeoutMs)) return SetResult(ERROR_INVALID_FUNCTION);
    const bool limited = timeoutMs != kInfinite;
    const auto deadline = limited ? Clock::now() + std::chrono::milliseconds(timeoutMs) : Clock::time_point();
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    while (done < length) {
        const std::size_t wanted = length - done;
        const ssize_t n = read(fd_, bytes + done, wanted);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            // A terminal read hands over all that is queued, up to the length: a short one
            // means the queue is empty now, and asking again would only return EAGAIN.
            if (readMode_ == kReadNonBlocking && static_cast<std::size_t>(n) < wanted) break;
            continue;
        }
        if (n == 0) return SetErrno(EIO);  // VMIN is 1: only a hang-up reads 0
        if (errno == EINTR) continue;
        if (errno != EAGAIN) return SetErrno(errno);
        if (readMode_ == kReadNonBlocking) break;
        const int ready = WaitFor(fd_, POLLIN, limited, deadline);
        if (ready < 0) return SetErrno(errno);
        if (ready == 0) return SetResult(ERROR_TIMEOUT);
    }
    return SetResult(ERROR_SUCCESS);
}

}  // namespace zuz
