// The bits of a serial notification: what happened on the port (low 16 bits of the first
// parameter) and the line errors at that moment (high 16 bits). The serial port posts them;
// the monitor acts on EV_RXCHAR and on CE_PORT_GONE.
#pragma once

#include <cstdint>

namespace zuz {

// Event bits (low 16 bits of a notification).
inline constexpr std::uint32_t EV_RXCHAR = 0x0001;  // bytes arrived
inline constexpr std::uint32_t EV_RXFLAG = 0x0002;  // accepted in masks; never reported here
inline constexpr std::uint32_t EV_BREAK = 0x0040;   // a break was received
inline constexpr std::uint32_t EV_ERR = 0x0080;     // a line error (see the CE_ flags)
// The mask Open sets.
inline constexpr std::uint32_t kDefaultEventMask = EV_RXCHAR | EV_BREAK | EV_ERR;

// Line-error flags (high 16 bits of a notification), from the driver's error counters where it
// keeps them (real UARTs and most USB adapters; pseudo-terminals keep none).
inline constexpr std::uint32_t CE_RXOVER = 0x0001;    // the input buffer overflowed
inline constexpr std::uint32_t CE_OVERRUN = 0x0002;   // the UART lost a character
inline constexpr std::uint32_t CE_RXPARITY = 0x0004;  // parity error
inline constexpr std::uint32_t CE_FRAME = 0x0008;     // framing error
inline constexpr std::uint32_t CE_BREAK = 0x0010;     // break
// The device has gone (hang-up: unplugged adapter, closed pseudo-terminal master). Reported
// once, together with EV_ERR, by a watcher that then ends; only Close is useful afterwards.
inline constexpr std::uint32_t CE_PORT_GONE = 0x8000;

}  // namespace zuz
