#include "ifo/PlaybackTime.h"

#include "ifo/IfoFile.h"
#include "ifo/IfoLayout.h"
#include "ifo/VideoStandard.h"
#include "support/BigEndian.h"

namespace dorvex {

namespace {

constexpr uint8_t kRateMask = 0xC0;
constexpr uint8_t kRate25 = 0x40;
constexpr uint8_t kRate30 = 0xC0;
// The byte of a time code that holds the frames and the rate.
constexpr int32_t kFramesByte = 3;

// Digits are taken at face value: FF decodes to 165, as a player would read it.
int32_t FromBcd(uint8_t b) {
    return (b & 15) + 10 * (b >> 4);
}

uint8_t ToBcd(int32_t value) {
    return static_cast<uint8_t>(((value / 10) % 16) * 16 + value % 10);
}

}  // namespace

void CPlaybackTime::Clear() {
    m_nHours = m_nMinutes = m_nSeconds = m_nFrames = 0;
    m_nStandard = 2;
}

void CPlaybackTime::FromTicks(int32_t ticks) {
    m_nStandard = g_nVideoStandard;
    // 30-frame time code counts 3003 ticks a frame (29.97 Hz), without dropping frames.
    const int32_t ticksPerFrame = m_nStandard == 1 ? 3600 : 3003;
    const int32_t fps = FramesPerSecond();
    const int32_t frames = ticks / ticksPerFrame;
    m_nFrames = frames % fps;
    const int32_t seconds = frames / fps;
    m_nSeconds = seconds % 60;
    const int32_t minutes = seconds / 60;
    m_nMinutes = minutes % 60;
    m_nHours = minutes / 60;
}

void CPlaybackTime::Add(const CPlaybackTime& other) {
    m_nHours += other.m_nHours;
    m_nMinutes += other.m_nMinutes;
    m_nSeconds += other.m_nSeconds;
    m_nFrames += other.m_nFrames;
    const int32_t fps = FramesPerSecond();
    m_nSeconds += m_nFrames / fps;
    m_nFrames %= fps;
    m_nMinutes += m_nSeconds / 60;
    m_nSeconds %= 60;
    m_nHours += m_nMinutes / 60;
    m_nMinutes %= 60;
}

void CPlaybackTime::Decode(const uint8_t* bytes) {
    m_nHours = FromBcd(bytes[0]);
    m_nMinutes = FromBcd(bytes[1]);
    m_nSeconds = FromBcd(bytes[2]);
    m_nFrames = (bytes[kFramesByte] & 15) + 10 * ((bytes[kFramesByte] >> 4) & 3);
    m_nStandard = (bytes[kFramesByte] & kRateMask) == kRate25 ? 1 : 2;
}

void CPlaybackTime::Encode(uint8_t* bytes) const {
    const uint8_t frames = ToBcd(m_nFrames) | (m_nStandard == 1 ? kRate25 : kRate30);
    WriteBE32(bytes, 0,
              (uint32_t{ToBcd(m_nHours)} << 24) | (uint32_t{ToBcd(m_nMinutes)} << 16) |
                  (uint32_t{ToBcd(m_nSeconds)} << 8) | frames);
}

bool CPlaybackTime::IsZero() const {
    return m_nHours == 0 && m_nMinutes == 0 && m_nSeconds == 0 && m_nFrames == 0;
}

void CIfoFile::UpdatePgcPlaybackTime(uint16_t lu, uint16_t pgcn, bool fillZeroCells,
                                     bool useGlobalStandard) {
    uint8_t* pgc = GetPgc(lu, pgcn);
    if (pgc == nullptr) {
        return;
    }
    const uint8_t cells = GetCellCount(lu, pgcn);
    CPlaybackTime sum;
    sum.FromTicks(0);
    int32_t standard = g_nVideoStandard;
    // Set once a cell's own stored rate governs the sum.
    bool rateFromCell = false;
    for (uint32_t k = 1; k <= cells; ++k) {
        uint8_t* entry = GetCellPlayback(lu, pgcn, static_cast<uint16_t>(k));
        if (entry == nullptr) {
            continue;
        }
        CPlaybackTime time;
        time.Decode(entry + ifo::kCellPlaybackTime);
        if (!useGlobalStandard) {
            standard = time.m_nStandard;
            sum.m_nStandard = time.m_nStandard;
            rateFromCell = true;
        }
        if (fillZeroCells && time.IsZero()) {
            // A zero-length cell upsets players: give it 0.48 s or 0.6 s.
            time.m_nFrames = standard == 1 ? 12 : 18;
            time.Encode(entry + ifo::kCellPlaybackTime);
        }
        const uint8_t category = entry[ifo::kCellCategory];
        // Of an angle block only the first cell counts: the angles play instead of each other.
        const bool counts = (category & ifo::kCategoryAngleBlockBit) == 0 ||
                            ((category & ifo::kCategoryBlockModeLowBit) != 0 &&
                             (category & ifo::kCategoryBlockModeHighBit) == 0);
        if (counts) {
            sum.Add(time);
        }
    }
    uint8_t* stored = pgc + ifo::kPgcPlaybackTime;
    const uint8_t storedRate = stored[kFramesByte] & kRateMask;
    sum.Encode(stored);
    // Without a cell the rate would come from the disc's standard; before any video was read
    // it is unknown, and guessing 30 frames per second would turn a PAL chain's flag wrong.
    if (!rateFromCell && g_nVideoStandard == kStandardUnknown) {
        stored[kFramesByte] = static_cast<uint8_t>((stored[kFramesByte] & ~kRateMask) | storedRate);
    }
}

void CIfoFile::UpdatePlaybackTimes(bool menu) {
    // A PGC shared by several language units is summed once: the sum is the same each time.
    ForEachPgc(menu,
               [&](uint16_t lu, uint16_t pgcn) { UpdatePgcPlaybackTime(lu, pgcn, true, false); });
}

}  // namespace dorvex
