// An in-place run that stops part way (here: one of its file operations fails) is finished by
// the next run with the same options, byte for byte as if it had never stopped; and while its
// journal is there, nothing else works on the half-moved title set.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "EngineFixture.h"
#include "common/DiscBuilder.h"
#include "engine/check/VerifyFolder.h"
#include "engine/journal/JournalFile.h"
#include "engine/journal/JournalRecords.h"

namespace dorvex::testkit {
namespace {

namespace fs = std::filesystem;

void WriteText(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class InPlaceJournal : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        m_Engine.m_LogPath = m_LogDir.Path() + "/Dorvex.log";  // the disc folder holds the disc
        m_Engine.m_InPlace = 1;
        m_Engine.m_RemoveUnrefed = 1;
        MakeDamagedDisc(m_Dir);
        m_Input = ReadTree(m_Dir);
    }
    void Run() {
        CapturedSinks::Clear();
        m_Engine.m_Abort = 0;
        m_Engine.m_Failed = 0;
        m_Engine.m_Refused = 0;
        m_Engine.m_JournalLeft = 0;
        ASSERT_EQ(m_Engine.Open(Vob(1)), 0);
        m_Engine.ProcessVts();
    }
    void StartAgain() {
        fs::remove_all(m_Dir);
        fs::create_directories(m_Dir);
        for (const auto& [name, bytes] : m_Input) {
            WriteText(m_Dir + "/" + name, bytes);
        }
    }
    // The disc as an uninterrupted run leaves it.
    Tree Cleaned() {
        Run();
        EXPECT_FALSE(m_Engine.RunInterrupted());
        Tree cleaned = ReadTree(m_Dir);
        StartAgain();
        return cleaned;
    }
    // Fails the n-th operation of kind op; counts them all in m_Seen.
    void FailNth(FileOp op, int32_t n) {
        m_Seen = 0;
        m_FileSystem.SetRule([this, op, n](FileOp what, const std::string&, int64_t) {
            return what != op || ++m_Seen != n;
        });
    }
    std::string Journal() const { return m_Dir + "/VTS_01.dorvex-journal"; }
    // A journal the way an interrupted run leaves it: the pass stopped at its n-th write (the
    // third is its first VOB write).
    void Interrupt(int32_t write = 3) {
        FailNth(FileOp::Write, write);
        Run();
        m_FileSystem.SetRule(nullptr);
        ASSERT_TRUE(fs::exists(Journal()));
        ASSERT_NE(m_Engine.m_JournalLeft.load(), 0);
    }

    TempDir m_LogDir;
    Tree m_Input;
    int32_t m_Seen = 0;
};

TEST_F(InPlaceJournal, ARunStoppedByAnyFailingOperationIsFinishedByteForByte) {
    const Tree cleaned = Cleaned();
    for (FileOp op : {FileOp::Write, FileOp::Truncate, FileOp::Sync, FileOp::Rename, FileOp::Remove,
                      FileOp::Create}) {
        FailNth(op, 0);
        Run();
        const int32_t count = m_Seen;
        StartAgain();
        ASSERT_GT(count, 0);
        for (int32_t n = 1; n <= count; ++n) {
            SCOPED_TRACE("operation " + std::to_string(static_cast<int>(op)) + " number " +
                         std::to_string(n) + " of " + std::to_string(count));
            FailNth(op, n);
            Run();
            m_FileSystem.SetRule(nullptr);
            const bool stopped = m_Engine.RunInterrupted();
            const bool journalLeft = fs::exists(Journal());
            EXPECT_EQ(m_Engine.m_JournalLeft.load() != 0, journalLeft);
            EXPECT_TRUE(stopped || !journalLeft);
            Run();
            EXPECT_FALSE(m_Engine.RunInterrupted())
                << testing::PrintToString(CapturedSinks::Alerts());
            if (journalLeft) {
                EXPECT_TRUE(HasLine(CapturedSinks::Logs(),
                                    "Finishing the interrupted in-place run of VTS_01 ..."));
            }
            EXPECT_TRUE(ReadTree(m_Dir) == cleaned);
            StartAgain();
        }
    }
}

// A power cut can keep the records after a part's cut and lose the cut itself (parts only
// shrink in place, and every cut is announced by a flushed record): the part is longer than the
// journal says, its tail stale. The finishing run cuts it again and finishes byte for byte.
TEST_F(InPlaceJournal, ACutTheDiskDidNotKeepIsMadeAgain) {
    const Tree cleaned = Cleaned();
    const std::string first = Vob(1);
    bool cut = false;
    int32_t writesAfter = 0;
    m_FileSystem.SetRule([&](FileOp op, const std::string& path, int64_t) {
        cut = cut || (op == FileOp::Truncate && path == first);
        return !(cut && op == FileOp::Write && ++writesAfter == 3);
    });
    Run();
    m_FileSystem.SetRule(nullptr);
    ASSERT_TRUE(cut);
    ASSERT_TRUE(m_Engine.RunInterrupted());
    const std::string input = m_Input.at("VTS_01_1.VOB");
    const std::string now = ReadText(first);
    ASSERT_LT(now.size(), input.size());
    WriteText(first, now + input.substr(now.size()));
    Run();
    EXPECT_FALSE(m_Engine.RunInterrupted()) << testing::PrintToString(CapturedSinks::Alerts());
    EXPECT_TRUE(ReadTree(m_Dir) == cleaned);
}

// What a run killed while it made its journal leaves, and what stands under the journal's name.
TEST_F(InPlaceJournal, AJournalWithoutItsHeaderIsDroppedAnythingElseIsLeftAlone) {
    const Tree cleaned = Cleaned();
    struct Case {
        const char* what;
        std::string bytes;  // of the file under the journal's name; "link" and "folder" aside
        bool runs;          // the run goes ahead (the journal is removed)
    };
    // A header frame's size, its fingerprint, then the header as far as it got.
    const std::string start = std::string("\x40\x00\x00\x00", 4) + std::string(8, 'x') +
                              "DORVEXJL" + std::string("\x01\x00", 2);
    // A whole header whose first page, or a later one, never reached the disk (a power cut that
    // kept the journal's length).
    Interrupt();
    const std::string journal = ReadText(Journal());
    const size_t headerEnd = 12 + static_cast<uint8_t>(journal[0]) +
                             (static_cast<size_t>(static_cast<uint8_t>(journal[1])) << 8) +
                             (static_cast<size_t>(static_cast<uint8_t>(journal[2])) << 16);
    ASSERT_GE(headerEnd, 2u * 4096u);
    std::string firstPageLost = journal.substr(0, headerEnd);
    std::string laterPageLost = firstPageLost;
    firstPageLost.replace(0, 4096, 4096, '\0');
    laterPageLost.replace(4096, 4096, 4096, '\0');
    const Case cases[] = {
        {"empty", "", true},
        {"zeros", std::string(300, '\0'), true},
        {"torn header", start, true},
        {"header's first page lost", firstPageLost, true},
        {"a page of the header lost", laterPageLost, true},
        {"someone's text", "a shopping list", false},
        {"link", "link", false},
        {"folder", "folder", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StartAgain();
        const std::string elsewhere = m_LogDir.Path() + "/elsewhere";
        WriteText(elsewhere, "not ours");
        if (c.bytes == "link") {
            fs::create_symlink(elsewhere, Journal());
        } else if (c.bytes == "folder") {
            fs::create_directory(Journal());
        } else {
            WriteText(Journal(), c.bytes);
        }
        const Tree before = ReadTree(m_Dir);
        Run();
        if (c.runs) {
            EXPECT_FALSE(m_Engine.RunInterrupted());
            EXPECT_TRUE(ReadTree(m_Dir) == cleaned);
        } else {
            EXPECT_EQ(m_Engine.m_Refused.load(), 1);
            EXPECT_TRUE(ReadTree(m_Dir) == before);
            EXPECT_TRUE(fs::exists(fs::symlink_status(Journal())));
        }
        EXPECT_EQ(ReadText(elsewhere), "not ours");
        fs::remove_all(Journal());
    }
}

TEST_F(InPlaceJournal, WhileAJournalIsThereNothingElseWorksOnTheTitleSet) {
    const Tree cleaned = Cleaned();
    Interrupt();
    const Tree half = ReadTree(m_Dir);
    fs::create_directories(m_Dir + "/DorvexBackup");
    const struct {
        const char* what;
        std::function<void()> act;
    } others[] = {
        {"other options", [&] { m_Engine.m_RemoveUnrefed = 0, Run(); }},
        {"from backup", [&] { m_Engine.m_InPlace = 0, Run(); }},
        {"restore", [&] { m_Engine.RestoreBackup(); }},
        {"delete backup", [&] { m_Engine.DeleteBackup(); }},
    };
    for (const auto& other : others) {
        SCOPED_TRACE(other.what);
        CapturedSinks::Clear();
        m_Engine.m_Refused = 0;
        other.act();
        m_Engine.m_RemoveUnrefed = 1;
        m_Engine.m_InPlace = 1;
        EXPECT_EQ(m_Engine.m_Refused.load(), 1);
        const auto alerts = CapturedSinks::Alerts();
        ASSERT_EQ(alerts.size(), 1u);
        EXPECT_EQ(alerts[0].rfind("VTS_01 is half cleaned: an in-place run (options -i -u) was "
                                  "interrupted",
                                  0),
                  0u)
            << alerts[0];
        EXPECT_TRUE(ReadTree(m_Dir) == half);
    }

    // The checker says it once, in place of what the half-moved stream would show.
    const CVerifyReport report = VerifyFolder(m_Dir);
    ASSERT_EQ(report.Groups().size(), 2u);
    const VerifyGroup& set = report.Groups()[1];
    ASSERT_EQ(set.findings.size(), 1u);
    EXPECT_EQ(set.findings[0].kind, finding::kHalfCleaned);

    Run();
    fs::remove(m_Dir + "/DorvexBackup");
    EXPECT_FALSE(m_Engine.RunInterrupted());
    EXPECT_TRUE(ReadTree(m_Dir) == cleaned);
}

// Rewrites an interrupted run's journal: its header and records as `change` leaves them.
void ForgeJournal(
    const std::string& path,
    const std::function<void(JournalHeader&, std::vector<std::vector<uint8_t>>&)>& change) {
    JournalFile file(TheRealFileSystem());
    std::vector<std::vector<uint8_t>> frames;
    ASSERT_TRUE(file.Open(path, frames)) << file.LastError();
    JournalHeader header;
    ASSERT_TRUE(DecodeJournalHeader(frames.front(), header));
    change(header, frames);
    frames.front() = EncodeJournalHeader(header);
    ASSERT_TRUE(file.Replace(frames)) << file.LastError();
    file.Close();
}

// Appends to an interrupted run's journal a checkpoint as its last one, writing `pieces` and
// making `moves`.
void AppendForgedRecord(const std::string& path, const std::vector<PiecesToRecord>* pieces,
                        const std::vector<MoveToRecord>* moves) {
    ForgeJournal(path, [&](JournalHeader& header, auto& frames) {
        JournalRecord last;
        PassTables tables;
        for (size_t i = 1; i < frames.size(); ++i) {
            ASSERT_TRUE(DecodeJournalRecord(frames[i], header, last, tables));
        }
        PassRecordToEncode record;
        record.at = &last.at;
        record.files = &last.files;
        record.pieces = pieces;
        record.moves = moves;
        JournalCursor whole;
        frames.emplace_back();
        EncodePassRecord(frames.back(), record, tables, whole);
    });
}

// A journal is used only on the files it describes: whatever stands in the way is refused before
// anything changes, and a file put back as the run left it lets the run be finished.
TEST_F(InPlaceJournal, AJournalIsUsedOnlyOnTheFilesItDescribes) {
    const Tree cleaned = Cleaned();
    // Far enough into the pass that packs have moved.
    constexpr int32_t kMidPass = 6;
    const std::string part = Vob(1);
    const std::string elsewhere = m_LogDir.Path() + "/elsewhere.VOB";
    const struct {
        const char* what;
        std::function<void()> change;
        const char* said;  // in the refusal
        bool putBack;      // writing the half-cleaned bytes back lets the run be finished
    } cases[] = {
        {"the originals copied over the half-cleaned files",
         [&] {
             for (const auto& [name, bytes] : m_Input) {
                 if (name.find("_0.") == std::string::npos) {
                     WriteText(m_Dir + "/" + name, bytes);
                 }
             }
         },
         "the interrupted run left", true},
        {"a part cut short", [&] { fs::resize_file(part, fs::file_size(part) - 2048); },
         "the interrupted run left", true},
        {"a part replaced by a copy of itself",
         [&] {
             fs::copy_file(part, part + ".copy");
             fs::rename(part + ".copy", part);
         },
         "is another file", false},
        {"a part replaced by a link",
         [&] {
             fs::copy_file(part, elsewhere, fs::copy_options::overwrite_existing);
             fs::remove(part);
             fs::create_symlink(elsewhere, part);
         },
         "is not a regular file", false},
        {"a byte flipped in the journal's first record, records after it",
         [&] {
             std::string bytes = ReadText(Journal());
             const size_t header = 12 + static_cast<uint8_t>(bytes[0]) +
                                   256 * static_cast<size_t>(static_cast<uint8_t>(bytes[1]));
             bytes[header + 20] = static_cast<char>(bytes[header + 20] ^ 0x40);
             WriteText(Journal(), bytes);
         },
         "is damaged", false},
        {"a part named outside the title set",
         [&] { ForgeJournal(Journal(), [](auto& header, auto&) { header.parts[0].name = "x"; }); },
         "names other files", false},
        {"an IFO copy that cannot be used",
         [&] { ForgeJournal(Journal(), [](auto& header, auto&) { header.ifo.resize(10); }); },
         "holds an IFO that cannot be used", false},
        {"a record writing far beyond its part",
         [&] {
             const std::vector<uint8_t> pack(2048, 0x5A);
             const std::vector<PiecesToRecord> far = {{0, int64_t{1} << 40, 1, pack.data()}};
             AppendForgedRecord(Journal(), &far, nullptr);
         },
         "is damaged", false},
        {"a record moving packs up",
         [&] {
             const uint64_t fingerprint = 0;
             const std::vector<MoveToRecord> up = {{0, 5, 3, 1, &fingerprint}};
             AppendForgedRecord(Journal(), nullptr, &up);
         },
         "is damaged", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        StartAgain();
        Interrupt(kMidPass);
        const Tree half = ReadTree(m_Dir);
        ASSERT_FALSE(half == m_Input);
        c.change();
        const Tree changed = ReadTree(m_Dir);
        Run();
        EXPECT_EQ(m_Engine.m_Refused.load(), 1);
        const auto alerts = CapturedSinks::Alerts();
        ASSERT_EQ(alerts.size(), 1u);
        EXPECT_EQ(alerts[0].rfind("Couldn't finish the interrupted in-place run of VTS_01: ", 0),
                  0u);
        EXPECT_NE(alerts[0].find(c.said), std::string::npos) << alerts[0];
        EXPECT_TRUE(ReadTree(m_Dir) == changed);
        if (c.putBack) {
            for (const auto& [name, bytes] : half) {
                WriteText(m_Dir + "/" + name, bytes);
            }
            Run();
            EXPECT_FALSE(m_Engine.RunInterrupted())
                << testing::PrintToString(CapturedSinks::Alerts());
            EXPECT_TRUE(ReadTree(m_Dir) == cleaned);
        }
    }
    // A title set's journal renamed to its menu's is not the menu's.
    StartAgain();
    Interrupt();
    fs::rename(Journal(), m_Dir + "/VTS_01_menu.dorvex-journal");
    const Tree renamed = ReadTree(m_Dir);
    CapturedSinks::Clear();
    ASSERT_EQ(m_Engine.Open(Vob(0)), 0);
    m_Engine.m_Refused = 0;
    m_Engine.ProcessVts();
    EXPECT_EQ(m_Engine.m_Refused.load(), 1) << testing::PrintToString(CapturedSinks::Alerts())
                                            << testing::PrintToString(CapturedSinks::Logs());
    EXPECT_TRUE(ReadTree(m_Dir) == renamed);
}

}  // namespace
}  // namespace dorvex::testkit
