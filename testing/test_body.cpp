// The generated body every route serves unless it carries an explicit one.
//
// Byte i is kLow[i % 256] + BlockMix(i / 256) (mod 256). kLow is a permutation
// with a step of 167, so a copy misplaced by 1..255 bytes inside a block differs;
// BlockMix scrambles the block number, so the pattern has no period of 256 (or of
// any power of two) and a block written at the wrong block offset differs too.
#include <algorithm>
#include <array>
#include <cstdint>

#include "test_server.h"

namespace vtest {
namespace {

constexpr std::array<std::uint8_t, 256> MakeLowTable() {
    std::array<std::uint8_t, 256> table{};
    for (unsigned j = 0; j < 256; ++j) table[j] = static_cast<std::uint8_t>(j * 167 + 13);
    return table;
}

constexpr std::array<std::uint8_t, 256> kLow = MakeLowTable();

std::uint8_t BlockMix(std::uint64_t block) {
    return static_cast<std::uint8_t>((block * 0x9E3779B97F4A7C15ull) >> 56);
}

}  // namespace

char BodyByte(std::uint64_t i) {
    return static_cast<char>(static_cast<std::uint8_t>(kLow[i & 255] + BlockMix(i >> 8)));
}

void FillBody(std::uint64_t offset, char* out, std::size_t length) {
    // One addition per byte over the table: a whole block is a loop of fixed
    // length, which the compiler vectorises at -O2, so a 1 GiB benchmark body
    // costs far less than the socket that carries it.
    while (length > 0) {
        const unsigned first = static_cast<unsigned>(offset & 255);
        const std::size_t n = std::min<std::size_t>(length, 256 - first);
        const std::uint8_t add = BlockMix(offset >> 8);
        if (n == 256) {
            for (std::size_t k = 0; k < 256; ++k) {
                out[k] = static_cast<char>(static_cast<std::uint8_t>(kLow[k] + add));
            }
        } else {
            for (std::size_t k = 0; k < n; ++k) {
                out[k] = static_cast<char>(static_cast<std::uint8_t>(kLow[first + k] + add));
            }
        }
        out += n;
        offset += n;
        length -= n;
    }
}

std::string Body(std::uint64_t offset, std::uint64_t length) {
    std::string body(length, '\0');
    FillBody(offset, body.data(), body.size());
    return body;
}

}  // namespace vtest
