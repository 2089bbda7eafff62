// The progress display's arithmetic, the same in the dialog and on a terminal: the throughput
// estimate, the phase line with its percentage and time to go, and the progress bar.
#pragma once

#include <cstdint>
#include <string>

#include "engine/VtsCleaner.h"  // the run phases

namespace dorvex {

// The 200 ms progress display's throughput estimate. One estimator lives as long as its front
// end: it is not reset between runs.
struct ThroughputEstimator {
    float m_fSpeed = 20.0f;  // MB (1048576 bytes) per second
    uint32_t m_dwSpeedTick = 0;
    int32_t m_nSpeedRead = 0;
    int32_t m_nSpeedTotal = 0;

    // Takes a measuring point when due (phase 1, not paused, more than 2000 ms since the last).
    void Tick(uint32_t now, int32_t phase, bool paused, int32_t readTotal, uint32_t totalSectors);
};

// Text of line 1003 for a run phase (RunPhase); for phase 1 the percentage, speed and time to go.
std::string FormatPhaseLine(int32_t phase, const ThroughputEstimator& speed, int32_t readTotal,
                            uint32_t totalSectors);
// Progress bar position 0..99 within the current file.
int32_t ProgressBarPosition(int32_t readInFile, int32_t fileSectors);

}  // namespace dorvex
