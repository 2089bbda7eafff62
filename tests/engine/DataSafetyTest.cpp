// What a run will not do to the user's files: start on a title set it cannot clean whole (an
// unusable IFO, VOB files shorter than the IFO says or not its own), go on when a file is cut
// short under it, reach outside the disc folder through a planted link, or treat a disc whose
// names are lower case differently; and what Restore and Delete Backup leave alone.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <random>

#include "EngineFixture.h"
#include "common/DiscBuilder.h"
#include "common/TempDir.h"
#include "engine/check/VerifyFolder.h"
#include "ifo/IfoFile.h"
#include "ifo/IfoLayout.h"
#include "ifo/PgcStructure.h"
#include "support/Paths.h"
#include "support/WholeFile.h"

namespace dorvex::testkit {
namespace {

namespace fs = std::filesystem;

class DataSafety : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        m_Engine.m_LogPath = m_LogDir / "Dorvex.log";  // the disc folder holds the disc alone
        MakeDamagedDisc(m_Dir);
        m_Original = ReadTree(m_Dir);
        m_Engine.m_RemoveUnrefed = 1;
    }
    void Run(const std::string& vob = {}) {
        ASSERT_EQ(m_Engine.Open(vob.empty() ? Vob(1) : vob), 0);
        m_Engine.ProcessVts();
    }
    // Refused before anything changed, with one alert that starts with `start`.
    void ExpectRefused(const std::string& start, const Tree& before) {
        EXPECT_EQ(m_Engine.m_Refused.load(), 1);
        EXPECT_EQ(m_Engine.m_Failed.load(), 0);
        const auto alerts = CapturedSinks::Alerts();
        ASSERT_EQ(alerts.size(), 1u);
        EXPECT_EQ(alerts[0].rfind(start, 0), 0u) << alerts[0];
        EXPECT_TRUE(ReadTree(m_Dir) == before);
    }
    void Reset() {
        CapturedSinks::Clear();
        m_Engine.m_Refused = 0;
        m_Engine.m_Failed = 0;
    }

    TempDir m_LogDir;
    Tree m_Original;
};

TEST_F(DataSafety, ATitleSetWhoseIfoCannotBeUsedIsNotTouchedInEitherMode) {
    const std::string ifo = m_Dir + "/VTS_01_0.IFO";
    const std::vector<uint8_t> good = ReadBytes(ifo);
    std::vector<uint8_t> random(4096);
    std::mt19937 rng(7);
    for (uint8_t& byte : random) {
        byte = static_cast<uint8_t>(rng());
    }
    struct Damage {
        const char* name;
        std::vector<uint8_t> bytes;  // empty name with no bytes: the file is missing
        bool missing;
    };
    const Damage damages[] = {
        {"missing", {}, true},
        {"empty", {}, false},
        {"truncated", std::vector<uint8_t>(good.begin(), good.begin() + 100), false},
        {"random", random, false},
    };
    for (const Damage& damage : damages) {
        for (const int32_t inPlace : {0, 1}) {
            SCOPED_TRACE(std::string(damage.name) + (inPlace ? " in place" : " from backup"));
            if (damage.missing) {
                std::remove(ifo.c_str());
            } else {
                WriteBytes(ifo, damage.bytes);
            }
            const Tree before = ReadTree(m_Dir);
            Reset();
            m_Engine.m_InPlace = inPlace;
            Run();
            ExpectRefused(damage.missing ? ifo + " is missing" : "Couldn't use " + ifo + ": ",
                          before);
        }
    }
}

// A program chain no disc holds is refused before anything changes, with the finding check
// reports on it; program chains that are odd but real are cleaned. The shapes stand on the
// line drawn in docs/reliability.md.
TEST_F(DataSafety, AProgramChainNoDiscHoldsIsRefusedWithTheFindingCheckReports) {
    const CellSpec first = DamagedDiscTitleSet().titlePgcs[0][0];  // 1/1
    struct Shape {
        const char* name;
        std::function<void(VtsSpec&)> change;
        std::function<void(CIfoFile&)> patch;  // on what IfoBuilder does not write
        bool menu;
        const char* says;  // the start of the finding; empty: the run cleans
    };
    const Shape shapes[] = {
        {"cell count past its tables", nullptr,
         [](CIfoFile& ifo) { ifo.GetPgc(0, 1)[ifo::kPgcCellCount] = 255; }, false,
         "PGC 1 claims 255 cells, more than its cell tables hold: the cell playback table from "
         "byte "},
        {"cell ID 0", [](VtsSpec& v) { v.titlePgcs[0][1].cellId = 0; }, nullptr, false,
         "PGC 1 cell 2 names cell 1/0 (VOB ID/cell ID); both count from 1"},
        {"VOB ID 0 in a menu", [](VtsSpec& v) { v.menuUnits[0][0][0].vobId = 0; }, nullptr, true,
         "menu LU 1 PGC 1 cell 1 names cell 0/1 (VOB ID/cell ID)"},
        {"more cells than the cell address table",
         [](VtsSpec& v) {
             for (uint8_t id = 4; id <= 6; ++id) {
                 v.titlePgcs[0].push_back(Cell(1, id, 12, 12, 17));
             }
         },
         nullptr, false, "PGC 1 plays 6 different cells; the cell address table holds 4"},
        {"one cell over and over",
         [&](VtsSpec& v) { v.titlePgcs.push_back(PgcSpec(kMostPlaysOfOneCell + 1, first)); },
         nullptr, false, "PGC 2 plays cell 1/1 100 times"},
        {"a cell played again, a PGC without cells, the most plays of one cell",
         [&](VtsSpec& v) {
             v.titlePgcs[0].insert(v.titlePgcs[0].begin() + 2, first);
             v.titlePgcs.push_back({});
             v.titlePgcs.push_back(PgcSpec(kMostPlaysOfOneCell, first));
         },
         nullptr, false, ""},
    };
    const std::string ifoPath = m_Dir + "/VTS_01_0.IFO";
    for (const Shape& shape : shapes) {
        for (const int32_t inPlace : {0, 1}) {
            SCOPED_TRACE(std::string(shape.name) + (inPlace ? " in place" : " from backup"));
            fs::remove_all(m_Dir);
            MakeDamagedDisc(m_Dir);
            VtsSpec vts = DamagedDiscTitleSet();
            if (shape.change) {
                shape.change(vts);
            }
            WriteIfoPair(ifoPath, BuildVtsIfo(vts));
            if (shape.patch) {
                CIfoFile ifo(ifoPath);
                shape.patch(ifo);
                WriteIfoPair(ifoPath,
                             std::vector<uint8_t>(ifo.Data(), ifo.Data() + ifo.ImageSize()));
            }
            const CVerifyReport checked = VerifyFolder(m_Dir);
            const Tree before = ReadTree(m_Dir);
            Reset();
            m_Engine.m_InPlace = inPlace;
            Run(Vob(shape.menu ? 0 : 1));
            if (*shape.says == '\0') {
                EXPECT_EQ(checked.Count(finding::kImpossiblePgc), 0);
                const auto alerts = CapturedSinks::Alerts();
                EXPECT_TRUE(alerts.empty()) << alerts.front();
                EXPECT_EQ(m_Engine.m_Refused.load(), 0);
                EXPECT_EQ(m_Engine.m_Failed.load(), 0);
                continue;
            }
            ASSERT_EQ(checked.Count(finding::kImpossiblePgc), 1);
            const auto& findings = checked.Groups()[1].findings;
            const auto found = std::find_if(findings.begin(), findings.end(), [](const auto& f) {
                return f.kind == finding::kImpossiblePgc;
            });
            ASSERT_NE(found, findings.end());
            EXPECT_EQ(found->message.rfind(shape.says, 0), 0u) << found->message;
            ExpectRefused("Couldn't use " + ifoPath + ": " + found->message + ". ", before);
        }
    }
}

// The stream must be at least as long as the IFO says, and start its VOBUs where the IFO says.
TEST_F(DataSafety, AStreamShorterThanItsIfoOrNotItsOwnIsRefusedUnlessAllowed) {
    std::vector<uint8_t> random(10 * kPack);
    std::mt19937 rng(11);
    for (uint8_t& byte : random) {
        byte = static_cast<uint8_t>(rng());
    }
    struct Case {
        const char* name;
        std::function<void(const std::string& dir)> damage;
        const char* says;
    };
    const Case cases[] = {
        {"middle file missing", [](const std::string& dir) { fs::remove(VobPath(dir, 1, 2)); },
         "VTS_01 titles: VTS_01_1.VOB to VTS_01_3.VOB hold 13 sectors, the IFO describes 23 "
         "(VTS_01_2.VOB is missing)"},
        {"last file missing", [](const std::string& dir) { fs::remove(VobPath(dir, 1, 3)); },
         "VTS_01 titles: VTS_01_1.VOB to VTS_01_2.VOB hold 20 sectors, the IFO describes 23"},
        {"file cut", [](const std::string& dir) { fs::resize_file(VobPath(dir, 1, 3), 1000); },
         "VTS_01 titles: VTS_01_1.VOB to VTS_01_3.VOB hold 20 sectors"},
        {"random bytes",
         [&](const std::string& dir) {
             fs::remove(VobPath(dir, 1, 2));
             fs::remove(VobPath(dir, 1, 3));
             std::vector<uint8_t> many = random;
             many.resize(30 * kPack, 0x5A);
             WriteBytes(VobPath(dir, 1, 1), many);
         },
         "VTS_01 titles: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(m_Dir);
        MakeDamagedDisc(m_Dir);
        c.damage(m_Dir);
        const Tree before = ReadTree(m_Dir);
        Reset();
        m_Engine.m_AllowShort = 0;
        Run();
        ExpectRefused(c.says, before);
        // Asked for on purpose, the run cleans what is there.
        Reset();
        m_Engine.m_AllowShort = 1;
        Run();
        EXPECT_EQ(m_Engine.m_Refused.load(), 0);
        m_Engine.RestoreBackup();
        fs::remove_all(m_Dir + "/DorvexBackup");
        EXPECT_TRUE(ReadTree(m_Dir) == before);
    }
}

// The checks read a sample of the places where VOBUs start, in stream order: each file is
// opened once for all of its samples, not once per sample.
TEST_F(DataSafety, TheChecksOpenEachVobOnceForItsSampleOfVobuStarts) {
    std::map<std::string, int> opens;
    m_FileSystem.SetRule([&](FileOp op, const std::string& path, int64_t) {
        if (op == FileOp::Open && GetFileExt(path) == ".VOB") {
            ++opens[GetFileName(path)];
        }
        return true;
    });
    ASSERT_EQ(m_Engine.Open(Vob(1)), 0);
    opens.clear();
    const RunCheck check = m_Engine.CheckBeforeRun();
    m_FileSystem.SetRule(nullptr);
    EXPECT_FALSE(check.Refused()) << check.message;
    EXPECT_FALSE(opens.empty());
    for (const auto& [name, count] : opens) {
        EXPECT_EQ(count, 1) << name;
    }
}

// A file that another program cuts (or removes) while the run reads the set is a read error:
// the run stops, and from backup the originals come back.
TEST_F(DataSafety, AFileCutOrRemovedDuringTheRunStopsItAndRestoreBringsBackTheInput) {
    struct Case {
        const char* when;  // the log line on which the file is cut
        int32_t part;
        int64_t keep;  // bytes left; -1 removes the file
        const char* alert;
        const char* names;  // the file the alert must name
    };
    const Case cases[] = {
        {"Found VCID 1/2 at LBA 7 (5 out)", 2, 2 * kPack, "Couldn't read ",
         ": VTS_01_2.VOB held 10 sectors when the run began, 2 now;"},
        {"Found VCID 1/2 at LBA 7 (5 out)", 3, -1, "Couldn't read the rest of ",
         ": VTS_01_3.VOB held 3 sectors when the run began, and is gone;"},
        {"Found VCID 1/2 at LBA 7 (5 out)", 3, kPack, "Couldn't read ",
         ": VTS_01_3.VOB held 3 sectors when the run began, 1 now;"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.part) + " " + std::to_string(c.keep));
        fs::remove_all(m_Dir);
        MakeDamagedDisc(m_Dir);
        const Tree before = ReadTree(m_Dir);
        const std::string file = VobPath(m_Dir, 1, c.part);
        // From backup the pass reads the copies.
        const std::string copy = m_Dir + "/DorvexBackup/" + GetFileName(file);
        CapturedSinks::OnLog() = [&](const std::string& line) {
            if (line != c.when) {
                return;
            }
            const std::string target = fs::exists(copy) ? copy : file;
            if (c.keep < 0) {
                fs::remove(target);
            } else {
                fs::resize_file(target, static_cast<uintmax_t>(c.keep));
            }
        };
        Reset();
        Run();
        CapturedSinks::OnLog() = nullptr;
        EXPECT_EQ(m_Engine.m_Failed.load(), 1);
        const auto alerts = CapturedSinks::Alerts();
        ASSERT_EQ(alerts.size(), 1u);
        EXPECT_EQ(alerts[0].rfind(c.alert, 0), 0u) << alerts[0];
        EXPECT_NE(alerts[0].find(c.names), std::string::npos) << alerts[0];
        // What is left of the cut file comes back; the others whole.
        m_Engine.RestoreBackup();
        Tree after = ReadTree(m_Dir);
        Tree expected = before;
        const std::string name = GetFileName(file);
        if (c.keep < 0) {
            expected.erase(name);
        } else {
            expected[name].resize(static_cast<size_t>(c.keep));
        }
        EXPECT_TRUE(after == expected);
    }
}

// A link planted where a temporary file of the IFO save goes is never written through, and
// the IFO stays a file of its own.
TEST_F(DataSafety, APlantedTemporaryFileLinkIsNotWrittenThrough) {
    const std::string target = m_Dir + "/someone-elses-file";
    WriteBytes(target, {1, 2, 3});
    const std::string ifo = m_Dir + "/VTS_01_0.IFO";
    ASSERT_EQ(symlink(target.c_str(), PartialPathFor(ifo).c_str()), 0);
    Run();
    EXPECT_EQ(m_Engine.m_Failed.load(), 1);
    EXPECT_EQ(ReadBytes(target), (std::vector<uint8_t>{1, 2, 3}));
    struct stat st {};
    ASSERT_EQ(lstat(ifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    m_Engine.RestoreBackup();
    fs::remove(PartialPathFor(ifo));
    fs::remove(target);
    fs::remove(m_Dir + "/DorvexBackup");
    EXPECT_TRUE(ReadTree(m_Dir) == m_Original);
}

// A disc seen through an ISO 9660 mount without Joliet or Rock Ridge has lower-case names:
// cleaned as the upper-case disc is, names kept as they are, and restored.
TEST_F(DataSafety, ALowerCaseDiscIsCleanedAsTheUpperCaseOneAndKeepsItsNames) {
    const std::string upper = m_Dir + "/upper";
    const std::string lower = m_Dir + "/lower";
    MakeDamagedDisc(upper);
    MakeDamagedDisc(lower);
    for (const auto& entry : fs::directory_iterator(lower)) {
        std::string name = entry.path().filename().string();
        std::transform(name.begin(), name.end(), name.begin(), ::tolower);
        fs::rename(entry.path(), lower + "/" + name);
    }
    const Tree lowerBefore = ReadTree(lower);
    for (const int32_t inPlace : {0, 1}) {
        SCOPED_TRACE(inPlace ? "in place" : "from backup");
        m_Engine.m_InPlace = inPlace;
        Reset();
        Run(upper + "/VTS_01_1.VOB");
        Run(lower + "/vts_01_1.vob");
        EXPECT_EQ(m_Engine.m_Refused.load() + m_Engine.m_Failed.load(), 0);
        // The same bytes under the same names in lower case; the backup folder's own name is
        // the program's.
        Tree expected;
        for (const auto& [name, bytes] : ReadTree(upper)) {
            std::string lowered = name;
            std::transform(lowered.begin(), lowered.end(), lowered.begin(), ::tolower);
            if (lowered.rfind("dorvexbackup/", 0) == 0) {
                lowered.replace(0, 12, "DorvexBackup");
            }
            expected[lowered] = bytes;
        }
        EXPECT_TRUE(ReadTree(lower) == expected);
        if (!inPlace) {
            m_Engine.RestoreBackup();
            EXPECT_TRUE(ReadTree(lower) == lowerBefore);
            m_Engine.Open(upper + "/VTS_01_1.VOB");
            m_Engine.RestoreBackup();
            fs::remove(lower + "/DorvexBackup");
            fs::remove(upper + "/DorvexBackup");
        }
    }
}

// Title sets cleaned one after another into one backup folder: undoing one leaves VIDEO_TS.IFO
// matching the files as they are; undoing the last gives back its bytes.
TEST_F(DataSafety, RestoringOneOfTwoCleanedTitleSetsKeepsVideoTsIfoInLineWithTheFiles) {
    {
        StreamWriter second(m_Dir, 2, 100);
        second.AddVobu(1, 1, 4);
        second.AddBlank(2);
        second.AddVobu(1, 2, 4);
    }
    WriteIfoDescribing(m_Dir, 2);
    const Tree before = ReadTree(m_Dir);
    Run(Vob(1));
    Run(Vob(1, 2));
    ASSERT_EQ(m_Engine.m_Refused.load() + m_Engine.m_Failed.load(), 0);
    ASSERT_NE(ReadTree(m_Dir).at("VIDEO_TS.IFO"), before.at("VIDEO_TS.IFO"));

    for (const int32_t first : {1, 2}) {
        SCOPED_TRACE(first);
        ASSERT_EQ(m_Engine.Open(Vob(1, first)), 0);
        m_Engine.RestoreBackup();
        // The title start sectors match the files, whichever set went back first.
        EXPECT_EQ(VerifyFolder(m_Dir).Count(finding::kTitleStartSector), 0);
        EXPECT_TRUE(fs::exists(Backup("VIDEO_TS.IFO")));
        ASSERT_EQ(m_Engine.Open(Vob(1, 3 - first)), 0);
        m_Engine.RestoreBackup();
        m_Engine.DeleteBackup();
        EXPECT_TRUE(ReadTree(m_Dir) == before);
        if (first == 1) {
            Run(Vob(1));
            Run(Vob(1, 2));
        }
    }
}

// Killed between moving the first VOB into the backup and making its output, a run leaves the
// name empty; the same command again names the backup instead of failing to open the file.
TEST_F(DataSafety, AVobMovedToTheBackupByAKilledRunLeadsToTheBackupsRefusal) {
    fs::create_directories(m_Dir + "/DorvexBackup");
    fs::rename(Vob(1), Backup("VTS_01_1.VOB"));
    const Tree before = ReadTree(m_Dir);
    Run();
    ExpectRefused(m_Dir + "/DorvexBackup already holds VTS_01 from an earlier run", before);
}

// A restore says what it did not do. What may not be changed (a read-only folder, a VOB without
// write permission) stops it before the first file moves; a move that fails midway is named,
// the rest still goes back, and the restore ends failed, never with "Backup files restored".
TEST_F(DataSafety, ARestoreThatCannotPutEverythingBackSaysSoAndFails) {
    struct Fault {
        FileOp op;
        std::string path;
        bool movesNothing;
    };
    const std::vector<Fault> faults = {
        {FileOp::Access, m_Dir, true},
        {FileOp::Access, m_Dir + "/VTS_01_2.VOB", true},
        {FileOp::Rename, m_Dir + "/DorvexBackup/VTS_01_2.VOB", false}};
    for (const Fault& fault : faults) {
        SCOPED_TRACE(fault.path);
        Run();
        ASSERT_EQ(m_Engine.m_Failed.load(), 0);
        const Tree cleaned = ReadTree(m_Dir);
        Reset();
        m_FileSystem.SetRule([&fault](FileOp op, const std::string& path, int64_t) {
            return !(op == fault.op && path == fault.path);
        });
        m_Engine.RestoreBackup();
        m_FileSystem.SetRule(nullptr);
        EXPECT_FALSE(HasLine(CapturedSinks::Logs(), "Backup files restored"));
        ASSERT_EQ(CapturedSinks::Alerts().size(), 1u);
        EXPECT_NE(CapturedSinks::Alerts()[0].find(fault.movesNothing ? "may not be changed"
                                                                     : "VTS_01_2.VOB"),
                  std::string::npos)
            << CapturedSinks::Alerts()[0];
        EXPECT_EQ(m_Engine.m_Refused.load() + m_Engine.m_Failed.load(), 1);
        if (fault.movesNothing) {
            EXPECT_TRUE(ReadTree(m_Dir) == cleaned);
        } else {
            EXPECT_EQ(ReadTree(m_Dir).at("VTS_01_1.VOB"), m_Original.at("VTS_01_1.VOB"));
        }
        // Once nothing stands in the way, the restore finishes what is left.
        Reset();
        m_Engine.RestoreBackup();
        EXPECT_TRUE(HasLine(CapturedSinks::Logs(), "Backup files restored"));
        EXPECT_TRUE(ReadTree(m_Dir) == m_Original);
        Reset();
    }
}

// Restore and Delete Backup touch only the names the program gives its copies, never a folder.
TEST_F(DataSafety, RestoreAndDeleteLeaveEverythingElseInTheBackupFolder) {
    Run();
    WriteBytes(Backup("notes.txt"), {9});
    ASSERT_EQ(mkdir(Backup("VTS_01_2.VOB.d").c_str(), 0777), 0);
    WriteBytes(Backup("VTS_01_2.VOB.d/VTS_01_2.VOB"), {8});
    m_Engine.RestoreBackup();
    m_Engine.DeleteBackup();
    EXPECT_EQ(ReadBytes(Backup("notes.txt")), std::vector<uint8_t>{9});
    EXPECT_EQ(ReadBytes(Backup("VTS_01_2.VOB.d/VTS_01_2.VOB")), std::vector<uint8_t>{8});
    fs::remove_all(m_Dir + "/DorvexBackup");
    EXPECT_TRUE(ReadTree(m_Dir) == m_Original);
}

}  // namespace
}  // namespace dorvex::testkit
