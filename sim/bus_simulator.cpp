#include "sim/bus_simulator.h"

#include <algorithm>
#include <set>

#include "protocol/frame.h"

namespace zuz::sim {
namespace {

constexpr std::size_t kRequestSize = 8;
constexpr std::uint8_t kRequestLength = 4;

void AddNote(std::string& note, const char* word) {
    if (!note.empty()) note += ',';
    note += word;
}

}  // namespace

BusSimulator::BusSimulator(const BusConfig& config)
    : shape_(config.faultShape), baud_(config.baud == 0 ? 115200 : config.baud),
      faults_(config.faults, DeriveSeed(config.seed, 0)) {
    for (const auto& in : config.instruments)
        instruments_.try_emplace(in.address, in, DeriveSeed(config.seed, 1000 + in.address));
}

std::int64_t BusSimulator::TransmitUs(std::size_t bytes) const {
    return static_cast<std::int64_t>(bytes) * 10 * 1'000'000 / baud_;
}

Instrument* BusSimulator::Find(std::uint8_t address) {
    const auto it = instruments_.find(address);
    return it == instruments_.end() ? nullptr : &it->second;
}

std::vector<SimOutput> BusSimulator::OnBytes(const std::uint8_t* data, std::size_t size, std::int64_t nowUs) {
    std::vector<SimOutput> out;
    for (std::size_t i = 0; i < size; ++i) {
        pending_.push_back(data[i]);
        // Slide over the bytes until they start a well-formed request; at most 8 are kept.
        while (!pending_.empty()) {
            const std::size_t n = pending_.size();
            const bool bad = pending_[0] != FRAME_HEADER_FIRST || (n >= 2 && pending_[1] != FRAME_HEADER_SECOND) ||
                             (n >= 3 && pending_[2] != kRequestLength) ||
                             (n == kRequestSize &&
                              FrameChecksum(std::span(pending_).subspan(2, kRequestLength)) !=
                                  ((pending_[6] << 8) | pending_[7]));
            if (bad) {
                pending_.erase(pending_.begin());
                ++counters_.skippedBytes;
                continue;
            }
            if (n == kRequestSize) {
                SimRequest request{nowUs, {}};
                std::copy(pending_.begin(), pending_.end(), request.frame.begin());
                pending_.clear();
                ++counters_.requests;
                if (observer_) observer_(request);
                Answer(request, out);
            }
            break;
        }
    }
    return out;
}

void BusSimulator::Answer(const SimRequest& request, std::vector<SimOutput>& out) {
    Instrument* instrument = Find(request.Address());
    const std::uint8_t command = request.Command();
    if (!instrument || (command != CMD_PROBE && command != CMD_READ)) {
        ++counters_.unanswered;
        return;
    }
    std::vector<std::uint8_t> frame =
        command == CMD_PROBE ? instrument->ProbeReply() : instrument->ReadReply(request.atUs);
    const FaultDecision d = faults_.Decide();
    if (d.noReply) {
        ++counters_.noReply;
        return;
    }
    ++counters_.replies;
    SimRng& rng = faults_.Rng();
    std::string note;
    if (d.badChecksum) {
        ++frame.back();
        ++counters_.badChecksum;
        AddNote(note, "bad-checksum");
    }
    std::vector<std::uint8_t> bytes;
    if (d.garbage) {
        const auto count = rng.Between(1, 6);
        for (std::int64_t i = 0; i < count; ++i) {
            // Never 0x55: after a stray 0xAA it would open a frame too early.
            auto b = static_cast<std::uint8_t>(rng.Between(0, 0xFE));
            if (b >= FRAME_HEADER_SECOND) ++b;
            bytes.push_back(b);
        }
        ++counters_.garbage;
        AddNote(note, "garbage");
    }
    bytes.insert(bytes.end(), frame.begin(), frame.end());

    std::int64_t start = std::max(request.atUs + instrument->Config().responseDelayUs, lineFreeUs_);
    if (d.delayed) {
        start += shape_.lateUs;
        ++counters_.delayed;
        AddNote(note, "delayed");
    }
    std::int64_t end = start;
    if (d.split) {
        ++counters_.split;
        const auto pieces = static_cast<std::size_t>(rng.Between(2, std::min<std::int64_t>(4, bytes.size())));
        std::set<std::size_t> cuts;
        while (cuts.size() < pieces - 1) cuts.insert(static_cast<std::size_t>(rng.Between(1, bytes.size() - 1)));
        cuts.insert(bytes.size());
        std::size_t from = 0, index = 0;
        for (std::size_t to : cuts) {
            if (index > 0) end += rng.Between(1000, std::max<std::int64_t>(1000, shape_.splitGapMaxUs));
            end += TransmitUs(to - from);
            std::string pieceNote = note;
            AddNote(pieceNote, "split");
            pieceNote += ' ' + std::to_string(++index) + '/' + std::to_string(pieces);
            out.push_back({end, {bytes.begin() + from, bytes.begin() + to}, pieceNote});
            from = to;
        }
    } else {
        end += TransmitUs(bytes.size());
        out.push_back({end, bytes, note});
    }
    if (d.duplicate) {
        ++counters_.duplicate;
        end += TransmitUs(bytes.size());
        AddNote(note, "duplicate");
        out.push_back({end, bytes, note});
    }
    // A late reply does not hold up the replies to later requests.
    if (!d.delayed) lineFreeUs_ = end;
}

}  // namespace zuz::sim
