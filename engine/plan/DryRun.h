// A dry run of the cleaner: the engine's own pass and repair, run on a file system that holds
// every change in memory (OverlayFileSystem), so that nothing on disk changes and what is
// reported is what the same run would do. A real run is the same code on the disk and without
// these records; the engine's hooks (OnNewVcid, OnBlankPack, OnVobPassDone) do nothing there.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "engine/Navpack.h"
#include "engine/VtsCleaner.h"
#include "engine/map/RunMapRecorder.h"
#include "engine/plan/OverlayFileSystem.h"

namespace dorvex {

struct PlannedPack {
    std::string file;  // the file of the input it lies in
    int64_t fileSector = 0;
    int64_t sector = 0;  // in the domain's stream
};

struct PlannedCell {
    uint16_t vobId = 0;
    uint8_t cellId = 0;
    bool dropped = false;
    uint16_t newVobId = 0;  // of a kept cell
    uint8_t newCellId = 0;
    int64_t sector = 0;  // where the cell first starts in the input stream
};

struct PlannedNavpack {
    PlannedPack at;  // where it lies in the input
    int64_t newSector = 0;
    uint32_t fields = 0;  // navpack::FieldBit of each field that changes
};

// One step of the run: the VOB pass over a domain and the repair of its IFO (or, in a full-DVD
// run, the repair alone of an IFO whose VOB is missing).
struct PlannedStep {
    std::string vob;  // the VOB the step opened
    bool menu = false;
    bool vobPass = false;
    int64_t packsRead = 0;
    int64_t packsWritten = 0;
    int64_t packsRemoved = 0;
    int64_t blankRemoved = 0;
    int64_t blankStuffed = 0;
    std::vector<PlannedPack> firstBlanks;
    std::vector<PlannedCell> cells;
    int64_t navpacksChanged = 0;
    int64_t navpacksDropped = 0;
    int64_t fieldCounts[navpack::kFieldCount] = {};
    std::vector<PlannedNavpack> firstNavpacks;
    // The stream before and after the step (a VOB pass): its cells, blank packs, what goes.
    map::DomainMap map;
};

// A full-DVD step whose VOB is missing while its IFO is there.
struct PlannedMissingVob {
    std::string vob;
    std::string ifo;
    bool menu = false;
    bool updated = false;  // the IFO is updated with empty tables; else the domain is left as it is
    int64_t describedSectors = 0;  // what the domain's tables described
};

struct PlannedFileChange {
    std::string action;  // "backup", "rename", "remove", "write", "make-folder"
    std::string path;
    std::string to;  // backup and rename
};

struct PlannedIfo {
    std::string path;
    std::vector<std::string> changes;  // see IfoChanges
};

struct PlanResult {
    std::vector<PlannedStep> steps;
    std::vector<PlannedMissingVob> missingVobs;
    std::vector<PlannedFileChange> files;
    std::vector<PlannedIfo> ifos;
    std::vector<std::string> alerts;
    bool failed = false;
};

// Holds the overlay, so that it exists before the engine that works on it.
struct PlanOverlay {
    explicit PlanOverlay(FileSystem& disk) : m_Overlay(disk) {}
    OverlayFileSystem m_Overlay;
};

class CPlanningCleaner : private PlanOverlay, public CVtsCleaner {
  public:
    // Reads the disc from `disk`, changes nothing there.
    explicit CPlanningCleaner(FileSystem& disk = TheRealFileSystem())
        : PlanOverlay(disk), CVtsCleaner(m_Overlay), m_Disk(disk) {}

    // Packs listed in full per step (blank packs, navpacks); the rest are counted.
    static constexpr size_t kListed = 10;

    // Runs the engine (already opened on a VOB, options set) on the overlay: one title set, or
    // the whole folder. Alerts the engine raises meanwhile end up in the result.
    PlanResult Plan(bool fullDvd);

    void ProcessVts() override;
    void OnNewVcid(CIfoFile& ifo) override;
    void OnBlankPack(bool removed) override;
    void OnVobPassDone() override;
    void OnMissingVob(bool updated, uint32_t describedSectors) override;

  private:
    PlannedPack Locate(int64_t sector) const;
    void RecordNavpacks(PlannedStep& step);
    void CollectFiles(PlanResult& result);

    FileSystem& m_Disk;
    PlanResult m_Result;
    std::vector<VobPart> m_Input;  // of the current step, as it was before the step
    std::map<int32_t, size_t> m_CellIndex;
    map::CRunMapRecorder m_Map;
};

}  // namespace dorvex
