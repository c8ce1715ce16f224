#include "sim_bus.h"

#include "protocol/frame.h"

namespace zuz::test {

std::vector<std::uint8_t> ProbeReplyFrame(std::uint8_t address, const FakeInstrument& in) {
    const std::uint8_t body[] = {10, CMD_PROBE_REPLY, 0, address, in.range, in.flags,
                                 std::uint8_t(in.serial), std::uint8_t(in.serial >> 8),
                                 std::uint8_t(in.serial >> 16), std::uint8_t(in.serial >> 24)};
    return BuildFrame(body);
}

std::vector<std::uint8_t> ReadReplyFrame(const FakeInstrument& in) {
    const auto v = static_cast<std::uint32_t>(in.value);
    if (in.shortReply) {
        const std::uint8_t body[] = {6, CMD_READ_REPLY_SHORT, 0, 0, std::uint8_t(v), std::uint8_t(v >> 8)};
        return BuildFrame(body);
    }
    const std::uint8_t body[] = {10, CMD_READ_REPLY, 0, 0, in.range, in.flags,
                                 std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24)};
    return BuildFrame(body);
}

void SimBus::Inject(const std::vector<std::uint8_t>& bytes) { input_.insert(input_.end(), bytes.begin(), bytes.end()); }

void SimBus::Deliver(FakeLoop::Ms delay, std::vector<std::uint8_t> bytes) {
    loop_.After(delay, [this, bytes = std::move(bytes)] {
        Inject(bytes);
        if (onArrival) onArrival();
    });
}

long SimBus::Read(std::uint8_t* buffer, std::size_t length, std::size_t* count) {
    std::size_t n = 0;
    while (n < length && !input_.empty()) {
        buffer[n++] = input_.front();
        input_.pop_front();
    }
    *count = n;
    return 0;
}

long SimBus::Write(const std::uint8_t* data, std::size_t length) {
    // Requests are always AA 55 04 cmd addr 80 sum sum.
    if (length != 8 || data[0] != FRAME_HEADER_FIRST || data[1] != FRAME_HEADER_SECOND) return 0;
    const std::uint8_t command = data[3], address = data[4];
    requests.push_back({loop_.Elapsed(), command, address});
    const auto it = instruments.find(address);
    if (it == instruments.end()) return 0;
    if (command == CMD_PROBE) Deliver(replyDelayMs, ProbeReplyFrame(address, it->second));
    if (command == CMD_READ) Deliver(replyDelayMs, ReadReplyFrame(it->second));
    return 0;
}

}  // namespace zuz::test
