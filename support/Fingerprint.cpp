#include "support/Fingerprint.h"

#include <cstring>

namespace dorvex {

namespace {

constexpr uint64_t kPrime1 = 0x9E3779B185EBCA87ULL;
constexpr uint64_t kPrime2 = 0xC2B2AE3D27D4EB4FULL;
constexpr uint64_t kPrime3 = 0x165667B19E3779F9ULL;
constexpr uint64_t kPrime4 = 0x85EBCA77C2B2AE63ULL;
constexpr uint64_t kPrime5 = 0x27D4EB2F165667C5ULL;

uint64_t RotateLeft(uint64_t value, int bits) {
    return (value << bits) | (value >> (64 - bits));
}

// The function is defined on little-endian words; this program only runs on little-endian
// machines, where the load is the word itself.
uint64_t Load64(const uint8_t* p) {
    uint64_t value;
    std::memcpy(&value, p, sizeof(value));
    return value;
}

uint32_t Load32(const uint8_t* p) {
    uint32_t value;
    std::memcpy(&value, p, sizeof(value));
    return value;
}

uint64_t Round(uint64_t accumulator, uint64_t input) {
    accumulator += input * kPrime2;
    return RotateLeft(accumulator, 31) * kPrime1;
}

uint64_t MergeRound(uint64_t hash, uint64_t accumulator) {
    hash ^= Round(0, accumulator);
    return hash * kPrime1 + kPrime4;
}

}  // namespace

uint64_t Fingerprint(const uint8_t* data, size_t size, uint64_t seed) {
    const uint8_t* p = data;
    const uint8_t* const end = data + size;
    uint64_t hash;
    if (size >= 32) {
        // Four independent lanes keep the multiplier busy.
        uint64_t lane1 = seed + kPrime1 + kPrime2;
        uint64_t lane2 = seed + kPrime2;
        uint64_t lane3 = seed;
        uint64_t lane4 = seed - kPrime1;
        const uint8_t* const lastStripe = end - 32;
        do {
            lane1 = Round(lane1, Load64(p));
            lane2 = Round(lane2, Load64(p + 8));
            lane3 = Round(lane3, Load64(p + 16));
            lane4 = Round(lane4, Load64(p + 24));
            p += 32;
        } while (p <= lastStripe);
        hash = RotateLeft(lane1, 1) + RotateLeft(lane2, 7) + RotateLeft(lane3, 12) +
               RotateLeft(lane4, 18);
        hash = MergeRound(hash, lane1);
        hash = MergeRound(hash, lane2);
        hash = MergeRound(hash, lane3);
        hash = MergeRound(hash, lane4);
    } else {
        hash = seed + kPrime5;
    }
    hash += static_cast<uint64_t>(size);
    // Compare what is left, never p + n against end: p may be null for an empty input, and
    // pointer arithmetic past the end is undefined.
    for (; end - p >= 8; p += 8) {
        hash ^= Round(0, Load64(p));
        hash = RotateLeft(hash, 27) * kPrime1 + kPrime4;
    }
    if (end - p >= 4) {
        hash ^= static_cast<uint64_t>(Load32(p)) * kPrime1;
        hash = RotateLeft(hash, 23) * kPrime2 + kPrime3;
        p += 4;
    }
    for (; p < end; ++p) {
        hash ^= static_cast<uint64_t>(*p) * kPrime5;
        hash = RotateLeft(hash, 11) * kPrime1;
    }
    hash ^= hash >> 33;
    hash *= kPrime2;
    hash ^= hash >> 29;
    hash *= kPrime3;
    hash ^= hash >> 32;
    return hash;
}

}  // namespace dorvex
