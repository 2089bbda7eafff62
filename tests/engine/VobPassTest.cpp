// End-to-end runs of the VOB pass over synthetic title sets in a temporary folder, with an IFO
// that plays every cell: the bytes of the output and the log lines.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <thread>

#include "EngineFixture.h"
#include "common/DiscBuilder.h"
#include "engine/PackLayout.h"
#include "ifo/IfoFile.h"
#include "support/BigEndian.h"
#include "support/Paths.h"
#include "support/TitleSetFiles.h"

namespace dorvex::testkit {
namespace {

class VobPass : public EngineTest {
  protected:
    // A VOBU whose end address also covers `blanks` blank packs after its data.
    static void AddVobuWithBlanks(StreamWriter& w, uint16_t vobId, uint8_t cellId, int32_t data,
                                  int32_t blanks) {
        uint8_t pack[kPack];
        NavFields nav;
        nav.lba = static_cast<uint32_t>(w.PacksWritten());
        nav.vobuEnd = static_cast<uint32_t>(data + blanks);
        nav.vobId = vobId;
        nav.cellId = cellId;
        MakeNavPack(pack, nav);
        w.AddPack(pack);
        for (int32_t i = 0; i < data; ++i) {
            MakeVideoPack(pack, static_cast<uint8_t>(0x40 + i), i == 0);
            w.AddPack(pack);
        }
        w.AddBlank(blanks);
    }

    Packs Concat(const std::vector<std::string>& files) {
        Packs all;
        for (const auto& f : files) {
            Packs p = ReadPacks(f);
            all.insert(all.end(), p.begin(), p.end());
        }
        return all;
    }

    // Every navpack carries its run-relative LBA and a VOBU end address reaching the pack
    // before the next navpack (the last one: the last pack of the stream).
    static void ExpectConsistentNavpacks(const Packs& packs) {
        std::vector<size_t> navs;
        for (size_t i = 0; i < packs.size(); ++i) {
            if (IsNavPack(packs[i].data())) {
                navs.push_back(i);
            }
        }
        ASSERT_FALSE(navs.empty());
        for (size_t k = 0; k < navs.size(); ++k) {
            NavView v = ReadNav(packs[navs[k]].data());
            size_t end = k + 1 < navs.size() ? navs[k + 1] : packs.size();
            EXPECT_EQ(v.pciLba, navs[k]) << "navpack " << k;
            EXPECT_EQ(v.dsiLba, navs[k]) << "navpack " << k;
            EXPECT_EQ(v.vobuEnd, end - navs[k] - 1) << "navpack " << k;
        }
    }

    // Every one of the lines is in the log.
    static void ExpectLogged(const std::vector<std::string>& lines) {
        const std::vector<std::string> logs = CapturedSinks::Logs();
        for (const std::string& line : lines) {
            EXPECT_TRUE(HasLine(logs, line)) << line;
        }
    }

    static int CountBlank(const Packs& packs) {
        int n = 0;
        for (const auto& p : packs) {
            n += IsBlankPack(p.data()) ? 1 : 0;
        }
        return n;
    }

    // A title set that has no IFO yet gets one that plays every cell of its stream.
    void Run(const std::string& path) {
        const int32_t titleSet = TitleSetOf(path);
        if (titleSet >= 0 && !FileExists(IfoPathFor(path))) {
            WriteIfoDescribing(GetFolder(path), titleSet);
        }
        ASSERT_EQ(m_Engine.Open(path), 0);
        m_Engine.ProcessVts();
    }

    static void SetOldMtime(const std::string& path) {
        struct timespec times[2] = {{1000, 0}, {1000, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    }
    static time_t Mtime(const std::string& path) {
        struct stat st {};
        stat(path.c_str(), &st);
        return st.st_mtime;
    }

    const std::string kZeroCounts =
        "Done with VOB files. 0 navpack pointers adjusted, 0 packs removed, 0 navpack remapped, 0 "
        "navpacks ILVU flags reset";
};

TEST_F(VobPass, InPlaceACleanTitleSetIsReadAndNeverWritten) {
    StreamWriter w(m_Dir, 1, 25);
    w.AddVobu(1, 1, 9);
    w.AddVobu(1, 1, 9);
    w.AddVobu(1, 2, 9);
    w.AddVobu(2, 1, 9);
    w.Finish();
    ASSERT_EQ(w.Files().size(), 2u);
    std::vector<std::vector<uint8_t>> before;
    for (const auto& f : w.Files()) {
        before.push_back(ReadBytes(f));
        SetOldMtime(f);
    }
    m_Engine.m_InPlace = 1;
    Run(Vob(2));

    for (size_t i = 0; i < w.Files().size(); ++i) {
        EXPECT_EQ(ReadBytes(w.Files()[i]), before[i]) << w.Files()[i];
        EXPECT_EQ(Mtime(w.Files()[i]), 1000) << w.Files()[i];
    }
    ExpectLogged({"Processing " + Vob(1) + " -- in-place processing", "Remove unrefed is OFF",
                  "Reset ILVU Ptrs is OFF", "Processing " + Vob(2), kZeroCounts,
                  "Processing " + m_Dir + "/VTS_01_0.IFO", "Done"});
    EXPECT_EQ(CountPrefix(CapturedSinks::Logs(), "Adjusting"), 0);
    EXPECT_TRUE(CapturedSinks::Alerts().empty());
    EXPECT_EQ(m_Engine.m_Failed.load(), 0);
    EXPECT_EQ(m_Engine.VobPathSnapshot(), Vob(1));
    // The run's log file starts with the banner and holds the same lines.
    auto logFile = ReadBytes(m_Engine.m_LogPath);
    std::string text(logFile.begin(), logFile.end());
    EXPECT_EQ(text.rfind("Dorvex -- 1.4\n", 0), 0u);
}

TEST_F(VobPass, FromBackupBlankPacksAreRemovedAndPointersCorrected) {
    StreamWriter w(m_Dir, 1, 1000);
    AddVobuWithBlanks(w, 1, 1, 5, 3);
    AddVobuWithBlanks(w, 1, 1, 4, 0);
    AddVobuWithBlanks(w, 1, 2, 6, 2);
    w.Finish();
    auto original = ReadBytes(Vob(1));
    m_Engine.m_RemoveUnrefed = 1;
    Run(Vob(1));

    Packs out = ReadPacks(Vob(1));
    EXPECT_EQ(out.size(), 3u + 5 + 4 + 6);
    EXPECT_EQ(CountBlank(out), 0);
    ExpectConsistentNavpacks(out);
    EXPECT_EQ(ReadBytes(Backup("VTS_01_1.VOB")), original);
    EXPECT_EQ(m_Engine.m_PacksRemoved.load(), 5);
    // The first navpack is corrected in the file; the last one at the end, which is not counted.
    EXPECT_EQ(m_Engine.m_FwdAdjusted, 1);
    EXPECT_EQ(ReadNav(out[11].data()).vobuEnd, 6u);

    ExpectLogged({"Processing " + Vob(1) + " -- from backup", "Skipping blank pack at LBA 6",
                  "Skipping blank pack at LBA 22", "Adjusting Fwd pointer at LBA 0",
                  "Done with VOB files. 1 navpack pointers adjusted, 5 packs removed, 0 navpack "
                  "remapped, 0 navpacks ILVU flags reset"});
    EXPECT_EQ(CountPrefix(CapturedSinks::Logs(), "Skipping blank pack"), 5);
}

// In place the run flushes the VOB before it ends, so its writes go to the disk as they are
// made; from backup nothing flushes the new files, and the run leaves them to the kernel.
TEST_F(VobPass, OnlyInPlaceAreWritesHandedToTheDiskAsTheyAreMade) {
    for (const bool inPlace : {true, false}) {
        SCOPED_TRACE(inPlace ? "in place" : "from backup");
        StreamWriter w(m_Dir, 1, 1000);
        AddVobuWithBlanks(w, 1, 1, 5, 3);
        AddVobuWithBlanks(w, 1, 2, 6, 2);
        w.Finish();
        int64_t hintedBytes = 0;
        m_FileSystem.SetWriteBackWatch([&](const std::string& path, int64_t, int64_t size) {
            hintedBytes += path == Vob(1) ? size : 0;
        });
        m_Engine.m_InPlace = inPlace ? 1 : 0;
        m_Engine.m_RemoveUnrefed = 1;
        Run(Vob(1));
        m_FileSystem.SetWriteBackWatch(nullptr);
        ASSERT_EQ(m_Engine.m_PacksRemoved.load(), 5);
        if (inPlace) {
            EXPECT_GE(hintedBytes, static_cast<int64_t>(ReadBytes(Vob(1)).size()));
        } else {
            EXPECT_EQ(hintedBytes, 0);
            m_Engine.DeleteBackup();
        }
    }
}

TEST_F(VobPass, BlankPacksAreReplacedByStuffingAndInPlaceOnlyThirtyAreLogged) {
    CVtsCleaner::s_BlankReplacedInPlace = 0;
    StreamWriter w(m_Dir, 1, 1000);
    AddVobuWithBlanks(w, 1, 1, 3, 40);
    AddVobuWithBlanks(w, 1, 1, 3, 1);
    w.Finish();
    m_Engine.m_InPlace = 1;
    Run(Vob(1));

    Packs out = ReadPacks(Vob(1));
    ASSERT_EQ(out.size(), 49u);
    EXPECT_EQ(CountBlank(out), 0);
    for (int i = 4; i < 44; ++i) {
        ASSERT_EQ(memcmp(out[static_cast<size_t>(i)].data(), m_Engine.m_Stuffing, kPack), 0) << i;
    }
    EXPECT_EQ(memcmp(out[48].data(), m_Engine.m_Stuffing, kPack), 0);
    ExpectConsistentNavpacks(out);
    auto logs = CapturedSinks::Logs();
    EXPECT_EQ(CountPrefix(logs, "Replacing blank pack at LBA"), 30);
    EXPECT_TRUE(HasLine(logs, "Replacing blank pack at LBA 4 with stuffing pack"));

    // The limit holds over the program's life; runs from backup log every one.
    CapturedSinks::Clear();
    Run(Vob(1));
    EXPECT_EQ(CountPrefix(CapturedSinks::Logs(), "Replacing blank pack"), 0);
    WriteBytes(Vob(1), std::vector<uint8_t>());
    std::remove(IfoPathFor(Vob(1)).c_str());  // a new stream, described afresh
    StreamWriter again(m_Dir, 1, 1000);
    AddVobuWithBlanks(again, 1, 1, 3, 40);
    again.Finish();
    CapturedSinks::Clear();
    m_Engine.m_InPlace = 0;
    Run(Vob(1));
    EXPECT_EQ(CountPrefix(CapturedSinks::Logs(), "Replacing blank pack"), 40);
}

// Navpacks linked as an authoring tool links them: next and previous VOBU of the same cell
// (end of cell at its edges), and the first audio pack after each navpack, written into the
// files of the set.
static void LinkNavpacks(const std::vector<std::string>& files, int64_t packsPerFile) {
    Packs all;
    for (const auto& f : files) {
        Packs p = ReadPacks(f);
        all.insert(all.end(), p.begin(), p.end());
    }
    std::vector<size_t> navs;
    for (size_t i = 0; i < all.size(); ++i) {
        if (IsNavPack(all[i].data())) {
            navs.push_back(i);
        }
    }
    auto sameCell = [&](size_t a, size_t b) {
        return ReadNav(all[a].data()).cellId == ReadNav(all[b].data()).cellId;
    };
    for (size_t k = 0; k < navs.size(); ++k) {
        uint8_t* p = all[navs[k]].data();
        const bool hasNext = k + 1 < navs.size() && sameCell(navs[k], navs[k + 1]);
        const bool hasPrev = k > 0 && sameCell(navs[k], navs[k - 1]);
        WriteBE32(p, pack::kDsiSearch + 4 * pack::kSearchNextVobu,
                  hasNext ? 0x80000000u | static_cast<uint32_t>(navs[k + 1] - navs[k])
                          : pack::kSearchEndOfCell);
        WriteBE32(p, pack::kDsiSearch + 4 * (pack::kSearchNextVobu + 1),
                  hasPrev ? 0x80000000u | static_cast<uint32_t>(navs[k] - navs[k - 1])
                          : pack::kSearchEndOfCell);
        for (size_t i = navs[k] + 1; i < all.size() && !IsNavPack(all[i].data()); ++i) {
            if (ReadBE32(all[i].data(), 14) == pack::kCodePrivate1) {
                WriteBE16(p, pack::kDsiAudioSync, static_cast<uint32_t>(i - navs[k]));
                break;
            }
        }
        const size_t file = navs[k] / static_cast<size_t>(packsPerFile);
        FILE* f = fopen(files[file].c_str(), "r+b");
        ASSERT_NE(f, nullptr);
        fseek(f, static_cast<long>((navs[k] % static_cast<size_t>(packsPerFile)) * kPack),
              SEEK_SET);
        fwrite(p, 1, kPack, f);
        fclose(f);
    }
}

class VobPassRelativePointers : public VobPass, public ::testing::WithParamInterface<bool> {};

// Blank packs removed on both sides of a file boundary: every next/previous VOBU pointer still
// lands on its neighbouring navpack and every audio offset on its audio pack, in the first file
// and in the second.
TEST_P(VobPassRelativePointers, FollowTheRemovalsAcrossFiles) {
    constexpr int64_t kPerFile = 20;
    StreamWriter w(m_Dir, 1, kPerFile);
    uint8_t pack[kPack];
    for (int vobu = 0; vobu < 6; ++vobu) {
        NavFields nav{static_cast<uint32_t>(w.PacksWritten()), 6, 1,
                      static_cast<uint8_t>(vobu < 4 ? 1 : 2), 0};
        MakeNavPack(pack, nav);
        w.AddPack(pack);
        MakeVideoPack(pack, static_cast<uint8_t>(vobu), true);
        w.AddPack(pack);
        w.AddBlank(vobu % 2 == 0 ? 2 : 1);
        MakeAudioPack(pack, static_cast<uint8_t>(0x50 + vobu));
        w.AddPack(pack);
        MakeVideoPack(pack, static_cast<uint8_t>(0x60 + vobu));
        w.AddPack(pack);
        w.AddBlank(vobu % 2 == 0 ? 1 : 2);
    }
    w.Finish();
    ASSERT_EQ(w.Files().size(), 3u);
    LinkNavpacks(w.Files(), kPerFile);
    m_Engine.m_RemoveUnrefed = 1;
    m_Engine.m_InPlace = GetParam() ? 1 : 0;
    Run(Vob(1));
    ASSERT_EQ(m_Engine.m_Failed.load(), 0);
    EXPECT_EQ(m_Engine.m_PacksRemoved.load(), 18);

    Packs out = Concat({Vob(1), Vob(2)});
    ASSERT_EQ(out.size(), 6u * 4);
    ExpectConsistentNavpacks(out);
    for (size_t at = 0; at < out.size(); at += 4) {
        const uint8_t* p = out[at].data();
        const uint8_t cell = ReadNav(p).cellId;
        const uint32_t next = ReadBE32(p, pack::kDsiSearch + 4 * pack::kSearchNextVobu);
        const uint32_t prev = ReadBE32(p, pack::kDsiSearch + 4 * (pack::kSearchNextVobu + 1));
        const bool last = at + 4 >= out.size() || ReadNav(out[at + 4].data()).cellId != cell;
        const bool first = at == 0 || ReadNav(out[at - 4].data()).cellId != cell;
        EXPECT_EQ(next, last ? pack::kSearchEndOfCell : 0x80000004u) << "navpack at " << at;
        EXPECT_EQ(prev, first ? pack::kSearchEndOfCell : 0x80000004u) << "navpack at " << at;
        EXPECT_EQ(ReadBE16(p, pack::kDsiAudioSync), 2u) << "navpack at " << at;
    }
    EXPECT_TRUE(HasLine(CapturedSinks::Logs(), "Relative pointers adjusted in 6 navpacks"));
    EXPECT_TRUE(CapturedSinks::Alerts().empty());
}

INSTANTIATE_TEST_SUITE_P(InPlaceAndFromBackup, VobPassRelativePointers, ::testing::Bool());

TEST_F(VobPass, AVobuStraddlingTwoFilesIsCorrectedInTheClosedFile) {
    StreamWriter w(m_Dir, 1, 12);
    AddVobuWithBlanks(w, 1, 1, 3, 1);  // 0..4
    // Navpack at 5, its VOBU runs over the file boundary at 12 with blanks on both sides.
    uint8_t pack[kPack];
    NavFields nav{5, 10, 1, 1, 0};
    MakeNavPack(pack, nav);
    w.AddPack(pack);
    for (int i = 0; i < 5; ++i) {
        MakeVideoPack(pack, static_cast<uint8_t>(0x60 + i));
        w.AddPack(pack);
    }
    w.AddBlank(2);  // 11 ends file 1, 12 starts file 2
    for (int i = 0; i < 3; ++i) {
        MakeVideoPack(pack, static_cast<uint8_t>(0x70 + i));
        w.AddPack(pack);
    }
    AddVobuWithBlanks(w, 1, 2, 4, 0);  // navpack at 16
    w.Finish();
    ASSERT_EQ(w.Files().size(), 2u);
    m_Engine.m_RemoveUnrefed = 1;
    Run(Vob(1));

    Packs first = ReadPacks(Vob(1));
    EXPECT_EQ(first.size(), 10u);
    ExpectConsistentNavpacks(Concat({Vob(1), Vob(2)}));
    auto logs = CapturedSinks::Logs();
    EXPECT_TRUE(HasLine(logs, "Adjusting Fwd pointer in previous VOB at LBA 4"));
    EXPECT_TRUE(CapturedSinks::Alerts().empty());
}

// The previous navpack sits near the start of the closed file while the new file already holds
// more packs than that offset: telling the files apart by the in-file offset alone would patch a
// video pack of the new file instead.
TEST_F(VobPass, AVobuWhoseTailFillsMuchOfTheNextFileIsPatchedInTheClosedFile) {
    StreamWriter w(m_Dir, 1, 100);
    uint8_t pack[kPack];
    MakeNavPack(pack, NavFields{0, 10, 1, 1, 0});
    w.AddPack(pack);
    for (int i = 0; i < 3; ++i) {
        MakeVideoPack(pack, static_cast<uint8_t>(0x50 + i), i == 0);
        w.AddPack(pack);
    }
    w.NextFile();
    for (int i = 0; i < 6; ++i) {
        MakeVideoPack(pack, static_cast<uint8_t>(0x60 + i));
        w.AddPack(pack);
    }
    w.AddBlank(1);
    AddVobuWithBlanks(w, 1, 1, 2, 0);
    w.Finish();
    ASSERT_EQ(w.Files().size(), 2u);
    const Packs originalSecond = ReadPacks(Vob(2));
    m_Engine.m_RemoveUnrefed = 1;
    Run(Vob(1));

    Packs first = ReadPacks(Vob(1));
    Packs second = ReadPacks(Vob(2));
    ASSERT_EQ(first.size(), 4u);
    ASSERT_EQ(second.size(), 9u);
    EXPECT_EQ(ReadNav(first[0].data()).vobuEnd, 9u);
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(second[i], originalSecond[i]) << "pack " << i << " of the second file";
    }
    ExpectConsistentNavpacks(Concat({Vob(1), Vob(2)}));
    auto logs = CapturedSinks::Logs();
    EXPECT_TRUE(HasLine(logs, "Adjusting Fwd pointer in previous VOB at LBA 0"));
    EXPECT_FALSE(HasLine(logs, "Adjusting Fwd pointer at LBA 0"));
    EXPECT_TRUE(CapturedSinks::Alerts().empty());
}

TEST_F(VobPass, FilesWithGapsInTheirNumberingAreRenumberedAndRestoreGivesBackTheGappedSet) {
    StreamWriter w(m_Dir, 1, 10, 1, 2);  // VTS_01_1, VTS_01_3
    for (int i = 0; i < 4; ++i) {
        w.AddVobu(1, static_cast<uint8_t>(1 + i / 2), 4);
    }
    w.Finish();
    ASSERT_EQ(w.Files().back(), Vob(3));
    auto one = ReadBytes(Vob(1));
    auto three = ReadBytes(Vob(3));
    Run(Vob(1));

    EXPECT_FALSE(FileExists(Vob(3)));
    EXPECT_EQ(ReadBytes(Vob(2)), three);  // nothing to change: the same bytes, renamed
    ExpectConsistentNavpacks(Concat({Vob(1), Vob(2)}));
    EXPECT_TRUE(HasLine(CapturedSinks::Logs(), "Renaming VTS_01_3 to VTS_01_2"));

    m_Engine.RestoreBackup();
    EXPECT_EQ(ReadBytes(Vob(1)), one);
    EXPECT_FALSE(FileExists(Vob(2)));  // the renamed output goes
    EXPECT_EQ(ReadBytes(Vob(3)), three);
}

TEST_F(VobPass, InPlaceAFileThatLosesEveryPackIsRemovedAndTheNextRenamed) {
    StreamWriter w(m_Dir, 1, 10);
    w.AddVobu(1, 1, 9);
    w.AddBlank(10);  // all of VTS_01_2
    w.AddVobu(1, 2, 9);
    w.Finish();
    ASSERT_EQ(w.Files().size(), 3u);
    m_Engine.m_InPlace = 1;
    m_Engine.m_RemoveUnrefed = 1;
    Run(Vob(1));

    EXPECT_FALSE(FileExists(Vob(3)));
    EXPECT_EQ(ReadPacks(Vob(2)).size(), 10u);
    ExpectConsistentNavpacks(Concat({Vob(1), Vob(2)}));
    auto logs = CapturedSinks::Logs();
    EXPECT_TRUE(HasLine(logs, "VTS_01_2 is empty... removing."));
    EXPECT_TRUE(HasLine(logs, "Renaming VTS_01_3 to VTS_01_2"));
}

TEST_F(VobPass, MenuVobsAreProcessedAloneAndAnEmptiedMenuIsRemoved) {
    {
        StreamWriter menu(m_Dir + "/VTS_01_0.VOB");
        AddVobuWithBlanks(menu, 1, 1, 3, 2);
        AddVobuWithBlanks(menu, 1, 2, 3, 0);
        StreamWriter title(m_Dir, 1, 100);  // not part of the menu's run
        title.AddVobu(1, 1, 3);
        StreamWriter vmg(m_Dir + "/VIDEO_TS.VOB");
        vmg.AddBlank(4);
    }
    auto title = ReadBytes(Vob(1));
    m_Engine.m_RemoveUnrefed = 1;
    Run(m_Dir + "/VTS_01_0.VOB");
    Packs out = ReadPacks(m_Dir + "/VTS_01_0.VOB");
    EXPECT_EQ(out.size(), 8u);
    ExpectConsistentNavpacks(out);
    EXPECT_EQ(ReadBytes(Vob(1)), title);
    EXPECT_FALSE(FileExists(Backup("VTS_01_1.VOB")));

    CapturedSinks::Clear();
    m_Engine.m_InPlace = 1;
    Run(m_Dir + "/VIDEO_TS.VOB");
    EXPECT_FALSE(FileExists(m_Dir + "/VIDEO_TS.VOB"));
    EXPECT_TRUE(HasLine(CapturedSinks::Logs(), "VIDEO_TS is empty... removing."));
}

TEST_F(VobPass, RestoreBringsBackTheOriginalsAndDeleteRemovesTheBackup) {
    StreamWriter w(m_Dir, 1, 10);
    AddVobuWithBlanks(w, 1, 1, 5, 4);
    AddVobuWithBlanks(w, 1, 2, 5, 4);
    w.Finish();
    auto one = ReadBytes(Vob(1));
    auto two = ReadBytes(Vob(2));
    m_Engine.m_RemoveUnrefed = 1;
    Run(Vob(1));
    ASSERT_NE(ReadBytes(Vob(1)), one);

    m_Engine.RestoreBackup();
    EXPECT_EQ(ReadBytes(Vob(1)), one);
    EXPECT_EQ(ReadBytes(Vob(2)), two);
    EXPECT_FALSE(FileExists(Backup("VTS_01_1.VOB")));
    EXPECT_TRUE(HasLine(CapturedSinks::Logs(), "Backup files restored"));
    m_Engine.RestoreBackup();  // nothing left to restore
    EXPECT_EQ(ReadBytes(Vob(1)), one);

    m_Engine.DeleteBackup();
    EXPECT_FALSE(FileExists(m_Dir + "/DorvexBackup"));
}

// The backup holds the only copy of the originals: a second run from backup would put the
// first run's output in its place. It is refused until the backup is restored or deleted.
TEST_F(VobPass, ASecondRunFromBackupIsRefusedUntilTheBackupIsRestoredOrDeleted) {
    StreamWriter w(m_Dir, 1, 100);
    AddVobuWithBlanks(w, 1, 1, 5, 4);
    w.AddVobu(1, 1, 5, 0x0003);
    w.Finish();
    const auto original = ReadBytes(Vob(1));
    m_Engine.m_RemoveUnrefed = 1;
    Run(Vob(1));
    const auto afterFirst = ReadBytes(Vob(1));
    const auto ifoAfterFirst = ReadBytes(IfoPathFor(Vob(1)));

    CapturedSinks::Clear();
    m_Engine.m_RemoveUnrefed = 0;
    m_Engine.m_ResetIlvu = 1;
    Run(Vob(1));
    EXPECT_EQ(m_Engine.m_Refused.load(), 1);
    EXPECT_EQ(CapturedSinks::Alerts(),
              std::vector<std::string>{m_Dir + "/DorvexBackup already holds VTS_01 from an "
                                               "earlier run on these files: Restore Backup to "
                                               "undo that run, or Delete Backup to keep the "
                                               "current files"});
    EXPECT_EQ(ReadBytes(Vob(1)), afterFirst);
    EXPECT_EQ(ReadBytes(IfoPathFor(Vob(1))), ifoAfterFirst);
    EXPECT_EQ(ReadBytes(Backup("VTS_01_1.VOB")), original);

    // Deleting the backup keeps the first run's result and lets a new run start over.
    m_Engine.DeleteBackup();
    m_Engine.m_Refused = 0;
    Run(Vob(1));
    EXPECT_EQ(m_Engine.m_IlvuReset, 1);
    EXPECT_TRUE(ReadNav(ReadPacks(Vob(1))[6].data()).ilvuFieldsClear);
    m_Engine.RestoreBackup();
    EXPECT_EQ(ReadBytes(Vob(1)), afterFirst);
}

// -a clears the ILVU and angle fields of every navpack, in place as from backup, also where
// nothing else of the navpack changes and its category is 0; the counter counts only navpacks
// whose category was not 0.
TEST_F(VobPass, ResetIlvuClearsInPlaceWhatItClearsFromBackup) {
    struct Navpack {
        uint16_t category;
        uint32_t nonSeamless;  // NSML_AGLI of angle 1
    };
    const Navpack navpacks[] = {{0, 0x23}, {pack::kIlvuPreUnit, 0}, {0, 0}, {0x5000, 0x11}};
    for (const bool inPlace : {true, false}) {
        SCOPED_TRACE(inPlace ? "in place" : "from backup");
        const std::string folder = m_Dir + (inPlace ? "/inplace" : "/backup");
        ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
        {
            StreamWriter w(folder, 1, 100);
            for (const Navpack& n : navpacks) {
                IlvuNavFields fields;
                fields.nav.vobId = 1;
                fields.nav.cellId = 1;
                fields.ilvu.category = n.category;
                fields.ilvu.nonSeamlessAngle[0] = n.nonSeamless;
                w.AddIlvuVobu(fields, 2);
            }
        }
        m_Engine.m_InPlace = inPlace ? 1 : 0;
        m_Engine.m_ResetIlvu = 1;
        Run(VobPath(folder, 1, 1));
        EXPECT_EQ(m_Engine.m_IlvuReset, 2);
        const Packs out = ReadPacks(VobPath(folder, 1, 1));
        ASSERT_EQ(out.size(), 12u);
        for (size_t k = 0; k < 4; ++k) {
            EXPECT_TRUE(ReadNav(out[3 * k].data()).ilvuFieldsClear) << "navpack " << k;
        }
    }
}

TEST_F(VobPass, VobIdsAreRemappedInTheNavpacks) {
    StreamWriter w(m_Dir, 1, 100);
    w.AddVobu(5, 3, 2);
    w.AddVobu(5, 4, 2);
    w.AddVobu(9, 1, 2);
    w.AddVobu(5, 3, 2);
    w.Finish();
    m_Engine.m_InPlace = 1;
    Run(Vob(1));
    Packs out = ReadPacks(Vob(1));
    const std::pair<int, int> expected[] = {{1, 1}, {1, 2}, {2, 1}, {1, 1}};
    for (int k = 0; k < 4; ++k) {
        NavView v = ReadNav(out[static_cast<size_t>(k * 3)].data());
        EXPECT_EQ(v.vobId, expected[k].first) << k;
        EXPECT_EQ(v.cellId, expected[k].second) << k;
    }
    EXPECT_EQ(m_Engine.m_NavRemapped.load(), 4);
    ExpectLogged(
        {"Remapping 5/3 to 1/1", "Remapping 9/1 to 2/1", "Found VCID 5/3 at LBA 9 (9 out)"});
}

TEST_F(VobPass, AnAbortWhilePausedStopsBeforeTheFirstPackAndRestoreUndoesIt) {
    StreamWriter w(m_Dir, 1, 100);
    w.AddVobu(1, 1, 5);
    w.Finish();
    auto original = ReadBytes(Vob(1));
    std::thread aborter;
    CapturedSinks::OnLog() = [&](const std::string& line) {
        if (line == "Reset ILVU Ptrs is OFF") {
            m_Engine.m_Pause = 1;
            aborter = std::thread([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(60));
                m_Engine.m_Abort = 1;
            });
        }
    };
    Run(Vob(1));
    aborter.join();

    EXPECT_EQ(m_Engine.m_Phase.load(), PhaseAborted);
    EXPECT_EQ(m_Engine.m_ReadTotal.load(), 0);
    auto logs = CapturedSinks::Logs();
    EXPECT_TRUE(HasLine(logs, kZeroCounts));
    EXPECT_FALSE(HasLine(logs, "Couldn't process IFO file " + m_Dir + "/VTS_01_0.IFO"));
    EXPECT_EQ(ReadBytes(Vob(1)).size(), 0u);
    m_Engine.RestoreBackup();
    EXPECT_EQ(ReadBytes(Vob(1)), original);
}

TEST_F(VobPass, InPlaceARunWaitsForItsFileToAppear) {
    StreamWriter w(m_Dir, 1, 100);
    w.AddVobu(1, 1, 5);
    w.Finish();
    WriteIfoDescribing(m_Dir, 1);
    ASSERT_EQ(m_Engine.Open(Vob(1)), 0);
    ASSERT_EQ(rename(Vob(1).c_str(), (m_Dir + "/held").c_str()), 0);
    m_Engine.m_InPlace = 1;
    m_Engine.m_WaitForFile = 1;
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(350));
        rename((m_Dir + "/held").c_str(), Vob(1).c_str());
    });
    m_Engine.ProcessVts();
    release.join();
    auto logs = CapturedSinks::Logs();
    EXPECT_EQ(CountLines(logs, "Waiting for file VTS_01_1 to be ready for processing"), 1);
    EXPECT_EQ(CountLines(logs, "File VTS_01_1 now ready for processing"), 1);
    EXPECT_TRUE(HasLine(logs, kZeroCounts));
    EXPECT_EQ(m_Engine.m_FileSectors.load(), 6);
}

TEST_F(VobPass, AShortSecondFileIsReportedAndSkipped) {
    StreamWriter w(m_Dir, 1, 10);
    w.AddVobu(1, 1, 9);
    w.NextFile();
    w.Finish();
    WriteBytes(Vob(2), std::vector<uint8_t>(1500, 0x33));
    {
        StreamWriter third(m_Dir, 1, 10, 3);
        third.AddVobu(1, 2, 9);
    }
    Run(Vob(1));
    EXPECT_EQ(CapturedSinks::Alerts(), std::vector<std::string>{"Couldn't read m_Data"});
    EXPECT_EQ(ReadBytes(Backup("VTS_01_2.VOB")).size(), 1500u);
    EXPECT_FALSE(FileExists(Vob(3)));
    Packs out = Concat({Vob(1), Vob(2)});
    EXPECT_EQ(out.size(), 20u);
    // The second VOBU keeps its LBA from the stream: the partial file added no packs.
    ExpectConsistentNavpacks(out);
    EXPECT_TRUE(HasLine(CapturedSinks::Logs(), "VTS_01_2 is empty... removing."));
}

TEST_F(VobPass, TheNavpackListsGrowPastTheirStatedCapacityAndAlertOnce) {
    // Packs fed straight to ProcessPack in place, each a navpack already carrying its own LBA
    // and a one-pack VOBU, so nothing needs writing.
    CIfoFile ifo(m_Dir + "/VTS_01_0.IFO");
    m_Engine.m_InPlace = 1;
    m_Engine.m_Cells.assign(kCellCapacity, CellTableEntry{});
    m_Engine.m_NavOld.assign(kNavpackCapacity, 0);
    m_Engine.m_NavNew.assign(kNavpackCapacity, 0);
    m_Engine.m_NavVcid.assign(kNavpackCapacity, 0);
    m_Engine.ResetRunState();
    m_Engine.m_In = m_Engine.m_Out = &m_Engine.m_InFile;  // never opened: a write would fail
    const int32_t total = kNavpackCapacity + 10;
    for (int32_t i = 0; i < total; ++i) {
        NavFields nav{static_cast<uint32_t>(i), 0, 1, 1, 0};
        MakeNavPack(m_Engine.m_Data, nav);
        m_Engine.ProcessPack(ifo);
        m_Engine.m_ReadInFile = m_Engine.m_ReadInFile + 1;
        m_Engine.m_ReadTotal = m_Engine.m_ReadTotal + 1;
    }
    EXPECT_EQ(m_Engine.m_NavCount, total);
    EXPECT_EQ(m_Engine.m_NavOld[total - 1], total - 1);
    EXPECT_EQ(m_Engine.m_NavNew[total - 1], total - 1);
    EXPECT_EQ(m_Engine.m_Failed.load(), 0);
    EXPECT_EQ(CapturedSinks::Alerts(), std::vector<std::string>{"Too many navpacks!"});
}

// A title set of two files whose runs meet an I/O error.
class VobPassFaults : public VobPass {
  protected:
    void SetUp() override {
        VobPass::SetUp();
        StreamWriter w(m_Dir, 1, 20);
        AddVobuWithBlanks(w, 1, 1, 8, 3);
        AddVobuWithBlanks(w, 1, 2, 9, 3);
        AddVobuWithBlanks(w, 2, 1, 7, 3);
        w.Finish();
        m_Files = w.Files();
        ASSERT_EQ(m_Files.size(), 2u);
        for (const auto& f : m_Files) {
            m_Originals.push_back(ReadBytes(f));
        }
        m_Engine.m_RemoveUnrefed = 1;
    }
    void ExpectRestoreGivesBackTheOriginals() {
        m_Engine.RestoreBackup();
        for (size_t i = 0; i < m_Files.size(); ++i) {
            EXPECT_EQ(ReadBytes(m_Files[i]), m_Originals[i]) << m_Files[i];
        }
    }
    std::vector<std::string> m_Files;
    std::vector<std::vector<uint8_t>> m_Originals;
};

struct FaultCase {
    const char* name;
    FileOp op;
    const char* file;  // the file whose operation fails, in the folder; null: every file
    bool inPlace;
    const char* alert;       // the alert before the path of alertFile
    const char* alertFile;   // in the folder
    const char* alertAfter;  // after the path; null: ": " and the text of EIO
};

const FaultCase kFaults[] = {
    {"AFailedWriteInTheSecondFile", FileOp::Write, "VTS_01_2.VOB", false, "Couldn't write ",
     "VTS_01_2.VOB", nullptr},
    {"AFailedFlushWhenTheFirstFileCloses", FileOp::Write, "VTS_01_1.VOB", false, "Couldn't write ",
     "VTS_01_1.VOB", nullptr},
    {"AFailedReadOfTheBackupCopy", FileOp::Read, "DorvexBackup/VTS_01_2.VOB", false,
     "Couldn't read ", "DorvexBackup/VTS_01_2.VOB", nullptr},
    {"InPlaceAFailedTruncation", FileOp::Truncate, nullptr, true, "Couldn't truncate ",
     "VTS_01_1.VOB", nullptr},
    {"AFileThatCannotBeOpened", FileOp::Create, "VTS_01_2.VOB", false, "Couldn't open ",
     "VTS_01_2.VOB", " for writing"},
};

void PrintTo(const FaultCase& c, std::ostream* out) {
    *out << c.name;
}

class VobPassFault : public VobPassFaults, public ::testing::WithParamInterface<FaultCase> {};

// The run stops at once as failed, with one alert naming the file; it neither tidies the files
// nor repairs the IFO, and every original byte is recoverable: from backup by Restore Backup, in
// place (failing in the first file) by the second file never being touched.
TEST_P(VobPassFault, StopsTheRunAndKeepsEveryOriginalByte) {
    const FaultCase& c = GetParam();
    const std::string failing = c.file != nullptr ? m_Dir + "/" + c.file : std::string();
    m_FileSystem.SetRule([&c, failing](FileOp op, const std::string& path, int64_t) {
        return !(op == c.op && (failing.empty() || path == failing));
    });
    m_Engine.m_InPlace = c.inPlace ? 1 : 0;
    Run(Vob(1));

    EXPECT_EQ(m_Engine.m_Failed.load(), 1);
    EXPECT_TRUE(m_Engine.RunInterrupted());
    EXPECT_EQ(m_Engine.m_Phase.load(), PhaseAborted);
    const std::string after =
        c.alertAfter != nullptr ? c.alertAfter : std::string(": ") + strerror(EIO);
    EXPECT_EQ(CapturedSinks::Alerts(),
              std::vector<std::string>{c.alert + m_Dir + "/" + c.alertFile + after});
    EXPECT_EQ(CountPrefix(CapturedSinks::Logs(), "Renaming"), 0);
    EXPECT_EQ(CountPrefix(CapturedSinks::Logs(), "Couldn't process IFO file"), 0);
    if (c.inPlace) {
        EXPECT_EQ(ReadBytes(Vob(2)), m_Originals[1]);
    } else {
        ExpectRestoreGivesBackTheOriginals();
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, VobPassFault, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<FaultCase>& info) {
                             return std::string(info.param.name);
                         });

// A real write failure rather than an injected one: a file-size limit makes the kernel refuse the
// flush of the first output file part-way, as a full disk would.
TEST_F(VobPassFaults, AFileSizeLimitStopsTheRunAndTheBackupKeepsEveryByte) {
    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit limited = saved;
    limited.rlim_cur = 10 * kPack;
    auto* savedHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    Run(Vob(1));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, savedHandler);

    EXPECT_EQ(m_Engine.m_Failed.load(), 1);
    EXPECT_EQ(m_Engine.m_Phase.load(), PhaseAborted);
    EXPECT_EQ(CapturedSinks::Alerts(),
              std::vector<std::string>{"Couldn't write " + Vob(1) + ": " + strerror(EFBIG)});
    EXPECT_EQ(CountPrefix(CapturedSinks::Logs(), "Processing " + Vob(2)), 0);
    ExpectRestoreGivesBackTheOriginals();
}

}  // namespace
}  // namespace dorvex::testkit
