// An IFO written by a real authoring tool goes through every repair step and still satisfies
// libdvdread's reader.
#include <dvdread/dvd_reader.h>
#include <dvdread/ifo_read.h>
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdlib>

#include "IfoTestSupport.h"
#include "ifo/IfoLayout.h"

namespace dorvex::testkit {
namespace {

bool HaveTools() {
    return std::system(
               "command -v ffmpeg >/dev/null 2>&1 && command -v dvdauthor >/dev/null 2>&1") == 0;
}

std::vector<std::string>& ReaderComplaints() {
    static std::vector<std::string> lines;
    return lines;
}

void CollectLog(void*, dvd_logger_level_t, const char* format, va_list args) {
    char line[512];
    vsnprintf(line, sizeof(line), format, args);
    if (strstr(line, "CHECK_VALUE") != nullptr || strstr(line, "ifo") != nullptr) {
        ReaderComplaints().push_back(line);
    }
}

TEST(RealIfo, RepairedDvdauthorIfoStillOpensInLibdvdread) {
    if (!HaveTools()) {
        GTEST_SKIP() << "ffmpeg and dvdauthor are needed";
    }
    TempDir dir;
    const std::string author =
        "cd '" + dir.Path() +
        "' && ffmpeg -hide_banner -loglevel error -f lavfi -i "
        "testsrc=size=720x576:rate=25:duration=2 "
        "-f lavfi -i sine=duration=2 -target pal-dvd -g 12 a.mpg && "
        "printf '<dvdauthor dest=\"dvd\"><vmgm/><titleset><titles><pgc><vob file=\"a.mpg\" "
        "chapters=\"0,1\"/></pgc></titles></titleset></dvdauthor>' > d.xml && "
        "VIDEO_FORMAT=PAL dvdauthor -x d.xml >/dev/null 2>&1";
    ASSERT_EQ(std::system(author.c_str()), 0);
    const std::string folder = dir / "dvd/VIDEO_TS";

    // Navpack positions of the title stream: nothing moved, so old and new lists agree.
    std::vector<int32_t> navs;
    std::vector<std::vector<uint8_t>> packs = ReadPacks(folder + "/VTS_01_1.VOB");
    for (size_t i = 0; i < packs.size(); ++i) {
        if (IsNavPack(packs[i].data())) {
            navs.push_back(static_cast<int32_t>(i));
        }
    }
    ASSERT_GT(navs.size(), 2u);
    navs.push_back(static_cast<int32_t>(packs.size()));

    LogCapture log;
    CIfoFile ifo(folder + "/VTS_01_0.IFO");
    ASSERT_TRUE(ifo.m_bLoaded);
    const std::vector<uint8_t> original = ImageOf(ifo);
    std::vector<CellTableEntry> cells;
    for (const CAdtEntry& e : ReadCAdt(original, ifo::kVtsCAdt)) {
        cells.push_back({e.vobId, e.cellId, static_cast<int32_t>(e.firstSector),
                         static_cast<int32_t>(e.lastSector)});
    }
    ASSERT_FALSE(cells.empty());
    std::vector<VcidMapEntry> map;
    for (const CellTableEntry& c : cells) {
        map.push_back({c.vobId, c.cellId, c.vobId, c.cellId});
    }
    const int32_t n = static_cast<int32_t>(navs.size());
    ifo.RemapCellPositions(map, false);
    ifo.RebuildCellAddressTable(cells, false);
    ifo.UpdateCellSectors(NavpackMap::WithEndEntry(navs.data(), navs.data(), n), false);
    ifo.CheckPgcSectors(cells, false);
    ifo.RebuildTimeMaps(NavpackMap::WithEndEntry(navs.data(), navs.data(), n));
    for (uint16_t pgcn = 1; pgcn <= ifo.GetPgcCount(0); ++pgcn) {
        ifo.UpdatePgcPlaybackTime(0, pgcn, true, false);
    }
    ifo.UpdateSizeFields(false);
    ASSERT_EQ(ifo.Save(folder + "/VTS_01_0.IFO"), 0);

    // Nothing moved: the cells and tables describe the same sectors, silently.
    EXPECT_TRUE(log.Lines().empty()) << log.Lines().front();
    std::vector<uint8_t> repaired = ReadBytes(folder + "/VTS_01_0.IFO");
    EXPECT_EQ(ReadTitlePgcCells(repaired, 1)[0].firstSector,
              ReadTitlePgcCells(original, 1)[0].firstSector);
    EXPECT_EQ(ReadAdmap(repaired, ifo::kVtsVobuAdmap), ReadAdmap(original, ifo::kVtsVobuAdmap));
    EXPECT_EQ(repaired, ReadBytes(folder + "/VTS_01_0.BUP"));

    ReaderComplaints().clear();
    static const dvd_logger_cb logger = {CollectLog};
    dvd_reader_t* dvd = DVDOpen2(nullptr, &logger, (dir / "dvd").c_str());
    ASSERT_NE(dvd, nullptr);
    ifo_handle_t* handle = ifoOpen(dvd, 1);
    EXPECT_NE(handle, nullptr);
    if (handle != nullptr) {
        EXPECT_EQ(handle->vts_c_adt->nr_of_vobs, 1);
        EXPECT_EQ(handle->vtsi_mat->vtsi_last_sector, repaired.size() / 2048 - 1);
        ifoClose(handle);
    }
    DVDClose(dvd);
    EXPECT_TRUE(ReaderComplaints().empty()) << ReaderComplaints().front();
}

}  // namespace
}  // namespace dorvex::testkit
