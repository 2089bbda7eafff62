#include "engine/plan/DryRun.h"

#include <algorithm>
#include <cstring>
#include <fstream>

#include "engine/plan/IfoChanges.h"
#include "engine/PackLayout.h"
#include "support/Paths.h"
#include "support/Sinks.h"

namespace dorvex {

namespace {

constexpr int32_t kLastVobDigit = 9;

struct Region {
    int32_t field;  // index into kNavFieldNames
    int32_t offset;
    int32_t size;
};

constexpr Region kNavRegions[] = {
    {0, pack::kPciNavLba, pack::kNavLbaSize},
    {0, pack::kDsiNavLba, pack::kNavLbaSize},
    {1, pack::kDsiVobuEnd, pack::kDsiVobuEndSize},
    {2, pack::kDsiVobId, pack::kDsiVobIdSize},
    {3, pack::kDsiCellId, 1},
    {4, pack::kDsiIlvuCategory, pack::kDsiIlvuSize},
    {4, pack::kPciNsmlAngle, pack::kPciNsmlAngleSize},
    {4, pack::kDsiSmlAngle, pack::kDsiSmlAngleSize},
    {5, pack::kDsiRefEnd, pack::kDsiRefEndSize},
    {6, pack::kDsiSearch, pack::kDsiSearchSize},
    {7, pack::kDsiAudioSync, pack::kDsiAudioSyncSize},
    {8, pack::kDsiSubpictureSync, pack::kDsiSubpictureSyncSize},
};
constexpr int32_t kOtherField = 9;

// Alerts of the engine during a dry run, for its report.
std::vector<std::string>* g_pAlerts = nullptr;

void CaptureAlert(char* text, int32_t) {
    if (g_pAlerts != nullptr) {
        g_pAlerts->push_back(text);
    }
}

std::vector<uint8_t> ReadRealFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

bool IsIfoOrBup(const std::string& path) {
    const std::string ext = GetFileExt(path);
    return EqualsIgnoreCase(ext, ".IFO") || EqualsIgnoreCase(ext, ".BUP");
}

}  // namespace

uint32_t ChangedNavFields(const uint8_t* before, const uint8_t* after) {
    uint32_t fields = 0;
    uint8_t restBefore[pack::kPackSize];
    uint8_t restAfter[pack::kPackSize];
    std::memcpy(restBefore, before, sizeof(restBefore));
    std::memcpy(restAfter, after, sizeof(restAfter));
    for (const Region& r : kNavRegions) {
        if (std::memcmp(before + r.offset, after + r.offset, static_cast<size_t>(r.size)) != 0) {
            fields |= 1u << r.field;
        }
        std::memset(restBefore + r.offset, 0, static_cast<size_t>(r.size));
        std::memset(restAfter + r.offset, 0, static_cast<size_t>(r.size));
    }
    if (std::memcmp(restBefore, restAfter, sizeof(restBefore)) != 0) {
        fields |= 1u << kOtherField;
    }
    return fields;
}

PlanResult CPlanningCleaner::Plan(bool fullDvd) {
    m_Result = PlanResult{};
    // A plan answers for a run from backup with the settings given; it has no log file and no
    // reason to pause for a display.
    m_InPlace = 0;
    m_WaitForFile = 0;
    m_LogPath.clear();
    m_IfoPauseMs = 0;
    const SinkFn savedAlert = g_pfnAlert;
    g_pAlerts = &m_Result.alerts;
    g_pfnAlert = CaptureAlert;
    {
        ScopedOverlay overlay(m_Overlay);
        m_Abort = 0;
        m_Failed = 0;
        if (fullDvd) {
            ProcessFullDvd();
        } else {
            ProcessVts();
        }
        m_Result.failed = RunInterrupted();
        CollectFiles(m_Result);
    }
    g_pfnAlert = savedAlert;
    g_pAlerts = nullptr;
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
    m_Input.clear();
    int64_t first = 0;
    for (std::string path = vob;;) {
        const int64_t sectors = FileSizeBytes(path) / pack::kPackSize;
        m_Input.push_back({path, first, sectors});
        first += sectors;
        if (!NextVobFile(path, true)) {
            break;
        }
    }
    m_CellIndex.clear();
    m_Result.steps.push_back(std::move(step));
    CVtsCleaner::ProcessVts();
}

void CPlanningCleaner::OnNewVcid(CIfoFile& ifo) {
    CVtsCleaner::OnNewVcid(ifo);
    PlannedStep& step = m_Result.steps.back();
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

void CPlanningCleaner::OnBlankPack(bool removed) {
    PlannedStep& step = m_Result.steps.back();
    ++(removed ? step.blankRemoved : step.blankStuffed);
    if (step.firstBlanks.size() < kListed) {
        step.firstBlanks.push_back(Locate(m_ReadTotal.load()));
    }
}

const CPlanningCleaner::InputFile* CPlanningCleaner::InputAt(int64_t sector) const {
    for (const InputFile& file : m_Input) {
        if (sector >= file.first && sector < file.first + file.sectors) {
            return &file;
        }
    }
    return nullptr;
}

PlannedPack CPlanningCleaner::Locate(int64_t sector) const {
    PlannedPack at;
    at.sector = sector;
    if (const InputFile* file = InputAt(sector)) {
        at.file = GetFileName(file->path);
        at.fileSector = sector - file->first;
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
}

// Each kept navpack as the run leaves it (in the overlay) against its bytes in the input.
void CPlanningCleaner::RecordNavpacks(PlannedStep& step) {
    struct Output {
        const OverlayFile* file;
        int64_t first;
        int64_t sectors;
    };
    std::vector<Output> outputs;
    std::string path = VobPathSnapshot();
    int64_t first = 0;
    for (int32_t part = 1; part <= kLastVobDigit; ++part) {
        if (!m_Menu) {
            SetVobDigit(path, static_cast<char>('0' + part));
        }
        const int64_t sectors = FileSizeBytes(path) / pack::kPackSize;
        if (sectors > 0) {
            outputs.push_back({m_Overlay.Find(path), first, sectors});
            first += sectors;
        }
        if (m_Menu) {
            break;
        }
    }

    std::ifstream input;
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
        for (const Output& out : outputs) {
            if (newSector >= out.first && newSector < out.first + out.sectors && out.file) {
                auto kept = out.file->packs.find(newSector - out.first);
                if (kept != out.file->packs.end()) {
                    after = kept->second.data();
                }
            }
        }
        const PlannedPack at = Locate(oldSector);
        const InputFile* source = InputAt(oldSector);
        const std::string sourcePath = source == nullptr ? std::string() : source->path;
        if (sourcePath != inputPath) {
            input.close();
            input.clear();
            input.open(sourcePath, std::ios::binary);
            inputPath = sourcePath;
        }
        input.seekg(at.fileSector * pack::kPackSize);
        if (!input.read(reinterpret_cast<char*>(before), sizeof(before))) {
            std::memset(before, 0, sizeof(before));
            input.clear();
        }
        const uint32_t fields = ChangedNavFields(before, after);
        if (fields == 0) {
            continue;
        }
        ++step.navpacksChanged;
        for (int32_t f = 0; f < kNavFieldCount; ++f) {
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
                if (inBackup(record.path)) {
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
        const bool vmg = EqualsIgnoreCase(GetBaseName(path), "video_ts");
        result.ifos.push_back({path, IfoChanges(ReadRealFile(path), file->whole, vmg)});
    }
}

}  // namespace dorvex
