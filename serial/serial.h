// The serial port on a POSIX terminal device.
//
// CSerial owns one open terminal device: line settings, reads and writes. CSerialEx (serial_ex.h)
// adds the watcher thread and CSerialWnd (serial_wnd.h) hands its events to an owner.
//
// Results: every operation returns a code from serial_error.h (0 on success) and stores it as the
// last error; any operation on a closed port fails with ERROR_INVALID_HANDLE. Getters return -1
// (0 for the event mask and character) on failure and also set the last error.
//
// Time-outs are in milliseconds; kInfinite waits without limit. A port opened without
// `overlapped` refuses finite time-outs with ERROR_INVALID_FUNCTION, as the original design did;
// an overlapped port runs out with ERROR_TIMEOUT. (Internally the descriptor is always
// non-blocking and waits are poll()s.)
//
// Threads: one owner thread calls everything. Only CSerialEx's watcher thread runs beside it
// and touches the event mask, the line counters and the last error.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "protocol/serial_events.h"
#include "serial/serial_error.h"

struct termios;

namespace zuz {

struct LineSettings;

inline constexpr long kInfinite = -1;

// Handshaking and read modes.
inline constexpr int kHandshakeOff = 0;
inline constexpr int kHandshakeHardware = 1;  // RTS/CTS
inline constexpr int kHandshakeSoftware = 2;  // XON/XOFF both ways
inline constexpr int kReadNonBlocking = 0;    // a read returns at once with what has arrived
inline constexpr int kReadBlocking = 1;       // a read waits for the full length

// Parity and stop-bit codes as the Windows device-control block numbers them.
inline constexpr int kParityNone = 0, kParityOdd = 1, kParityEven = 2, kParityMark = 3,
                     kParitySpace = 4;
inline constexpr int kStopBitsOne = 0, kStopBitsOneAndHalf = 1, kStopBitsTwo = 2;

class CSerial {
public:
    CSerial() = default;
    virtual ~CSerial();
    CSerial(const CSerial&) = delete;
    CSerial& operator=(const CSerial&) = delete;

    // Opens `device` (e.g. "/dev/ttyUSB0") for reading and writing, exclusively: TIOCEXCL and a
    // non-blocking flock() on the device, so a second opener is refused (EBUSY or EWOULDBLOCK),
    // root included. The line is put in raw mode without flow control (bytes pass unchanged),
    // the event mask becomes kDefaultEventMask and the read mode non-blocking; baud rate and
    // format stay as the driver had them until Setup. The queue sizes cannot be set on this
    // platform and are ignored. ERROR_ALREADY_INITIALIZED when open (the port is left as it
    // was); on any other failure nothing stays open.
    virtual long Open(const char* device, unsigned inQueue = 0, unsigned outQueue = 0,
                      bool overlapped = false);
    // Closes the port. 0, also when it was not open.
    virtual long Close();

    // Baud rate (a standard rate, 50 to 4000000), data bits 5-8, parity code 0-4, stop-bit code
    // 0-2 (1 and 2 both mean the long stop: 1.5 bits with 5 data bits, otherwise 2). Parity
    // checking is on exactly when parity is not none. Unsupported values: errno EINVAL.
    virtual long Setup(long baudRate = 9600, int dataBits = 8, int parity = kParityNone,
                       int stopBits = kStopBitsOne);
    // Remembers the event character; with adjustMask adds EV_RXFLAG to the event mask.
    virtual long SetEventCharacter(std::uint8_t character, bool adjustMask = true);
    virtual long SetEventMask(std::uint32_t mask);
    // Waits for input or a line event; the events that occurred (masked) land in the event
    // result. A hang-up gives EV_ERR there and the errno EIO code.
    virtual long WaitForEvent(long timeoutMs = kInfinite);
    virtual long SetHandshaking(int mode);
    virtual long SetReadMode(int mode);

    virtual long GetBaudRate();
    virtual int GetDataBits();
    virtual int GetParity();
    virtual int GetStopBits();  // 0 one, 2 the long stop
    virtual int GetHandshaking();
    virtual std::uint32_t GetEventMask();
    virtual std::uint8_t GetEventCharacter();

    // Write of the text without its terminator.
    virtual long WriteString(const char* text, std::size_t* written = nullptr,
                             long timeoutMs = kInfinite);
    // Returns when the driver has taken every byte (not when they are on the wire). *written
    // (optional) gets the count taken, also on failure.
    virtual long Write(const void* data, std::size_t length, std::size_t* written = nullptr,
                       long timeoutMs = kInfinite);
    // Non-blocking mode: returns at once with what has arrived, possibly nothing (count 0,
    // result 0). Blocking mode: waits for `length` bytes. *count (optional) gets the bytes
    // stored in `buffer`, also on failure. A hang-up gives the errno EIO code.
    virtual long Read(void* buffer, std::size_t length, std::size_t* count = nullptr,
                      long timeoutMs = kInfinite);

    bool IsOpen() const { return fd_ >= 0; }
    long GetLastError() const { return lastError_.load(); }
    std::uint32_t GetEventResult() const { return eventResult_.load(); }
    int Handle() const { return fd_; }

protected:
    // The driver's running totals of received characters and line errors (TIOCGICOUNT).
    struct LineCounters {
        std::uint32_t rx = 0, brk = 0, frame = 0, parity = 0, overrun = 0, bufOverrun = 0;
    };
    // Line events found since the previous call.
    struct LineChanges {
        std::uint32_t events = 0;  // EV_BREAK, EV_ERR (not masked)
        std::uint32_t errors = 0;  // CE_ flags
        bool breakOnly = false;    // what arrived were only break characters, no data
    };

    // Reads the counters; false when the driver keeps none. Called on the watcher thread too;
    // a class that overrides it must stop the watcher in its own destructor.
    virtual bool ReadLineCounters(LineCounters* counters);
    LineChanges TakeLineChanges();

    long SetResult(long code) {
        lastError_.store(code);
        return code;
    }
    long SetErrno(int error) { return SetResult(SerialErrorFromErrno(error)); }
    // Sets the last error to 0, or to ERROR_INVALID_HANDLE and returns false when closed.
    bool CheckOpen() { return SetResult(fd_ >= 0 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE) == 0; }
    // ERROR_INVALID_FUNCTION check for finite time-outs on a port opened without them.
    bool TimeoutAllowed(long timeoutMs) const { return overlapped_ || timeoutMs == kInfinite; }

    std::atomic<std::uint32_t> eventResult_{0};
    std::atomic<std::uint32_t> eventMask_{0};

private:
    bool ReadSettings(::termios* settings);
    bool ReadLine(LineSettings* line);
    long WriteSettings(const ::termios& settings);

    std::atomic<long> lastError_{0};
    int fd_ = -1;
    bool overlapped_ = false;
    int readMode_ = kReadNonBlocking;
    std::uint8_t eventCharacter_ = 0;
    std::mutex countersMutex_;    // TakeLineChanges may run on both threads
    bool countersKnown_ = false;  // lastCounters_ holds a reading
    LineCounters lastCounters_;
};

}  // namespace zuz
