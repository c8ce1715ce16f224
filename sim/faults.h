// Line faults the simulated master controller commits on purpose, each with a rate per reply
// (0 never, 1 always), decided by a seeded generator so a run can be repeated exactly.
#pragma once

#include <cstdint>

#include "sim/sim_rng.h"

namespace zuz::sim {

struct FaultRates {
    double noReply = 0;      // the reply is not sent at all
    double badChecksum = 0;  // the reply's checksum is off by one
    double split = 0;        // the reply goes out in 2 to 4 pieces with gaps between them
    double garbage = 0;      // 1 to 6 noise bytes (never 0x55) go out before the header
    double delayed = 0;      // the reply leaves `lateUs` later, after the next request
    double duplicate = 0;    // the reply is sent twice in a row
};

// How strong the faults are.
struct FaultShape {
    std::int64_t lateUs = 75000;         // extra delay of a delayed reply (the monitor asks every 50 ms)
    std::int64_t splitGapMaxUs = 8000;   // gap before each further piece: 1 ms .. this
};

struct FaultDecision {
    bool noReply = false, badChecksum = false, split = false, garbage = false, delayed = false,
         duplicate = false;
};

class FaultPlanner {
public:
    FaultPlanner(const FaultRates& rates, std::uint64_t seed) : rates_(rates), rng_(seed) {}

    // The faults for the next reply. Every fault is drawn every time, so the decisions for one
    // fault do not depend on the rates of the others. With noReply set the others do not apply.
    FaultDecision Decide() {
        FaultDecision d;
        d.noReply = rng_.Chance(rates_.noReply);
        d.badChecksum = rng_.Chance(rates_.badChecksum);
        d.split = rng_.Chance(rates_.split);
        d.garbage = rng_.Chance(rates_.garbage);
        d.delayed = rng_.Chance(rates_.delayed);
        d.duplicate = rng_.Chance(rates_.duplicate);
        return d;
    }

    // For the shape of a fault (piece sizes, gaps, noise bytes).
    SimRng& Rng() { return rng_; }

private:
    FaultRates rates_;
    SimRng rng_;
};

}  // namespace zuz::sim
