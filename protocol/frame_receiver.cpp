#include "protocol/frame_receiver.h"

#include <algorithm>

#include "protocol/frame.h"

namespace zuz {

void FrameReceiver::Reset() {
    buffer_.fill(0);
    count_ = 0;
    headerByteSeen_ = false;
    inFrame_ = false;
}

bool FrameReceiver::Step(std::uint8_t b) {
    if (inFrame_) {
        // count_ is at most 255, so this store always lies inside the 512-byte buffer.
        buffer_[count_] = b;
        ++count_;
        if (count_ == 1 && buffer_[0] > kLongestLength) {
            Reset();  // could never complete: drop it now rather than store forever
            return false;
        }
        return count_ >= buffer_[0] + 2;
    }
    if (b == FRAME_HEADER_FIRST) {
        headerByteSeen_ = true;
    } else if (b == FRAME_HEADER_SECOND && headerByteSeen_) {
        inFrame_ = true;
        count_ = 0;
    }
    return false;
}

bool FrameReceiver::ChecksumMatches() const {
    const std::uint8_t length = buffer_[0];
    const std::uint16_t sum = FrameChecksum(std::span(buffer_.data(), length));
    const unsigned stored = buffer_[std::uint8_t(count_ - 2)] * 256u + buffer_[std::uint8_t(count_ - 1)];
    return sum == stored;
}

bool FrameReceiver::IsIdle() const {
    return !headerByteSeen_ && !inFrame_ && count_ == 0 &&
           std::all_of(buffer_.begin(), buffer_.end(), [](std::uint8_t b) { return b == 0; });
}

}  // namespace zuz
