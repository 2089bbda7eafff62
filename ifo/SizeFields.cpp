// Sector bookkeeping of the file set, recomputed from the final table layout and the file sizes
// on disk: the IFO's last sector, the VOB start sectors, the title set's last sector, and in
// VIDEO_TS.IFO the start sector of every title set.
#include <algorithm>
#include <cstring>

#include "ifo/IfoFile.h"
#include "ifo/IfoLayout.h"
#include "support/BigEndian.h"
#include "support/Paths.h"
#include "support/TitleSetFiles.h"

namespace dorvex {

uint32_t CIfoFile::Sectors(const std::string& path) {
    return static_cast<uint32_t>(m_Files.SizeKB(path) / 2);
}

namespace {

// Where each title set starts on the disc and the highest title set that has an IFO. Title sets
// lie one after another: IFO, menu VOB, title VOBs, BUP; the first starts after the video
// manager's own files.
struct TitleSetLayout {
    uint32_t start[kLastTitleSet + 1] = {};
    int32_t highest = 0;
};

}  // namespace

void CIfoFile::UpdateSizeFields(bool trim) {
    if (ImageSize() < ifo::kHeaderSize) {
        return;
    }
    if (m_bVmg) {
        UpdateVideoManagerSizes(trim);
    } else {
        UpdateTitleSetSizes();
    }
}

uint32_t CIfoFile::LastTableSector() {
    static const int32_t kTables[] = {IfoVtsPttSrpt, IfoVtsPgcit,    IfoMenuPgciUt,
                                      IfoVtsTmapt,   IfoMenuCAdt,    IfoMenuVobuAdmap,
                                      IfoVtsCAdt,    IfoVtsVobuAdmap};
    // A table end past the image is damage (PGC pointers of a damaged IFO can lead a step to
    // write into another table): it is taken as the image's end, never grown to.
    const int64_t lastByte = std::max<int64_t>(0, ImageSize() - 1);
    uint32_t last = 0;
    for (int32_t index : kTables) {
        const uint8_t* table = GetTable(index);
        if (table == nullptr) {
            continue;
        }
        const int64_t end = (table - Data()) + static_cast<int64_t>(GetTableEnd(index));
        last = std::max(last, static_cast<uint32_t>(std::min(end, lastByte) / ifo::kSectorSize));
    }
    return last;
}

void CIfoFile::UpdateTitleSetSizes() {
    const uint32_t b = LastTableSector();
    WriteBE32(Data(), ifo::kLastSectorOfIfo, b);
    // The image becomes exactly b + 1 sectors: nothing behind the last table is saved.
    const int64_t bytes = (static_cast<int64_t>(b) + 1) * ifo::kSectorSize;
    if (bytes > static_cast<int64_t>(m_pData.size())) {
        m_pData.resize(static_cast<size_t>(bytes), 0);
        m_nCapacity = static_cast<int32_t>(m_pData.size());
    }
    m_nSizeKB = static_cast<int32_t>(2 * (static_cast<int64_t>(b) + 1));
    const TitleSetFiles files(m_Files, m_szPath);
    const uint32_t menu = Sectors(files.Vob(kMenuVobPart));
    uint32_t title = 0;
    for (const VobPart& part : files.TitleParts()) {
        title += static_cast<uint32_t>(part.sectors);
    }
    uint8_t* header = Data();
    // Without a menu VOB the start sector is 0, as for VMGM_VOBS: players and libdvdread take
    // any other value as the start of a menu that is not there.
    WriteBE32(header, ifo::kMenuVobsSector, menu == 0 ? 0 : b + 1);
    WriteBE32(header, ifo::kTitleVobsOrTtSrpt, b + 1 + menu);
    WriteBE32(header, ifo::kLastSectorOfSet, 2 * (b + 1) + menu + title - 1);
}

void CIfoFile::UpdateVideoManagerSizes(bool trim) {
    uint8_t* header = Data();
    const uint32_t ifoSectors = static_cast<uint32_t>(m_nSizeKB / 2);
    WriteBE32(header, ifo::kLastSectorOfIfo, ifoSectors - 1);
    WriteBE32(header, ifo::kMenuVobsSector, ifoSectors);
    const std::string folder = GetFolder(m_szPath);
    const uint32_t menu = Sectors(TitleSetFiles(m_Files, m_szPath).Vob(kMenuVobPart));
    WriteBE32(header, ifo::kLastSectorOfSet, 2 * ifoSectors + menu - 1);
    if (menu == 0) {
        WriteBE32(header, ifo::kMenuVobsSector, 0);
    }

    // Asked name by name, each of the 99 title sets would list the folder eleven times (every
    // name is looked up in any case); one listing says which are there at all. A listing that
    // fails (a folder that can be searched but not read) leaves every title set to be asked.
    bool present[kLastTitleSet + 1] = {};
    const std::vector<std::string> names = m_Files.ListFiles(folder);
    for (const std::string& name : names) {
        if (const std::optional<DvdNameParts> parts = ParseDvdFileName(name)) {
            present[parts->titleSet] = true;
        }
    }
    TitleSetLayout layout;
    uint32_t previousSize = 2 * ifoSectors + menu;
    for (int32_t i = 1; i <= kLastTitleSet; ++i) {
        layout.start[i] = layout.start[i - 1] + previousSize;
        previousSize = 0;
        if (!names.empty() && !present[i]) {
            continue;
        }
        const TitleSetFiles set = TitleSetFiles::InFolder(m_Files, folder, i);
        const uint32_t setIfo = Sectors(set.Ifo());
        if (setIfo > 0) {
            layout.highest = i;
        }
        const uint32_t setMenu = Sectors(set.Vob(kMenuVobPart));
        // The title VOBs count up to the first missing or empty one.
        uint32_t setTitle = 0;
        int32_t expected = kFirstTitleVobPart;
        for (const VobPart& part : set.TitleParts()) {
            if (part.number != expected++ || part.sectors == 0) {
                break;
            }
            setTitle += static_cast<uint32_t>(part.sectors);
        }
        previousSize = 2 * setIfo + setMenu + setTitle;
    }

    // A video manager of no title set is one libdvdread refuses to open (its TT_SRPT would be
    // empty), and a folder without any title set is most likely a partial copy: the count and
    // the tables stay as they are.
    if (layout.highest == 0) {
        return;
    }
    if (trim) {
        TrimTitleSets(layout.highest);
    } else {
        WriteBE16(Data(), ifo::kVmgTitleSetCount, static_cast<uint32_t>(layout.highest));
    }
    WriteTitleStartSectors(layout.start, layout.highest);
}

void CIfoFile::WriteTitleStartSectors(const uint32_t* start, int32_t highest) {
    uint8_t* titles = GetTable(IfoTtSrpt);
    if (titles == nullptr) {
        return;
    }
    const uint16_t count = ReadBE16(titles, ifo::kTableCount);
    for (int32_t t = 0; t < count; ++t) {
        uint8_t* entry = titles + ifo::kTableEntries + t * ifo::kTtSrptEntrySize;
        if (!Contains(entry, ifo::kTtSrptEntrySize)) {
            break;
        }
        const uint8_t titleSet = entry[ifo::kTtSrptTitleSet];
        if (titleSet <= highest) {
            WriteBE32(entry, ifo::kTtSrptStartSector, start[titleSet]);
        }
    }
}

void CIfoFile::TrimTitleSets(int32_t n) {
    WriteBE16(Data(), ifo::kVmgTitleSetCount, static_cast<uint32_t>(n));

    if (uint8_t* ptl = GetTable(IfoVmgPtlMait)) {
        const int32_t m = ReadBE16(ptl, ifo::kPtlTitleSetCount);
        if (n > m) {
            return;  // the table lists fewer title sets than exist: nothing else is trimmed
        }
        const int32_t countries = ReadBE16(ptl, ifo::kPtlCountryCount);
        const int64_t oldRow = 2 * static_cast<int64_t>(m) + 2;
        const int64_t newRow = 2 * static_cast<int64_t>(n) + 2;
        int64_t end = 7;  // a table of no countries is its 8-byte header alone
        for (int32_t c = 0; c < countries; ++c) {
            uint8_t* country = ptl + ifo::kTableEntries + c * ifo::kPtlCountryEntrySize;
            if (!Contains(country, ifo::kPtlCountryEntrySize)) {
                break;
            }
            uint8_t* block = ptl + ReadBE16(country, ifo::kPtlMaskBlockOffset);
            if (!Contains(block, ifo::kPtlLevels * oldRow)) {
                continue;
            }
            for (int32_t row = 0; row < ifo::kPtlLevels; ++row) {
                memmove(block + row * newRow, block + row * oldRow, static_cast<size_t>(newRow));
            }
            end = (block + ifo::kPtlLevels * newRow) - ptl - 1;
        }
        WriteBE32(ptl, ifo::kTableEnd, static_cast<uint32_t>(end));
        WriteBE16(ptl, ifo::kPtlTitleSetCount, static_cast<uint32_t>(n));
    }

    if (uint8_t* attributes = GetTable(IfoVmgVtsAtrt)) {
        WriteBE16(attributes, ifo::kAtrtTitleSetCount, static_cast<uint32_t>(n));
    }

    if (uint8_t* titles = GetTable(IfoTtSrpt)) {
        const uint16_t count = ReadBE16(titles, ifo::kTableCount);
        int32_t kept = 0;
        for (int32_t t = 0; t < count; ++t) {
            uint8_t* entry = titles + ifo::kTableEntries + t * ifo::kTtSrptEntrySize;
            if (!Contains(entry, ifo::kTtSrptEntrySize)) {
                break;
            }
            if (entry[ifo::kTtSrptTitleSet] <= n) {
                memmove(titles + ifo::kTableEntries + kept * ifo::kTtSrptEntrySize, entry,
                        ifo::kTtSrptEntrySize);
                ++kept;
            }
        }
        WriteBE16(titles, ifo::kTableCount, static_cast<uint32_t>(kept));
        WriteBE32(titles, ifo::kTableEnd, static_cast<uint32_t>(ifo::kTtSrptEntrySize * kept + 7));
    }
}

}  // namespace dorvex
