#include "protocol/frame.h"

namespace zuz {

std::uint16_t FrameChecksum(std::span<const std::uint8_t> summed) {
    unsigned sum = 0;
    for (std::uint8_t b : summed) sum += b;
    return static_cast<std::uint16_t>(sum);
}

std::vector<std::uint8_t> BuildFrame(std::span<const std::uint8_t> body) {
    const std::size_t length = body.empty() ? 0 : body[0];
    const auto summed = body.first(length);
    std::vector<std::uint8_t> frame;
    frame.reserve(length + 4);
    frame.push_back(FRAME_HEADER_FIRST);
    frame.push_back(FRAME_HEADER_SECOND);
    frame.insert(frame.end(), summed.begin(), summed.end());
    const std::uint16_t sum = FrameChecksum(summed);
    frame.push_back(static_cast<std::uint8_t>(sum >> 8));
    frame.push_back(static_cast<std::uint8_t>(sum & 0xFF));
    return frame;
}

std::vector<std::uint8_t> BuildRequestFrame(std::uint8_t command, std::uint8_t address) {
    const std::uint8_t body[] = {0x04, command, address, REQUEST_TAG};
    return BuildFrame(body);
}

}  // namespace zuz
