// Result codes of the serial port operations.
//
// Every operation returns one of these and stores it as the port's last error. The fixed codes
// keep the values callers compare against; a failing system call gives kErrnoBase + errno, a
// range that cannot meet the fixed codes (they are all below kErrnoBase or, for E_INVALIDARG,
// above kErrnoBase + 0x10000000).
#pragma once

#include <string>

namespace zuz {

inline constexpr long ERROR_SUCCESS = 0;
inline constexpr long ERROR_INVALID_FUNCTION = 1;  // time-out given to a port opened without one
inline constexpr long ERROR_INVALID_HANDLE = 6;    // the port is not open
inline constexpr long ERROR_ALREADY_INITIALIZED = 1247;  // Open on an open port
inline constexpr long ERROR_TIMEOUT = 1460;              // a finite wait ran out
inline constexpr long E_INVALIDARG = 0x80070057L;        // unknown handshaking or read mode

// System failures: kErrnoBase + errno (errno values are small positive numbers).
inline constexpr long kErrnoBase = 0x20000000L;
inline constexpr long kErrnoLimit = 0x30000000L;

constexpr long SerialErrorFromErrno(int error) { return kErrnoBase + error; }
constexpr bool IsErrnoCode(long code) { return code > kErrnoBase && code < kErrnoLimit; }
// The errno a code carries, or 0 when it carries none.
constexpr int ErrnoOfCode(long code) {
    return IsErrnoCode(code) ? static_cast<int>(code - kErrnoBase) : 0;
}

// A short English reason for any code above, for status lines and logs. Codes that carry errno
// give the system's text (strerror); for EACCES it adds how to get access to serial ports.
std::string SerialErrorText(long code);

}  // namespace zuz
