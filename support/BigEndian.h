// Big-endian field access for pack buffers and IFO images. Every multi-byte number of the
// DVD-Video format goes through these; no other code converts byte order by itself.
#pragma once

#include <cstdint>

namespace dorvex {

inline uint32_t ReadBE32(const uint8_t* buf, int32_t pos) {
    const uint8_t* p = buf + pos;
    uint32_t v = p[0];
    v = (v << 8) + p[1];
    v = (v << 8) + p[2];
    v = (v << 8) + p[3];
    return v;
}

inline uint16_t ReadBE16(const uint8_t* buf, int32_t pos) {
    const uint8_t* p = buf + pos;
    return static_cast<uint16_t>((p[0] << 8) + p[1]);
}

inline void WriteBE32(uint8_t* buf, int32_t pos, uint32_t value) {
    uint8_t* p = buf + pos;
    p[3] = static_cast<uint8_t>(value);
    value >>= 8;
    p[2] = static_cast<uint8_t>(value);
    value >>= 8;
    p[1] = static_cast<uint8_t>(value);
    value >>= 8;
    p[0] = static_cast<uint8_t>(value);
}

// Only the low 16 bits are stored; higher bits are dropped on purpose.
inline void WriteBE16(uint8_t* buf, int32_t pos, uint32_t value) {
    uint8_t* p = buf + pos;
    p[1] = static_cast<uint8_t>(value);
    p[0] = static_cast<uint8_t>(value >> 8);
}

// Read-modify-write modulo 2^32: moving an address by a negative amount wraps like the
// unsigned field it is.
inline void AddBE32(uint8_t* buf, int32_t pos, int32_t amount) {
    WriteBE32(buf, pos, ReadBE32(buf, pos) + static_cast<uint32_t>(amount));
}

// Value of a big-endian field that was loaded from memory as a native little-endian word.
inline uint32_t SwapBE32(uint32_t word) {
    return ((word & 0xFFu) << 24) | ((word & 0xFF00u) << 8) | ((word >> 8) & 0xFF00u) |
           (word >> 24);
}

inline uint16_t SwapBE16(uint32_t word) {
    return static_cast<uint16_t>(((word & 0xFFu) << 8) | ((word >> 8) & 0xFFu));
}

}  // namespace dorvex
