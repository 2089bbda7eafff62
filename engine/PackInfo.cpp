#include "engine/PackInfo.h"

#include "engine/PackLayout.h"
#include "support/BigEndian.h"
#include "support/Sinks.h"

namespace dorvex {

namespace {

bool IsSubpictureSubstream(uint8_t s) {
    return s >= pack::kSubstreamSubpicture0 &&
           s < pack::kSubstreamSubpicture0 + pack::kSubpictureStreams;
}

// The pass's audio: AC-3 and LPCM.
bool IsAudioSubstream(uint8_t s) {
    return (s >= pack::kSubstreamAc3First && s <= pack::kSubstreamAc3Last) ||
           (s >= pack::kSubstreamLpcmFirst && s <= pack::kSubstreamLpcmLast);
}

// The header data length is one byte, so the substream byte lies at most at 278.
uint8_t SubstreamOf(const uint8_t* pack) {
    return pack[pack::kPesPayloadBase + pack[pack::kPesHeaderDataLength]];
}

// Position of the first start code `code` at or after `from` whose four bytes and the
// `trailing` bytes after it lie inside the pack, or -1.
int32_t FindStartCode(const uint8_t* pack, int32_t from, uint32_t code, int32_t trailing) {
    for (int32_t p = from; p + 4 + trailing <= pack::kPackSize; ++p) {
        if (ReadBE32(pack, p) == code) {
            return p;
        }
    }
    return -1;
}

}  // namespace

int32_t AudioStreamOf(const uint8_t* pack) {
    const uint32_t code = ReadBE32(pack, pack::kFirstPacketCode);
    if (code >= pack::kCodeMpegAudio0 && code <= pack::kCodeMpegAudio0 + pack::kAudioStreamMask) {
        return static_cast<int32_t>(code - pack::kCodeMpegAudio0);
    }
    if (code != pack::kCodePrivate1) {
        return -1;
    }
    const uint8_t sub = SubstreamOf(pack);
    if ((sub >= pack::kSubstreamAc3First && sub <= pack::kSubstreamDtsLast) ||
        (sub >= pack::kSubstreamLpcmFirst && sub <= pack::kSubstreamLpcmLast)) {
        return sub & pack::kAudioStreamMask;
    }
    return -1;
}

int32_t SubpictureStreamOf(const uint8_t* pack) {
    if (ReadBE32(pack, pack::kFirstPacketCode) != pack::kCodePrivate1) {
        return -1;
    }
    const uint8_t sub = SubstreamOf(pack);
    return IsSubpictureSubstream(sub) ? sub - pack::kSubstreamSubpicture0 : -1;
}

void CPackInfo::Classify(const uint8_t* pack, uint16_t& vobId, uint8_t& cellId) {
    m_nScrHigh = ReadBE16(pack, pack::kScrHigh);
    m_nScrLow = ReadBE32(pack, pack::kScrLow);

    switch (ReadBE32(pack, pack::kFirstPacketCode)) {
        case pack::kCodeVideo0:
            m_nType = PackVideo;
            m_nSubstream = 0;
            return;
        case pack::kCodeBlank:
            m_nType = PackBlank;
            m_nSubstream = 0;
            return;
        case pack::kCodePadding:
            m_nType = PackPadding;
            m_nSubstream = 0;
            return;
        case pack::kCodePrivate1: {
            m_nSubstream = SubstreamOf(pack);
            if (IsSubpictureSubstream(m_nSubstream)) {
                m_nType = PackSubpicture;
                return;
            }
            if (IsAudioSubstream(m_nSubstream)) {
                m_nType = PackAudio;
                return;
            }
            break;
        }
        default:
            break;
    }

    if (ReadBE32(pack, pack::kPciPacket) == pack::kCodePrivate2 &&
        ReadBE32(pack, pack::kDsiPacket) == pack::kCodePrivate2) {
        m_nType = PackNav;
        vobId = ReadBE16(pack, pack::kDsiVobId);
        cellId = pack[pack::kDsiCellId];
        m_nButtons = pack[pack::kPciButtonCount];
        return;
    }
    m_nType = PackOther;
}

void CPackInfo::DetectVideoStandard(const uint8_t* pack) {
    const int32_t payload = pack::kPesPayloadBase + pack[pack::kPesHeaderDataLength];

    int32_t picture = FindStartCode(pack, payload, pack::kCodePictureStart, 2);
    if (picture < 0) {
        m_nPictureType = 0;
        return;
    }
    m_nPictureType = (pack[picture + 5] >> 3) & 0x07;
    if (g_nVideoStandard != kStandardUnknown) {
        return;
    }

    int32_t sequence = FindStartCode(pack, payload, pack::kCodeSequenceHeader, 4);
    if (sequence < 0) {
        return;
    }
    uint32_t v = ReadBE32(pack, sequence + 4);
    uint32_t verticalSize = (v >> 8) & 0xFFF;
    g_nVideoStandard = (verticalSize == 480 || verticalSize == 240) ? kStandardNtsc : kStandardPal;

    const char* name = g_nVideoStandard == kStandardNtsc ? "NTSC" : "PAL";
    Logf("Found Video Format: %s\n", name);
    LogDetailf("Format Video: %s\n", name);
}

}  // namespace dorvex
