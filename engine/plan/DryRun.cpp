#include "engine/plan/DryRun.h"

#include <algorithm>
#include <cstring>

#include "engine/PackLayout.h"
#include "engine/plan/IfoChanges.h"
#include "support/Paths.h"
#include "support/Sinks.h"
#include "support/TitleSetFiles.h"

namespace dorvex {

namespace {

bool IsIfoOrBup(const std::string& path) {
    const std::string ext = GetFileExt(path);
    return EqualsIgnoreCase(ext, ".IFO") || EqualsIgnoreCase(ext, ".BUP");
}

}  // namespace

PlanResult CPlanningCleaner::Plan(bool fullDvd) {
    m_Result = PlanResult{};
    m_Map.Clear();
    // A plan answers for a run from backup with the settings given; it has no log file and no
    // reason to pause for a display.
    m_InPlace = 0;
    m_WaitForFile = 0;
    m_LogPath.clear();
    m_IfoPauseMs = 0;
    CapturedLines alerts(CapturedLines::Alerts);
    m_Abort = 0;
    m_Failed = 0;
    if (fullDvd) {
        ProcessFullDvd();
    } else {
        ProcessVts();
    }
    m_Result.failed = RunInterrupted();
    CollectFiles(m_Result);
    m_Result.alerts = alerts.Lines();
    return m_Result;
}

void CPlanningCleaner::ProcessVts() {
    PlannedStep step;
    std::string vob = VobPathSnapshot();
    if (!m_Menu) {
        SetVobDigit(vob, '1');
    }
    step.vob = vob;
    step.menu = m_Menu != 0;
    step.vobPass = true;
    // The input as the pass will walk it, before the step changes anything.
    m_Input = SetFiles().Parts(m_Menu != 0);
    m_CellIndex.clear();
    m_Result.steps.push_back(std::move(step));
    m_Map.BeginPass(*this);
    CVtsCleaner::ProcessVts();
}

void CPlanningCleaner::OnNewVcid(CIfoFile& ifo) {
    CVtsCleaner::OnNewVcid(ifo);
    PlannedStep& step = m_Result.steps.back();
    m_Map.OnNewVcid(*this, ifo);
    const int32_t key = PackVcid(m_VobId, m_CellId);
    if (m_CellIndex.count(key) != 0) {
        return;
    }
    m_CellIndex[key] = step.cells.size();
    PlannedCell cell;
    cell.vobId = m_VobId;
    cell.cellId = m_CellId;
    cell.dropped = m_Dropping != 0;
    cell.sector = m_ReadTotal.load();
    step.cells.push_back(cell);
}

void CPlanningCleaner::OnMissingVob(bool updated, uint32_t describedSectors) {
    PlannedMissingVob missing;
    missing.vob = VobPathSnapshot();
    missing.ifo = SetFiles().Ifo();
    missing.menu = m_Menu != 0;
    missing.updated = updated;
    missing.describedSectors = describedSectors;
    m_Result.missingVobs.push_back(std::move(missing));
}

void CPlanningCleaner::OnBlankPack(bool removed) {
    PlannedStep& step = m_Result.steps.back();
    ++(removed ? step.blankRemoved : step.blankStuffed);
    m_Map.OnBlankPack(*this);
    if (step.firstBlanks.size() < kListed) {
        step.firstBlanks.push_back(Locate(m_ReadTotal.load()));
    }
}

PlannedPack CPlanningCleaner::Locate(int64_t sector) const {
    PlannedPack at;
    at.sector = sector;
    if (const VobPart* part = PartAt(m_Input, sector)) {
        at.file = GetFileName(part->path);
        at.fileSector = sector - part->firstSector;
    }
    return at;
}

void CPlanningCleaner::OnVobPassDone() {
    PlannedStep& step = m_Result.steps.back();
    step.packsRead = m_ReadTotal.load();
    step.packsWritten = m_WrittenTotal;
    step.packsRemoved = m_PacksRemoved.load();
    for (PlannedCell& cell : step.cells) {
        for (int32_t i = 0; i < m_MapCount && !cell.dropped; ++i) {
            const VcidMapEntry& entry = m_VCIDMap[static_cast<size_t>(i)];
            if (entry.oldVobId == cell.vobId && entry.oldCellId == cell.cellId) {
                cell.newVobId = entry.newVobId;
                cell.newCellId = entry.newCellId;
                break;
            }
        }
    }
    RecordNavpacks(step);
    m_Map.EndPass(*this);
    step.map = m_Map.Domains().back();
}

// Each kept navpack as the run leaves it (in the overlay) against its bytes in the input.
void CPlanningCleaner::RecordNavpacks(PlannedStep& step) {
    const std::vector<VobPart> outputs = SetFiles().Parts(m_Menu != 0);
    std::unique_ptr<FileHandle> input;
    std::string inputPath;
    uint8_t before[pack::kPackSize];
    static const uint8_t kMissing[pack::kPackSize] = {};
    for (int32_t i = 0; i < m_NavCount; ++i) {
        const int32_t oldSector = m_NavOld[static_cast<size_t>(i)];
        if (m_Removed.IsRemoved(oldSector)) {
            ++step.navpacksDropped;
            continue;
        }
        const int32_t newSector = m_NavNew[static_cast<size_t>(i)];
        const uint8_t* after = kMissing;
        if (const VobPart* out = PartAt(outputs, newSector)) {
            if (const OverlayFile* file = m_Overlay.Find(out->path)) {
                auto kept = file->packs.find(newSector - out->firstSector);
                if (kept != file->packs.end()) {
                    after = kept->second.data();
                }
            }
        }
        const PlannedPack at = Locate(oldSector);
        const VobPart* source = PartAt(m_Input, oldSector);
        const std::string sourcePath = source == nullptr ? std::string() : source->path;
        if (sourcePath != inputPath) {
            std::string error;
            input = sourcePath.empty() ? nullptr : m_Disk.Open(sourcePath, OpenMode::Read, error);
            inputPath = sourcePath;
        }
        if (input == nullptr || input->Read(before, pack::kPackSize,
                                            at.fileSector * pack::kPackSize) != pack::kPackSize) {
            std::memset(before, 0, sizeof(before));
        }
        const uint32_t fields = navpack::ChangedFields(before, after);
        if (fields == 0) {
            continue;
        }
        ++step.navpacksChanged;
        for (int32_t f = 0; f < navpack::kFieldCount; ++f) {
            step.fieldCounts[f] += (fields >> f) & 1u;
        }
        if (step.firstNavpacks.size() < kListed) {
            step.firstNavpacks.push_back({at, newSector, fields});
        }
    }
}

void CPlanningCleaner::CollectFiles(PlanResult& result) {
    // The backup folder of this set, named the way the run names it (the overlay already holds
    // it: every run from backup makes it first).
    std::string backupFolder = GetFolder(GetBackupPath(VobPathSnapshot()));
    while (!backupFolder.empty() && IsPathSeparator(backupFolder.back())) {
        backupFolder.pop_back();
    }
    auto inBackup = [&](const std::string& path) {
        std::string folder = GetFolder(path);
        while (!folder.empty() && IsPathSeparator(folder.back())) {
            folder.pop_back();
        }
        return folder == backupFolder;
    };
    std::vector<std::string> written;
    for (const OverlayRecord& record : m_Overlay.Records()) {
        switch (record.event) {
            case OverlayEvent::Rename:
                result.files.push_back(
                    {inBackup(record.to) ? "backup" : "rename", record.path, record.to});
                break;
            case OverlayEvent::Remove:
                result.files.push_back({"remove", record.path, {}});
                break;
            case OverlayEvent::MakeFolder:
                result.files.push_back({"make-folder", record.path, {}});
                break;
            case OverlayEvent::WriteWhole:
                if (std::find(written.begin(), written.end(), record.path) != written.end()) {
                    break;
                }
                written.push_back(record.path);
                // The backup's record of its copies is written there, not copied from the disc.
                if (inBackup(record.path) && IsDvdFileName(GetFileName(record.path))) {
                    result.files.push_back(
                        {"backup", Concat(GetFolder(VobPathSnapshot()), GetFileName(record.path)),
                         record.path});
                } else {
                    result.files.push_back({"write", record.path, {}});
                }
                break;
        }
    }
    for (const std::string& path : written) {
        const OverlayFile* file = m_Overlay.Find(path);
        if (inBackup(path) || !IsIfoOrBup(path) || file == nullptr) {
            continue;
        }
        std::vector<uint8_t> before;
        std::string error;
        m_Disk.ReadWhole(path, before, error);
        result.ifos.push_back({path, IfoChanges(before, file->whole, IsVideoManagerName(path))});
    }
}

}  // namespace dorvex
