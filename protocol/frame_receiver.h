// Cuts the byte stream from the master controller into frames.
//
// The receiver waits for 0xAA (any bytes may follow it) and then 0x55; from there it stores
// every byte, 0xAA and 0x55 included, until L + 2 bytes (the summed bytes and the two checksum
// bytes) are in. There is no time-out between bytes: only Reset() abandons a partial frame,
// and the monitor resets before every request so that only the reply to the latest request is
// awaited.
#pragma once

#include <array>
#include <cstdint>

namespace zuz {

class FrameReceiver {
public:
    static constexpr std::size_t kBufferSize = 512;
    // Frames with L of 254 or 255 would need more stored bytes than the 8-bit count can
    // number; they are abandoned as soon as their length byte is seen.
    static constexpr std::uint8_t kLongestLength = 253;

    // Back to idle: both flags clear, count 0, buffer all zero. Fields that a short frame does
    // not fill therefore read as 0.
    void Reset();

    // Feeds one byte. Returns true when a frame has just become complete; the caller then
    // checks it (ChecksumMatches) and must Reset() before the next byte.
    bool Step(std::uint8_t b);

    // True when the two bytes stored last equal the sum of buffer[0 .. L-1].
    bool ChecksumMatches() const;

    bool IsIdle() const;

    // Element k is the frame byte at offset k + 2: element 0 is L, element 1 the command.
    const std::array<std::uint8_t, kBufferSize>& Buffer() const { return buffer_; }
    std::uint8_t Count() const { return count_; }
    bool HeaderByteSeen() const { return headerByteSeen_; }
    bool InFrame() const { return inFrame_; }

    // Reads a byte by its offset in the frame (2 = length, 3 = command, 4.. = payload).
    std::uint8_t AtOffset(unsigned offset) const { return buffer_[offset - 2]; }

private:
    std::array<std::uint8_t, kBufferSize> buffer_{};
    std::uint8_t count_ = 0;  // wraps from 255 to 0 like the original 8-bit counter
    bool headerByteSeen_ = false;
    bool inFrame_ = false;
};

}  // namespace zuz
