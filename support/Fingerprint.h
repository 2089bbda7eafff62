// A 64-bit fingerprint of a byte range (the XXH64 function), fast enough to run over every pack
// an in-place run moves. It tells a pack that holds what it should from one that does not, and a
// journal record written whole from a torn one; it is no protection against deliberate forgery.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dorvex {

uint64_t Fingerprint(const uint8_t* data, size_t size, uint64_t seed = 0);

}  // namespace dorvex
