// Classification of one 2048-byte pack from a few fixed byte positions, and detection of the
// video standard from the first suitable MPEG-2 sequence header.
#pragma once

#include <cstdint>

#include "ifo/VideoStandard.h"

namespace dorvex {

enum PackType : int32_t {
    PackOther = 0,
    PackNav = 1,
    PackVideo = 2,
    PackAudio = 3,
    PackSubpicture = 4,
    PackPadding = 5,
    PackBlank = 6,
};

class CPackInfo {
  public:
    int32_t m_nType = PackOther;
    uint8_t m_nSubstream = 0;
    int32_t m_nPictureType = 0;
    uint32_t m_nScrLow = 0;
    uint16_t m_nScrHigh = 0;
    uint8_t m_nButtons = 0;

    void Clear() { *this = CPackInfo(); }

    // Reads fixed positions only; for a navigation pack stores its VOB ID and cell ID.
    void Classify(const uint8_t* pack, uint16_t& vobId, uint8_t& cellId);

    // For a PackVideo pack while the standard is unknown.
    void DetectVideoStandard(const uint8_t* pack);
};

}  // namespace dorvex
