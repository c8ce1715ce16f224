// The simulated master controller with its instruments: takes the bytes the monitor writes
// and returns the bytes to send back, each piece with the time at which it is to leave.
//
// Deterministic: time is given by the caller (microseconds on any monotonic scale), and every
// random decision comes from the seed, so tests drive it in-process with a fake clock and the
// program drives it from a real one.
//
// Requests are AA 55 04 cmd addr tag sum-hi sum-lo. Bytes that do not form such a request
// with a right checksum are skipped, one at a time, until one does (noise on the line).
// CMD_PROBE to an instrument's address gets its probe reply; CMD_READ gets its next reading.
// An address with no instrument, and any other command, gets no reply.
//
// Timing: a reply starts after the instrument's response delay, and not before the previous
// reply has left (one line); each piece is sent when its last byte would have arrived at the
// configured baud rate (10 bit times per byte), since a pseudo-terminal delivers at once.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "sim/faults.h"
#include "sim/instrument.h"

namespace zuz::sim {

struct BusConfig {
    std::vector<InstrumentConfig> instruments;  // addresses are unique
    FaultRates faults;
    FaultShape faultShape;
    std::uint32_t baud = 115200;
    std::uint64_t seed = 1;
};

struct SimOutput {
    std::int64_t atUs;
    std::vector<std::uint8_t> bytes;
    std::string note;  // the faults applied, for the log ("" for a clean reply)
};

struct SimRequest {
    std::int64_t atUs;
    std::array<std::uint8_t, 8> frame;
    std::uint8_t Command() const { return frame[3]; }
    std::uint8_t Address() const { return frame[4]; }
};

struct SimCounters {
    std::uint64_t requests = 0, replies = 0, unanswered = 0, skippedBytes = 0;
    std::uint64_t noReply = 0, badChecksum = 0, split = 0, garbage = 0, delayed = 0, duplicate = 0;
};

class BusSimulator {
public:
    explicit BusSimulator(const BusConfig& config);

    // Bytes written by the monitor at nowUs. Returns what to send, in the order produced; the
    // caller sends each piece at its time (pieces of different replies may interleave in time,
    // so order them by atUs, keeping this order for equal times).
    std::vector<SimOutput> OnBytes(const std::uint8_t* data, std::size_t size, std::int64_t nowUs);

    // Called for every request recognised, before it is answered.
    void SetRequestObserver(std::function<void(const SimRequest&)> observer) { observer_ = std::move(observer); }

    // Line time of `bytes` bytes at the configured baud rate.
    std::int64_t TransmitUs(std::size_t bytes) const;

    Instrument* Find(std::uint8_t address);
    const SimCounters& Counters() const { return counters_; }

private:
    void Answer(const SimRequest& request, std::vector<SimOutput>& out);

    std::map<std::uint8_t, Instrument> instruments_;
    FaultShape shape_;
    std::uint32_t baud_;
    FaultPlanner faults_;
    std::function<void(const SimRequest&)> observer_;
    std::vector<std::uint8_t> pending_;  // the bytes of a request being received
    std::int64_t lineFreeUs_ = 0;
    SimCounters counters_;
};

}  // namespace zuz::sim
