// Drives the monitoring core the way a noisy bus and the timers would: the first bytes choose the
// channel count and the finding mode, then each op is "bytes arrive", "a well-formed frame
// arrives", "a timer fires", "connect/disconnect" or a notification without the received-data
// bit. After every op the core is compared with a small independent model of the frame receiver
// and of reply crediting, and the counters must stay inside their tables.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/core/monitor_core.h"
#include "protocol/frame.h"
#include "test_host.h"
#include "fuzz_check.h"

namespace {

using zuz::test::TestHost;

struct Update {
    unsigned channel;
    std::uint8_t command;
    std::uint8_t flags, range;
    std::uint32_t serial;
    std::int32_t value32;
    std::int16_t value16;
    bool operator==(const Update&) const = default;
};

class FuzzHost : public TestHost {
public:
    void OnChannelUpdated(unsigned channel, unsigned char command) override {
        CHECK(channel < zuz::kMaxChannels);
        const zuz::ChannelReading& c = core.channels[channel];
        updates.push_back({channel, command, c.Flags(), c.RangeCode(), c.SerialNo(), c.Value32(), c.Value16()});
    }
    std::vector<Update> updates;
};

// The receiver and the crediting as the monitor's protocol describes them, written separately
// from the code under test. Frames longer than the 8-bit count can number (L 254, 255) are
// dropped at their length byte, as the receiver chooses to.
struct Model {
    std::array<std::uint8_t, 512> buf{};
    std::uint8_t count = 0;
    bool header = false, inFrame = false;
    // Crediting state, copied from the core before each op.
    std::uint8_t rotation = 0, found = 0;
    bool fixed = false;
    std::array<std::uint8_t, 20> table{};
    std::vector<Update> expected;
    std::array<Update, 20> last{};  // what each channel holds, for fields a reply leaves alone

    void Reset() {
        buf.fill(0);
        count = 0;
        header = inFrame = false;
    }
    std::uint32_t Le32(unsigned off) const {
        return std::uint32_t(buf[off - 2]) | std::uint32_t(buf[off - 1]) << 8 | std::uint32_t(buf[off]) << 16 |
               std::uint32_t(buf[off + 1]) << 24;
    }
    void Dispatch() {
        const std::uint8_t cmd = buf[1];
        const int credited = (rotation == 0 || rotation > 20) ? -1 : rotation - 1;
        int ch = -1;
        if (cmd == zuz::CMD_READ_REPLY || cmd == zuz::CMD_READ_REPLY_SHORT) {
            ch = credited;
        } else if (cmd == zuz::CMD_PROBE_REPLY) {
            if (fixed) {
                ch = credited;
            } else if (found < 20) {
                ch = found;
                table[found] = buf[3];
                ++found;
            }
        }
        if (ch >= 0) {
            Update u = last[ch];
            u.channel = unsigned(ch);
            u.command = cmd;
            if (cmd == zuz::CMD_READ_REPLY) {
                u.flags = buf[5], u.range = buf[4], u.value32 = std::int32_t(Le32(8));
            } else if (cmd == zuz::CMD_PROBE_REPLY) {
                u.flags = buf[5], u.range = buf[4], u.serial = Le32(8);
            } else {
                u.value16 = std::int16_t(buf[4] | buf[5] << 8);
            }
            expected.push_back(u);
            last[ch] = u;
        }
        Reset();
    }
    void Step(std::uint8_t b) {
        if (inFrame) {
            buf[count] = b;
            ++count;
            if (count == 1 && buf[0] > 253) return Reset();
            if (count >= buf[0] + 2) {
                unsigned sum = 0;
                for (unsigned i = 0; i < buf[0]; ++i) sum += buf[i];
                const unsigned stored = buf[std::uint8_t(count - 2)] * 256u + buf[std::uint8_t(count - 1)];
                if ((sum & 0xFFFF) == stored)
                    Dispatch();
                else
                    Reset();
            }
        } else if (b == 0xAA) {
            header = true;
        } else if (b == 0x55 && header) {
            inFrame = true;
            count = 0;
        }
    }
};

class Input {
public:
    Input(const std::uint8_t* d, std::size_t n) : d_(d), n_(n) {}
    bool Empty() const { return i_ >= n_; }
    std::uint8_t Byte() { return i_ < n_ ? d_[i_++] : 0; }
    std::vector<std::uint8_t> Bytes(std::size_t k) {
        k = std::min(k, n_ - std::min(i_, n_));
        std::vector<std::uint8_t> v(d_ + i_, d_ + i_ + k);
        i_ += k;
        return v;
    }

private:
    const std::uint8_t* d_;
    std::size_t n_, i_ = 0;
};

void CheckAgainstModel(FuzzHost& h, Model& m, bool bytesRead) {
    const zuz::BusCycle& bus = h.core.bus;
    CHECK(bus.foundCount <= zuz::kMaxChannels);
    CHECK(bus.rotationIndex <= zuz::kMaxChannels);
    CHECK(bus.nextScanAddress <= zuz::kHighestBusAddress + 1);
    CHECK(h.core.bus.receiver.Count() == m.count);
    CHECK(bus.receiver.HeaderByteSeen() == m.header);
    CHECK(bus.receiver.InFrame() == m.inFrame);
    CHECK(std::memcmp(bus.receiver.Buffer().data(), m.buf.data(), m.buf.size()) == 0);
    CHECK(h.updates == m.expected);
    if (bytesRead) {  // other ops change the counters by their own rules
        CHECK(bus.foundCount == m.found);
        CHECK(bus.addressTable == m.table);
    }
    // Polling in scan mode starts only when something was found, and found never shrinks.
    if (h.loop.TimerRunning(zuz::TIMER_POLL) && !bus.fixedAddressMode) CHECK(bus.foundCount > 0);
    if (!bus.connected) CHECK(!h.loop.TimerRunning(zuz::TIMER_SCAN) && !h.loop.TimerRunning(zuz::TIMER_POLL));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    FuzzHost h;
    Model m;
    h.core.bus.channelCount = zuz::kChannelCounts[in.Byte() % std::size(zuz::kChannelCounts)];
    if (in.Byte() & 1) {
        h.core.bus.fixedAddressMode = true;
        for (auto& a : h.core.bus.addressTable) a = in.Byte();
    }
    for (unsigned i = 0; i < zuz::kMaxChannels; ++i) {
        const zuz::ChannelReading& c = h.core.channels[i];
        m.last[i] = {i, 0, c.Flags(), c.RangeCode(), c.SerialNo(), c.Value32(), c.Value16()};
    }
    std::vector<std::uint8_t> pending;  // bytes in the port that the core has not read yet
    std::size_t lastRequests = 0;
    while (!in.Empty()) {
        m.rotation = h.core.bus.rotationIndex;
        m.found = h.core.bus.foundCount;
        m.fixed = h.core.bus.fixedAddressMode;
        m.table = h.core.bus.addressTable;
        const bool wasConnected = h.core.bus.connected;
        std::vector<std::uint8_t> arrived;
        bool notify = false;
        const std::uint8_t op = in.Byte();
        switch (op % 10) {
            case 0:
            case 1:  // raw bytes from the line, with or without a notification
                arrived = in.Bytes(std::size_t(in.Byte() % 130) + 1);
                notify = op % 10 == 0;
                break;
            case 2: {  // a frame with a right checksum
                std::vector<std::uint8_t> body = in.Bytes(std::size_t(in.Byte() % 14) + 2);
                while (body.size() < 2) body.push_back(0);
                if (op & 0x80) body[1] = std::array<std::uint8_t, 4>{0xE2, 0xF5, 0xF6, 0xF4}[(op >> 4) & 3];
                body[0] = std::uint8_t(body.size());
                arrived = zuz::BuildFrame(body);
                notify = true;
                break;
            }
            case 3:
            case 4:
                if (h.loop.TimerRunning(zuz::TIMER_SCAN)) h.core.OnTimer(zuz::TIMER_SCAN);
                break;
            case 5:
            case 6:
                if (h.loop.TimerRunning(zuz::TIMER_POLL)) h.core.OnTimer(zuz::TIMER_POLL);
                break;
            case 7: {  // a timer the monitor does not own: nothing may change
                const unsigned id = in.Byte();
                if (id != zuz::TIMER_RECORD && id != zuz::TIMER_SCAN && id != zuz::TIMER_POLL) h.core.OnTimer(id);
                break;
            }
            case 8:  // a notification with other event bits only: nothing is read
                h.core.OnSerialEvent(std::uint32_t(in.Byte() | 1) << 1, 0);
                break;
            case 9:
                h.core.ToggleConnection(zuz::kDefaultBaudEntry);
                break;
        }
        // A request resets the receiver before it goes out; requests go out only while connected.
        if (h.bus.requests.size() != lastRequests) {
            CHECK(wasConnected);
            CHECK(h.bus.requests.size() == lastRequests + 1);
            const auto& r = h.bus.requests.back();
            if (r.command == zuz::CMD_PROBE) CHECK(r.address >= 1 && r.address <= zuz::kHighestBusAddress);
            if (r.command == zuz::CMD_READ) CHECK(h.core.bus.rotationIndex >= 1);
            lastRequests = h.bus.requests.size();
            m.Reset();
        }
        h.bus.Inject(arrived);
        pending.insert(pending.end(), arrived.begin(), arrived.end());
        if (notify) h.core.OnSerialEvent(zuz::EV_RXCHAR, 0);
        // While connected a notification drains the port completely; otherwise nothing is read.
        const bool bytesRead = notify && h.core.bus.connected;
        if (bytesRead) {
            for (std::uint8_t b : pending) m.Step(b);
            pending.clear();
        }
        CHECK(h.bus.Pending() == pending.size());
        CheckAgainstModel(h, m, bytesRead);
        m.expected.clear();  // compared; keep each op's check short
        h.updates.clear();
    }
    return 0;
}
