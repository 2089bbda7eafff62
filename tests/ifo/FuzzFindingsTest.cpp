// Damaged IFOs that fuzzing found to crash, hang or exhaust memory: each is replayed as it was
// found (tests/fuzz/regressions/TARGET/), and each fix has a test of its own on a built image.
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "IfoTestSupport.h"
#include "common/FuzzHarness.h"
#include "ifo/IfoLayout.h"
#include "support/BigEndian.h"
#include "support/Paths.h"

namespace dorvex::testkit {
namespace {

std::vector<std::string> FindingsOf(const std::string& target) {
    const std::string folder = std::string(DORVEX_SOURCE_DIR) + "/tests/fuzz/regressions/" + target;
    std::vector<std::string> files;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] != '.') {
                files.push_back(folder + "/" + entry->d_name);
            }
        }
        closedir(dir);
    }
    std::sort(files.begin(), files.end());
    return files;
}

using Driver = std::function<FuzzOutcome(const uint8_t*, size_t, const std::string&)>;

// Under the sanitizer build a finding that crashes again fails here with its report.
void ReplayFindings(const std::string& target, const Driver& driver) {
    LogCapture quiet;
    const std::vector<std::string> files = FindingsOf(target);
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        TempDir dir;
        const std::vector<uint8_t> input = ReadBytes(file);
        ASSERT_FALSE(input.empty());
        const FuzzOutcome outcome = driver(input.data(), input.size(), dir.Path());
        EXPECT_TRUE(outcome.consistent) << outcome.problem;
        // The IFOs given are at most 96 KiB: no repair has reason to write a MiB of IFO.
        for (const char* name : {"VTS_01_0.IFO", "VIDEO_TS.IFO"}) {
            EXPECT_LT(FileSizeBytes(dir / name), 1 << 20) << name;
        }
    }
}

TEST(FuzzFindings, ReplayTitleSetIfos) {
    ASSERT_FALSE(FindingsOf("fuzz_ifo_vts").empty());
    ReplayFindings("fuzz_ifo_vts", RunVtsIfoInput);
}

TEST(FuzzFindings, ReplayVideoManagerIfos) {
    ASSERT_FALSE(FindingsOf("fuzz_ifo_vmg").empty());
    ReplayFindings("fuzz_ifo_vmg", RunVmgIfoInput);
}

// A VOB of less than a KiB after an empty one, the layout of the VOB pass's broken backup
// promise (its input rebuilt from the finding). The harness leaves that small file out until the
// tidying keeps it; every other file must come back.
TEST(FuzzFindings, ReplayVobPasses) {
    ASSERT_FALSE(FindingsOf("fuzz_vob_pass").empty());
    ReplayFindings("fuzz_vob_pass", RunVobPassInput);
}

VtsSpec TitlesAndMenus() {
    VtsSpec vts;
    vts.titlePgcs = {{Cell(1, 1, 0, 10, 19), Cell(1, 2, 20, 20, 29)}};
    vts.titleCAdt = CAdtFromPgcs(vts.titlePgcs);
    vts.titleAdmap = {0, 10, 20};
    vts.timeMaps = {{1, {0, 10, 20}}};
    vts.menuUnits = {{{Cell(1, 1, 0, 0, 4)}}, {{Cell(1, 2, 5, 5, 9)}}};
    vts.menuCAdt = CAdtFromPgcs({vts.menuUnits[0][0], vts.menuUnits[1][0]});
    vts.menuAdmap = {0, 5};
    return vts;
}

// Two tables over the same bytes rewrote each other's count and end address; the resize that
// followed cut the image below zero. Such an IFO is now refused as damaged when it loads.
TEST(FuzzFindings, TablesSharingBytesAreRefusedAtLoad) {
    TempDir dir;
    std::vector<uint8_t> image = BuildVtsIfo(TitlesAndMenus());
    {
        LogCapture log;
        EXPECT_TRUE(LoadImage(dir, "VTS_01_0.IFO", image)->m_bLoaded);
    }

    std::vector<uint8_t> shared = image;
    WriteBE32(shared.data(), ifo::kVtsCAdt, ReadBE32(shared.data(), ifo::kVtsVobuAdmap));
    LogCapture log;
    EXPECT_FALSE(LoadImage(dir, "VTS_01_0.IFO", shared)->m_bLoaded);
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_NE(log.Lines()[0].find(" is damaged: the tables at sectors "), std::string::npos)
        << log.Lines()[0];
    EXPECT_NE(log.Lines()[0].find("overlap"), std::string::npos);

    // One table's end address reaching into the next table's sector is the same damage.
    std::vector<uint8_t> reaching = image;
    const uint32_t cadt = ReadBE32(reaching.data(), ifo::kVtsCAdt);
    WriteBE32(reaching.data(), static_cast<int32_t>(cadt * ifo::kSectorSize + ifo::kTableEnd),
              ifo::kSectorSize + 5);
    EXPECT_GT(ReadBE32(reaching.data(), ifo::kVtsVobuAdmap), cadt);
    EXPECT_FALSE(LoadImage(dir, "VTS_01_0.IFO", reaching)->m_bLoaded);
}

// A time map pointing at its own table header wrote a sector number over the table's end
// address; the resize then grew the buffer by gigabytes. A table whose end lies past the image
// is now left where it is.
TEST(FuzzFindings, ResizeLeavesATableWhoseEndLiesPastTheImage) {
    TempDir dir;
    LogCapture log;
    auto ifo = LoadImage(dir, "VTS_01_0.IFO", BuildVtsIfo(TitlesAndMenus()));
    ASSERT_TRUE(ifo->m_bLoaded);
    const std::vector<uint8_t> before = ImageOf(*ifo);
    const size_t buffer = ifo->m_pData.size();
    uint8_t* tmapt = ifo->GetTable(IfoVtsTmapt);
    ASSERT_NE(tmapt, nullptr);
    const uint32_t pastImage = static_cast<uint32_t>(ifo->ImageSize()) + 64 * ifo::kSectorSize;
    WriteBE32(tmapt, ifo::kTableEnd, pastImage);

    ifo->ResizeTable(IfoVtsTmapt, -8);
    ifo->ResizeTable(IfoVtsTmapt, 3 * ifo::kSectorSize);

    EXPECT_EQ(ifo->ImageSize(), static_cast<int32_t>(before.size()));
    EXPECT_EQ(ifo->m_pData.size(), buffer);
    for (int32_t field = ifo::kFirstMovableField; field <= ifo::kLastMovableField; field += 4) {
        EXPECT_EQ(ReadBE32(ifo->Data(), field), ReadBE32(before.data(), field)) << field;
    }
}

// A step that wrote into another table through a damaged PGC pointer left that table's end
// address past the image; the size fields then grew the image to reach it (gigabytes).
TEST(FuzzFindings, SizeFieldsNeverGrowTheImageForAnEndPastIt) {
    TempDir dir;
    LogCapture log;
    auto ifo = LoadImage(dir, "VTS_01_0.IFO", BuildVtsIfo(TitlesAndMenus()));
    ASSERT_TRUE(ifo->m_bLoaded);
    const int32_t size = ifo->ImageSize();
    const size_t buffer = ifo->m_pData.size();
    WriteBE32(ifo->GetTable(IfoVtsCAdt), ifo::kTableEnd, 0x01000000);

    ifo->UpdateSizeFields(false);

    EXPECT_EQ(ifo->ImageSize(), size);
    EXPECT_EQ(ifo->m_pData.size(), buffer);
    EXPECT_EQ(ReadBE32(ifo->Data(), ifo::kLastSectorOfIfo),
              static_cast<uint32_t>(size / ifo::kSectorSize - 1));
}

// A damaged PGC count of 65535 with room for a few search pointers: only the pointers inside
// the image are counted, and the real PGCs still are.
TEST(FuzzFindings, CountsStopAtThePointersInsideTheImage) {
    TempDir dir;
    LogCapture log;
    std::vector<uint8_t> image = BuildVtsIfo(TitlesAndMenus());
    const uint32_t pgcit = ReadBE32(image.data(), ifo::kPgcitOrPtlMait) * ifo::kSectorSize;
    const uint32_t pgciUt = ReadBE32(image.data(), ifo::kVtsmPgciUtOrVtsAtrt) * ifo::kSectorSize;
    WriteBE16(image.data(), static_cast<int32_t>(pgcit), 0xFFFF);
    WriteBE16(image.data(), static_cast<int32_t>(pgciUt), 0xFFFF);
    auto ifo = LoadImage(dir, "VTS_01_0.IFO", image);
    ASSERT_TRUE(ifo->m_bLoaded);

    const int64_t size = ifo->ImageSize();
    const uint16_t pgcs = ifo->GetPgcCount(0);
    const uint16_t units = ifo->GetLanguageUnitCount();
    EXPECT_GE(pgcs, 1);
    EXPECT_LE(pgcit + ifo::kTableEntries + int64_t{pgcs} * ifo::kSearchPointerSize, size);
    EXPECT_GE(units, 2);
    EXPECT_LE(pgciUt + ifo::kTableEntries + int64_t{units} * ifo::kSearchPointerSize, size);
    EXPECT_LT(pgcs, 0xFFFF);
    EXPECT_LT(units, 0xFFFF);
    EXPECT_TRUE(ifo->IsVcidReferenced(1, 2, false));
    EXPECT_TRUE(ifo->IsVcidReferenced(1, 2, true));
}

// Menu language units that share one unit, as discs do for their menu languages: each PGC is
// rewritten once. Visiting the shared cells once per unit remapped them twice (1/1 became 1/2,
// then 1/3), and a damaged IFO whose pointers all lead to one PGC multiplied the walk.
TEST(FuzzFindings, SharedLanguageUnitsAreRepairedOnce) {
    TempDir dir;
    LogCapture log;
    VtsSpec vts = TitlesAndMenus();
    vts.menuUnits = {{{Cell(1, 1, 0, 0, 4)}}, {{Cell(1, 1, 0, 0, 4)}}, {{Cell(1, 1, 0, 0, 4)}}};
    std::vector<uint8_t> image = BuildVtsIfo(vts);
    const int32_t pgciUt =
        static_cast<int32_t>(ReadBE32(image.data(), ifo::kVtsmPgciUtOrVtsAtrt) * ifo::kSectorSize);
    auto pointerOf = [&](int32_t lu) {
        return pgciUt + lu * ifo::kSearchPointerSize + ifo::kSearchPointerOffset;
    };
    // Units 2 and 3 lead to unit 1's bytes.
    WriteBE32(image.data(), pointerOf(2), ReadBE32(image.data(), pointerOf(1)));
    WriteBE32(image.data(), pointerOf(3), ReadBE32(image.data(), pointerOf(1)));
    auto ifo = LoadImage(dir, "VTS_01_0.IFO", image);
    ASSERT_TRUE(ifo->m_bLoaded);
    ASSERT_EQ(ifo->GetLanguageUnitCount(), 3);

    int visits = 0;
    ifo->ForEachCell(true, [&](uint16_t, uint16_t, uint16_t, uint8_t*, uint8_t*) { ++visits; });
    EXPECT_EQ(visits, 1);

    const VcidMapEntry map[] = {{1, 1, 1, 2}, {1, 2, 1, 3}, {1, 3, 1, 4}};
    ifo->RemapCellPositions({map, 3}, true);
    const uint8_t* position = ifo->GetCellPosition(3, 1, 1);
    ASSERT_NE(position, nullptr);
    EXPECT_EQ(ReadBE16(position, ifo::kCellPositionVobId), 1);
    EXPECT_EQ(position[ifo::kCellPositionCellId], 2);

    // The sector check looks at the shared PGC once too: its missing cell is reported once.
    log.Lines().clear();
    const CellTableEntry cells[] = {{1, 9, 0, 4}};
    ifo->CheckPgcSectors({cells, 1}, true);
    EXPECT_EQ(std::count_if(log.Lines().begin(), log.Lines().end(),
                            [](const std::string& line) {
                                return line.find("references VCID 1/2 not found") !=
                                       std::string::npos;
                            }),
              1);
}

}  // namespace
}  // namespace dorvex::testkit
