// The pass model and its journal without an engine: what a journal records of a pass between
// two packs is what a finishing run gets back, cursor and tables alike.
#include <gtest/gtest.h>

#include <type_traits>

#include "common/StreamBuilder.h"
#include "common/TempDir.h"
#include "engine/PassModel.h"
#include "engine/journal/PassJournal.h"
#include "support/Fingerprint.h"

namespace dorvex {
namespace {

using testkit::kPack;
using testkit::TempDir;

constexpr int32_t kFileSectors = 1000;

// Every cursor field to a value of its own that depends on the step, none its start value, the
// positions where a pass in the first part could stand.
void MoveCursor(PassModel& model, int32_t step) {
    int32_t slot = 0;
    ForEachCursorField([&](const auto& field) {
        using Value = typename std::decay_t<decltype(field)>::Value;
        field.Set(model, static_cast<Value>(step * 31 + ++slot + 3));
    });
    model.m_FilePart = 1;
    model.m_FileSectors = kFileSectors;
    model.m_ReadInFile = 10 * step + 5;
    model.m_ReadTotal = 10 * step + 5;
    model.m_WrittenInFile = 10 * step;
    model.m_WrittenTotal = 10 * step;
}

// What one pack of a pass adds to the tables: a navpack, a cell that changes while it is open
// and sometimes closes with a map entry, a removed sector.
void AddToTables(PassModel& model, int32_t step) {
    model.AppendNavpack(step * 10, step * 9, step);
    model.OpenCell() = {static_cast<uint16_t>(step + 1), 1, step * 9, step * 9 + 5};
    if (step % 3 == 0) {
        model.AddToMap(static_cast<uint16_t>(step + 1), 1, true);
        model.CloseOpenCell();
        model.OpenCell() = {static_cast<uint16_t>(step + 2), 2, step * 9 + 6, 0};
    }
    // Consecutive sectors lengthen the last run after a record took it; every fifth starts anew.
    model.m_Removed.Remove(step % 5 == 0 ? 1000 * step : 1000 * (step / 5) * 5 + step);
}

void ExpectSameTables(const PassTables& got, const PassTables& want) {
    ASSERT_EQ(got.m_NavCount, want.m_NavCount);
    for (int32_t i = 0; i < want.m_NavCount; ++i) {
        const size_t at = static_cast<size_t>(i);
        EXPECT_EQ(got.m_NavOld[at], want.m_NavOld[at]) << "navpack " << i;
        EXPECT_EQ(got.m_NavNew[at], want.m_NavNew[at]) << "navpack " << i;
        EXPECT_EQ(got.m_NavVcid[at], want.m_NavVcid[at]) << "navpack " << i;
    }
    ASSERT_EQ(got.m_MapCount, want.m_MapCount);
    for (int32_t i = 0; i < want.m_MapCount; ++i) {
        const VcidMapEntry& a = got.m_VCIDMap[static_cast<size_t>(i)];
        const VcidMapEntry& b = want.m_VCIDMap[static_cast<size_t>(i)];
        EXPECT_EQ(PackVcid(a.newVobId, a.newCellId), PackVcid(b.newVobId, b.newCellId));
        EXPECT_EQ(PackVcid(a.oldVobId, a.oldCellId), PackVcid(b.oldVobId, b.oldCellId));
    }
    ASSERT_EQ(got.m_CellCount, want.m_CellCount);
    for (int32_t i = 0; i <= want.m_CellCount; ++i) {
        const CellTableEntry& a = got.m_Cells[static_cast<size_t>(i)];
        const CellTableEntry& b = want.m_Cells[static_cast<size_t>(i)];
        EXPECT_EQ(PackVcid(a.vobId, a.cellId), PackVcid(b.vobId, b.cellId)) << "cell " << i;
        EXPECT_EQ(a.firstLba, b.firstLba) << "cell " << i;
        EXPECT_EQ(a.lastLba, b.lastLba) << "cell " << i;
    }
    ASSERT_EQ(got.m_Removed.RunCount(), want.m_Removed.RunCount());
    for (int32_t i = 0; i < want.m_Removed.RunCount(); ++i) {
        EXPECT_EQ(got.m_Removed.RunAt(i).first, want.m_Removed.RunAt(i).first) << "run " << i;
        EXPECT_EQ(got.m_Removed.RunAt(i).count, want.m_Removed.RunAt(i).count) << "run " << i;
    }
}

class PassJournalTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_Model.AllocateRunTables();
        m_Model.ResetRunState();
        const std::string vob = m_Dir / "VTS_01_1.VOB";
        ASSERT_TRUE(m_Vob.Open(vob, OpenMode::CreateNew));
        ASSERT_TRUE(m_Vob.TruncateTo(kFileSectors));
        m_Header.vobName = "VTS_01_1.VOB";
        m_Header.ifoName = "VTS_01_0.IFO";
        m_Header.totalSectors = kFileSectors;
        m_Header.parts.push_back({"VTS_01_1.VOB", m_Files.SizeBytes(vob), m_Files.IdentityOf(vob)});
    }
    void TearDown() override { g_nVideoStandard = kStandardUnknown; }

    // A pass of `packs` packs whose every third pack records a cut: the model as the journal's
    // last record must give it back.
    // The video standard is the process's, so the cursor to expect is kept as a value.
    PassCursor RecordPass(PassJournal& journal, int32_t packs, bool done, PassModel& expected) {
        PassCursor cursor;
        for (int32_t step = 1; step <= packs; ++step) {
            journal.PackStarts();
            const bool cut = step % 3 == 0 && !done;
            if (cut) {
                expected.AdoptPass(Copy(m_Model), m_Model.Snapshot());
                cursor = m_Model.Cursor();
            }
            MoveCursor(m_Model, step);
            AddToTables(m_Model, step);
            if (cut) {
                EXPECT_TRUE(journal.BeforeVobTruncate(m_Vob, kFileSectors - step));
            }
        }
        if (done) {
            EXPECT_TRUE(journal.PassDone());
            expected.AdoptPass(Copy(m_Model), m_Model.Snapshot());
            cursor = m_Model.Cursor();
        }
        return cursor;
    }
    static PassTables Copy(const PassTables& tables) { return tables; }

    TempDir m_Dir;
    FileSystem& m_Files = TheRealFileSystem();
    PassModel m_Model;
    JournalHeader m_Header;
    CVobFile m_Vob{m_Files};
};

TEST_F(PassJournalTest, AFinishingRunGetsBackTheModelOfTheLastRecord) {
    for (const bool done : {false, true}) {
        SCOPED_TRACE(done ? "after the pass's end" : "after a cut in the pass");
        const std::string path = m_Dir / "VTS_01.dorvex-journal";
        PassJournal journal(m_Files, m_Model);
        ASSERT_TRUE(journal.Create(path, m_Header)) << journal.LastError();
        PassModel expected;
        const PassCursor cursor = RecordPass(journal, 20, done, expected);
        ASSERT_TRUE(journal.End(true).left);

        PassModel finishing;
        PassJournal resumed(m_Files, finishing);
        InterruptedRun run;
        ASSERT_TRUE(resumed.Resume(path, run)) << resumed.LastError();
        EXPECT_EQ(run.stage,
                  done ? InterruptedRun::Stage::PassDone : InterruptedRun::Stage::InPass);
        EXPECT_EQ(run.lastPass.at.cursor, cursor);
        finishing.AllocateRunTables();
        finishing.AdoptPass(std::move(run.tables), run.lastPass.at);
        EXPECT_EQ(finishing.Cursor(), cursor);
        ExpectSameTables(finishing, expected);
        m_Model.AllocateRunTables();
        m_Model.ResetRunState();
        std::remove(path.c_str());
    }
}

TEST_F(PassJournalTest, ResetStartsEveryPerRunFieldAndKeepsWhatBelongsToTheOpenFiles) {
    MoveCursor(m_Model, 5);
    const PassCursor before = m_Model.Cursor();
    m_Model.ResetRunState();
    const PassCursor after = m_Model.Cursor();
    ForEachCursorField([&](const auto& field) {
        SCOPED_TRACE(field.name);
        EXPECT_EQ(after.*field.slot,
                  field.onReset == OnReset::Start ? field.start : before.*field.slot);
    });
}

// A checkpoint's moves (packs 10..19 moved down by one) made again after a stop, from each
// state the disk may hold: the moves that reached it are the ones listed.
TEST_F(PassJournalTest, MovesAreMadeAgainWhereTheyCanBeAndALostOneIsRefusedUnchanged) {
    constexpr int64_t kPacks = 30;
    constexpr int64_t kFrom = 10;
    constexpr int64_t kTo = 9;
    constexpr int64_t kMoved = 10;
    std::vector<uint8_t> original(static_cast<size_t>(kPacks * kPack));
    for (int64_t i = 0; i < kPacks; ++i) {
        std::fill_n(original.begin() + i * kPack, kPack, static_cast<uint8_t>(i + 1));
    }
    auto moved = [&](const std::vector<int64_t>& landed) {
        std::vector<uint8_t> bytes = original;
        for (int64_t to : landed) {
            std::copy_n(original.begin() + (to + 1) * kPack, kPack, bytes.begin() + to * kPack);
        }
        return bytes;
    };
    std::vector<int64_t> every;
    for (int64_t to = kTo; to < kTo + kMoved; ++to) {
        every.push_back(to);
    }
    const std::vector<uint8_t> done = moved(every);
    RecordedMove move{0, kTo, kFrom, {}};
    for (int64_t i = 0; i < kMoved; ++i) {
        move.fingerprints.push_back(Fingerprint(original.data() + (kFrom + i) * kPack, kPack));
    }
    const struct {
        const char* what;
        std::vector<int64_t> landed;
        bool lost;
    } cases[] = {
        {"none reached the disk", {}, false},
        {"all did", every, false},
        {"a killed run's first ones did", {9, 10, 11, 12}, false},
        {"a power cut kept a later one over a source, not its move", {9, 10, 12}, true},
    };
    const std::string vob = m_Dir / "VTS_01_1.VOB";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<uint8_t> before = moved(c.landed);
        testkit::WriteBytes(vob, before);
        InterruptedRun run;
        run.header = m_Header;
        run.header.parts[0].identity = m_Files.IdentityOf(vob);
        run.stage = InterruptedRun::Stage::InPass;
        run.hasPassRecord = true;
        run.lastPass.files.sizes = {static_cast<int64_t>(before.size())};
        run.redoMoves = {move};
        std::string error;
        const bool redone = RedoLastChange(m_Files, m_Dir.Path(), run, error);
        EXPECT_EQ(redone, !c.lost) << error;
        EXPECT_TRUE(testkit::ReadBytes(vob) == (c.lost ? before : done));
        if (c.lost) {
            EXPECT_NE(error.find("sectors from 11 on were lost"), std::string::npos) << error;
        }
    }
}

}  // namespace
}  // namespace dorvex
