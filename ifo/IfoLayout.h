// Byte offsets of the IFO structures this program reads and writes (VTSI_MAT / VMGI_MAT header,
// PGCI unit tables, PGCs, cell entries, C_ADT, VOBU_ADMAP, TMAPT, TT_SRPT, PTL_MAIT, VTS_ATRT).
// The one place for these numbers; all fields are big-endian.
#pragma once

#include <cstdint>

namespace dorvex::ifo {

inline constexpr int32_t kSectorSize = 2048;
inline constexpr int32_t kHeaderSize = 2048;

// Header (VTSI_MAT / VMGI_MAT).
inline constexpr int32_t kIdentifier = 0;  // "DVDVIDEO-VMG" / "DVDVIDEO-VTS"
inline constexpr int32_t kIdentifierLength = 12;
inline constexpr int32_t kLastSectorOfSet = 12;       // VTS_LAST_SECTOR / VMG_LAST_SECTOR
inline constexpr int32_t kLastSectorOfIfo = 28;       // VTSI_LAST_SECTOR / VMGI_LAST_SECTOR
inline constexpr int32_t kVmgTitleSetCount = 62;      // u16, VIDEO_TS.IFO only
inline constexpr int32_t kVmgFirstPlayPgcByte = 132;  // byte address, VIDEO_TS.IFO only
inline constexpr int32_t kMenuVobsSector = 192;       // VTSM_VOBS / VMGM_VOBS
inline constexpr int32_t kTitleVobsOrTtSrpt = 196;    // VTSTT_VOBS / TT_SRPT sector
inline constexpr int32_t kPttSrptOrVmgmPgciUt = 200;  // VTS_PTT_SRPT / VMGM_PGCI_UT
inline constexpr int32_t kPgcitOrPtlMait = 204;       // VTS_PGCIT / VMG_PTL_MAIT
inline constexpr int32_t kVtsmPgciUtOrVtsAtrt = 208;  // VTSM_PGCI_UT / VMG_VTS_ATRT
inline constexpr int32_t kTmaptOrTxtdt = 212;         // VTS_TMAPT / VMG_TXTDT_MG
inline constexpr int32_t kMenuCAdt = 216;             // VTSM_C_ADT / VMGM_C_ADT
inline constexpr int32_t kMenuVobuAdmap = 220;        // VTSM_VOBU_ADMAP / VMGM_VOBU_ADMAP
inline constexpr int32_t kVtsCAdt = 224;              // VTS_C_ADT
inline constexpr int32_t kVtsVobuAdmap = 228;         // VTS_VOBU_ADMAP
// Sector fields moved by a table resize, in order (196 only in VIDEO_TS.IFO).
inline constexpr int32_t kFirstMovableField = 196;
inline constexpr int32_t kLastMovableField = 228;

// Common table header: u16 count, u16 reserved, u32 end address. VOBU address maps have only
// the u32 end address at 0.
inline constexpr int32_t kTableCount = 0;
inline constexpr int32_t kTableEnd = 4;
inline constexpr int32_t kTableEntries = 8;
inline constexpr int32_t kAdmapEnd = 0;
inline constexpr int32_t kAdmapEntries = 4;
inline constexpr int32_t kAdmapEntrySize = 4;

// Search pointers of PGCI_UT (language units) and of a language unit / VTS_PGCIT (PGCs).
inline constexpr int32_t kSearchPointerSize = 8;
inline constexpr int32_t kSearchPointerOffset = 4;  // u32 offset within each 8-byte pointer

// PGC: a fixed part, then its command table, program map and cell tables at the offsets it gives.
inline constexpr int32_t kPgcFixedSize = 236;
inline constexpr int32_t kPgcProgramCount = 2;
inline constexpr int32_t kPgcCellCount = 3;
inline constexpr int32_t kPgcPlaybackTime = 4;
inline constexpr int32_t kPgcProgramMapOffset = 230;    // u16
inline constexpr int32_t kPgcCellPlaybackOffset = 232;  // u16
inline constexpr int32_t kPgcCellPositionOffset = 234;  // u16

// Cell playback information entry (24 bytes).
inline constexpr int32_t kCellPlaybackSize = 24;
inline constexpr int32_t kCellCategory = 0;
inline constexpr int32_t kCellPlaybackTime = 4;
inline constexpr int32_t kCellFirstVobuStart = 8;
inline constexpr int32_t kCellFirstIlvuEnd = 12;
inline constexpr int32_t kCellLastVobuStart = 16;
inline constexpr int32_t kCellLastVobuEnd = 20;
inline constexpr uint8_t kCategoryBlockModeMask = 0xC0;
inline constexpr uint8_t kCategoryBlockTypeMask = 0x30;
inline constexpr uint8_t kCategoryInterleaved = 0x04;
// Single bits of the block mode and block type: 01 in the type is an angle block, 01 in the
// mode the first cell of a block.
inline constexpr uint8_t kCategoryAngleBlockBit = 0x10;
inline constexpr uint8_t kCategoryBlockModeLowBit = 0x40;
inline constexpr uint8_t kCategoryBlockModeHighBit = 0x80;
// The block mode's values: first, inside, last cell of a block; and an angle block whose angles
// change seamlessly.
inline constexpr uint8_t kCategoryBlockFirst = 0x40;
inline constexpr uint8_t kCategoryBlockLast = 0xC0;
inline constexpr uint8_t kCategorySeamlessAngle = 0x01;

// Cell position information entry (4 bytes).
inline constexpr int32_t kCellPositionSize = 4;
inline constexpr int32_t kCellPositionVobId = 0;  // u16
inline constexpr int32_t kCellPositionCellId = 3;

// Cell address table entry (12 bytes from offset 8).
inline constexpr int32_t kCAdtEntrySize = 12;
inline constexpr int32_t kCAdtVobId = 0;
inline constexpr int32_t kCAdtCellId = 2;
inline constexpr int32_t kCAdtReserved = 3;
inline constexpr int32_t kCAdtFirstSector = 4;
inline constexpr int32_t kCAdtLastSector = 8;

// Time map table (u32 offsets of its maps from 8) and time maps (u32 entries from 4).
inline constexpr int32_t kTmapPointers = 8;
inline constexpr int32_t kTmapPointerSize = 4;
inline constexpr int32_t kTmapEntryCount = 2;  // u16 within a time map
inline constexpr int32_t kTmapEntries = 4;
inline constexpr int32_t kTmapEntrySize = 4;
inline constexpr uint32_t kTmapDiscontinuity = 0x80000000u;

// TT_SRPT entry (12 bytes from offset 8).
inline constexpr int32_t kTtSrptEntrySize = 12;
inline constexpr int32_t kTtSrptTitleSet = 6;
inline constexpr int32_t kTtSrptStartSector = 8;

// VMG_PTL_MAIT: u16 countries, u16 title sets, u32 end; 8-byte country entries whose u16 at 4
// is the offset of the country's mask block.
inline constexpr int32_t kPtlCountryCount = 0;
inline constexpr int32_t kPtlTitleSetCount = 2;
inline constexpr int32_t kPtlCountryEntrySize = 8;
inline constexpr int32_t kPtlMaskBlockOffset = 4;
inline constexpr int32_t kPtlLevels = 8;

// VMG_VTS_ATRT: u16 number of title sets.
inline constexpr int32_t kAtrtTitleSetCount = 0;

// VTS_PTT_SRPT: u16 titles, u32 end, then one u32 offset per title.
inline constexpr int32_t kPttOffsetSize = 4;

}  // namespace dorvex::ifo
