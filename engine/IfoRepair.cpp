// The repair sequence that brings a title set's IFO, and then VIDEO_TS.IFO, in line with the
// stream the pass wrote. The order of the steps matters: see the comments at each step.
#include <chrono>
#include <thread>

#include "engine/VtsCleaner.h"
#include "ifo/IfoFile.h"
#include "support/Paths.h"
#include "support/Sinks.h"

namespace dorvex {

namespace {

// A pause after entering each IFO phase, so that a progress display shows it.
void PhasePause(int32_t ms) {
    if (ms > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
}

// The title set's tables in line with the stream the pass wrote, in the order the steps need.
void RepairTables(CIfoFile& ifo, std::span<const CellTableEntry> cells,
                  std::span<const VcidMapEntry> map, const NavpackMap& navpacks, bool menu,
                  bool fixPgcLbas) {
    // Cell positions take their new pairs before the cell address table and the sector check
    // compare pairs with the cell table.
    ifo.RemapCellPositions(map, menu);
    Logf("Now cleaning VTS_C_ADT");
    ifo.RebuildCellAddressTable(cells, menu);
    // Playback sectors are mapped before the check clamps them into the new cell ranges.
    Logf("Now updating navpack info");
    ifo.UpdateCellSectors(navpacks, menu);
    if (fixPgcLbas) {
        Logf("Checking PGC LBA pointers");
        ifo.CheckPgcSectors(cells, menu);
    }
    if (!menu) {
        Logf("Now updating navpack info");
        ifo.RebuildTimeMaps(navpacks);
    }
    Logf("Now updating PGC playback times");
    ifo.UpdatePlaybackTimes(menu);
    // Table sizes are final only now, and the VOB files were tidied before this ran.
    Logf("Now updating VTS sectors");
    ifo.UpdateSizeFields(false);
}

}  // namespace

int32_t CVtsCleaner::UpdateIfos(CIfoFile& ifo) {
    const TitleSetFiles files = SetFiles();
    const std::string ifoPath = files.Ifo();
    if (!ifo.m_bLoaded) {
        Logf("Couldn't process IFO file %s", ifoPath.c_str());
        return -1;
    }
    Logf("Processing %s", ifoPath.c_str());
    m_Phase = PhaseIfoProcessing;
    PhasePause(m_IfoPauseMs);

    // Close the cell that was still open when the pass ended. An unknown pair keeps its own
    // numbers rather than turning into 0/0.
    if (!m_Dropping && m_WrittenTotal > 0) {
        CellTableEntry& open = OpenCell();
        GetMapping(open.vobId, open.cellId, open.vobId, open.cellId);
        open.lastLba = m_WrittenTotal - 1;
        CloseOpenCell();
    }

    // The stream ends where the pass stopped reading and writing.
    const NavpackMap navpacks = Map(m_ReadTotal.load(), m_WrittenTotal);

    RepairTables(ifo, ClosedCells(), MapEntries(), navpacks, m_Menu != 0, m_FixPGCLBAs != 0);

    m_Phase = PhaseIfoWriting;
    PhasePause(m_IfoPauseMs);
    Logf("Now writing IFO file");
    if (!SaveIfoCopy(ifo, ifoPath, RepairedIfoDurability())) {
        m_Phase = PhaseAborted;
        return -1;
    }

    // The copy of VIDEO_TS.IFO for a run from backup was taken when the run loaded its IFO.
    const std::string vmgPath = files.VideoManagerIfo();
    if (m_Files.Exists(vmgPath)) {
        ifo.Load(vmgPath);
        if (!ifo.m_bLoaded) {
            Logf("Couldn't process IFO file %s", vmgPath.c_str());
        } else {
            Logf("Now updating video_ts.ifo vts sectors");
            ifo.UpdateSizeFields(true);
            Logf("Now writing video_ts.ifo");
            if (!SaveIfoCopy(ifo, vmgPath, RepairedIfoDurability())) {
                m_Phase = PhaseAborted;
                return -1;
            }
        }
    }
    if (!m_InPlace) {
        m_BackupRun.Settle(Backup(), VobPathSnapshot(), m_Menu != 0);
    }
    m_Phase = PhaseDone;
    return 0;
}

}  // namespace dorvex
