// Where the kernel will not copy between the files (another file system, a network or FUSE
// mount, an older kernel) or copies less than asked, a run copies through memory instead: the
// same bytes as where it copies, and not a word more in the log.
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <filesystem>

#include "EngineFixture.h"
#include "common/DiscBuilder.h"
#include "common/IfoBuilder.h"
#include "support/Paths.h"

namespace dorvex::testkit {
namespace {

namespace fs = std::filesystem;

// A blank pack first (in place, everything after it moves), an unplayed cell of an odd number of
// packs over the end of the first read-ahead buffer (the run before it is still waiting when the
// buffer refills, and is then copied from the file, not from memory; every later pack lands half
// a page off its source), and blank packs further on.
void MakeDisc(const std::string& folder) {
    fs::remove_all(folder);
    fs::create_directories(folder);
    VmgSpec vmg;
    vmg.titles = {TitleSpec{1, 1, 0}};
    WriteIfoPair(folder + "/VIDEO_TS.IFO", BuildVmgIfo(vmg));
    StreamWriter titles(folder, 1, 1500);
    titles.AddVobuEndingInBlanks(1, 1, 199, 1);
    titles.AddVobu(1, 1, 200);
    titles.AddVobu(1, 2, 150);
    for (int32_t i = 0; i < 16; ++i) {
        if (i % 5 == 2) {
            titles.AddVobuEndingInBlanks(1, 3, 170, 1 + i % 3);
        } else {
            titles.AddVobu(1, 3, 180 + i);
        }
    }
    titles.Finish();
    WriteIfoDescribing(folder, 1, {{1, 2}});
}

struct RunResult {
    Tree files;
    std::vector<std::string> logs;
    std::vector<std::string> alerts;
};

class KernelCopyFallback : public EngineTest {
  protected:
    // `dorvex -s -u [-i]` on a fresh copy of the disc, through m_FileSystem.
    RunResult Run(bool inPlace) {
        MakeDisc(m_Disc);
        CapturedSinks::Clear();
        CVtsCleaner::s_BlankSkippedInPlace = 0;  // the in-place messages are counted per process
        CVtsCleaner engine(m_FileSystem);
        engine.m_LogPath = m_Dir + "/Dorvex.log";
        engine.m_InPlace = inPlace ? 1 : 0;
        engine.m_RemoveUnrefed = 1;
        EXPECT_EQ(engine.Open(VobPath(m_Disc, 1, 1)), 0);
        engine.ProcessVts();
        EXPECT_EQ(engine.m_Failed.load(), 0);
        return {ReadTree(m_Disc), CapturedSinks::Logs(), CapturedSinks::Alerts()};
    }

    const std::string m_Disc = m_Dir + "/VIDEO_TS";
};

TEST_F(KernelCopyFallback, EveryRefusalAndShortCopyGivesTheSameBytesAndLog) {
    struct Case {
        const char* name;
        KernelCopyFault fault;
    };
    const Case cases[] = {
        {"across file systems (EXDEV)", {0, 0, EXDEV}},
        {"not supported (EOPNOTSUPP)", {0, 0, EOPNOTSUPP}},
        {"not taken (EINVAL)", {0, 0, EINVAL}},
        {"no such call (ENOSYS)", {0, 0, ENOSYS}},
        {"nothing copied", {0, 0, 0}},
        {"a short copy, then nothing", {3 * kPack + 100, 1, 0}},
        {"short copies, then EOPNOTSUPP", {5000, 2, EOPNOTSUPP}},
        {"every copy short", {2 * kPack + 7, INT_MAX, 0}},
    };
    for (const bool inPlace : {false, true}) {
        m_FileSystem.SetKernelCopyFault(std::nullopt);
        const RunResult copied = Run(inPlace);
        ASSERT_TRUE(copied.alerts.empty());
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (inPlace ? ", in place" : ", from backup"));
            m_FileSystem.SetKernelCopyFault(c.fault);
            const RunResult fallback = Run(inPlace);
            EXPECT_GT(m_FileSystem.KernelCopyCalls(), 0);
            EXPECT_TRUE(fallback.files == copied.files);
            EXPECT_EQ(fallback.logs, copied.logs);
            EXPECT_TRUE(fallback.alerts.empty());
        }
    }
}

}  // namespace
}  // namespace dorvex::testkit
