// Random byte counts for the size and status text fuzz runs.
#pragma once

#include <cstdint>
#include <random>

namespace modeltest {

// Random 64-bit counts spread over every magnitude, with the unit and rounding
// boundaries (2^k - 1, 2^k, 2^k + 1, and the counts that round up to the next
// power of ten) coming up often.
class RandomCounts {
public:
    explicit RandomCounts(std::uint32_t seed) : rng_(seed) {}

    std::uint64_t Next() {
        switch (rng_() % 4) {
            case 0:
                return Full();
            case 1: {
                const int bits = static_cast<int>(rng_() % 65);
                return bits == 64 ? Full() : Full() & ((std::uint64_t{1} << bits) - 1);
            }
            case 2: {
                const int bit = static_cast<int>(rng_() % 64);
                const std::uint64_t edge = std::uint64_t{1} << bit;
                return edge + static_cast<std::uint64_t>(static_cast<int>(rng_() % 5) - 2);
            }
            default: {
                // Near 9.995, 99.95, 999.5 and 9999.5 units: where the printed text
                // gains a digit or the kept four characters change shape.
                static const double kTurns[] = {9.995, 99.95, 999.5, 1023.9995, 9999.5};
                const int shift = 10 * static_cast<int>(rng_() % 7);
                const double turn =
                    kTurns[rng_() % 5] * static_cast<double>(std::uint64_t{1} << shift);
                const std::uint64_t base =
                    turn >= 1.8e19 ? ~std::uint64_t{0} : static_cast<std::uint64_t>(turn);
                return base + static_cast<std::uint64_t>(static_cast<int>(rng_() % 9) - 4);
            }
        }
    }

    std::uint64_t Full() {
        const std::uint64_t high = rng_();
        return (high << 32) | rng_();
    }
    std::mt19937& Rng() { return rng_; }

private:
    std::mt19937 rng_;
};

}  // namespace modeltest
