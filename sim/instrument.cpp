#include "sim/instrument.h"

#include <algorithm>

#include "protocol/frame.h"

namespace zuz::sim {

Instrument::Instrument(InstrumentConfig config, std::uint64_t seed)
    : config_(std::move(config)), generator_(config_.reading, config_.overload, seed) {}

std::vector<std::uint8_t> Instrument::ProbeReply() const {
    const std::uint32_t s = config_.serial;
    const std::uint8_t body[] = {10,
                                 CMD_PROBE_REPLY,
                                 0,
                                 config_.address,
                                 config_.range,
                                 config_.flags,
                                 static_cast<std::uint8_t>(s),
                                 static_cast<std::uint8_t>(s >> 8),
                                 static_cast<std::uint8_t>(s >> 16),
                                 static_cast<std::uint8_t>(s >> 24)};
    return BuildFrame(body);
}

std::vector<std::uint8_t> Instrument::ReadReply(std::int64_t nowUs) {
    const auto reading = generator_.Next(nowUs);
    if (config_.form == ReplyForm::Short) {
        const auto value = reading.overload ? kOverload16
                                            : static_cast<std::int16_t>(std::clamp<std::int64_t>(reading.value, -32767, 32767));
        lastSent_ = value;
        const auto v = static_cast<std::uint16_t>(value);
        const std::uint8_t body[] = {6, CMD_READ_REPLY_SHORT, 0, config_.address, static_cast<std::uint8_t>(v),
                                     static_cast<std::uint8_t>(v >> 8)};
        return BuildFrame(body);
    }
    const auto value =
        reading.overload ? kOverload32 : static_cast<std::int32_t>(std::clamp<std::int64_t>(reading.value, INT32_MIN, INT32_MAX));
    lastSent_ = value;
    const auto v = static_cast<std::uint32_t>(value);
    const std::uint8_t body[] = {10,
                                 CMD_READ_REPLY,
                                 0,
                                 config_.address,
                                 config_.range,
                                 config_.flags,
                                 static_cast<std::uint8_t>(v),
                                 static_cast<std::uint8_t>(v >> 8),
                                 static_cast<std::uint8_t>(v >> 16),
                                 static_cast<std::uint8_t>(v >> 24)};
    return BuildFrame(body);
}

}  // namespace zuz::sim
