// What an IFO says about the size of the VOB stream it describes, for comparing a stream with
// its IFO before a run changes either: the cell address table and the VOBU address map give the
// sectors the stream must have at least, the title set's header the size of its title VOBs.
#include <algorithm>

#include "ifo/IfoFile.h"
#include "ifo/IfoLayout.h"
#include "support/BigEndian.h"

namespace dorvex {

std::vector<uint32_t> CIfoFile::VobuStarts(bool menu) {
    std::vector<uint32_t> starts;
    const int32_t index = menu ? IfoMenuVobuAdmap : IfoVtsVobuAdmap;
    const uint8_t* table = GetTable(index);
    const uint32_t end = GetTableEnd(index);
    if (table == nullptr || end < 3) {
        return starts;
    }
    const int64_t count = (static_cast<int64_t>(end) + 1) / ifo::kAdmapEntrySize - 1;
    for (int64_t i = 0; i < count; ++i) {
        const uint8_t* entry = table + ifo::kAdmapEntries + i * ifo::kAdmapEntrySize;
        if (!Contains(entry, ifo::kAdmapEntrySize)) {
            break;
        }
        starts.push_back(ReadBE32(entry, 0));
    }
    return starts;
}

std::vector<const uint8_t*> CIfoFile::CellAddressEntries(bool menu) {
    std::vector<const uint8_t*> entries;
    const int32_t index = menu ? IfoMenuCAdt : IfoVtsCAdt;
    const uint8_t* table = GetTable(index);
    const uint32_t end = GetTableEnd(index);
    if (table == nullptr || end < ifo::kTableEntries - 1) {
        return entries;
    }
    const int64_t count = (int64_t{end} + 1 - ifo::kTableEntries) / ifo::kCAdtEntrySize;
    for (int64_t i = 0; i < count; ++i) {
        const uint8_t* entry = table + ifo::kTableEntries + i * ifo::kCAdtEntrySize;
        if (!Contains(entry, ifo::kCAdtEntrySize)) {
            break;
        }
        entries.push_back(entry);
    }
    return entries;
}

int64_t CIfoFile::DescribedSectors(bool menu) {
    int64_t sectors = 0;
    for (const uint32_t start : VobuStarts(menu)) {
        sectors = std::max<int64_t>(sectors, int64_t{start} + 1);
    }
    for (const uint8_t* entry : CellAddressEntries(menu)) {
        sectors = std::max<int64_t>(sectors, int64_t{ReadBE32(entry, ifo::kCAdtLastSector)} + 1);
    }
    return sectors;
}

int64_t CIfoFile::HeaderTitleVobSectors() {
    if (m_bVmg || ImageSize() < ifo::kHeaderSize) {
        return 0;
    }
    // IFO, menu VOB, title VOBs, BUP: the title VOBs end where the BUP, as long as the IFO,
    // begins.
    const int64_t lastOfSet = ReadBE32(Data(), ifo::kLastSectorOfSet);
    const int64_t ifoSectors = int64_t{ReadBE32(Data(), ifo::kLastSectorOfIfo)} + 1;
    const int64_t titleStart = ReadBE32(Data(), ifo::kTitleVobsOrTtSrpt);
    return std::max<int64_t>(0, lastOfSet + 1 - ifoSectors - titleStart);
}

}  // namespace dorvex
