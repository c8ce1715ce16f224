// An in-process bus for tests: answers probe and read requests written to it after a reply
// delay on a FakeLoop, and logs every request with its time.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <vector>

#include "fake_loop.h"
#include "protocol/byte_port.h"

namespace zuz::test {

struct FakeInstrument {
    std::uint32_t serial = 0x12345678;
    std::uint8_t range = 0xC1;
    std::uint8_t flags = 0x03;
    bool shortReply = false;
    std::int32_t value = 0;
};

struct LoggedRequest {
    FakeLoop::Ms time;
    std::uint8_t command;
    std::uint8_t address;
};

// Reply frames as instruments send them.
std::vector<std::uint8_t> ProbeReplyFrame(std::uint8_t address, const FakeInstrument& in);
std::vector<std::uint8_t> ReadReplyFrame(const FakeInstrument& in);

class SimBus : public IBytePort {
public:
    explicit SimBus(FakeLoop& loop) : loop_(loop) {}

    std::map<std::uint8_t, FakeInstrument> instruments;
    FakeLoop::Ms replyDelayMs = 5;
    std::vector<LoggedRequest> requests;
    // Called when bytes have arrived (the serial notification).
    std::function<void()> onArrival;

    // Puts bytes into the input as if the controller had sent them, at once.
    void Inject(const std::vector<std::uint8_t>& bytes);
    // Delivers bytes after a delay, then notifies.
    void Deliver(FakeLoop::Ms delay, std::vector<std::uint8_t> bytes);
    std::size_t Pending() const { return input_.size(); }

    long Read(std::uint8_t* buffer, std::size_t length, std::size_t* count) override;
    long Write(const std::uint8_t* data, std::size_t length) override;

private:
    FakeLoop& loop_;
    std::deque<std::uint8_t> input_;
};

}  // namespace zuz::test
