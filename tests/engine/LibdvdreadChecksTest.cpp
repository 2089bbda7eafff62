// The checker's view of what libdvdread refuses or complains about when it opens an IFO, held
// against libdvdread itself: IFOs written by dvdauthor, each changed one way, opened by both.
// Whatever libdvdread refuses, the check must fail; what it complains about among the fields the
// cleaner writes, the check must name; and it must not complain where libdvdread does not.
#include <dvdread/dvd_reader.h>
#include <dvdread/ifo_read.h>
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "common/StreamBuilder.h"
#include "common/TempDir.h"
#include "engine/check/VerifyLibdvdread.h"
#include "ifo/IfoFile.h"
#include "ifo/IfoLayout.h"
#include "support/BigEndian.h"
#include "support/Sinks.h"

namespace dorvex::testkit {
namespace {

std::vector<std::string>& ReaderLines() {
    static std::vector<std::string> lines;
    return lines;
}

void CollectLog(void*, dvd_logger_level_t, const char* format, va_list args) {
    char line[512];
    vsnprintf(line, sizeof(line), format, args);
    if (strstr(line, "css") == nullptr && strstr(line, "device name") == nullptr) {
        ReaderLines().push_back(line);
    }
}

struct Verdict {
    bool refused = false;
    bool warned = false;
};

// libdvdread's verdict on IFO number title of the folder (0: VIDEO_TS.IFO).
Verdict Libdvdread(const std::string& folder, int title) {
    ReaderLines().clear();
    static const dvd_logger_cb logger = {CollectLog};
    dvd_reader_t* dvd = DVDOpen2(nullptr, &logger, folder.c_str());
    Verdict verdict;
    if (dvd == nullptr) {
        verdict.refused = true;
        return verdict;
    }
    ifo_handle_t* handle = ifoOpen(dvd, title);
    verdict.refused = handle == nullptr;
    for (const std::string& line : ReaderLines()) {
        verdict.warned = verdict.warned || line.find("CHECK_VALUE") != std::string::npos ||
                         line.find("nr_of_vobs") != std::string::npos;
    }
    ifoClose(handle);
    DVDClose(dvd);
    return verdict;
}

// The checker's verdict: a refusal when the IFO does not even load.
Verdict Checker(const std::string& path, std::vector<std::string>& said) {
    Verdict verdict;
    CapturedLines quiet(CapturedLines::Log);
    CIfoFile ifo(path);
    if (!ifo.m_bLoaded) {
        verdict.refused = true;
        said.push_back("not loaded: " + ifo.LoadError());
        return verdict;
    }
    CVerifyReport report;
    VerifyLibdvdreadOpen(ifo, report);
    for (const VerifyGroup& group : report.Groups()) {
        for (const VerifyFinding& f : group.findings) {
            verdict.refused = verdict.refused || f.kind == finding::kLibdvdreadRefuses;
            verdict.warned = verdict.warned || f.kind == finding::kLibdvdreadWarning;
            said.push_back(f.message);
        }
    }
    return verdict;
}

class LibdvdreadChecks : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        const std::string author =
            "cd '" + Authored().Path() +
            "' && ffmpeg -hide_banner -loglevel error -f lavfi -i "
            "testsrc=size=720x576:rate=25:duration=2 -f lavfi -i sine=duration=2 "
            "-target pal-dvd -g 12 a.mpg && printf '<dvdauthor dest=\"dvd\"><vmgm/><titleset>"
            "<titles><pgc><vob file=\"a.mpg\" chapters=\"0,1\"/></pgc></titles></titleset>"
            "</dvdauthor>' > d.xml && VIDEO_FORMAT=PAL dvdauthor -x d.xml >/dev/null 2>&1";
        s_Authored = std::system(("command -v ffmpeg >/dev/null && command -v dvdauthor "
                                  ">/dev/null && (" +
                                  author + ")")
                                     .c_str()) == 0;
    }
    static TempDir& Authored() {
        static TempDir dir;
        return dir;
    }
    static inline bool s_Authored = false;

    // A copy of the authored folder with one IFO changed (its BUP too, so that libdvdread has
    // no clean twin to fall back on).
    std::string Changed(const char* name, const std::function<void(std::vector<uint8_t>&)>& f) {
        const std::string folder = m_Work.Path() + "/VIDEO_TS";
        const std::string copy = "rm -rf '" + folder + "' && cp -a '" + Authored().Path() +
                                 "/dvd/VIDEO_TS' '" + folder + "'";
        EXPECT_EQ(std::system(copy.c_str()), 0);
        std::vector<uint8_t> image = ReadBytes(folder + "/" + name);
        f(image);
        const std::string base = std::string(name).substr(0, std::strlen(name) - 4);
        WriteBytes(folder + "/" + base + ".IFO", image);
        WriteBytes(folder + "/" + base + ".BUP", image);
        return folder;
    }

    TempDir m_Work;
};

uint32_t Table(const std::vector<uint8_t>& image, int32_t field) {
    return ReadBE32(image.data(), field) * ifo::kSectorSize;
}

struct Change {
    const char* name;
    const char* file;
    std::function<void(std::vector<uint8_t>&)> apply;
};

TEST_F(LibdvdreadChecks, TheCheckFailsWhereverLibdvdreadRefusesAndComplainsWhereItDoes) {
    if (!s_Authored) {
        GTEST_SKIP() << "ffmpeg and dvdauthor are needed";
    }
    const Change changes[] = {
        {"unchanged video manager", "VIDEO_TS.IFO", [](auto&) {}},
        {"unchanged title set", "VTS_01_0.IFO", [](auto&) {}},
        {"no identifier", "VTS_01_0.IFO", [](auto& d) { d[ifo::kIdentifier + 9] = 'X'; }},
        {"no TT_SRPT", "VIDEO_TS.IFO",
         [](auto& d) { WriteBE32(d.data(), ifo::kTitleVobsOrTtSrpt, 0); }},
        {"empty TT_SRPT", "VIDEO_TS.IFO",
         [](auto& d) {
             const uint32_t at = Table(d, ifo::kTitleVobsOrTtSrpt);
             WriteBE16(d.data(), static_cast<int32_t>(at + ifo::kTableCount), 0);
             WriteBE32(d.data(), static_cast<int32_t>(at + ifo::kTableEnd), 7);
         }},
        {"VMG_VTS_ATRT of no title set", "VIDEO_TS.IFO",
         [](auto& d) {
             WriteBE16(d.data(), static_cast<int32_t>(Table(d, ifo::kVtsmPgciUtOrVtsAtrt)), 0);
         }},
        {"no title set counted", "VIDEO_TS.IFO",
         [](auto& d) { WriteBE16(d.data(), ifo::kVmgTitleSetCount, 0); }},
        {"no VTS_C_ADT", "VTS_01_0.IFO", [](auto& d) { WriteBE32(d.data(), ifo::kVtsCAdt, 0); }},
        {"no VTS_VOBU_ADMAP", "VTS_01_0.IFO",
         [](auto& d) { WriteBE32(d.data(), ifo::kVtsVobuAdmap, 0); }},
        {"no VTS_PGCIT", "VTS_01_0.IFO",
         [](auto& d) { WriteBE32(d.data(), ifo::kPgcitOrPtlMait, 0); }},
        {"VTS_PTT_SRPT too small", "VTS_01_0.IFO",
         [](auto& d) {
             WriteBE16(d.data(), static_cast<int32_t>(Table(d, ifo::kPttSrptOrVmgmPgciUt)), 40);
         }},
        {"C_ADT counting more VOBs than entries", "VTS_01_0.IFO",
         [](auto& d) { WriteBE16(d.data(), static_cast<int32_t>(Table(d, ifo::kVtsCAdt)), 9); }},
        {"C_ADT entry of VOB ID 0", "VTS_01_0.IFO",
         [](auto& d) {
             const int32_t at = static_cast<int32_t>(Table(d, ifo::kVtsCAdt));
             WriteBE16(d.data(), at + ifo::kTableEntries + ifo::kCAdtVobId, 0);
         }},
        {"VTSI_LAST_SECTOR past half the set", "VTS_01_0.IFO",
         [](auto& d) { WriteBE32(d.data(), ifo::kLastSectorOfSet, 3); }},
    };
    for (const Change& change : changes) {
        const std::string folder = Changed(change.file, change.apply);
        const Verdict reader = Libdvdread(folder, change.file[0] == 'V' && change.file[1] == 'T');
        std::vector<std::string> said;
        const Verdict checker = Checker(folder + "/" + change.file, said);
        std::string saidText;
        for (const std::string& line : said) {
            saidText += "\n  " + line;
        }
        EXPECT_EQ(checker.refused, reader.refused) << change.name << saidText;
        if (!reader.refused) {
            EXPECT_EQ(checker.warned, reader.warned) << change.name << saidText;
        }
    }
}

}  // namespace
}  // namespace dorvex::testkit
