#include "engine/plan/IfoChanges.h"

#include <algorithm>
#include <cstring>

#include "ifo/IfoLayout.h"
#include "support/BigEndian.h"

namespace dorvex {

namespace {

struct NamedField {
    int32_t offset;
    int32_t size;
    const char* name;
};

struct NamedTable {
    int32_t field;  // header field holding its sector
    bool admap;     // a VOBU address map: its end address is at 0, not 4
    const char* name;
};

constexpr NamedField kVtsFields[] = {
    {ifo::kLastSectorOfSet, 4, "VTS_LAST_SECTOR"},
    {ifo::kLastSectorOfIfo, 4, "VTSI_LAST_SECTOR"},
    {ifo::kMenuVobsSector, 4, "VTSM_VOBS"},
    {ifo::kTitleVobsOrTtSrpt, 4, "VTSTT_VOBS"},
    {ifo::kPttSrptOrVmgmPgciUt, 4, "VTS_PTT_SRPT sector"},
    {ifo::kPgcitOrPtlMait, 4, "VTS_PGCIT sector"},
    {ifo::kVtsmPgciUtOrVtsAtrt, 4, "VTSM_PGCI_UT sector"},
    {ifo::kTmaptOrTxtdt, 4, "VTS_TMAPT sector"},
    {ifo::kMenuCAdt, 4, "VTSM_C_ADT sector"},
    {ifo::kMenuVobuAdmap, 4, "VTSM_VOBU_ADMAP sector"},
    {ifo::kVtsCAdt, 4, "VTS_C_ADT sector"},
    {ifo::kVtsVobuAdmap, 4, "VTS_VOBU_ADMAP sector"},
};

constexpr NamedField kVmgFields[] = {
    {ifo::kLastSectorOfSet, 4, "VMG_LAST_SECTOR"},
    {ifo::kLastSectorOfIfo, 4, "VMGI_LAST_SECTOR"},
    {ifo::kVmgTitleSetCount, 2, "VMG_NR_OF_TITLE_SETS"},
    {ifo::kVmgFirstPlayPgcByte, 4, "FP_PGC address"},
    {ifo::kMenuVobsSector, 4, "VMGM_VOBS"},
    {ifo::kTitleVobsOrTtSrpt, 4, "TT_SRPT sector"},
    {ifo::kPttSrptOrVmgmPgciUt, 4, "VMGM_PGCI_UT sector"},
    {ifo::kPgcitOrPtlMait, 4, "VMG_PTL_MAIT sector"},
    {ifo::kVtsmPgciUtOrVtsAtrt, 4, "VMG_VTS_ATRT sector"},
    {ifo::kTmaptOrTxtdt, 4, "VMG_TXTDT_MG sector"},
    {ifo::kMenuCAdt, 4, "VMGM_C_ADT sector"},
    {ifo::kMenuVobuAdmap, 4, "VMGM_VOBU_ADMAP sector"},
};

constexpr NamedTable kVtsTables[] = {
    {ifo::kPttSrptOrVmgmPgciUt, false, "VTS_PTT_SRPT"},
    {ifo::kPgcitOrPtlMait, false, "VTS_PGCIT"},
    {ifo::kVtsmPgciUtOrVtsAtrt, false, "VTSM_PGCI_UT"},
    {ifo::kTmaptOrTxtdt, false, "VTS_TMAPT"},
    {ifo::kMenuCAdt, false, "VTSM_C_ADT"},
    {ifo::kMenuVobuAdmap, true, "VTSM_VOBU_ADMAP"},
    {ifo::kVtsCAdt, false, "VTS_C_ADT"},
    {ifo::kVtsVobuAdmap, true, "VTS_VOBU_ADMAP"},
};

constexpr NamedTable kVmgTables[] = {
    {ifo::kTitleVobsOrTtSrpt, false, "TT_SRPT"},
    {ifo::kPttSrptOrVmgmPgciUt, false, "VMGM_PGCI_UT"},
    {ifo::kPgcitOrPtlMait, false, "VMG_PTL_MAIT"},
    {ifo::kVtsmPgciUtOrVtsAtrt, false, "VMG_VTS_ATRT"},
    {ifo::kTmaptOrTxtdt, false, "VMG_TXTDT_MG"},
    {ifo::kMenuCAdt, false, "VMGM_C_ADT"},
    {ifo::kMenuVobuAdmap, true, "VMGM_VOBU_ADMAP"},
};

// The bytes of a table (through its end address, cut at the end of the image); empty when the
// header has no pointer to it or the pointer leads outside the image.
std::vector<uint8_t> TableBytes(const std::vector<uint8_t>& image, const NamedTable& table,
                                bool& present) {
    present = false;
    if (image.size() < static_cast<size_t>(ifo::kHeaderSize)) {
        return {};
    }
    const uint32_t sector = ReadBE32(image.data(), table.field);
    const int64_t start = static_cast<int64_t>(sector) * ifo::kSectorSize;
    const int64_t header = table.admap ? ifo::kAdmapEntries : ifo::kTableEntries;
    if (sector == 0 || start + header > static_cast<int64_t>(image.size())) {
        return {};
    }
    present = true;
    const uint32_t end =
        ReadBE32(image.data() + start, table.admap ? ifo::kAdmapEnd : ifo::kTableEnd);
    const int64_t stop =
        std::min<int64_t>(static_cast<int64_t>(image.size()), start + int64_t{end} + 1);
    return std::vector<uint8_t>(image.begin() + start, image.begin() + std::max(start, stop));
}

}  // namespace

std::vector<std::string> IfoChanges(const std::vector<uint8_t>& before,
                                    const std::vector<uint8_t>& after, bool vmg) {
    std::vector<std::string> changes;
    if (before.size() != after.size()) {
        changes.push_back("file size");
    }
    const size_t header = static_cast<size_t>(ifo::kHeaderSize);
    if (before.size() >= header && after.size() >= header) {
        std::vector<uint8_t> restBefore(before.begin(), before.begin() + ifo::kHeaderSize);
        std::vector<uint8_t> restAfter(after.begin(), after.begin() + ifo::kHeaderSize);
        auto compare = [&](const NamedField& f) {
            if (std::memcmp(before.data() + f.offset, after.data() + f.offset,
                            static_cast<size_t>(f.size)) != 0) {
                changes.push_back(f.name);
            }
            std::fill_n(restBefore.begin() + f.offset, f.size, uint8_t{0});
            std::fill_n(restAfter.begin() + f.offset, f.size, uint8_t{0});
        };
        if (vmg) {
            std::for_each(std::begin(kVmgFields), std::end(kVmgFields), compare);
        } else {
            std::for_each(std::begin(kVtsFields), std::end(kVtsFields), compare);
        }
        if (restBefore != restAfter) {
            changes.push_back("header, other bytes");
        }
    }
    auto compareTable = [&](const NamedTable& t) {
        bool wasThere = false;
        bool isThere = false;
        const std::vector<uint8_t> old = TableBytes(before, t, wasThere);
        const std::vector<uint8_t> now = TableBytes(after, t, isThere);
        if (wasThere && !isThere) {
            changes.push_back(std::string(t.name) + " (removed)");
        } else if (!wasThere && isThere) {
            changes.push_back(std::string(t.name) + " (added)");
        } else if (old != now) {
            changes.push_back(t.name);
        }
    };
    if (vmg) {
        std::for_each(std::begin(kVmgTables), std::end(kVmgTables), compareTable);
    } else {
        std::for_each(std::begin(kVtsTables), std::end(kVtsTables), compareTable);
    }
    return changes;
}

}  // namespace dorvex
