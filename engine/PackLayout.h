// Byte positions inside a 2048-byte DVD-Video pack: the MPEG-2 pack header, the first PES
// packet, and the PCI and DSI packets of a navigation pack. The one place for these offsets.
#pragma once

#include <cstdint>

namespace dorvex::pack {

inline constexpr int32_t kPackSize = 2048;

// Pack header: every sector of a VOB starts with the pack start code.
inline constexpr int32_t kPackStart = 0;
inline constexpr uint32_t kCodePackStart = 0x000001BA;
inline constexpr int32_t kScrHigh = 4;  // system clock reference, bytes 4..5
inline constexpr int32_t kScrLow = 6;   // bytes 6..9
// First packet after the 14-byte pack header: its start code, and for a PES packet the header
// data length byte; the payload starts at kPesPayloadBase + that length.
inline constexpr int32_t kFirstPacketCode = 14;
inline constexpr int32_t kPesHeaderDataLength = 22;
inline constexpr int32_t kPesPayloadBase = 23;

// Start codes (the 32-bit value at a packet start).
inline constexpr uint32_t kCodeVideo0 = 0x000001E0;
inline constexpr uint32_t kCodePadding = 0x000001BE;
inline constexpr uint32_t kCodePrivate1 = 0x000001BD;
inline constexpr uint32_t kCodePrivate2 = 0x000001BF;
inline constexpr uint32_t kCodeBlank = 0x00000000;
inline constexpr uint32_t kCodePictureStart = 0x00000100;
inline constexpr uint32_t kCodeSequenceHeader = 0x000001B3;
// MPEG audio travels as PES streams 0xC0.. of its own, one per audio stream.
inline constexpr uint32_t kCodeMpegAudio0 = 0x000001C0;

// Substream numbers, the first payload byte of a private stream 1 packet: sub-picture streams
// 0x20 + n; AC-3 0x80 + n and DTS 0x88 + n; LPCM 0xA0 + n. The audio stream is the low 3 bits.
inline constexpr uint8_t kSubstreamSubpicture0 = 0x20;
inline constexpr uint8_t kSubpictureStreams = 32;
inline constexpr uint8_t kSubstreamAc3First = 0x80;
inline constexpr uint8_t kSubstreamAc3Last = 0x87;
inline constexpr uint8_t kSubstreamDtsLast = 0x8F;
inline constexpr uint8_t kSubstreamLpcmFirst = 0xA0;
inline constexpr uint8_t kSubstreamLpcmLast = 0xA7;
inline constexpr uint8_t kAudioStreamMask = 0x07;

// Navigation pack: PCI packet at 38, DSI packet at 1024.
inline constexpr int32_t kPciPacket = 38;
inline constexpr int32_t kDsiPacket = 1024;

inline constexpr int32_t kPciNavLba = 45;         // PCI_GI: NV_PCK_LBA
inline constexpr int32_t kPciButtonCount = 158;   // HLI: number of buttons
inline constexpr int32_t kPciNsmlAngle = 105;     // NSML_AGLI: nine 4-byte destinations
inline constexpr int32_t kPciNsmlAngleSize = 36;  // (the angle tables are described below)

inline constexpr int32_t kDsiNavLba = 1035;       // DSI_GI: NV_PCK_LBA
inline constexpr int32_t kDsiVobuEnd = 1039;      // DSI_GI: VOBU_EA (the forward pointer)
inline constexpr int32_t kDsiRefEnd = 1043;       // DSI_GI: VOBU_1STREF_EA, 2NDREF, 3RDREF
inline constexpr int32_t kDsiRefEndCount = 3;     // ... 4 bytes each, 0 when there is none
inline constexpr int32_t kDsiVobId = 1055;        // DSI_GI: VOBU_VOB_IDN (16 bits)
inline constexpr int32_t kDsiCellId = 1058;       // DSI_GI: VOBU_C_IDN (8 bits)
inline constexpr int32_t kDsiCellElapsed = 1059;  // DSI_GI: C_ELTM, BCD hh mm ss ff

// SML_PBI, the interleaved-unit (ILVU) fields: the category (16 bits), the last sector of this
// VOBU's ILVU (ILVU_EA), the first sector and the size in sectors of the same cell's next ILVU
// (NT_ILVU_SA, NT_ILVU_SZ, 16 bits). Distances count sectors from the navpack.
inline constexpr int32_t kDsiIlvuCategory = 1063;
inline constexpr int32_t kDsiIlvuEnd = 1065;
inline constexpr int32_t kDsiNextIlvuStart = 1069;
inline constexpr int32_t kDsiNextIlvuSize = 1073;
inline constexpr int32_t kDsiIlvuSize = 12;            // category through NT_ILVU_SZ
inline constexpr uint16_t kIlvuPreUnit = 0x8000;       // the VOBUs that lead into a block
inline constexpr uint16_t kIlvuInBlock = 0x4000;       // every VOBU of an ILVU
inline constexpr uint16_t kIlvuUnitStart = 0x2000;     // first VOBU of an ILVU or the pre-unit
inline constexpr uint16_t kIlvuUnitEnd = 0x1000;       // last VOBU of either
inline constexpr uint32_t kNextIlvuNone = 0xFFFFFFFF;  // NT_ILVU_SA in the cell's last ILVU
inline constexpr uint16_t kNextIlvuSizeNone = 0xFFFF;  // NT_ILVU_SZ with it

// The angle tables, one entry per angle: SML_AGLI (seamless blocks: the address and size of
// that angle's ILVU that follows this one in time) and NSML_AGLI (non-seamless blocks: that
// angle's VOBU that starts when this one ends). Bit 31 of an address: the target lies before
// the navpack; bits 29..0 the distance; 0 no such angle; kAngleEnd no further ILVU (VOBU).
inline constexpr int32_t kAngleCount = 9;
inline constexpr int32_t kDsiSmlAngle = 1211;
inline constexpr int32_t kSmlAngleEntrySize = 6;
inline constexpr int32_t kSmlAngleSizeAt = 4;  // the 16-bit size within an entry
inline constexpr int32_t kDsiSmlAngleSize = kAngleCount * kSmlAngleEntrySize;
inline constexpr int32_t kPciNsmlAngleEntrySize = 4;
inline constexpr uint32_t kAngleBackward = 0x80000000;
inline constexpr uint32_t kAngleDistanceMask = 0x3FFFFFFF;
inline constexpr uint32_t kAngleEnd = 0x7FFFFFFF;

// VOBU_SRI: 42 search pointers of 4 bytes, in this order: next VOBU with video, 19 forward
// (farthest first), next VOBU, previous VOBU, 19 backward (nearest first), previous VOBU with
// video. Bits 31 and 30 are flags; bits 29..0 the distance, all ones meaning none / end of cell.
inline constexpr int32_t kDsiSearch = 1265;
inline constexpr int32_t kSearchCount = 42;
inline constexpr int32_t kSearchNextVobu = 20;  // entries before it point forward
inline constexpr uint32_t kSearchDistanceMask = 0x3FFFFFFF;
inline constexpr uint32_t kSearchEndOfCell = 0x3FFFFFFF;

// SYNCI: the first pack of each audio stream (8 entries of 2 bytes: bit 15 set when the pack
// lies before the navpack, bits 14..0 the distance) and of each sub-picture stream (32 entries
// of 4 bytes: bit 31 the direction, bits 30..0 the distance). 0 means none.
inline constexpr int32_t kDsiAudioSync = 1433;
inline constexpr int32_t kAudioSyncCount = 8;
inline constexpr uint32_t kAudioSyncBackward = 0x8000;
inline constexpr uint32_t kAudioSyncDistanceMask = 0x7FFF;  // all ones: none
inline constexpr uint32_t kAudioSyncNoPack = 0x3FFF;        // some authoring tools' "none"
inline constexpr int32_t kDsiSubpictureSync = 1449;
inline constexpr int32_t kSubpictureSyncCount = 32;
inline constexpr uint32_t kSubpictureSyncBackward = 0x80000000;
inline constexpr uint32_t kSubpictureSyncDistanceMask = 0x7FFFFFFF;  // all ones: none
// Bytes of the DSI fields above, for telling which of them differ between two navpacks.
inline constexpr int32_t kDsiRefEndSize = 4 * kDsiRefEndCount;
inline constexpr int32_t kDsiSearchSize = 4 * kSearchCount;
inline constexpr int32_t kDsiAudioSyncSize = 2 * kAudioSyncCount;
inline constexpr int32_t kDsiSubpictureSyncSize = 4 * kSubpictureSyncCount;
inline constexpr int32_t kNavLbaSize = 4;
inline constexpr int32_t kDsiVobuEndSize = 4;
inline constexpr int32_t kDsiVobIdSize = 2;

}  // namespace dorvex::pack
