#include "app/core/Progress.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace dorvex {

namespace {

constexpr uint32_t kSpeedWindowMs = 2000;
constexpr float kSpeedJump = 4.0f;  // MB/s; a sample further away replaces the estimate

}  // namespace

void ThroughputEstimator::Tick(uint32_t now, int32_t phase, bool paused, int32_t readTotal,
                               uint32_t totalSectors) {
    // The window is measured as elapsed time, so the clock's wrap at 2^32 ms neither opens a
    // window early nor yields a sample over a near-zero interval.
    uint32_t elapsed = now - m_dwSpeedTick;
    if (phase != PhaseVobPass || paused || elapsed <= kSpeedWindowMs) {
        return;
    }
    // A window that began on another title set (a full-DVD run moving on) gives no sample.
    if (m_nSpeedTotal == static_cast<int32_t>(totalSectors)) {
        int32_t packs = static_cast<int32_t>(static_cast<uint32_t>(readTotal) -
                                             static_cast<uint32_t>(m_nSpeedRead));
        // Packs of 2048 bytes per millisecond, as MB per second.
        float sample = static_cast<float>(packs) * 2000.0f /
                       static_cast<float>(static_cast<int32_t>(elapsed)) / 1024.0f;
        if (std::fabs(sample - m_fSpeed) > kSpeedJump) {
            m_fSpeed = sample;
        } else {
            m_fSpeed = 0.98f * m_fSpeed + 0.02f * sample;
        }
    }
    m_dwSpeedTick = now;
    m_nSpeedRead = readTotal;
    m_nSpeedTotal = static_cast<int32_t>(totalSectors);
}

std::string FormatPhaseLine(int32_t phase, const ThroughputEstimator& speed, int32_t readTotal,
                            uint32_t totalSectors) {
    switch (phase) {
        case PhaseVobPass:
            break;
        case PhaseIfoProcessing:
            return "Processing IFOs";
        case PhaseIfoWriting:
            return "Writing IFOs";
        case PhaseDone:
            return "Done...";
        case PhaseAborted:
            return "Aborted";
        default:
            return "";
    }
    // 64-bit intermediates: the same truncating results as 32-bit arithmetic for any title set
    // that fits a DVD, without overflow for larger counts.
    int64_t total = static_cast<int64_t>(totalSectors);
    int64_t percent = static_cast<int64_t>(readTotal) * 100 / (total + 1);
    int64_t megabytesLeft = (total - readTotal) * 2 / 1024;
    float secondsLeft = static_cast<float>(megabytesLeft) / speed.m_fSpeed;

    char line[160];
    // A window with no progress can bring the estimate to 0 (or below, when a full-DVD run
    // moves to a title set of the same size); the time to go is then unknown and shows as
    // "--:--" rather than a number.
    if (speed.m_fSpeed > 0.0f &&
        secondsLeft < static_cast<float>(std::numeric_limits<int32_t>::max())) {
        int32_t seconds = static_cast<int32_t>(secondsLeft);
        snprintf(line, sizeof(line), "%d%% Processed (%.2f MB/s) -- %d:%02d secs to go",
                 static_cast<int32_t>(percent), static_cast<double>(speed.m_fSpeed), seconds / 60,
                 seconds % 60);
    } else {
        snprintf(line, sizeof(line), "%d%% Processed (%.2f MB/s) -- --:-- secs to go",
                 static_cast<int32_t>(percent), static_cast<double>(speed.m_fSpeed));
    }
    return line;
}

int32_t ProgressBarPosition(int32_t readInFile, int32_t fileSectors) {
    int64_t divisor = static_cast<int64_t>(fileSectors) + 1;
    if (divisor <= 0) {
        return 0;
    }
    return static_cast<int32_t>(static_cast<int64_t>(readInFile) * 100 / divisor);
}

}  // namespace dorvex
