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

// The audio stream (0..7) a pack carries: AC-3, DTS or LPCM in private stream 1, or MPEG audio
// in a PES stream of its own; -1 for any other pack. The pass's PackAudio type is narrower
// (AC-3 and LPCM only; DTS falls to PackOther) and changes nothing there, since audio and other
// packs are copied alike; what needs every audio stream (the checker's sync offsets) asks here.
int32_t AudioStreamOf(const uint8_t* pack);
// The sub-picture stream (0..31) a pack carries, or -1.
int32_t SubpictureStreamOf(const uint8_t* pack);

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
