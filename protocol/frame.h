// Frames exchanged with the master controller.
//
//   offset 0    1    2   3        4 .. L+1   L+2      L+3
//          AA   55   L   command  payload    sum-hi   sum-lo
//
// L counts the bytes from the length byte through the last payload byte. The checksum is the
// plain 16-bit sum of those L bytes, sent high byte first; payload fields are little-endian.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace zuz {

inline constexpr std::uint8_t FRAME_HEADER_FIRST = 0xAA;
inline constexpr std::uint8_t FRAME_HEADER_SECOND = 0x55;

inline constexpr std::uint8_t CMD_PROBE = 0xF4;             // request: 4 address, 5 tag
inline constexpr std::uint8_t CMD_PROBE_REPLY = 0xF5;       // 5 address, 6 range, 7 flags, 8-11 serial
inline constexpr std::uint8_t CMD_READ = 0xFE;              // request: 4 address, 5 tag
inline constexpr std::uint8_t CMD_READ_REPLY = 0xE2;        // 6 range, 7 flags, 8-11 value (int32)
inline constexpr std::uint8_t CMD_READ_REPLY_SHORT = 0xF6;  // 6-7 value (int16)
inline constexpr std::uint8_t REQUEST_TAG = 0x80;           // byte 5 of every request

// The additive checksum of the summed bytes (length, command, payload). At most 255 bytes are
// summed, so the 16-bit result never wraps.
std::uint16_t FrameChecksum(std::span<const std::uint8_t> summed);

// Builds a whole frame from its body (body[0] = L, then command and payload). Only the first L
// bytes of the body are used; the caller guarantees body.size() >= body[0].
std::vector<std::uint8_t> BuildFrame(std::span<const std::uint8_t> body);

// The four-byte body of a probe or read request for a bus address.
std::vector<std::uint8_t> BuildRequestFrame(std::uint8_t command, std::uint8_t address);

}  // namespace zuz
