// Finding the instruments on the bus and reading them in an endless rotation.
//
// Two timers drive it: TIMER_SCAN sends one probe per tick until finding is over, then
// TIMER_POLL sends one read request per tick, cycling over the instruments found. Replies come
// through OnSerialEvent -> the frame receiver -> DispatchReply and land on the channel that
// was addressed last (the rotation index minus one), or, for a probe reply during a scan, on
// the next free channel. One request per tick; nothing is retried.
//
//   connect ──> finding (TIMER_SCAN) ──> polling (TIMER_POLL) ──> disconnect
//                      └──> found nothing (scan mode, no instrument answered)
//
// All calls on the host's one thread.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "display/channel_reading.h"
#include "protocol/byte_port.h"
#include "protocol/frame_receiver.h"
#include "protocol/host.h"
#include "protocol/serial_events.h"

namespace zuz {

inline constexpr unsigned kMaxChannels = 20;
inline constexpr std::uint8_t kHighestBusAddress = 100;
inline constexpr std::size_t kReadChunk = 100;

class IBusCycleHost : public ITimerHost, public IStatusSink {
public:
    // The reading record of channel i (0..19).
    virtual ChannelReading& Channel(unsigned i) = 0;
    // A poll tick has found a completed rotation, before its request goes out.
    virtual void OnRotationComplete() {}
    // Finding is over (the scan or the fixed-address probing has ended).
    virtual void OnFindingOver() {}
    // A checked reply has been applied to a channel.
    virtual void OnChannelUpdated(unsigned /*channel*/, std::uint8_t /*command*/) {}
};

class BusCycle {
public:
    explicit BusCycle(IBusCycleHost& host) : host_(host) {}

    // The port requests go to and replies come from; nullptr for none.
    void SetPort(IBytePort* port) { port_ = port; }

    // Builds the frame, resets the receiver, and writes it while connected.
    void SendRequest(std::span<const std::uint8_t> body);
    void SendProbe(std::uint8_t address);
    void SendRead(std::uint8_t address);

    // The serial notification: with bit 0 set and connected, drains the port in chunks of 100
    // bytes through the frame receiver. Always returns 0.
    long OnSerialEvent(std::uint32_t wParam, std::intptr_t lParam);
    // One incoming byte through the receiver (check and dispatch included).
    void FeedByte(std::uint8_t b);
    void CheckFrame();
    void DispatchReply();
    void ResetReceiver() { receiver.Reset(); }

    // Connect, after the port is open and `connected` is set: the counters for scan or
    // fixed-address mode, then TIMER_SCAN. (In fixed-address mode the host reloads the address
    // table first.)
    void BeginFinding();
    void ScanStep();
    void PollStep();
    // Disconnect: both timers stop; counters and the address table keep their values.
    void StopTimers();

    // State, named as the monitor's window keeps it.
    std::uint8_t channelCount = 2;
    std::uint8_t nextScanAddress = 0;
    std::uint8_t rotationIndex = 0;
    std::uint8_t foundCount = 0;
    std::array<std::uint8_t, kMaxChannels> addressTable{};
    bool connected = false;
    bool fixedAddressMode = false;
    FrameReceiver receiver;

private:
    void ScanStepScanMode();
    void ScanStepFixedMode();
    // The channel addressed last, or -1 when nothing was addressed in this rotation.
    int LastAddressedChannel() const;

    IBusCycleHost& host_;
    IBytePort* port_ = nullptr;
};

}  // namespace zuz
