// Records shared by the VOB pass and the IFO repair: the cell table and the VCIDMap.
#pragma once

#include <cstdint>

namespace dorvex {

// One run of consecutive kept packs carrying one VCID. While open it holds the VCID read from
// the stream; once closed, the new VCID from the VCIDMap.
struct CellTableEntry {
    uint16_t vobId = 0;
    uint8_t cellId = 0;
    int32_t firstLba = 0;  // run-relative output LBA of the first pack
    int32_t lastLba = 0;   // run-relative output LBA of the last pack, inclusive
};

// One distinct kept VCID and the numbers it carries in the cleaned stream.
struct VcidMapEntry {
    uint16_t oldVobId = 0;
    uint8_t oldCellId = 0;
    uint16_t newVobId = 0;
    uint8_t newCellId = 0;
};

// A VCID packed into one integer where a single value is needed.
inline int32_t PackVcid(uint16_t vobId, uint8_t cellId) {
    return vobId * 256 + cellId;
}

}  // namespace dorvex
