// Full-DVD runs over a folder of synthetic title sets: which steps run, in which order, and
// where an abort leaves the run.
#include <gtest/gtest.h>

#include "EngineFixture.h"
#include "common/DiscBuilder.h"
#include "common/IfoBuilder.h"
#include "support/Paths.h"

namespace dorvex::testkit {
namespace {

class FullDvd : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        m_Engine.m_RemoveUnrefed = 1;
        for (int32_t ts = 1; ts <= 3; ++ts) {
            StreamWriter w(m_Dir, ts, 100);
            w.AddVobu(static_cast<uint16_t>(ts), 1, 6);
            w.AddBlank(3);
            w.AddVobu(static_cast<uint16_t>(ts), 2, 6);
        }
        {
            StreamWriter menu(m_Dir + "/VTS_02_0.VOB");
            menu.AddVobu(1, 1, 2);
            menu.AddBlank(1);
        }
        for (int32_t ts = 1; ts <= 3; ++ts) {
            WriteIfoDescribing(m_Dir, ts);
        }
    }
};

TEST_F(FullDvd, EveryPresentVobIsCleanedInOrderAndTheVideoManagerLast) {
    StreamWriter vmg(m_Dir + "/VIDEO_TS.VOB");
    vmg.AddVobu(1, 1, 2);
    vmg.AddBlank(2);
    vmg.Finish();
    WriteIfoDescribing(m_Dir, 0);
    ASSERT_EQ(m_Engine.Open(Vob(1, 2)), 0);
    m_Engine.ProcessFullDvd();

    std::vector<std::string> processed;
    for (const auto& line : CapturedSinks::Logs()) {
        if (line.rfind("Processing ", 0) == 0 && line.find(" -- ") != std::string::npos) {
            processed.push_back(GetFileName(line.substr(11, line.find(" -- ") - 11)));
        }
    }
    EXPECT_EQ(processed, (std::vector<std::string>{"VTS_01_1.VOB", "VTS_02_0.VOB", "VTS_02_1.VOB",
                                                   "VTS_03_1.VOB", "VIDEO_TS.VOB"}));
    auto logs = CapturedSinks::Logs();
    EXPECT_EQ(logs.front(), "PROCESSING FULL DVD");
    EXPECT_EQ(logs.back(), "End of FULL DVD process");
    EXPECT_EQ(CountPrefix(logs, "Skipping blank pack"), 3 * 3 + 1 + 2);
    // The absent menus of title sets 1 and 3 have their IFOs updated; title sets without an
    // IFO pass without a word.
    EXPECT_EQ(CountPrefix(logs, m_Dir), 2);
    EXPECT_TRUE(HasLine(logs, m_Dir + "/VTS_03_0.VOB does not exists, updating IFO..."));
    EXPECT_EQ(ReadPacks(Vob(1, 3)).size(), 14u);
    EXPECT_EQ(ReadPacks(m_Dir + "/VIDEO_TS.VOB").size(), 3u);
}

TEST_F(FullDvd, AnAbortDuringATitleSetEndsTheRunAfterThatStep) {
    CapturedSinks::OnLog() = [this](const std::string& line) {
        if (line == "Processing " + Vob(1, 2) + " -- from backup") {
            m_Engine.m_Abort = 1;
        }
    };
    auto third = ReadBytes(Vob(1, 3));
    ASSERT_EQ(m_Engine.Open(Vob(1, 1)), 0);
    m_Engine.ProcessFullDvd();

    EXPECT_EQ(m_Engine.VobPathSnapshot(), Vob(1, 2));
    EXPECT_EQ(m_Engine.m_Phase.load(), PhaseAborted);
    EXPECT_EQ(ReadBytes(Vob(1, 3)), third);
    EXPECT_FALSE(HasLine(CapturedSinks::Logs(), "End of FULL DVD process"));
    // The restore after the abort brings back exactly the step that was interrupted.
    m_Engine.RestoreBackup();
    EXPECT_EQ(ReadPacks(Vob(1, 2)).size(), 17u);
}

TEST_F(FullDvd, AFailedStepEndsTheRun) {
    const std::string menu = m_Dir + "/VTS_02_0.VOB";
    m_FileSystem.SetRule([menu](FileOp op, const std::string& path, int64_t) {
        return !(op == FileOp::Write && path == menu);
    });
    ASSERT_EQ(m_Engine.Open(Vob(1, 1)), 0);
    m_Engine.ProcessFullDvd();
    EXPECT_EQ(m_Engine.m_Failed.load(), 1);
    EXPECT_EQ(m_Engine.VobPathSnapshot(), menu);
    EXPECT_EQ(ReadPacks(Vob(1, 2)).size(), 17u);  // title set 2's titles were not started
}

}  // namespace
}  // namespace dorvex::testkit

namespace dorvex::testkit {
namespace {

// Title set 2 has a menu and titles, so its IFO and VIDEO_TS.IFO are loaded by several steps.
TEST_F(FullDvd, TheBackupKeepsEachIfoAsItWasBeforeTheRun) {
    VtsSpec vts;
    vts.titlePgcs = {{Cell(2, 1, 0, 0, 6), Cell(2, 2, 10, 10, 16)}};
    vts.titleCAdt = CAdtFromPgcs(vts.titlePgcs);
    vts.titleAdmap = {0, 10};
    vts.menuUnits = {{{Cell(1, 1, 0, 0, 2)}}};
    vts.menuCAdt = {{1, 1, 0, 3}};
    vts.menuAdmap = {0};
    WriteIfoPair(m_Dir + "/VTS_02_0.IFO", BuildVtsIfo(vts));
    VmgSpec vmg;
    vmg.titleSets = 3;
    vmg.titles = {{1, 1, 0}, {2, 1, 0}, {3, 1, 0}};
    WriteIfoPair(m_Dir + "/VIDEO_TS.IFO", BuildVmgIfo(vmg));
    const auto vtsIfo = ReadBytes(m_Dir + "/VTS_02_0.IFO");
    const auto vmgIfo = ReadBytes(m_Dir + "/VIDEO_TS.IFO");

    ASSERT_EQ(m_Engine.Open(Vob(1, 2)), 0);
    m_Engine.ProcessFullDvd();
    ASSERT_NE(ReadBytes(m_Dir + "/VTS_02_0.IFO"), vtsIfo);
    ASSERT_NE(ReadBytes(m_Dir + "/VIDEO_TS.IFO"), vmgIfo);

    EXPECT_EQ(ReadBytes(Backup("VTS_02_0.IFO")), vtsIfo);
    EXPECT_EQ(ReadBytes(Backup("VTS_02_0.BUP")), vtsIfo);
    EXPECT_EQ(ReadBytes(Backup("VIDEO_TS.IFO")), vmgIfo);

    // A single run afterwards would take the copy's place: it is refused, the copy stays.
    const auto afterFull = ReadBytes(m_Dir + "/VTS_02_0.IFO");
    ASSERT_EQ(m_Engine.Open(Vob(1, 2)), 0);
    m_Engine.ProcessVts();
    EXPECT_EQ(m_Engine.m_Refused.load(), 1);
    EXPECT_EQ(ReadBytes(Backup("VTS_02_0.IFO")), vtsIfo);
    EXPECT_EQ(ReadBytes(m_Dir + "/VTS_02_0.IFO"), afterFull);
}

}  // namespace
}  // namespace dorvex::testkit
