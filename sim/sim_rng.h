// A small seeded random number generator for the simulator's decisions.
//
// The standard library's distributions may differ between library versions, so the simulator
// uses its own (SplitMix64 plus plain arithmetic): the same seed gives the same bus behaviour
// on every machine, which is what tests and bug reports rely on.
#pragma once

#include <cstdint>

namespace zuz::sim {

class SimRng {
public:
    explicit SimRng(std::uint64_t seed = 1) : state_(seed) {}

    std::uint64_t Next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    // Uniform in [0, 1).
    double Uniform() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }

    // True with probability `rate` (0 never, 1 always).
    bool Chance(double rate) { return Uniform() < rate; }

    // Uniform integer in [low, high]; low when high < low.
    std::int64_t Between(std::int64_t low, std::int64_t high) {
        if (high <= low) return low;
        const auto span = static_cast<std::uint64_t>(high - low) + 1;
        return low + static_cast<std::int64_t>(Next() % span);
    }

private:
    std::uint64_t state_;
};

// A seed for one part of the bus derived from the bus seed, so that adding an instrument
// does not change the fault decisions of the others.
inline std::uint64_t DeriveSeed(std::uint64_t seed, std::uint64_t salt) {
    SimRng rng(seed ^ (salt * 0xD1B54A32D192ED03ull));
    return rng.Next();
}

}  // namespace zuz::sim
