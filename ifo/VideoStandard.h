// The disc's video standard, found by the pack classifier in the first MPEG-2 sequence header of
// a run and read by the playback-time arithmetic of the IFO repair.
#pragma once

#include <cstdint>

namespace dorvex {

inline constexpr int32_t kStandardUnknown = 0;
inline constexpr int32_t kStandardPal = 1;
inline constexpr int32_t kStandardNtsc = 2;

// 0 not yet known, 1 PAL (25 frames per second), 2 NTSC (30). Reset by the engine's Open.
extern int32_t g_nVideoStandard;

}  // namespace dorvex
