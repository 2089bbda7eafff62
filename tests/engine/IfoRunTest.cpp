// Runs with IFO files present: the repair sequence's order and messages, the backup copies of
// the IFOs (VIDEO_TS.IFO copied when the run loads its own IFO), failed IFO saves, dropping of
// unreferenced cells with the renumbering carried into the IFO, and IFO-only updates.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>

#include "EngineFixture.h"
#include "ifo/IfoLayout.h"
#include "support/BigEndian.h"
#include "support/Paths.h"

namespace dorvex::testkit {
namespace {

struct IfoCell {
    uint16_t vobId;
    uint8_t cellId;
    uint32_t firstSector;
    uint32_t lastSector;
};

// A title-set IFO: header, one PGC in VTS_PGCIT (sector 1) playing `pgcCells`, and a VTS_C_ADT
// (sector 2) listing `adtCells`. A VIDEO_TS.IFO is just a header with no tables.
std::vector<uint8_t> MakeVtsIfo(const std::vector<IfoCell>& pgcCells,
                                const std::vector<IfoCell>& adtCells) {
    std::vector<uint8_t> image(3 * ifo::kSectorSize, 0);
    memcpy(image.data(), "DVDVIDEO-VTS", 12);
    WriteBE32(image.data(), ifo::kPgcitOrPtlMait, 1);
    WriteBE32(image.data(), ifo::kVtsCAdt, 2);

    uint8_t* pgcit = image.data() + ifo::kSectorSize;
    const int32_t n = static_cast<int32_t>(pgcCells.size());
    const int32_t pgcOffset = 16;
    const int32_t playback = 240;
    const int32_t position = playback + n * ifo::kCellPlaybackSize;
    const int32_t pgcSize = position + n * ifo::kCellPositionSize;
    WriteBE16(pgcit, ifo::kTableCount, 1);
    WriteBE32(pgcit, ifo::kTableEnd, static_cast<uint32_t>(pgcOffset + pgcSize - 1));
    pgcit[8] = 0x81;
    WriteBE32(pgcit, 8 + ifo::kSearchPointerOffset, pgcOffset);
    uint8_t* pgc = pgcit + pgcOffset;
    pgc[ifo::kPgcProgramCount] = 1;
    pgc[ifo::kPgcCellCount] = static_cast<uint8_t>(n);
    WriteBE16(pgc, ifo::kPgcProgramMapOffset, 236);
    pgc[236] = 1;
    WriteBE16(pgc, ifo::kPgcCellPlaybackOffset, playback);
    WriteBE16(pgc, ifo::kPgcCellPositionOffset, static_cast<uint32_t>(position));
    for (int32_t i = 0; i < n; ++i) {
        uint8_t* cell = pgc + playback + i * ifo::kCellPlaybackSize;
        WriteBE32(cell, ifo::kCellFirstVobuStart, pgcCells[static_cast<size_t>(i)].firstSector);
        WriteBE32(cell, ifo::kCellLastVobuStart, pgcCells[static_cast<size_t>(i)].lastSector);
        WriteBE32(cell, ifo::kCellLastVobuEnd, pgcCells[static_cast<size_t>(i)].lastSector);
        uint8_t* pos = pgc + position + i * ifo::kCellPositionSize;
        WriteBE16(pos, ifo::kCellPositionVobId, pgcCells[static_cast<size_t>(i)].vobId);
        pos[ifo::kCellPositionCellId] = pgcCells[static_cast<size_t>(i)].cellId;
    }

    uint8_t* adt = image.data() + 2 * ifo::kSectorSize;
    WriteBE16(adt, ifo::kTableCount, 1);
    WriteBE32(adt, ifo::kTableEnd,
              static_cast<uint32_t>(8 + adtCells.size() * ifo::kCAdtEntrySize - 1));
    for (size_t i = 0; i < adtCells.size(); ++i) {
        uint8_t* e = adt + 8 + i * ifo::kCAdtEntrySize;
        WriteBE16(e, ifo::kCAdtVobId, adtCells[i].vobId);
        e[ifo::kCAdtCellId] = adtCells[i].cellId;
        WriteBE32(e, ifo::kCAdtFirstSector, adtCells[i].firstSector);
        WriteBE32(e, ifo::kCAdtLastSector, adtCells[i].lastSector);
    }
    return image;
}

std::vector<uint8_t> MakeVmgIfo() {
    std::vector<uint8_t> image(ifo::kSectorSize, 0);
    memcpy(image.data(), "DVDVIDEO-VMG", 12);
    return image;
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
    // Title set ts: VOBUs of 1/1, 1/2, 1/3 and 2/1, each a navpack and 4 data packs.
    void MakeTitleSet(int32_t ts, bool referenceSecondCell) {
        StreamWriter w(m_Dir, ts, 100);
        w.AddVobu(1, 1, 4);
        w.AddVobu(1, 2, 4);
        w.AddVobu(1, 3, 4);
        w.AddVobu(2, 1, 4);
        w.Finish();
        std::vector<IfoCell> all = {{1, 1, 0, 0}, {1, 2, 5, 5}, {1, 3, 10, 10}, {2, 1, 15, 15}};
        std::vector<IfoCell> played = all;
        if (!referenceSecondCell) {
            played.erase(played.begin() + 1);
        }
        auto image = MakeVtsIfo(played, all);
        WriteBytes(Ifo(ts), image);
        WriteBytes(ReplaceExt(Ifo(ts), ".BUP"), image);
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
    ASSERT_GE(image.size(), 3u * ifo::kSectorSize);
    const uint32_t adtSector = ReadBE32(image.data(), ifo::kVtsCAdt);
    const uint8_t* adt = image.data() + adtSector * ifo::kSectorSize;
    const uint32_t expected[3][4] = {{1, 1, 0, 4}, {1, 2, 5, 9}, {2, 1, 10, 14}};
    ASSERT_EQ(ReadBE32(adt, ifo::kTableEnd), 8u + 3 * ifo::kCAdtEntrySize - 1);
    for (int i = 0; i < 3; ++i) {
        const uint8_t* e = adt + 8 + i * ifo::kCAdtEntrySize;
        EXPECT_EQ(ReadBE16(e, ifo::kCAdtVobId), expected[i][0]) << i;
        EXPECT_EQ(e[ifo::kCAdtCellId], expected[i][1]) << i;
        EXPECT_EQ(ReadBE32(e, ifo::kCAdtFirstSector), expected[i][2]) << i;
        EXPECT_EQ(ReadBE32(e, ifo::kCAdtLastSector), expected[i][3]) << i;
    }
    const uint8_t* pgcit =
        image.data() + ReadBE32(image.data(), ifo::kPgcitOrPtlMait) * ifo::kSectorSize;
    const uint8_t* pgc = pgcit + ReadBE32(pgcit, 8 + ifo::kSearchPointerOffset);
    const uint8_t* pos = pgc + ReadBE16(pgc, ifo::kPgcCellPositionOffset);
    const uint8_t* play = pgc + ReadBE16(pgc, ifo::kPgcCellPlaybackOffset);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(ReadBE16(pos + i * 4, ifo::kCellPositionVobId), expected[i][0]) << i;
        EXPECT_EQ(pos[i * 4 + ifo::kCellPositionCellId], expected[i][1]) << i;
        EXPECT_EQ(ReadBE32(play + i * ifo::kCellPlaybackSize, ifo::kCellFirstVobuStart),
                  expected[i][2])
            << i;
    }
}

TEST_F(IfoRun, AnInterruptedLaterRunRestoresVideoTsIfoAsTheEarlierRunLeftIt) {
    MakeTitleSet(1, true);
    MakeTitleSet(2, true);
    WriteBytes(m_Dir + "/VIDEO_TS.IFO", std::vector<uint8_t>(ifo::kSectorSize, 0));
    Run(Vob(1, 1));
    ASSERT_EQ(m_Engine.m_Phase.load(), PhaseDone);
    auto afterFirst = ReadBytes(m_Dir + "/VIDEO_TS.IFO");
    // The first run must have changed it, or the check below would prove nothing.
    ASSERT_NE(afterFirst, std::vector<uint8_t>(ifo::kSectorSize, 0));

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

TEST_F(IfoRun, AFailedBackupCopyOfTheIfoStopsTheRunBeforeAnyPack) {
    MakeTitleSet(1, true);
    auto vob = ReadBytes(Vob(1));
    ASSERT_EQ(mkdir((m_Dir + "/DorvexBackup").c_str(), 0777), 0);
    ASSERT_EQ(mkdir(Backup("VTS_01_0.IFO").c_str(), 0777), 0);
    Run(Vob(1));
    EXPECT_EQ(m_Engine.m_Failed.load(), 1);
    EXPECT_EQ(m_Engine.m_Phase.load(), PhaseAborted);
    EXPECT_EQ(CapturedSinks::Alerts(),
              std::vector<std::string>{"Couldn't write " + Backup("VTS_01_0.IFO")});
    EXPECT_EQ(m_Engine.m_ReadTotal.load(), 0);
    m_Engine.RestoreBackup();
    EXPECT_EQ(ReadBytes(Vob(1)), vob);
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
    EXPECT_EQ(CapturedSinks::Alerts(), std::vector<std::string>{"Couldn't write " + Ifo(1)});
    EXPECT_FALSE(HasLine(CapturedSinks::Logs(), "Now writing video_ts.ifo"));
    m_Engine.RestoreBackup();
    EXPECT_EQ(ReadBytes(Vob(1)), vob);
    EXPECT_EQ(ReadBytes(Ifo(1)), ifo);
    EXPECT_EQ(ReadBytes(m_Dir + "/VIDEO_TS.IFO"), vmg);
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

TEST_F(IfoRun, AFullDvdUpdatesTheIfosOfAbsentVobsAndKeepsTheirSectors) {
    MakeTitleSet(1, true);
    MakeTitleSet(2, true);
    std::remove(Vob(1, 2).c_str());  // title set 2: IFO only
    auto before = ReadBytes(Ifo(2));
    ASSERT_EQ(m_Engine.Open(Vob(1, 1)), 0);
    m_Engine.ProcessFullDvd();

    auto logs = CapturedSinks::Logs();
    EXPECT_TRUE(HasLine(logs, m_Dir + "/VTS_01_0.VOB does not exists, updating IFO..."));
    EXPECT_TRUE(HasLine(logs, Vob(1, 2) + " does not exists, updating IFO..."));
    EXPECT_TRUE(HasLine(logs, m_Dir + "/VTS_02_0.VOB does not exists, updating IFO..."));
    EXPECT_FALSE(HasLine(logs, m_Dir + "/VTS_03_0.VOB does not exists, updating IFO..."));
    EXPECT_TRUE(HasLine(logs, m_Dir + "/VIDEO_TS.VOB does not exists, updating IFO..."));
    EXPECT_EQ(logs.back(), "End of FULL DVD process");
    EXPECT_EQ(m_Engine.m_Failed.load(), 0);

    // The title PGC of title set 2 keeps its stored cell sectors.
    auto after = ReadBytes(Ifo(2));
    auto playFirst = [](const std::vector<uint8_t>& image, int cell) {
        const uint8_t* pgcit =
            image.data() + ReadBE32(image.data(), ifo::kPgcitOrPtlMait) * ifo::kSectorSize;
        const uint8_t* pgc = pgcit + ReadBE32(pgcit, 8 + ifo::kSearchPointerOffset);
        const uint8_t* play = pgc + ReadBE16(pgc, ifo::kPgcCellPlaybackOffset);
        return ReadBE32(play + cell * ifo::kCellPlaybackSize, ifo::kCellFirstVobuStart);
    };
    for (int cell = 0; cell < 4; ++cell) {
        EXPECT_EQ(playFirst(after, cell), playFirst(before, cell)) << cell;
    }
}

}  // namespace
}  // namespace dorvex::testkit
