// Drivers shared by the fuzz targets and by the unit tests that replay what fuzzing found. Each
// takes one input of bytes, lays it out as DVD files in a scratch folder and runs the program's
// repair or cleaning steps on them in the order the engine runs them. Everything a driver makes
// up (navpack lists, cell tables, options) comes from the input, so an input always replays the
// same way.
//
// Input layouts:
//   title-set IFO / VIDEO_TS.IFO: kIfoControlBytes control bytes, then the IFO image
//   VOB pass: kVobControlBytes control bytes, 3-byte IFO patches, then the packs of the stream
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace dorvex::testkit {

// Beyond not crashing: whether the properties the program promises for a damaged input held.
struct FuzzOutcome {
    bool loaded = false;  // the IFO given (or built) passed the load validation
    // Restoring the backup of a run gives back every byte of the files it started from.
    bool consistent = true;
    std::string problem;  // the broken promise when !consistent
    // The repaired IFO loads again. Not promised for every damaged IFO that loads: the repair
    // writes PGC fields wherever the PGC pointers lead, also into other tables.
    bool reloadable = true;
    std::string reloadProblem;
};

// --- IFO inputs ---
inline constexpr size_t kIfoControlBytes = 8;
// Longer images only slow the fuzzer down: the real IFOs of a DVD are tens of KiB at most.
inline constexpr size_t kMaxIfoImage = 96 * 1024;

// Bits of IfoControl::flags.
inline constexpr uint8_t kIfoMenuDomain = 0x01;    // repair the menu domain (VMG: always)
inline constexpr uint8_t kIfoBothDomains = 0x02;   // title set: menus, then titles, as a full run
inline constexpr uint8_t kIfoNoPgcCheck = 0x04;    // leave out CheckPgcSectors
inline constexpr uint8_t kIfoNavFromAdmap = 0x08;  // navpacks where the VOBU address map says
inline constexpr uint8_t kIfoVcidFromPgcs = 0x10;  // VOBUs carry the VCIDs of the PGC cells
inline constexpr uint8_t kIfoKeepVobIds = 0x20;    // the engine's "remap VOB IDs" off
inline constexpr uint8_t kIfoScramble = 0x40;      // perturb cell table and VCID map entries
inline constexpr uint8_t kIfoVobFiles = 0x80;      // VOB files of the set in the folder

struct IfoControl {
    uint8_t flags = kIfoNavFromAdmap | kIfoVcidFromPgcs;
    uint8_t removal = 0;   // out of 256: chance that a cell run is dropped / a VOBU loses packs
    uint8_t navpacks = 0;  // synthetic navpack count when not taken from the address map
    uint8_t extra = 0;     // VMG: title sets present (bits 0..6), bit 7 trims explicitly
    uint32_t seed = 0;

    std::array<uint8_t, kIfoControlBytes> Encode() const;
    static IfoControl Decode(const uint8_t* bytes);
};

std::vector<uint8_t> IfoFuzzInput(const IfoControl& control, const std::vector<uint8_t>& image);

// Arbitrary bytes as VTS_01_0.IFO, every repair step of a title-set run on it.
FuzzOutcome RunVtsIfoInput(const uint8_t* data, size_t size, const std::string& folder);
// Arbitrary bytes as VIDEO_TS.IFO: the menu repair, the size fields and the title-set trimming.
FuzzOutcome RunVmgIfoInput(const uint8_t* data, size_t size, const std::string& folder);

// --- VOB pass inputs ---
inline constexpr size_t kVobControlBytes = 16;
inline constexpr int32_t kMaxFuzzPacks = 64;
inline constexpr int32_t kMaxIfoPatches = 15;
inline constexpr int32_t kFuzzCells = 8;

// Bits of VobControl::flags.
inline constexpr uint8_t kVobMenu = 0x01;  // the stream is VTS_01_0.VOB
inline constexpr uint8_t kVobRemoveUnrefed = 0x02;
inline constexpr uint8_t kVobResetIlvu = 0x04;
inline constexpr uint8_t kVobKeepVobIds = 0x08;
inline constexpr uint8_t kVobNoPgcCheck = 0x10;
inline constexpr uint8_t kVobVmgIfo = 0x20;     // VIDEO_TS.IFO beside the title set
inline constexpr uint8_t kVobSplit = 0x40;      // the stream continues in a second file
inline constexpr uint8_t kVobEmptyFile = 0x80;  // an empty file between the two parts

// IFO kinds of VobControl::ifo.
inline constexpr uint8_t kVobNoIfo = 0;
inline constexpr uint8_t kVobBuiltIfo = 1;
inline constexpr uint8_t kVobPatchedIfo = 2;  // the built image with the input's byte patches

struct VobControl {
    uint8_t flags = 0;
    uint8_t ifo = kVobBuiltIfo;
    uint8_t layout = 0;  // bit 0: two PGCs; bits 1..2: cells per PGC - 1; bit 3: no time map
    std::array<uint8_t, kFuzzCells> cells = {};  // per cell: VOB ID, cell ID and length
    uint8_t categories = 0;                      // bit i: cell i is an interleaved angle cell
    uint8_t splitAt = 0;                         // packs in the first file when split
    uint8_t patches = 0;                         // IFO patches following the control bytes

    std::array<uint8_t, kVobControlBytes> Encode() const;
    static VobControl Decode(const uint8_t* bytes);
};

std::vector<uint8_t> VobFuzzInput(const VobControl& control, const std::vector<uint8_t>& packs);
// The IFO a VOB pass input describes, as VTS_01_0.IFO (before any patch).
std::vector<uint8_t> BuildFuzzVtsIfo(const VobControl& control);

// The stream as VTS_01_1.VOB (or VTS_01_0.VOB), a run in place, then the same files again for a
// run from backup followed by a restore of the backup.
FuzzOutcome RunVobPassInput(const uint8_t* data, size_t size, const std::string& folder);

// Removes every file of the scratch folder and its backup folder.
void ClearScratchFolder(const std::string& folder);

}  // namespace dorvex::testkit
