// The VOB pass as data: where it stands between two packs (the cursor) and what it has learnt so
// far (the tables: navpack lists, cell table, VCIDMap, removed sectors). The engine is a pass
// model with behaviour; the in-place journal records and restores the model; the IFO repair
// reads views of the tables.
//
// The cursor is declared once, in kPassCursorFields: each entry binds a field of the model to
// its slot in a PassCursor value, with the value a run starts from. Resetting, capturing,
// restoring and the journal's record coder all walk that list, so a new cursor field is one
// entry (and a member); see docs/architecture.md, "Where a change goes".
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <tuple>
#include <vector>

#include "engine/RelativePointers.h"
#include "ifo/CellRecords.h"
#include "ifo/NavpackMap.h"
#include "ifo/VideoStandard.h"

namespace dorvex {

// Stated capacities: an alert is raised once when one is first reached; the tables then grow.
inline constexpr int32_t kNavpackCapacity = 65536;
inline constexpr int32_t kCellCapacity = 16384;
inline constexpr int32_t kVcidMapCapacity = 16384;
inline constexpr int32_t kVobIdCount = 65536;

// One pair per navpack the pass met, kept or dropped, in stream order: its run-relative input
// sector, the output sector it took (or, dropped, the one the next kept pack takes), and the
// VOB/cell ID it carried in the input.
class NavpackLists {
  public:
    std::vector<int32_t> m_NavOld;
    std::vector<int32_t> m_NavNew;
    std::vector<int32_t> m_NavVcid;
    int32_t m_NavCount = 0;

    void AppendNavpack(int32_t oldSector, int32_t newSector, int32_t vcid);
    // The repair's view, with where both streams end.
    NavpackMap Map(int32_t oldEnd, int32_t newEnd) const {
        return NavpackMap(m_NavOld.data(), m_NavNew.data(), m_NavCount, oldEnd, newEnd);
    }
    COldStreamLayout OldLayout(int32_t totalSectors) const {
        return COldStreamLayout(m_NavOld.data(), m_NavVcid.data(), m_NavCount, totalSectors);
    }

  protected:
    void SizeNavpackLists(size_t entries);
};

// Runs of kept packs with one VCID: entry m_CellCount is the open one, which holds the VCID read
// from the stream; a closed entry holds the new VCID.
class CellTable {
  public:
    std::vector<CellTableEntry> m_Cells;
    int32_t m_CellCount = 0;

    CellTableEntry& OpenCell() { return m_Cells[static_cast<size_t>(m_CellCount)]; }
    const CellTableEntry& OpenCell() const { return m_Cells[static_cast<size_t>(m_CellCount)]; }
    // The open cell becomes a closed one, the next entry the open one.
    void CloseOpenCell();
    std::span<const CellTableEntry> ClosedCells() const {
        return {m_Cells.data(), static_cast<size_t>(m_CellCount)};
    }

  protected:
    void SizeCellTable(size_t entries);
};

// Each distinct kept VCID and the numbers it carries in the cleaned stream, with the counters
// that hand out new numbers.
class VcidMap {
  public:
    VcidMap();

    std::vector<VcidMapEntry> m_VCIDMap;  // m_MapCount entries in use
    int32_t m_MapCount = 0;
    std::vector<uint8_t> m_CellCounters;  // next cell ID per new VOB ID, all 65536 VOB IDs
    uint16_t m_NextVobId = 1;

    bool IsInMap(uint16_t vobId, uint8_t cellId) const;
    // The new VCID of a VCID not yet in the map, packed (PackVcid); new VOB IDs are handed out
    // in turn when remapVobIds is set.
    int32_t AddToMap(uint16_t vobId, uint8_t cellId, bool remapVobIds);
    // 1 when the VCID changes, 0 when it stays or is unknown ("GetMapping failed!" alerted; the
    // outputs are then left as they were).
    int32_t GetMapping(uint16_t vobId, uint8_t cellId, uint16_t& newVobId,
                       uint8_t& newCellId) const;
    std::span<const VcidMapEntry> MapEntries() const {
        return {m_VCIDMap.data(), static_cast<size_t>(m_MapCount)};
    }
    // Every new VOB ID hands out its cell IDs in turn from 1: the counters follow from the map.
    void CountCellsFromMap();
};

// How far the tables reach between two packs. Entries below the counts never change again; the
// open cell and the last removed run still may.
struct TableExtent {
    int32_t navCount = 0;
    int32_t mapCount = 0;
    int32_t cellCount = 0;
    int32_t removedRuns = 0;
    CellTableEntry openCell;
    RemovedRun lastRun;
};

class PassTables : public NavpackLists, public CellTable, public VcidMap {
  public:
    CRemovedSectors m_Removed;  // input sectors the pass dropped

    // Empty tables sized for an ordinary title set, so that the pack loop does not allocate.
    void AllocateRunTables();
    void ReleaseRunTables();
    TableExtent Extent() const;
    // Takes over tables rebuilt elsewhere (an interrupted run's journal), with room to go on.
    void AdoptTables(PassTables&& tables);
};

// Where the pass stands between two packs, as a value.
struct PassCursor {
    int32_t filePart = 1;  // the number before ".VOB" of the file being read
    int32_t fileSectors = 1;
    int32_t readInFile = 0;
    int32_t writtenInFile = 0;
    int32_t readTotal = 0;
    int32_t writtenTotal = 0;
    int32_t prevNavInFile = 0;
    int32_t prevNav = 0;
    int32_t prevNavFwd = -1;
    int32_t fwdAdjusted = 0;
    int32_t packsRemoved = 0;
    int32_t navRemapped = 0;
    int32_t ilvuReset = 0;
    int32_t videoStandard = kStandardUnknown;
    uint16_t vobId = 0;
    uint8_t cellId = 0;
    uint8_t dropping = 0;
    uint8_t haveKeptNav = 0;
    uint16_t nextVobId = 1;

    bool operator==(const PassCursor&) const = default;
};

// The pass between two packs: the cursor and the extent of the tables.
struct PassSnapshot {
    PassCursor cursor;
    TableExtent tables;
};

class PassModel : public PassTables {
  public:
    // Counters and positions; the dialog thread reads the atomic ones during a run.
    int32_t m_FilePart = 1;
    std::atomic<int32_t> m_FileSectors{1};
    std::atomic<int32_t> m_ReadInFile{0};
    int32_t m_WrittenInFile = 0;
    std::atomic<int32_t> m_ReadTotal{0};
    int32_t m_WrittenTotal = 0;
    int32_t m_PrevNavInFile = 0;
    int32_t m_PrevNav = 0;
    int32_t m_PrevNavFwd = -1;
    int32_t m_FwdAdjusted = 0;
    std::atomic<int32_t> m_PacksRemoved{0};
    std::atomic<int32_t> m_NavRemapped{0};
    int32_t m_IlvuReset = 0;
    uint16_t m_VobId = 0;
    uint8_t m_CellId = 0;
    uint8_t m_Dropping = 0;
    uint8_t m_HaveKeptNav = 0;  // a navpack has been kept in this run

    // Every per-run cursor field to the value a run starts from; the cell counters to 1.
    void ResetRunState();
    PassCursor Cursor() const;
    void RestoreCursor(const PassCursor& cursor);
    PassSnapshot Snapshot() const { return {Cursor(), Extent()}; }
    // Takes over an interrupted run's tables and where its pass stood.
    void AdoptPass(PassTables&& tables, const PassSnapshot& at);
};

// --- The cursor's field list ---

// Reads and writes a member of the model, atomic or not.
template <auto Member>
struct ModelField {
    template <class T>
    static T Load(const T& value) {
        return value;
    }
    template <class T>
    static T Load(const std::atomic<T>& value) {
        return value.load(std::memory_order_relaxed);
    }
    static auto Get(const PassModel& model) { return Load(model.*Member); }
    template <class T>
    static void Set(PassModel& model, T value) {
        model.*Member = value;
    }
};

// The video standard a pass has detected is the process's (g_nVideoStandard).
struct VideoStandardField {
    static int32_t Get(const PassModel&) { return g_nVideoStandard; }
    static void Set(PassModel&, int32_t value) { g_nVideoStandard = value; }
};

template <class T>
struct SlotType;
template <class T>
struct SlotType<T PassCursor::*> {
    using type = T;
};

// Whether ResetRunState sets a field: the file being read, its size and the video standard
// belong to the files opened before it and to Open.
enum class OnReset : uint8_t { Start, Keep };

template <auto Slot, class Access>
struct CursorField {
    using Value = typename SlotType<decltype(Slot)>::type;
    const char* name;
    Value start;
    OnReset onReset = OnReset::Start;

    static constexpr auto slot = Slot;
    static Value Get(const PassModel& model) { return static_cast<Value>(Access::Get(model)); }
    static void Set(PassModel& model, Value value) { Access::Set(model, value); }
};

inline const auto kPassCursorFields = std::make_tuple(
    CursorField<&PassCursor::filePart, ModelField<&PassModel::m_FilePart>>{"file-part", 1,
                                                                           OnReset::Keep},
    CursorField<&PassCursor::fileSectors, ModelField<&PassModel::m_FileSectors>>{"file-sectors", 1,
                                                                                 OnReset::Keep},
    CursorField<&PassCursor::readInFile, ModelField<&PassModel::m_ReadInFile>>{"read-in-file", 0},
    CursorField<&PassCursor::writtenInFile, ModelField<&PassModel::m_WrittenInFile>>{
        "written-in-file", 0},
    CursorField<&PassCursor::readTotal, ModelField<&PassModel::m_ReadTotal>>{"read-total", 0},
    CursorField<&PassCursor::writtenTotal, ModelField<&PassModel::m_WrittenTotal>>{"written-total",
                                                                                   0},
    CursorField<&PassCursor::prevNavInFile, ModelField<&PassModel::m_PrevNavInFile>>{
        "prev-nav-in-file", 0},
    CursorField<&PassCursor::prevNav, ModelField<&PassModel::m_PrevNav>>{"prev-nav", 0},
    CursorField<&PassCursor::prevNavFwd, ModelField<&PassModel::m_PrevNavFwd>>{"prev-nav-fwd", -1},
    CursorField<&PassCursor::fwdAdjusted, ModelField<&PassModel::m_FwdAdjusted>>{"fwd-adjusted", 0},
    CursorField<&PassCursor::packsRemoved, ModelField<&PassModel::m_PacksRemoved>>{"packs-removed",
                                                                                   0},
    CursorField<&PassCursor::navRemapped, ModelField<&PassModel::m_NavRemapped>>{"nav-remapped", 0},
    CursorField<&PassCursor::ilvuReset, ModelField<&PassModel::m_IlvuReset>>{"ilvu-reset", 0},
    CursorField<&PassCursor::videoStandard, VideoStandardField>{"video-standard", kStandardUnknown,
                                                                OnReset::Keep},
    CursorField<&PassCursor::vobId, ModelField<&PassModel::m_VobId>>{"vob-id", 0},
    CursorField<&PassCursor::cellId, ModelField<&PassModel::m_CellId>>{"cell-id", 0},
    CursorField<&PassCursor::dropping, ModelField<&PassModel::m_Dropping>>{"dropping", 0},
    CursorField<&PassCursor::haveKeptNav, ModelField<&PassModel::m_HaveKeptNav>>{"have-kept-nav",
                                                                                 0},
    CursorField<&PassCursor::nextVobId, ModelField<&PassModel::m_NextVobId>>{"next-vob-id", 1});

// Calls visit(field) for each entry of the cursor's field list, in order.
template <class Visit>
void ForEachCursorField(Visit&& visit) {
    std::apply([&](const auto&... field) { (visit(field), ...); }, kPassCursorFields);
}

}  // namespace dorvex
