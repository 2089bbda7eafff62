// Runs with IFO files present: the repair sequence's order and messages, the backup copies of
// the IFOs (VIDEO_TS.IFO copied when the run loads its own IFO), failed IFO saves, dropping of
// unreferenced cells with the renumbering carried into the IFO, and IFO-only updates.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>

#include "EngineFixture.h"
#include "common/IfoBuilder.h"
#include "ifo/IfoLayout.h"
#include "support/BigEndian.h"
#include "support/Paths.h"
#include "support/WholeFile.h"

namespace dorvex::testkit {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> MakeVmgIfo() {
    VmgSpec vmg;
    vmg.titleSets = 2;
    vmg.titles = {TitleSpec{1, 1, 0}, TitleSpec{2, 1, 0}};
    return BuildVmgIfo(vmg);
}

class IfoRun : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        WriteBytes(m_Dir + "/VIDEO_TS.IFO", MakeVmgIfo());
        WriteBytes(m_Dir + "/VIDEO_TS.BUP", MakeVmgIfo());
    }
    std::string Ifo(int32_t ts) const {
        char name[32];
        snprintf(name, sizeof(name), "/VTS_%02d_0.IFO", ts);
        return m_Dir + name;
    }
    // Title set ts: VOBUs of 1/1, 1/2, 1/3 and 2/1, each a navpack and 4 data packs, played
    // by one title PGC (1/2 left out unless referenceSecondCell).
    void MakeTitleSet(int32_t ts, bool referenceSecondCell) {
        StreamWriter w(m_Dir, ts, 100);
        w.AddVobu(1, 1, 4);
        w.AddVobu(1, 2, 4);
        w.AddVobu(1, 3, 4);
        w.AddVobu(2, 1, 4);
        w.Finish();
        PgcSpec all = {Cell(1, 1, 0, 0, 4), Cell(1, 2, 5, 5, 9), Cell(1, 3, 10, 10, 14),
                       Cell(2, 1, 15, 15, 19)};
        VtsSpec vts;
        vts.titleCAdt = CAdtFromPgcs({all});
        vts.titleAdmap = {0, 5, 10, 15};
        if (!referenceSecondCell) {
            all.erase(all.begin() + 1);
        }
        vts.titlePgcs = {all};
        WriteIfoPair(Ifo(ts), BuildVtsIfo(vts));
    }
    void Run(const std::string& vob) {
        ASSERT_EQ(m_Engine.Open(vob), 0);
        m_Engine.ProcessVts();
    }
};

TEST_F(IfoRun, TheRepairRunsInOrderAndTheBackupHoldsEveryOriginal) {
    MakeTitleSet(1, true);
    auto ifo = ReadBytes(Ifo(1));
    auto vmg = ReadBytes(m_Dir + "/VIDEO_TS.IFO");
    Run(Vob(1));

    EXPECT_EQ(m_Engine.m_Phase.load(), PhaseDone);
    EXPECT_TRUE(CapturedSinks::Alerts().empty());
    auto logs = CapturedSinks::Logs();
    const std::vector<std::string> steps = {"Processing " + Ifo(1),
                                            "Now cleaning VTS_C_ADT",
                                            "Now updating navpack info",
                                            "Checking PGC LBA pointers",
                                            "Now updating navpack info",
                                            "Now updating PGC playback times",
                                            "Now updating VTS sectors",
                                            "Now writing IFO file",
                                            "Now updating video_ts.ifo vts sectors",
                                            "Now writing video_ts.ifo",
                                            "Done processing"};
    auto at = logs.begin();
    for (const auto& step : steps) {
        at = std::find(at, logs.end(), step);
        ASSERT_NE(at, logs.end()) << "missing or out of order: " << step;
    }
    EXPECT_EQ(ReadBytes(Backup("VTS_01_0.IFO")), ifo);
    EXPECT_EQ(ReadBytes(Backup("VTS_01_0.BUP")), ifo);
    EXPECT_EQ(ReadBytes(Backup("VIDEO_TS.IFO")), vmg);
    EXPECT_EQ(ReadBytes(Backup("VIDEO_TS.BUP")), vmg);
    EXPECT_EQ(ReadBytes(m_Dir + "/VTS_01_0.BUP"), ReadBytes(Ifo(1)));
}

TEST_F(IfoRun, UnreferencedCellsAreDroppedAndTheIfoFollowsTheRenumbering) {
    MakeTitleSet(1, false);
    m_Engine.m_RemoveUnrefed = 1;
    m_Engine.m_InPlace = 1;
    Run(Vob(1));

    Packs out = ReadPacks(Vob(1));
    ASSERT_EQ(out.size(), 15u);
    const std::pair<int, int> vcids[] = {{1, 1}, {1, 2}, {2, 1}};
    for (int k = 0; k < 3; ++k) {
        NavView v = ReadNav(out[static_cast<size_t>(k * 5)].data());
        EXPECT_EQ(v.dsiLba, static_cast<uint32_t>(k * 5));
        EXPECT_EQ(v.vobuEnd, 4u);
        EXPECT_EQ(v.vobId, vcids[k].first);
        EXPECT_EQ(v.cellId, vcids[k].second);
    }
    auto logs = CapturedSinks::Logs();
    EXPECT_TRUE(HasLine(logs, "VCID 1/2 is unreferenced..."));
    EXPECT_TRUE(HasLine(logs, "Remapping 1/3 to 1/2"));
    EXPECT_TRUE(HasLine(logs,
                        "Done with VOB files. 0 navpack pointers adjusted, 5 packs removed, 1 "
                        "navpack remapped, 0 navpacks ILVU flags reset"));

    auto image = ReadBytes(Ifo(1));
    auto adt = ReadCAdt(image, ifo::kVtsCAdt);
    const uint32_t expected[3][4] = {{1, 1, 0, 4}, {1, 2, 5, 9}, {2, 1, 10, 14}};
    ASSERT_EQ(adt.size(), 3u);
    auto cells = ReadTitlePgcCells(image, 1);
    ASSERT_EQ(cells.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(adt[i].vobId, expected[i][0]) << i;
        EXPECT_EQ(adt[i].cellId, expected[i][1]) << i;
        EXPECT_EQ(adt[i].firstSector, expected[i][2]) << i;
        EXPECT_EQ(adt[i].lastSector, expected[i][3]) << i;
        EXPECT_EQ(cells[i].vobId, expected[i][0]) << i;
        EXPECT_EQ(cells[i].cellId, expected[i][1]) << i;
        EXPECT_EQ(cells[i].firstSector, expected[i][2]) << i;
    }
    EXPECT_EQ(ReadAdmap(image, ifo::kVtsVobuAdmap), (std::vector<uint32_t>{0, 5, 10}));
}

TEST_F(IfoRun, AnInterruptedLaterRunRestoresVideoTsIfoAsTheEarlierRunLeftIt) {
    MakeTitleSet(1, true);
    MakeTitleSet(2, true);
    auto original = ReadBytes(m_Dir + "/VIDEO_TS.IFO");
    Run(Vob(1, 1));
    ASSERT_EQ(m_Engine.m_Phase.load(), PhaseDone);
    auto afterFirst = ReadBytes(m_Dir + "/VIDEO_TS.IFO");
    // The first run must have changed it, or the check below would prove nothing.
    ASSERT_NE(afterFirst, original);

    CapturedSinks::OnLog() = [this](const std::string& line) {
        if (line.rfind("Found VCID 1/3", 0) == 0) {
            m_Engine.m_Abort = 1;
        }
    };
    Run(Vob(1, 2));
    ASSERT_EQ(m_Engine.m_Phase.load(), PhaseAborted);
    m_Engine.RestoreBackup();
    EXPECT_EQ(ReadBytes(m_Dir + "/VIDEO_TS.IFO"), afterFirst);
    EXPECT_EQ(ReadBytes(m_Dir + "/VIDEO_TS.BUP"), afterFirst);
}

// Whatever stands where a copy of this title set would go (a folder, a link, an earlier run's
// copy) stops the run before any file moves.
TEST_F(IfoRun, AnythingWhereACopyWouldGoStopsTheRunBeforeAnyFileMoves) {
    MakeTitleSet(1, true);
    const auto vob = ReadBytes(Vob(1));
    ASSERT_EQ(mkdir((m_Dir + "/DorvexBackup").c_str(), 0777), 0);
    ASSERT_EQ(mkdir(Backup("VTS_01_0.IFO").c_str(), 0777), 0);
    Run(Vob(1));
    EXPECT_EQ(m_Engine.m_Refused.load(), 1);
    EXPECT_EQ(m_Engine.m_Failed.load(), 0);
    EXPECT_EQ(m_Engine.m_Phase.load(), PhaseAborted);
    ASSERT_EQ(CapturedSinks::Alerts().size(), 1u);
    EXPECT_EQ(CapturedSinks::Alerts()[0].rfind(m_Dir + "/DorvexBackup already holds VTS_01", 0),
              0u);
    EXPECT_EQ(ReadBytes(Vob(1)), vob);
    EXPECT_FALSE(FileExists(Backup("VTS_01_1.VOB")));
}

// A backup folder that is a file or a link to somewhere else is never used, nor made.
TEST_F(IfoRun, ABackupFolderThatIsAFileOrALinkStopsTheRunBeforeAnyFileMoves) {
    MakeTitleSet(1, true);
    const auto vob = ReadBytes(Vob(1));
    const auto ifo = ReadBytes(Ifo(1));
    const std::string elsewhere = m_Dir + "/elsewhere";
    ASSERT_EQ(mkdir(elsewhere.c_str(), 0777), 0);
    for (const bool link : {false, true}) {
        std::remove((m_Dir + "/DorvexBackup").c_str());
        if (link) {
            ASSERT_EQ(symlink(elsewhere.c_str(), (m_Dir + "/DorvexBackup").c_str()), 0);
        } else {
            WriteBytes(m_Dir + "/DorvexBackup", {1, 2, 3});
        }
        CapturedSinks::Clear();
        m_Engine.m_Refused = 0;
        Run(Vob(1));
        EXPECT_EQ(m_Engine.m_Refused.load(), 1);
        EXPECT_EQ(
            CapturedSinks::Alerts(),
            std::vector<std::string>{m_Dir + "/DorvexBackup is not a folder of its own (it is a "
                                             "link or a file): Dorvex keeps its backup only in a "
                                             "real folder beside the disc. Nothing was changed; "
                                             "move it away and run again."});
        EXPECT_EQ(ReadBytes(Vob(1)), vob);
        EXPECT_EQ(ReadBytes(Ifo(1)), ifo);
        // Restore and Delete Backup do not reach through it either.
        WriteBytes(elsewhere + "/VTS_01_1.VOB", {7});
        m_Engine.RestoreBackup();
        m_Engine.DeleteBackup();
        EXPECT_EQ(ReadBytes(Vob(1)), vob);
        EXPECT_EQ(ReadBytes(elsewhere + "/VTS_01_1.VOB"), std::vector<uint8_t>{7});
    }
}

TEST_F(IfoRun, AFailedSaveOfTheRepairedIfoFailsTheRunAndRestoreUndoesIt) {
    MakeTitleSet(1, true);
    auto vob = ReadBytes(Vob(1));
    auto ifo = ReadBytes(Ifo(1));
    auto vmg = ReadBytes(m_Dir + "/VIDEO_TS.IFO");
    m_Engine.m_RemoveUnrefed = 1;
    std::remove((m_Dir + "/VTS_01_0.BUP").c_str());
    ASSERT_EQ(mkdir((m_Dir + "/VTS_01_0.BUP").c_str(), 0777),
              0);  // the .BUP twin cannot be written
    Run(Vob(1));
    EXPECT_EQ(m_Engine.m_Failed.load(), 1);
    EXPECT_EQ(m_Engine.m_Phase.load(), PhaseAborted);
    EXPECT_EQ(
        CapturedSinks::Alerts(),
        std::vector<std::string>{"Couldn't write " + m_Dir + "/VTS_01_0.BUP: " + strerror(EISDIR)});
    EXPECT_FALSE(HasLine(CapturedSinks::Logs(), "Now writing video_ts.ifo"));
    m_Engine.RestoreBackup();
    EXPECT_EQ(ReadBytes(Vob(1)), vob);
    EXPECT_EQ(ReadBytes(Ifo(1)), ifo);
    EXPECT_EQ(ReadBytes(m_Dir + "/VIDEO_TS.IFO"), vmg);
}

// A flush waits until the disk has every byte written before it, the whole cleaned title set
// after a pass: a run flushes only what it may have to fall back to, and what has no backup.
TEST_F(IfoRun, FromBackupOnlyTheBackupCopiesAreFlushedInPlaceEveryRepairedIfo) {
    MakeTitleSet(1, true);
    std::vector<std::string> flushed;
    m_FileSystem.SetRule([&](FileOp op, const std::string& path, int64_t) {
        if (op == FileOp::Sync) {
            flushed.push_back(path);
        }
        return true;
    });
    Run(Vob(1));
    ASSERT_EQ(m_Engine.m_Phase.load(), PhaseDone);
    const auto partials = [](const std::vector<std::string>& paths) {
        std::vector<std::string> result;
        for (const auto& path : paths) {
            result.push_back(PartialPathFor(path));
        }
        return result;
    };
    EXPECT_EQ(flushed,
              partials({Backup("manifest.dorvex-backup"), Backup("VTS_01_0.IFO"),
                        Backup("VTS_01_0.BUP"), Backup("VIDEO_TS.IFO"), Backup("VIDEO_TS.BUP")}));

    flushed.clear();
    m_Engine.m_InPlace = 1;
    Run(Vob(1));
    ASSERT_EQ(m_Engine.m_Phase.load(), PhaseDone);
    // In place the journal and the folder are flushed too, around the IFOs.
    std::erase_if(flushed, [&](const std::string& path) {
        return path == m_Dir || path == m_Dir + "/" || path.ends_with(".dorvex-journal");
    });
    EXPECT_EQ(flushed, partials({Ifo(1), m_Dir + "/VTS_01_0.BUP", m_Dir + "/VIDEO_TS.IFO",
                                 m_Dir + "/VIDEO_TS.BUP"}));
}

TEST_F(IfoRun, InPlaceAFailedFlushOfTheRepairedIfoKeepsTheOldOne) {
    MakeTitleSet(1, false);
    auto ifo = ReadBytes(Ifo(1));
    m_Engine.m_InPlace = 1;
    m_Engine.m_RemoveUnrefed = 1;
    m_FileSystem.SetRule([&](FileOp op, const std::string& path, int64_t) {
        return !(op == FileOp::Sync && path == PartialPathFor(Ifo(1)));
    });
    Run(Vob(1));
    EXPECT_EQ(m_Engine.m_Failed.load(), 1);
    EXPECT_EQ(CapturedSinks::Alerts(),
              std::vector<std::string>{"Couldn't write " + Ifo(1) + ": " + strerror(EIO)});
    EXPECT_EQ(ReadBytes(Ifo(1)), ifo);
    EXPECT_FALSE(FileExists(PartialPathFor(Ifo(1))));
}

// Once the backup is gone the cleaned files are the only copy, so they reach the disk first.
TEST_F(IfoRun, DeletingTheBackupFlushesTheTitleSetFirstAndKeepsTheBackupIfThatFails) {
    MakeTitleSet(1, false);
    auto ifo = ReadBytes(Ifo(1));
    m_Engine.m_RemoveUnrefed = 1;
    Run(Vob(1));
    ASSERT_EQ(m_Engine.m_Phase.load(), PhaseDone);
    CapturedSinks::Clear();

    m_FileSystem.SetRule([](FileOp op, const std::string&, int64_t) { return op != FileOp::Sync; });
    m_Engine.DeleteBackup();
    EXPECT_EQ(CapturedSinks::Alerts(),
              std::vector<std::string>{"Couldn't flush " + m_Dir + "/DorvexBackup/ to disk: " +
                                       strerror(EIO) + ". The backup was kept."});
    EXPECT_EQ(ReadBytes(Backup("VTS_01_0.IFO")), ifo);

    std::vector<std::string> flushed;
    m_FileSystem.SetRule([&](FileOp op, const std::string& path, int64_t) {
        if (op == FileOp::Sync) {
            flushed.push_back(path);
        }
        return true;
    });
    m_Engine.DeleteBackup();
    EXPECT_EQ(flushed, std::vector<std::string>{m_Dir + "/DorvexBackup/"});
    EXPECT_FALSE(FileExists(m_Dir + "/DorvexBackup"));
}

TEST_F(IfoRun, ADamagedVideoTsIfoIsReportedAndLeftAlone) {
    MakeTitleSet(1, true);
    std::vector<uint8_t> damaged(100, 0x11);
    WriteBytes(m_Dir + "/VIDEO_TS.IFO", damaged);
    Run(Vob(1));
    EXPECT_EQ(m_Engine.m_Phase.load(), PhaseDone);
    EXPECT_TRUE(
        HasLine(CapturedSinks::Logs(), "Couldn't process IFO file " + m_Dir + "/VIDEO_TS.IFO"));
    EXPECT_FALSE(HasLine(CapturedSinks::Logs(), "Now writing video_ts.ifo"));
    EXPECT_EQ(ReadBytes(m_Dir + "/VIDEO_TS.IFO"), damaged);
}

// Title set 2 has no title VOB: its title tables still describe 20 sectors. A domain whose
// tables are empty (the menus here, which have none) is updated as a present VOB's would be.
TEST_F(IfoRun, AFullDvdKeepsTheTablesOfAMissingVobUnlessToldToPruneThem) {
    for (const bool prune : {false, true}) {
        SCOPED_TRACE(prune ? "pruning" : "keeping");
        CapturedSinks::Clear();
        fs::remove_all(m_Dir + "/DorvexBackup");
        MakeTitleSet(1, true);
        MakeTitleSet(2, true);
        std::remove(Vob(1, 2).c_str());
        const auto before = ReadBytes(Ifo(2));
        m_Engine.m_PruneMissingVobs = prune ? 1 : 0;
        ASSERT_EQ(m_Engine.Open(Vob(1, 1)), 0);
        m_Engine.ProcessFullDvd();

        const auto logs = CapturedSinks::Logs();
        EXPECT_TRUE(HasLine(logs, m_Dir + "/VTS_01_0.VOB does not exists, updating IFO..."));
        EXPECT_TRUE(HasLine(logs, m_Dir + "/VTS_02_0.VOB does not exists, updating IFO..."));
        EXPECT_FALSE(HasLine(logs, m_Dir + "/VTS_03_0.VOB does not exists, updating IFO..."));
        EXPECT_TRUE(HasLine(logs, m_Dir + "/VIDEO_TS.VOB does not exists, updating IFO..."));
        EXPECT_EQ(HasLine(logs, Vob(1, 2) + " does not exists, leaving its tables in " + Ifo(2) +
                                    " unchanged (20 sectors)"),
                  !prune);
        EXPECT_EQ(HasLine(logs, Vob(1, 2) + " does not exists, updating IFO..."), prune);
        EXPECT_EQ(logs.back(), "End of FULL DVD process");
        EXPECT_EQ(m_Engine.m_Failed.load(), 0);

        const auto after = ReadBytes(Ifo(2));
        EXPECT_EQ(ReadCAdt(after, ifo::kVtsCAdt).size(), prune ? 0u : 4u);
        EXPECT_EQ(ReadAdmap(after, ifo::kVtsVobuAdmap).size(), prune ? 0u : 4u);
        if (!prune) {
            EXPECT_EQ(ReadCAdt(after, ifo::kVtsCAdt), ReadCAdt(before, ifo::kVtsCAdt));
            EXPECT_EQ(ReadAdmap(after, ifo::kVtsVobuAdmap), ReadAdmap(before, ifo::kVtsVobuAdmap));
        }
        // Either way the title PGC keeps its stored cell sectors.
        const auto cellsBefore = ReadTitlePgcCells(before, 1);
        const auto cellsAfter = ReadTitlePgcCells(after, 1);
        ASSERT_EQ(cellsAfter.size(), 4u);
        for (size_t cell = 0; cell < 4; ++cell) {
            EXPECT_EQ(cellsAfter[cell].firstSector, cellsBefore[cell].firstSector) << cell;
            EXPECT_EQ(cellsAfter[cell].lastSector, cellsBefore[cell].lastSector) << cell;
        }
    }
}

}  // namespace
}  // namespace dorvex::testkit
