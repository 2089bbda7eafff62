// The names of a DVD folder's files: taking them apart is the inverse of making them, in any
// case, and nothing else passes; the IFO, BUP and VOB digit of a VOB's path; journal names.
#include "support/TitleSetFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <string>

#include "common/FaultyFileSystem.h"
#include "common/TempDir.h"
#include "support/FileSystem.h"

namespace dorvex {
namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), ::tolower);
    return text;
}

TEST(DvdFileNames, EveryNameMadeIsTakenApartAgainInAnyCase) {
    struct Made {
        int32_t titleSet;
        int32_t part;
        const char* ext;
        DvdFileKind kind;
    };
    std::vector<Made> names = {{kVideoManager, 0, "VOB", DvdFileKind::Vob},
                               {kVideoManager, 0, "IFO", DvdFileKind::Ifo},
                               {kVideoManager, 0, "BUP", DvdFileKind::Bup}};
    for (int32_t set = 1; set <= kLastTitleSet; ++set) {
        names.push_back({set, 0, "IFO", DvdFileKind::Ifo});
        names.push_back({set, 0, "BUP", DvdFileKind::Bup});
        for (int32_t part = kMenuVobPart; part <= kLastTitleVobPart; ++part) {
            names.push_back({set, part, "VOB", DvdFileKind::Vob});
        }
    }
    for (const Made& made : names) {
        const std::string name = DvdFileName(made.titleSet, made.part, made.ext);
        for (const std::string& spelled : {"/d/VIDEO_TS/" + name, "/d/video_ts/" + Lower(name)}) {
            const auto parts = ParseDvdFileName(spelled);
            ASSERT_TRUE(parts.has_value()) << spelled;
            EXPECT_EQ(parts->titleSet, made.titleSet) << spelled;
            EXPECT_EQ(parts->part, made.part) << spelled;
            EXPECT_EQ(parts->kind, made.kind) << spelled;
            EXPECT_EQ(parts->IsMenuVob(), made.kind == DvdFileKind::Vob && made.part == 0);
            EXPECT_TRUE(IsDvdFileName(spelled));
            EXPECT_EQ(TitleSetOf(spelled), made.titleSet) << spelled;
        }
    }
}

TEST(DvdFileNames, NamesOfOtherShapesAreNotDvdFiles) {
    for (const char* name : {"VTS_00_1.VOB", "VTS_01_1.IFO", "VTS_01_2.BUP", "VTS_1_1.VOB",
                             "VTS_001_1.VOB", "VTS_01_10.VOB", "VTS_0A_1.VOB", "VTS_01-1.VOB",
                             "VTX_01_1.VOB", "VTS_01_1.VOBX", "VTS_01_1", "VTS_01_1.dorvex-journal",
                             "A_3_4.VOB", "VIDEO_TS.TXT", "VIDEO_TS", ".VOB", ""}) {
        EXPECT_FALSE(ParseDvdFileName(name).has_value()) << name;
        EXPECT_FALSE(IsDvdFileName(name)) << name;
    }
    // The video manager is known by its name alone, whatever the extension.
    EXPECT_EQ(TitleSetOf("/d/video_ts.partial"), kVideoManager);
    EXPECT_EQ(TitleSetOf("/d/VTS_01_1.VOBX"), -1);
    EXPECT_EQ(TitleSetOf("/d/A_3_4.VOB"), -1);
}

TEST(DvdFileNames, IfoAndBupLieBesideTheVobUnderItsSetsName) {
    const std::string path = "D:\\DVD\\VIDEO_TS\\VTS_01_1.VOB";
    EXPECT_EQ(IfoPathFor(path), "D:\\DVD\\VIDEO_TS\\VTS_01_0.IFO");
    EXPECT_EQ(BupPathFor(path), "D:\\DVD\\VIDEO_TS\\VTS_01_0.BUP");
    EXPECT_EQ(IfoPathFor("/m/VIDEO_TS/VTS_03_2.VOB"), "/m/VIDEO_TS/VTS_03_0.IFO");
    // The video manager keeps its name and case.
    EXPECT_EQ(IfoPathFor("E:\\dvd\\video_ts.vob"), "E:\\dvd\\video_ts.IFO");
    EXPECT_EQ(BupPathFor("/dvd/VIDEO_TS.VOB"), "/dvd/VIDEO_TS.BUP");
    std::string deep = "/";
    for (int i = 0; i < 40; ++i) {
        deep += "folder_number_" + std::to_string(i) + "/";
    }
    EXPECT_EQ(IfoPathFor(deep + "VTS_01_1.VOB"), deep + "VTS_01_0.IFO");
}

TEST(VobDigit, StepsTheCharacterBeforeTheExtension) {
    std::string path = "/d/VTS_01_3.VOB";
    EXPECT_EQ(GetVobDigit(path), '3');
    SetVobDigit(path, '1');
    EXPECT_EQ(path, "/d/VTS_01_1.VOB");
    std::string tiny = "a.b";
    EXPECT_EQ(GetVobDigit(tiny), '\0');
    SetVobDigit(tiny, '1');
    EXPECT_EQ(tiny, "a.b");
}

// Each part as the folder spells it, numbered and placed in the stream, parts missing skipped;
// the checks ask for the parts several times a run, so the folder is listed once for all nine.
TEST(TitleParts, AreSpelledAsOnDiskFromOneListingOfTheFolder) {
    testkit::TempDir dir;
    const struct {
        const char* name;
        int32_t number;
        int64_t sectors;
    } files[] = {{"VTS_01_1.VOB", 1, 2}, {"vts_01_2.vob", 2, 3}, {"VTS_01_4.vob", 4, 1}};
    for (const auto& file : files) {
        std::ofstream(dir / file.name)
            << std::string(static_cast<size_t>(file.sectors) * 2048, 'x');
    }
    testkit::FaultyFileSystem counted;
    const std::vector<VobPart> parts = TitleSetFiles(counted, dir / "VTS_01_1.VOB").TitleParts();
    EXPECT_EQ(counted.Listings(), 1);
    ASSERT_EQ(parts.size(), 3u);
    int64_t first = 0;
    for (size_t i = 0; i < parts.size(); ++i) {
        EXPECT_EQ(parts[i].path, dir / files[i].name);
        EXPECT_EQ(parts[i].number, files[i].number);
        EXPECT_EQ(parts[i].firstSector, first);
        EXPECT_EQ(parts[i].sectors, files[i].sectors);
        first += files[i].sectors;
    }
}

TEST(JournalNames, EveryJournalNameMadeIsTakenApartAgain) {
    testkit::TempDir dir;
    const std::string folder = dir / "";
    for (const int32_t set : {kVideoManager, 1, 42, kLastTitleSet}) {
        for (const bool menu : {false, true}) {
            const std::string journal =
                TitleSetFiles::InFolder(TheRealFileSystem(), folder, set).Journal(menu);
            for (const std::string& spelled : {journal, Lower(journal)}) {
                const auto parts = ParseJournalFileName(spelled);
                ASSERT_TRUE(parts.has_value()) << spelled;
                EXPECT_EQ(parts->titleSet, set) << spelled;
                EXPECT_EQ(parts->menu, menu || set == kVideoManager) << spelled;
            }
        }
    }
    for (const char* name :
         {"VTS_01_1.VOB", "VTS_01.dorvex-journalx", "VTS_1.dorvex-journal", "VTS_00.dorvex-journal",
          "VTS_01_men.dorvex-journal", "VTS_01_menu_.dorvex-journal", ".dorvex-journal"}) {
        EXPECT_FALSE(ParseJournalFileName(name).has_value()) << name;
    }
}

}  // namespace
}  // namespace dorvex
