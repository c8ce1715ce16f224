#include "protocol/bus_cycle.h"

#include <string>

#include "protocol/frame.h"

namespace zuz {
namespace {

std::uint32_t LittleEndian32(const FrameReceiver& r, unsigned offset) {
    return std::uint32_t(r.AtOffset(offset)) | std::uint32_t(r.AtOffset(offset + 1)) << 8 |
           std::uint32_t(r.AtOffset(offset + 2)) << 16 | std::uint32_t(r.AtOffset(offset + 3)) << 24;
}

std::uint16_t LittleEndian16(const FrameReceiver& r, unsigned offset) {
    return std::uint16_t(r.AtOffset(offset) | r.AtOffset(offset + 1) << 8);
}

}  // namespace

void BusCycle::SendRequest(std::span<const std::uint8_t> body) {
    const std::vector<std::uint8_t> frame = BuildFrame(body);
    // Reset before the write, so the receiver waits for the header of this request's reply.
    receiver.Reset();
    if (connected && port_) port_->Write(frame.data(), frame.size());  // failures show as silence
}

void BusCycle::SendProbe(std::uint8_t address) {
    const std::uint8_t body[] = {0x04, CMD_PROBE, address, REQUEST_TAG};
    SendRequest(body);
}

void BusCycle::SendRead(std::uint8_t address) {
    const std::uint8_t body[] = {0x04, CMD_READ, address, REQUEST_TAG};
    SendRequest(body);
}

long BusCycle::OnSerialEvent(std::uint32_t wParam, std::intptr_t /*lParam*/) {
    if (!(wParam & EV_RXCHAR)) return 0;
    if (!connected || !port_) return 0;  // the bytes stay in the port
    std::uint8_t chunk[kReadChunk];
    std::size_t count;
    do {
        count = 0;
        if (port_->Read(chunk, sizeof chunk, &count) != 0) count = 0;
        for (std::size_t i = 0; i < count; ++i) FeedByte(chunk[i]);
    } while (count == sizeof chunk);
    return 0;
}

void BusCycle::FeedByte(std::uint8_t b) {
    if (receiver.Step(b)) CheckFrame();
}

void BusCycle::CheckFrame() {
    if (receiver.ChecksumMatches())
        DispatchReply();
    else
        receiver.Reset();
}

int BusCycle::LastAddressedChannel() const {
    // A rotation index past the table can only come from a host that changed the counters by
    // hand; never address a channel that does not exist.
    if (rotationIndex == 0 || rotationIndex > kMaxChannels) return -1;
    return rotationIndex - 1;
}

void BusCycle::DispatchReply() {
    const FrameReceiver& r = receiver;
    const std::uint8_t command = r.AtOffset(3);
    int channel = -1;
    switch (command) {
        case CMD_READ_REPLY:
            channel = LastAddressedChannel();
            if (channel >= 0) {
                ChannelReading& c = host_.Channel(unsigned(channel));
                c.SetFlags(r.AtOffset(7));
                c.SetRange(r.AtOffset(6));
                c.SetValue32(static_cast<std::int32_t>(LittleEndian32(r, 8)));
            }
            break;
        case CMD_PROBE_REPLY:
            if (fixedAddressMode) {
                channel = LastAddressedChannel();
            } else if (foundCount < kMaxChannels) {
                // A late reply may add an entry beyond the channel count; one past the
                // twentieth entry has nowhere to go and is dropped.
                channel = foundCount;
                addressTable[foundCount] = r.AtOffset(5);
                ++foundCount;
            }
            if (channel >= 0) {
                ChannelReading& c = host_.Channel(unsigned(channel));
                c.SetFlags(r.AtOffset(7));
                c.SetRange(r.AtOffset(6));
                c.SetSerialNo(LittleEndian32(r, 8));
            }
            break;
        case CMD_READ_REPLY_SHORT:
            channel = LastAddressedChannel();
            if (channel >= 0)
                host_.Channel(unsigned(channel)).SetValue16(static_cast<std::int16_t>(LittleEndian16(r, 6)));
            break;
        default:
            break;
    }
    receiver.Reset();
    if (channel >= 0) host_.OnChannelUpdated(unsigned(channel), command);
}

void BusCycle::BeginFinding() {
    if (fixedAddressMode) {
        foundCount = channelCount;
        rotationIndex = 0;
    } else {
        // The rotation index keeps its value until the scan ends.
        nextScanAddress = 0;
        foundCount = 0;
    }
    host_.StartTimer(TIMER_SCAN, kScanPeriodMs);
}

void BusCycle::ScanStep() {
    if (fixedAddressMode)
        ScanStepFixedMode();
    else
        ScanStepScanMode();
}

void BusCycle::ScanStepScanMode() {
    ++nextScanAddress;
    if (nextScanAddress <= kHighestBusAddress && foundCount < channelCount) {
        SendProbe(nextScanAddress);
        return;
    }
    host_.StopTimer(TIMER_SCAN);
    if (foundCount > 0) {
        host_.ShowStatus("查找到 " + std::to_string(foundCount) + " 个设备");
        host_.StartTimer(TIMER_POLL, foundCount == 1 ? kSinglePollPeriodMs : kPollPeriodMs);
    } else {
        host_.ShowStatus("未查找到有效设备");
    }
    rotationIndex = 0;
    host_.OnFindingOver();
}

void BusCycle::ScanStepFixedMode() {
    if (rotationIndex < foundCount) {
        const std::uint8_t address = addressTable[rotationIndex % kMaxChannels];
        if (address >= 1 && address <= kHighestBusAddress) SendProbe(address);
        ++rotationIndex;
        return;
    }
    host_.StopTimer(TIMER_SCAN);
    host_.StartTimer(TIMER_POLL, kPollPeriodMs);
    rotationIndex = 0;
    host_.OnFindingOver();
}

void BusCycle::PollStep() {
    if (foundCount == 0) return;
    if (rotationIndex >= foundCount) {
        rotationIndex = 0;
        host_.OnRotationComplete();
    }
    SendRead(addressTable[rotationIndex % kMaxChannels]);
    ++rotationIndex;
}

void BusCycle::StopTimers() {
    host_.StopTimer(TIMER_SCAN);
    host_.StopTimer(TIMER_POLL);
}

}  // namespace zuz
