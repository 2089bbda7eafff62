// The navigation pack as the cleaner sees it: how one is recognised, and the fields a run may
// change, each with its name and where its bytes lie. The pass, the relative-pointer fix-up, the
// plan's report and the checker all take them from here; the byte offsets themselves live in
// PackLayout.h.
#pragma once

#include <cstdint>

#include "engine/PackLayout.h"

namespace dorvex::navpack {

// A PCI packet at byte 38 and a DSI packet at byte 1024, both private stream 2.
bool IsNavpack(const uint8_t* pack);

// The fields a run may change, in report order. A field may span several byte ranges.
enum class Field : int32_t {
    Lba,             // PCI and DSI: NV_PCK_LBA
    VobuEnd,         // DSI: VOBU_EA
    VobId,           // DSI: VOBU_VOB_IDN
    CellId,          // DSI: VOBU_C_IDN
    IlvuAngle,       // DSI: SML_PBI, PCI: NSML_AGLI, DSI: SML_AGLI
    RefEnds,         // DSI: VOBU_1STREF_EA .. 3RDREF_EA
    SearchPointers,  // DSI: VOBU_SRI
    AudioSync,       // DSI: SYNCI audio
    SubpictureSync,  // DSI: SYNCI sub-picture
    Other,           // any byte outside the ranges above
};
inline constexpr int32_t kFieldCount = 10;

inline constexpr const char* kFieldNames[kFieldCount] = {
    "lba",      "vobu-end",        "vob-id",     "cell-id",         "ilvu-angle",
    "ref-ends", "search-pointers", "audio-sync", "subpicture-sync", "other",
};

inline const char* FieldName(Field field) {
    return kFieldNames[static_cast<int32_t>(field)];
}

inline constexpr uint32_t FieldBit(Field field) {
    return 1u << static_cast<int32_t>(field);
}

// One byte range of a field.
struct FieldSpan {
    Field field;
    int32_t offset;
    int32_t size;
};

inline constexpr FieldSpan kFieldSpans[] = {
    {Field::Lba, pack::kPciNavLba, pack::kNavLbaSize},
    {Field::Lba, pack::kDsiNavLba, pack::kNavLbaSize},
    {Field::VobuEnd, pack::kDsiVobuEnd, pack::kDsiVobuEndSize},
    {Field::VobId, pack::kDsiVobId, pack::kDsiVobIdSize},
    {Field::CellId, pack::kDsiCellId, 1},
    {Field::IlvuAngle, pack::kDsiIlvuCategory, pack::kDsiIlvuSize},
    {Field::IlvuAngle, pack::kPciNsmlAngle, pack::kPciNsmlAngleSize},
    {Field::IlvuAngle, pack::kDsiSmlAngle, pack::kDsiSmlAngleSize},
    {Field::RefEnds, pack::kDsiRefEnd, pack::kDsiRefEndSize},
    {Field::SearchPointers, pack::kDsiSearch, pack::kDsiSearchSize},
    {Field::AudioSync, pack::kDsiAudioSync, pack::kDsiAudioSyncSize},
    {Field::SubpictureSync, pack::kDsiSubpictureSync, pack::kDsiSubpictureSyncSize},
};

// Zeroes every byte range of a field.
void ClearField(uint8_t* pack, Field field);
// True when every byte of a field is zero.
bool FieldIsClear(const uint8_t* pack, Field field);

// The bits (FieldBit) of the fields whose bytes differ between two versions of a navpack.
uint32_t ChangedFields(const uint8_t* before, const uint8_t* after);

}  // namespace dorvex::navpack
