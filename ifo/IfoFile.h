// One DVD-Video information file (VTS_nn_0.IFO or VIDEO_TS.IFO) held as a single in-memory image
// with a table directory. The repair steps read and rewrite big-endian fields in place.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <unordered_set>
#include <vector>

#include "ifo/CellRecords.h"
#include "ifo/NavpackMap.h"
#include "support/DiskFlush.h"
#include "support/FileSystem.h"

namespace dorvex {

enum IfoTable : int32_t {
    IfoHeader = 0,
    IfoMenuPgciUt = 1,
    IfoMenuCAdt = 2,
    IfoMenuVobuAdmap = 3,
    IfoTtSrpt = 4,
    IfoFirstPlayPgc = 5,
    IfoVtsCAdt = 6,
    IfoVtsPgcit = 7,
    IfoVtsVobuAdmap = 8,
    IfoVtsTmapt = 9,
    IfoVmgmPgciUt = 10,
    IfoVtsPttSrpt = 11,
    IfoVmgTxtdtMg = 12,
    IfoVmgPtlMait = 13,
    IfoVmgVtsAtrt = 14,
    IfoTableCount = 15,
};

class CIfoFile {
  public:
    // Loads path through `files` (the disk unless a run says otherwise).
    explicit CIfoFile(const std::string& path, FileSystem& files = TheRealFileSystem());
    ~CIfoFile();
    CIfoFile(const CIfoFile&) = delete;
    CIfoFile& operator=(const CIfoFile&) = delete;

    bool m_bLoaded = false;
    std::string m_szPath;
    int32_t m_nTitleSet = 0;
    int32_t m_nSizeKB = 0;
    int32_t m_nCapacity = 0;
    bool m_bVmg = false;
    std::vector<uint8_t> m_pData;        // the image; size() is the buffer capacity
    std::vector<int32_t> m_pSectorList;  // new VOBU start sectors (grows past 64,000)
    int32_t m_nSectorCount = 0;

    // --- Image and table directory ---
    // 0 when read whole and valid; -1 when it could not be read or failed validation (logged),
    // and then LoadError says why.
    int32_t Load(const std::string& path);
    // The same from bytes read earlier (an interrupted run's copy of the IFO it started from);
    // path is where the image is saved.
    int32_t LoadImage(const std::string& path, const std::vector<uint8_t>& bytes);
    const std::string& LoadError() const { return m_LoadError; }
    // Also writes the .BUP twin, each file whole (see WriteWholeFile); 0 or -1, and then
    // SaveFailedPath / SaveError say which file failed and why.
    int32_t Save(const std::string& path, Durability durability = Durability::Flushed);
    const std::string& SaveFailedPath() const { return m_SaveFailedPath; }
    const std::string& SaveError() const { return m_SaveError; }

    uint8_t* Data() { return m_pData.data(); }
    int32_t ImageSize() const { return m_nSizeKB * 1024; }

    uint8_t* GetTable(int32_t index);
    uint32_t GetTableEnd(int32_t index);
    uint32_t GetTableEndOffset(int32_t index);
    bool TableFits(int32_t index, int32_t delta);
    void ResizeTable(int32_t index, int32_t delta);

    // --- PGC and cell access (numbers from 1; language unit 0 is the title domain) ---
    uint16_t GetLanguageUnitCount();
    uint8_t* GetLanguageUnit(uint16_t lu);
    uint16_t GetPgcCount(uint16_t lu);
    uint8_t* GetPgc(uint16_t lu, uint16_t pgcn);
    uint8_t GetCellCount(uint16_t lu, uint16_t pgcn);
    uint8_t* GetCellPlayback(uint16_t lu, uint16_t pgcn, uint16_t cell);
    uint8_t* GetCellPosition(uint16_t lu, uint16_t pgcn, uint16_t cell);
    bool IsVcidReferenced(uint16_t vobId, uint8_t cellId, bool menu);

    // --- The stream the IFO describes ---
    // The VOBU start sectors of a domain's address map.
    std::vector<uint32_t> VobuStarts(bool menu);
    // The entries of a domain's cell address table that lie inside the image.
    std::vector<const uint8_t*> CellAddressEntries(bool menu);
    // How far into the domain's VOB stream its cell address table and VOBU address map reach
    // (the end of the farthest cell or VOBU start, in sectors); 0 when both are empty or absent.
    int64_t DescribedSectors(bool menu);
    // A title set's title VOBs in sectors, by its header's sector fields (0 for VIDEO_TS.IFO).
    int64_t HeaderTitleVobSectors();

    // --- Repair steps ---
    void RemapCellPositions(std::span<const VcidMapEntry> map, bool menu);
    void RebuildCellAddressTable(std::span<const CellTableEntry> cells, bool menu);
    void UpdateCellSectors(const NavpackMap& navpacks, bool menu);
    void RebuildVobuAdmap(bool menu);
    void RebuildTimeMaps(const NavpackMap& navpacks);
    void CheckPgcSectors(std::span<const CellTableEntry> cells, bool menu);
    void UpdatePgcPlaybackTime(uint16_t lu, uint16_t pgcn, bool fillZeroCells,
                               bool useGlobalStandard);
    // UpdatePgcPlaybackTime(fill zero cells, per-cell standard) for every PGC of a domain.
    void UpdatePlaybackTimes(bool menu);
    void UpdateSizeFields(bool trim);
    void TrimTitleSets(int32_t n);

    // True when the `length` bytes at image pointer p lie inside the image.
    bool Contains(const uint8_t* p, int64_t length);

    // Visits every cell of a domain in walk order (language units, PGCs, cells ascending):
    // f(lu, pgcn, cell, playbackEntry, positionEntry). Cells whose entries lie outside the image
    // are passed over. A PGC or language unit that several search pointers lead to is visited
    // once, at its first number: discs point several menu languages at one unit, and a step must
    // not rewrite the same cells twice (nor a damaged IFO whose pointers all lead to one place
    // multiply the walk).
    template <typename F>
    void ForEachCell(bool menu, F&& f);
    // Every distinct PGC of a domain once (units and PGCs shared by several language units
    // are walked once), as f(lu, pgcn).
    template <typename F>
    void ForEachPgc(bool menu, F&& f);

    // Language units of a domain: 1..count for the menus, the single unit 0 for the titles.
    uint16_t FirstLanguageUnit(bool menu) const { return menu ? 1 : 0; }
    uint16_t LastLanguageUnit(bool menu) { return menu ? GetLanguageUnitCount() : 0; }

  private:
    // Size of a file of the set in sectors, 0 when it is missing.
    uint32_t Sectors(const std::string& path);
    // The steps of UpdateSizeFields.
    uint32_t LastTableSector();
    void UpdateTitleSetSizes();
    void UpdateVideoManagerSizes(bool trim);
    // Each title's start sector in TT_SRPT, for the title sets up to highest.
    void WriteTitleStartSectors(const uint32_t* start, int32_t highest);
    // Logs why a loaded image cannot be used and keeps the reason; -1.
    int32_t Refuse(const std::string& reason);
    // Checks the header's table pointers and end addresses; the reason when one is unusable.
    std::string ValidateHeader();
    uint8_t* TableAt(int64_t offset, int64_t minLength);
    // Entry `cell` (from 1) of the PGC's cell table whose u16 offset lies at tableField.
    uint8_t* GetCellEntry(uint16_t lu, uint16_t pgcn, uint16_t cell, int32_t tableField,
                          int32_t entrySize);
    void EnsureImageBuffer(int64_t bytes);

    FileSystem& m_Files;
    std::string m_LoadError;
    std::string m_SaveFailedPath;
    std::string m_SaveError;
};

template <typename F>
void CIfoFile::ForEachPgc(bool menu, F&& f) {
    std::unordered_set<const uint8_t*> visited;
    std::unordered_set<const uint8_t*> units;
    const uint16_t lastLu = LastLanguageUnit(menu);
    for (uint32_t lu = FirstLanguageUnit(menu); lu <= lastLu; ++lu) {
        // A unit already walked leads only to PGCs already visited.
        if (lu != 0 && !units.insert(GetLanguageUnit(static_cast<uint16_t>(lu))).second) {
            continue;
        }
        const uint16_t pgcs = GetPgcCount(static_cast<uint16_t>(lu));
        for (uint32_t pgcn = 1; pgcn <= pgcs; ++pgcn) {
            const uint8_t* pgc = GetPgc(static_cast<uint16_t>(lu), static_cast<uint16_t>(pgcn));
            if (pgc != nullptr && visited.insert(pgc).second) {
                f(static_cast<uint16_t>(lu), static_cast<uint16_t>(pgcn));
            }
        }
    }
}

template <typename F>
void CIfoFile::ForEachCell(bool menu, F&& f) {
    ForEachPgc(menu, [&](uint16_t lu, uint16_t pgcn) {
        const uint8_t cells = GetCellCount(lu, pgcn);
        for (uint32_t cell = 1; cell <= cells; ++cell) {
            uint8_t* playback = GetCellPlayback(lu, pgcn, static_cast<uint16_t>(cell));
            uint8_t* position = GetCellPosition(lu, pgcn, static_cast<uint16_t>(cell));
            if (playback != nullptr && position != nullptr) {
                f(lu, pgcn, static_cast<uint16_t>(cell), playback, position);
            }
        }
    });
}

}  // namespace dorvex
