#include "ifo/IfoFile.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "ifo/IfoLayout.h"
#include "support/BigEndian.h"
#include "support/Paths.h"
#include "support/Sinks.h"
#include "support/TitleSetFiles.h"

namespace dorvex {

namespace {

// Room kept behind the loaded file for table growth before the buffer has to grow.
constexpr int32_t kGrowthRoomKB = 200;

// Header field of each table index; index 1 depends on the kind of file.
int32_t TableField(int32_t index, bool vmg) {
    switch (index) {
        case IfoMenuPgciUt:
            return vmg ? ifo::kPttSrptOrVmgmPgciUt : ifo::kVtsmPgciUtOrVtsAtrt;
        case IfoMenuCAdt:
            return ifo::kMenuCAdt;
        case IfoMenuVobuAdmap:
            return ifo::kMenuVobuAdmap;
        case IfoTtSrpt:
            return ifo::kTitleVobsOrTtSrpt;
        case IfoFirstPlayPgc:
            return ifo::kVmgFirstPlayPgcByte;
        case IfoVtsCAdt:
            return ifo::kVtsCAdt;
        case IfoVtsPgcit:
            return ifo::kPgcitOrPtlMait;
        case IfoVtsVobuAdmap:
            return ifo::kVtsVobuAdmap;
        case IfoVtsTmapt:
            return ifo::kTmaptOrTxtdt;
        case IfoVmgmPgciUt:
            return ifo::kPttSrptOrVmgmPgciUt;
        case IfoVtsPttSrpt:
            return ifo::kPttSrptOrVmgmPgciUt;
        case IfoVmgTxtdtMg:
            return ifo::kTmaptOrTxtdt;
        case IfoVmgPtlMait:
            return ifo::kPgcitOrPtlMait;
        case IfoVmgVtsAtrt:
            return ifo::kVtsmPgciUtOrVtsAtrt;
        default:
            return -1;
    }
}

bool IsAdmap(int32_t index) {
    return index == IfoMenuVobuAdmap || index == IfoVtsVobuAdmap;
}

// The tables a title set's and the video manager's repair may read, measure or resize.
constexpr int32_t kVtsTables[] = {IfoVtsPttSrpt, IfoVtsPgcit,      IfoMenuPgciUt, IfoVtsTmapt,
                                  IfoMenuCAdt,   IfoMenuVobuAdmap, IfoVtsCAdt,    IfoVtsVobuAdmap};
constexpr int32_t kVmgTables[] = {IfoTtSrpt,     IfoMenuPgciUt, IfoVmgPtlMait,
                                  IfoVmgVtsAtrt, IfoMenuCAdt,   IfoMenuVobuAdmap};

// Where a usable table starts and ends, to find tables that share bytes.
struct TableExtent {
    int64_t first;
    int64_t last;
    int32_t field;
};

// The table a header pointer leads to must hold its header and end inside the image; a pointer
// of 0 means there is no such table. Adds the table's extent; the reason when it is unusable.
std::string MeasureTable(const uint8_t* image, int64_t size, int32_t index, bool vmg,
                         std::vector<TableExtent>& extents) {
    const int32_t field = TableField(index, vmg);
    const uint32_t sector = ReadBE32(image, field);
    if (sector == 0) {
        return std::string();
    }
    char reason[160];
    const int64_t offset = static_cast<int64_t>(sector) * ifo::kSectorSize;
    const int64_t headerBytes = IsAdmap(index) ? ifo::kAdmapEntries : ifo::kTableEntries;
    if (offset + headerBytes > size) {
        snprintf(reason, sizeof(reason), "the table pointer at byte %d (sector %u) is past the end",
                 field, sector);
        return reason;
    }
    const uint32_t end = ReadBE32(
        image, static_cast<int32_t>(offset) + (IsAdmap(index) ? ifo::kAdmapEnd : ifo::kTableEnd));
    if (offset + static_cast<int64_t>(end) >= size) {
        snprintf(reason, sizeof(reason),
                 "the table at sector %u (pointer at byte %d) ends past the end of the file",
                 sector, field);
        return reason;
    }
    extents.push_back({offset, offset + static_cast<int64_t>(end), field});
    return std::string();
}

// The repair rewrites and resizes each table on its own: two tables over the same bytes would
// overwrite each other's counts and end addresses, and a resize would cut the image short.
std::string FindOverlap(std::vector<TableExtent>& extents) {
    std::sort(extents.begin(), extents.end(),
              [](const TableExtent& a, const TableExtent& b) { return a.first < b.first; });
    for (size_t i = 1; i < extents.size(); ++i) {
        const TableExtent& before = extents[i - 1];
        const TableExtent& after = extents[i];
        if (after.first <= before.last) {
            char reason[160];
            snprintf(reason, sizeof(reason),
                     "the tables at sectors %u and %u (pointers at bytes %d and %d) overlap",
                     static_cast<uint32_t>(before.first / ifo::kSectorSize),
                     static_cast<uint32_t>(after.first / ifo::kSectorSize), before.field,
                     after.field);
            return reason;
        }
    }
    return std::string();
}

// The video manager's two addresses that lead to no table of the directory: the First-Play
// PGC (a byte address, read up to its cell position offset) and the text data.
std::string CheckVmgAddresses(const uint8_t* image, int64_t size) {
    const uint32_t firstPlay = ReadBE32(image, ifo::kVmgFirstPlayPgcByte);
    if (firstPlay != 0 &&
        static_cast<int64_t>(firstPlay) + ifo::kPgcCellPositionOffset + 2 > size) {
        return "the First-Play PGC address is past the end";
    }
    const uint32_t text = ReadBE32(image, ifo::kTmaptOrTxtdt);
    if (static_cast<int64_t>(text) * ifo::kSectorSize >= size && text != 0) {
        return "the text data pointer is past the end";
    }
    return std::string();
}

}  // namespace

CIfoFile::CIfoFile(const std::string& path, FileSystem& files) : m_Files(files) {
    m_pSectorList.reserve(64000);
    Load(path);
}

CIfoFile::~CIfoFile() = default;

bool CIfoFile::Contains(const uint8_t* p, int64_t length) {
    const uint8_t* begin = m_pData.data();
    if (p == nullptr || begin == nullptr || p < begin || length < 0) {
        return false;
    }
    return (p - begin) + length <= static_cast<int64_t>(ImageSize());
}

void CIfoFile::EnsureImageBuffer(int64_t bytes) {
    if (bytes > static_cast<int64_t>(m_pData.size())) {
        m_pData.resize(static_cast<size_t>(bytes), 0);
        m_nCapacity = static_cast<int32_t>(m_pData.size());
    }
}

int32_t CIfoFile::Load(const std::string& path) {
    m_bLoaded = false;
    m_LoadError.clear();
    std::vector<uint8_t> bytes;
    if (!m_Files.ReadWhole(path, bytes, m_LoadError)) {
        m_bVmg = IsVideoManagerName(path);
        m_szPath = path;
        m_pData.clear();
        m_nSizeKB = m_Files.SizeKB(path);
        m_nCapacity = (m_nSizeKB + kGrowthRoomKB) * 1024;
        return -1;
    }
    return LoadImage(path, bytes);
}

int32_t CIfoFile::LoadImage(const std::string& path, const std::vector<uint8_t>& bytes) {
    m_bLoaded = false;
    m_LoadError.clear();
    m_bVmg = IsVideoManagerName(path);
    m_pData.clear();
    m_pData.shrink_to_fit();
    m_szPath = path;
    m_nSizeKB = static_cast<int32_t>(bytes.size() / 1024);
    m_nCapacity = (m_nSizeKB + kGrowthRoomKB) * 1024;
    if (m_nSizeKB > 0) {
        m_pData.assign(static_cast<size_t>(m_nCapacity), 0);
    }
    const size_t imageBytes = static_cast<size_t>(m_nSizeKB) * 1024;
    if (bytes.size() < imageBytes) {
        return Refuse("it could not be read whole");
    }
    std::copy_n(bytes.begin(), imageBytes, m_pData.begin());
    m_nSectorCount = 0;
    m_nTitleSet = std::max(0, TitleSetOf(path));
    std::string problem = ValidateHeader();
    if (!problem.empty()) {
        return Refuse(problem);
    }
    m_bLoaded = true;
    return 0;
}

int32_t CIfoFile::Refuse(const std::string& reason) {
    m_LoadError = reason;
    Logf("IFO file %s is damaged: %s", m_szPath.c_str(), reason.c_str());
    return -1;
}

// Every table the repair reads, measures or resizes must start and end inside the image, so
// that a damaged or truncated file is refused instead of being read or written out of bounds.
std::string CIfoFile::ValidateHeader() {
    const int64_t size = ImageSize();
    if (size < ifo::kHeaderSize) {
        return "it is shorter than its 2048-byte header";
    }
    std::vector<TableExtent> extents;
    using Tables = std::span<const int32_t>;
    for (int32_t index : m_bVmg ? Tables(kVmgTables) : Tables(kVtsTables)) {
        std::string problem = MeasureTable(m_pData.data(), size, index, m_bVmg, extents);
        if (!problem.empty()) {
            return problem;
        }
    }
    std::string problem = FindOverlap(extents);
    if (problem.empty() && m_bVmg) {
        problem = CheckVmgAddresses(m_pData.data(), size);
    }
    return problem;
}

uint8_t* CIfoFile::TableAt(int64_t offset, int64_t minLength) {
    if (offset < 0 || offset + minLength > static_cast<int64_t>(ImageSize())) {
        return nullptr;
    }
    return m_pData.data() + offset;
}

uint8_t* CIfoFile::GetTable(int32_t index) {
    if (index == IfoHeader) {
        return ImageSize() > 0 ? m_pData.data() : nullptr;
    }
    if (index < 0 || index >= IfoTableCount || ImageSize() < ifo::kHeaderSize) {
        return nullptr;
    }
    const uint32_t value = ReadBE32(m_pData.data(), TableField(index, m_bVmg));
    if (value == 0) {
        return nullptr;
    }
    if (index == IfoFirstPlayPgc) {
        return TableAt(value, 1);
    }
    return TableAt(static_cast<int64_t>(value) * ifo::kSectorSize, IsAdmap(index) ? 4 : 8);
}

uint32_t CIfoFile::GetTableEnd(int32_t index) {
    uint8_t* table = GetTable(index);
    if (table == nullptr || !Contains(table, 8)) {
        return 0;
    }
    return ReadBE32(table, IsAdmap(index) ? ifo::kAdmapEnd : ifo::kTableEnd);
}

uint32_t CIfoFile::GetTableEndOffset(int32_t index) {
    uint8_t* table = GetTable(index);
    if (table == nullptr) {
        return 0;
    }
    return static_cast<uint32_t>(table - m_pData.data()) + GetTableEnd(index);
}

bool CIfoFile::TableFits(int32_t index, int32_t delta) {
    switch (index) {
        case IfoMenuPgciUt:
        case IfoMenuCAdt:
        case IfoMenuVobuAdmap:
        case IfoVtsCAdt:
        case IfoVtsPgcit:
        case IfoVtsVobuAdmap:
        case IfoVtsTmapt:
            break;
        default:
            return false;
    }
    const uint32_t end = GetTableEnd(index);
    if (GetTable(index) == nullptr || end == 0) {
        return false;
    }
    const uint32_t grown = end + static_cast<uint32_t>(delta);
    return (grown & ~uint32_t{0x7FF}) == (end & ~uint32_t{0x7FF});
}

void CIfoFile::ResizeTable(int32_t index, int32_t delta) {
    if (TableFits(index, delta)) {
        return;
    }
    uint8_t* table = GetTable(index);
    if (table == nullptr) {
        return;
    }
    const int64_t p = table - m_pData.data();
    const uint32_t end = GetTableEnd(index);
    if (static_cast<int64_t>(end) + delta < 0) {
        return;  // a table cannot end before it starts
    }
    // Loading refuses an end past the image, but a damaged table can write over its own end
    // address (a time map pointing at its table's header). Moving the rest of the image from
    // beyond its end would grow the buffer by gigabytes or cut the image below the table.
    if (p + static_cast<int64_t>(end) >= ImageSize()) {
        return;
    }
    const int64_t source =
        p + (static_cast<int64_t>(end / ifo::kSectorSize) + 1) * ifo::kSectorSize;
    const uint32_t newEnd = end + static_cast<uint32_t>(delta);
    const int64_t destination =
        p + (static_cast<int64_t>(newEnd / ifo::kSectorSize) + 1) * ifo::kSectorSize;
    const int64_t imageEnd = ImageSize();
    const int64_t moved = imageEnd > source ? imageEnd - source : 0;

    // The buffer grows when the image needs more room than it has; nothing is written past it.
    EnsureImageBuffer(destination + moved);
    EnsureImageBuffer(imageEnd + (destination - source));
    if (moved > 0) {
        memmove(m_pData.data() + destination, m_pData.data() + source, static_cast<size_t>(moved));
    }

    const int32_t sectors = static_cast<int32_t>((destination - source) / ifo::kSectorSize);
    const uint32_t ownSector = static_cast<uint32_t>(p / ifo::kSectorSize);
    for (int32_t field = ifo::kFirstMovableField; field <= ifo::kLastMovableField; field += 4) {
        if (field == ifo::kTitleVobsOrTtSrpt && !m_bVmg) {
            continue;  // in a title-set IFO this is a VOB start sector, not a table
        }
        if (ReadBE32(m_pData.data(), field) > ownSector) {
            AddBE32(m_pData.data(), field, sectors);
        }
    }
    m_nSizeKB += 2 * sectors;
}

int32_t CIfoFile::Save(const std::string& path, Durability durability) {
    const size_t bytes = static_cast<size_t>(ImageSize());
    for (const std::string& target : {path, BupOfIfo(m_Files, path)}) {
        if (!m_Files.WriteWhole(target, m_pData.data(), bytes, m_SaveError, durability)) {
            m_SaveFailedPath = target;
            return -1;
        }
    }
    return 0;
}

}  // namespace dorvex
