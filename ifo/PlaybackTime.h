// A DVD-Video playback time: four BCD bytes (hours, minutes, seconds, frames with the frame
// rate in the top two bits of the last byte), decoded, added with carries and encoded again.
#pragma once

#include <cstdint>

namespace dorvex {

class CPlaybackTime {
  public:
    int32_t m_nHours = 0;
    int32_t m_nMinutes = 0;
    int32_t m_nSeconds = 0;
    int32_t m_nFrames = 0;
    int32_t m_nStandard = 2;  // 1: 25 frames per second; 2 (and 0): 30

    void Clear();
    void FromTicks(int32_t ticks);  // 90 kHz clock ticks, at the current g_nVideoStandard
    void Add(const CPlaybackTime& other);
    void Decode(const uint8_t* bytes);
    void Encode(uint8_t* bytes) const;
    bool IsZero() const;
    int32_t FramesPerSecond() const { return m_nStandard == 1 ? 25 : 30; }
};

}  // namespace dorvex
