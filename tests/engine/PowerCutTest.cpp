// A power cut during an in-place run: whatever part of the run's writes the disk kept, running
// the same command again after the restart finishes the run byte for byte, or refuses, changes
// nothing and says what was lost. It never reports done over a title set that is not what an
// uninterrupted run gives.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "EngineFixture.h"
#include "common/DiscBuilder.h"
#include "common/IfoBuilder.h"
#include "common/PowerCutFileSystem.h"

namespace dorvex::testkit {
namespace {

namespace fs = std::filesystem;

// A title set over three files with what makes an in-place pass hard to finish: blanks early in
// the first cell (every later pack of the file moves down by two), a first navpack that stays
// where it is but is rewritten (its next VOBU moves), a second file that is one cell no PGC
// plays (removed whole; the tidy step renames the third file after it), and in the third file a
// long unplayed cell in the middle (the rest moves down by 32 packs).
void MakePowerCutDisc(const std::string& folder) {
    fs::create_directories(folder);
    VmgSpec vmg;
    vmg.titles = {TitleSpec{1, 1, 0}};
    WriteIfoPair(folder + "/VIDEO_TS.IFO", BuildVmgIfo(vmg));
    StreamWriter titles(folder, 1, 1000);
    titles.AddVobuEndingInBlanks(1, 1, 5, 2);
    titles.AddVobu(1, 1, 5);
    titles.AddVobu(1, 2, 5);
    titles.NextFile();
    titles.AddVobu(1, 3, 5);
    titles.AddVobu(1, 3, 5);
    titles.NextFile();
    titles.AddVobu(2, 1, 5);
    for (int32_t i = 0; i < 4; ++i) {
        titles.AddVobu(2, 2, 7);
    }
    for (int32_t i = 0; i < 3; ++i) {
        titles.AddVobu(2, 3, 5);
    }
    titles.Finish();
    WriteIfoDescribing(folder, 1, {{1, 3}, {2, 2}});
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// The files whose bytes differ between two trees (or that only one has).
std::string Differing(const Tree& a, const Tree& b) {
    std::string names;
    for (const auto& [name, bytes] : a) {
        if (b.count(name) == 0 || b.at(name) != bytes) {
            names += " " + name;
        }
    }
    for (const auto& [name, bytes] : b) {
        if (a.count(name) == 0) {
            names += " +" + name;
        }
    }
    return names;
}

class PowerCut : public ::testing::Test {
  protected:
    struct RunResult {
        bool interrupted = false;
        std::vector<std::string> alerts;
        std::vector<std::string> logs;
    };

    void SetUp() override {
        ASSERT_FALSE(m_Dir.empty());
        MakePowerCutDisc(m_Dir);
        m_Input = ReadTree(m_Dir);
    }
    void TearDown() override { CloseLogFile(); }

    // `dorvex -s -i -u` on the title set, through `files`.
    RunResult Run(FileSystem& files) {
        CapturedSinks::Clear();
        CVtsCleaner engine(files);
        engine.m_LogPath = m_LogDir.Path() + "/Dorvex.log";
        engine.m_InPlace = 1;
        engine.m_RemoveUnrefed = 1;
        EXPECT_EQ(engine.Open(VobPath(m_Dir, 1, 1)), 0);
        engine.ProcessVts();
        return {engine.RunInterrupted(), CapturedSinks::Alerts(), CapturedSinks::Logs()};
    }
    // The same run after the machine came back, on the disk as the cut left it.
    RunResult RunAfterRestart() { return Run(TheRealFileSystem()); }
    // A run cut by a power cut in place of its (n+1)-th change or flush.
    void RunCutAfter(int64_t n, uint64_t seed) {
        StartAgain();
        PowerCutFileSystem files;
        files.MarkDurable(m_Dir);
        files.CutAfter(n, seed);
        Run(files);
        ASSERT_TRUE(files.WasCut());
        m_CutAt = files.CutAt();
    }
    static std::string Journal() { return "VTS_01.dorvex-journal"; }
    void StartAgain() {
        for (const auto& entry : fs::directory_iterator(m_Dir)) {
            fs::remove_all(entry.path());
        }
        for (const auto& [name, bytes] : m_Input) {
            WriteFile(m_Dir + "/" + name, bytes);
        }
    }

    TempDir m_Temp{TempDir::MemoryBase()};
    TempDir m_LogDir{TempDir::MemoryBase()};
    const std::string m_Dir = m_Temp.Path();
    ScopedSinks m_Sinks{CapturedSinks::Log, CapturedSinks::Alert};
    Tree m_Input;
    std::string m_CutAt;
};

// Cut in place of every change and flush of the run, three ways each, then run again after the
// restart: identical to the uninterrupted run, or refused with every file as the cut left it and
// an alert.
TEST_F(PowerCut, ARunCutAtAnyPointIsFinishedByteForByteOrRefusedUnchanged) {
    ASSERT_FALSE(Run(TheRealFileSystem()).interrupted);
    const Tree cleaned = ReadTree(m_Dir);
    // The disc holds what it promises: a first navpack rewritten where it stands, a file cut
    // short, the emptied second file gone and the third renamed after it.
    const std::string first = m_Input.at("VTS_01_1.VOB");
    EXPECT_NE(cleaned.at("VTS_01_1.VOB").substr(0, kPack), first.substr(0, kPack));
    EXPECT_LT(cleaned.at("VTS_01_1.VOB").size(), first.size());
    EXPECT_EQ(cleaned.count("VTS_01_3.VOB"), 0u);
    EXPECT_LT(cleaned.at("VTS_01_2.VOB").size(), m_Input.at("VTS_01_3.VOB").size());

    StartAgain();
    PowerCutFileSystem counting;
    counting.MarkDurable(m_Dir);
    ASSERT_FALSE(Run(counting).interrupted);
    ASSERT_TRUE(ReadTree(m_Dir) == cleaned);
    const int64_t points = counting.Operations();

    int32_t identical = 0;
    int32_t refused = 0;
    // What went wrong, by kind: the examples of each.
    std::map<std::string, std::vector<std::string>> wrong;
    for (int64_t n = 0; n < points; ++n) {
        for (uint64_t seed : {1u, 2u, 3u}) {
            RunCutAfter(n, seed);
            const Tree cut = ReadTree(m_Dir);
            const RunResult finish = RunAfterRestart();
            const Tree after = ReadTree(m_Dir);
            if (!finish.interrupted && after == cleaned) {
                ++identical;
                continue;
            }
            if (finish.interrupted && after == cut && !finish.alerts.empty()) {
                ++refused;
                continue;
            }
            const std::string said = finish.alerts.empty() ? "" : ": " + finish.alerts.back();
            std::string kind = "stopped without an alert";
            std::string what;
            if (!finish.interrupted) {
                kind = "reported done, not what an uninterrupted run gives";
                what = "differ:" + Differing(after, cleaned);
            } else if (after != cut) {
                const std::string changed = Differing(after, cut);
                kind = changed == " " + Journal() ? "stopped, having changed its journal"
                                                  : "stopped, having changed the title set";
                what = "changed" + changed + said;
            }
            wrong[kind].push_back("cut in place of op " + std::to_string(n + 1) + " (" + m_CutAt +
                                  "), seed " + std::to_string(seed) + ": " + what);
        }
    }
    std::string summary;
    for (const auto& [kind, cases] : wrong) {
        summary += "\n" + std::to_string(cases.size()) + " " + kind + ", such as:";
        for (size_t i = 0; i < cases.size() && i < 4; ++i) {
            summary += "\n  " + cases[i];
        }
    }
    EXPECT_TRUE(wrong.empty()) << points << " points x 3 seeds: " << identical << " identical, "
                               << refused << " refused unchanged" << summary;
}

}  // namespace
}  // namespace dorvex::testkit
