// dvdplay: plays every title of a VIDEO_TS folder to its end through libdvdnav, the navigation
// library of the common Linux players, reading every block as a player would (no decoding). A
// title has played to its end when its program chain's last cell (by the IFO, read with
// libdvdread) has been entered and the player then leaves the title (post command, stop). Any
// navigation error ("Expected NAV packet but none found", a jump outside the stream) fails the
// title at once, and so does a navpack that libdvdnav hands out as a data block (a VOBU or ILVU
// end address that reaches past its VOBU).
//
// A title of several angles is played once in every angle, set before playback starts, and
// then again with the angle changed (dvdnav_angle_change) after each VOBU of its first angle
// block, from the first angle to the last, back, and (with more than two) from the middle one
// to the second. Every run is followed navpack by navpack: inside an angle block each VOBU
// must be the chosen angle's, and after a change the new angle's from the first ILVU that
// follows the end of the ILVU libdvdnav was in (libdvdnav changes angle at ILVU ends); inside
// an angle block or an interleaved cell, each VOBU must start where the one before ended
// (presentation times), and the block or cell must be played whole (its playback time).
//
//   dvdplay FOLDER [--seconds N]
//
// Prints one line per title (and per angle) and exits 1 when any run fails, 0 when all play
// through.

#include <dvdnav/dvdnav.h>
#include <dvdread/dvd_reader.h>
#include <dvdread/ifo_read.h>

#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

using Vcid = std::pair<int, int>;  // VOB ID, cell ID

constexpr uint16_t kIlvuLast = 0x5000;  // in an ILVU, its last VOBU
constexpr uint16_t kIlvuMask = 0xF000;

struct Problems {
    int count = 0;
    std::string first;
};

void CaptureLog(void* context, dvdnav_logger_level_t level, const char* format, va_list args) {
    if (level != DVDNAV_LOGGER_LEVEL_ERROR) {
        return;
    }
    char line[512];
    vsnprintf(line, sizeof(line), format, args);
    // Reading a folder instead of a drive always brings these; they say nothing about the files.
    if (strstr(line, "name block") != nullptr || strstr(line, "dvd_read_name") != nullptr ||
        strstr(line, "device name") != nullptr || strstr(line, "css") != nullptr) {
        return;
    }
    auto* problems = static_cast<Problems*>(context);
    if (problems->count++ == 0) {
        problems->first = line;
    }
}

int64_t Frames(const dvd_time_t& time) {
    auto bcd = [](uint8_t v) { return int64_t((v >> 4) * 10 + (v & 15)); };
    const int64_t rate = (time.frame_u & 0xC0) == 0x40 ? 25 : 30;
    return ((bcd(time.hour) * 60 + bcd(time.minute)) * 60 + bcd(time.second)) * rate +
           bcd(time.frame_u & 0x3F);
}

// What the IFOs say of the program chain a title starts with.
struct TitleShape {
    int cells = 0;
    int angles = 1;
    std::map<Vcid, int> angleOf;         // angle-block cells: their angle, from 1
    std::map<Vcid, int> unitOf;          // the cells of an angle block share one unit
    std::set<int> interleavedUnits;      // angle blocks and interleaved cells
    std::map<Vcid, int64_t> cellFrames;  // playback time
    int64_t ticksPerFrame = 3600;        // of the 90 kHz clock
};

void ReadCells(const pgc_t& pgc, TitleShape& shape) {
    shape.cells = pgc.nr_of_cells;
    int unit = 0;
    int angleInBlock = 0;
    for (int c = 0; c < pgc.nr_of_cells; ++c) {
        const cell_playback_t& cp = pgc.cell_playback[c];
        const Vcid vcid{int(pgc.cell_position[c].vob_id_nr), int(pgc.cell_position[c].cell_nr)};
        const bool angle = cp.block_type == BLOCK_TYPE_ANGLE_BLOCK;
        const bool first = !angle || cp.block_mode == BLOCK_MODE_FIRST_CELL;
        unit += first ? 1 : 0;
        angleInBlock = first ? 1 : angleInBlock + 1;
        if (angle) {
            shape.angleOf[vcid] = angleInBlock;
        }
        shape.unitOf[vcid] = unit;
        if (angle || cp.interleaved) {
            shape.interleavedUnits.insert(unit);
        }
        shape.cellFrames[vcid] = Frames(cp.playback_time);
    }
}

TitleShape ShapeOf(const std::string& folder, int32_t title) {
    TitleShape shape;
    dvd_reader_t* dvd = DVDOpen(folder.c_str());
    if (dvd == nullptr) {
        return shape;
    }
    ifo_handle_t* vmg = ifoOpen(dvd, 0);
    if (vmg != nullptr && vmg->tt_srpt != nullptr && title <= vmg->tt_srpt->nr_of_srpts) {
        const title_info_t& info = vmg->tt_srpt->title[title - 1];
        shape.angles = info.nr_of_angles;
        ifo_handle_t* vts = ifoOpen(dvd, info.title_set_nr);
        if (vts != nullptr && vts->vts_ptt_srpt != nullptr && vts->vts_pgcit != nullptr &&
            info.vts_ttn <= vts->vts_ptt_srpt->nr_of_srpts &&
            vts->vts_ptt_srpt->title[info.vts_ttn - 1].nr_of_ptts > 0) {
            const int pgcn = vts->vts_ptt_srpt->title[info.vts_ttn - 1].ptt[0].pgcn;
            if (pgcn >= 1 && pgcn <= vts->vts_pgcit->nr_of_pgci_srp) {
                ReadCells(*vts->vts_pgcit->pgci_srp[pgcn - 1].pgc, shape);
            }
            shape.ticksPerFrame = vts->vtsi_mat->vts_video_attr.video_format == 1 ? 3600 : 3003;
        }
        ifoClose(vts);
    }
    ifoClose(vmg);
    DVDClose(dvd);
    return shape;
}

// A navpack libdvdnav went through.
struct Visit {
    Vcid vcid;
    uint16_t category = 0;
    uint32_t start = 0;  // VOBU presentation times
    uint32_t end = 0;
    uint32_t sector = 0;
};

// The angle a run starts in, and a change of angle after the n-th VOBU of the first angle block.
struct RunPlan {
    int32_t angle = 1;
    int switchAfter = -1;
    int32_t switchTo = 0;
};

struct TitleResult {
    bool ok = false;
    std::string why;
    int64_t blocks = 0;
    int cells = 0;
    std::vector<Visit> trace;
};

bool IsNavpack(const uint8_t* block) {
    auto be32 = [&](int at) {
        return (uint32_t(block[at]) << 24) | (uint32_t(block[at + 1]) << 16) |
               (uint32_t(block[at + 2]) << 8) | block[at + 3];
    };
    return be32(38) == 0x1BF && be32(1024) == 0x1BF;
}

void RecordNavpack(dvdnav_t* nav, const TitleShape& shape, const RunPlan& plan, TitleResult& result,
                   int& blockVobus) {
    const dsi_t* dsi = dvdnav_get_current_nav_dsi(nav);
    const pci_t* pci = dvdnav_get_current_nav_pci(nav);
    Visit visit;
    visit.vcid = {int(dsi->dsi_gi.vobu_vob_idn), int(dsi->dsi_gi.vobu_c_idn)};
    visit.category = dsi->sml_pbi.category;
    visit.start = pci->pci_gi.vobu_s_ptm;
    visit.end = pci->pci_gi.vobu_e_ptm;
    visit.sector = dsi->dsi_gi.nv_pck_lbn;
    result.trace.push_back(visit);
    if (shape.angleOf.count(visit.vcid) != 0 && blockVobus++ == plan.switchAfter) {
        dvdnav_angle_change(nav, plan.switchTo);
    }
}

// Handles one event; true when the title has been left.
bool OnEvent(dvdnav_t* nav, int32_t event, const uint8_t* block, int32_t title, TitleResult& result,
             int& highestCell, std::string& why) {
    int32_t current = 0;
    int32_t part = 0;
    switch (event) {
        case DVDNAV_BLOCK_OK:
            ++result.blocks;
            if (IsNavpack(block)) {
                why = "a navpack was read as data (VOBU or ILVU end address past its VOBU)";
                return true;
            }
            return false;
        case DVDNAV_CELL_CHANGE: {
            dvdnav_cell_change_event_t cell;
            memcpy(&cell, block, sizeof(cell));
            if (dvdnav_current_title_info(nav, &current, &part) != DVDNAV_STATUS_OK ||
                current != title) {
                return true;
            }
            ++result.cells;
            highestCell = cell.cellN > highestCell ? cell.cellN : highestCell;
            return false;
        }
        case DVDNAV_STILL_FRAME:
            dvdnav_still_skip(nav);
            return false;
        case DVDNAV_WAIT:
            dvdnav_wait_skip(nav);
            return false;
        case DVDNAV_VTS_CHANGE:
            return result.blocks > 0 &&
                   (dvdnav_current_title_info(nav, &current, &part) != DVDNAV_STATUS_OK ||
                    current != title);
        default:
            return event == DVDNAV_STOP;
    }
}

TitleResult PlayTitle(const std::string& folder, int32_t title, double seconds,
                      const TitleShape& shape, const RunPlan& plan) {
    TitleResult result;
    Problems problems;
    static const dvdnav_logger_cb kLogger = {CaptureLog};
    dvdnav_t* nav = nullptr;
    if (dvdnav_open2(&nav, &problems, &kLogger, folder.c_str()) != DVDNAV_STATUS_OK) {
        result.why = "libdvdnav cannot open the folder";
        return result;
    }
    dvdnav_set_PGC_positioning_flag(nav, 1);
    if (dvdnav_title_play(nav, title) != DVDNAV_STATUS_OK ||
        (plan.angle != 1 && dvdnav_angle_change(nav, plan.angle) != DVDNAV_STATUS_OK)) {
        result.why = std::string("title does not start: ") + dvdnav_err_to_string(nav);
        dvdnav_close(nav);
        return result;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    uint8_t block[DVD_VIDEO_LB_LEN];
    int highestCell = 0;
    int blockVobus = 0;
    for (;;) {
        if (std::chrono::steady_clock::now() > deadline) {
            result.why = "time limit reached before the title ended";
            break;
        }
        int32_t event = 0;
        int32_t length = 0;
        if (dvdnav_get_next_block(nav, block, &event, &length) != DVDNAV_STATUS_OK) {
            result.why = std::string("navigation error: ") + dvdnav_err_to_string(nav);
            break;
        }
        if (problems.count > 0) {
            result.why = "libdvdnav: " + problems.first;
            break;
        }
        if (event == DVDNAV_NAV_PACKET) {
            RecordNavpack(nav, shape, plan, result, blockVobus);
        }
        std::string why;
        if (OnEvent(nav, event, block, title, result, highestCell, why)) {
            if (!why.empty()) {
                result.why = why;
            } else if (shape.cells == 0 || highestCell != shape.cells) {
                result.why = "left the title before its last cell (cell " +
                             std::to_string(highestCell) + " of " + std::to_string(shape.cells) +
                             ")";
            } else {
                result.ok = true;
            }
            break;
        }
    }
    dvdnav_close(nav);
    return result;
}

std::string Sector(uint32_t sector) {
    return "navpack at " + std::to_string(sector);
}

// The angle each VOBU of the angle block must be in: the run's, and after a change the new one
// from the VOBU that follows the first ILVU end after the change.
std::string CheckAngles(const TitleShape& shape, const std::vector<Visit>& trace,
                        const RunPlan& plan) {
    int32_t angle = plan.angle;
    int blockVobus = 0;
    bool pending = false;
    for (const Visit& v : trace) {
        auto found = shape.angleOf.find(v.vcid);
        if (found == shape.angleOf.end()) {
            continue;
        }
        if (found->second != angle) {
            return Sector(v.sector) + " is in angle " + std::to_string(found->second) +
                   ", the run is in angle " + std::to_string(angle);
        }
        if (pending && (v.category & kIlvuMask) == kIlvuLast) {
            angle = plan.switchTo;
            pending = false;
        }
        if (blockVobus++ == plan.switchAfter) {
            pending = true;
        }
    }
    return {};
}

// Inside an angle block or an interleaved cell every VOBU starts where the one before ended,
// and the whole block or cell is played.
std::string CheckContinuity(const TitleShape& shape, const std::vector<Visit>& trace) {
    for (size_t i = 0; i < trace.size();) {
        const int unit = shape.unitOf.count(trace[i].vcid) ? shape.unitOf.at(trace[i].vcid) : 0;
        size_t end = i + 1;
        while (end < trace.size() && shape.unitOf.count(trace[end].vcid) &&
               shape.unitOf.at(trace[end].vcid) == unit) {
            ++end;
        }
        if (unit != 0 && shape.interleavedUnits.count(unit) != 0) {
            int64_t played = 0;
            for (size_t k = i; k < end; ++k) {
                if (k > i && trace[k].start != trace[k - 1].end) {
                    return Sector(trace[k].sector) + " starts at " +
                           std::to_string(trace[k].start) + ", the VOBU before ended at " +
                           std::to_string(trace[k - 1].end);
                }
                played += int64_t(trace[k].end) - trace[k].start;
            }
            const int64_t frames = shape.cellFrames.at(trace[i].vcid);
            if ((played + shape.ticksPerFrame / 2) / shape.ticksPerFrame != frames) {
                return "cell " + std::to_string(trace[i].vcid.first) + "/" +
                       std::to_string(trace[i].vcid.second) + " played for " +
                       std::to_string(played / shape.ticksPerFrame) + " of its " +
                       std::to_string(frames) + " frames";
            }
        }
        i = end;
    }
    return {};
}

std::string RunName(int32_t title, const TitleShape& shape, const RunPlan& plan) {
    std::string name = "title " + std::to_string(title);
    if (shape.angles > 1) {
        name += " angle " + std::to_string(plan.angle);
    }
    if (plan.switchAfter >= 0) {
        name += "->" + std::to_string(plan.switchTo) + " after VOBU " +
                std::to_string(plan.switchAfter + 1) + " of the block";
    }
    return name;
}

// Plays one run and checks it; returns its VOBU count in the first angle block, -1 on failure.
int Run(const std::string& folder, int32_t title, double seconds, const TitleShape& shape,
        const RunPlan& plan, bool print) {
    TitleResult r = PlayTitle(folder, title, seconds, shape, plan);
    if (r.ok) {
        r.why = CheckAngles(shape, r.trace, plan);
    }
    if (r.ok && r.why.empty()) {
        r.why = CheckContinuity(shape, r.trace);
    }
    if (!r.ok || !r.why.empty()) {
        printf("FAIL: %s: %s (after %lld blocks)\n", RunName(title, shape, plan).c_str(),
               r.why.c_str(), static_cast<long long>(r.blocks));
        return -1;
    }
    if (print) {
        printf("%s: played to its end (%d cells entered, %lld blocks)\n",
               RunName(title, shape, plan).c_str(), r.cells, static_cast<long long>(r.blocks));
    }
    int blockVobus = 0;
    for (const Visit& v : r.trace) {
        blockVobus += shape.angleOf.count(v.vcid) != 0 ? 1 : 0;
    }
    return blockVobus;
}

// Every angle, then changes of angle after each VOBU of the block. Returns the failed runs.
int PlayAngles(const std::string& folder, int32_t title, double seconds, const TitleShape& shape) {
    int failed = 0;
    int vobus = 0;
    for (int32_t angle = 1; angle <= shape.angles; ++angle) {
        const int found = Run(folder, title, seconds, shape, RunPlan{angle, -1, 0}, true);
        failed += found < 0 ? 1 : 0;
        vobus = angle == 1 ? found : vobus;
    }
    if (shape.angles < 2 || vobus <= 0) {
        return failed;
    }
    std::vector<std::pair<int32_t, int32_t>> changes = {{1, shape.angles}, {shape.angles, 1}};
    if (shape.angles > 2) {
        changes.emplace_back(shape.angles / 2 + 1, 2);
    }
    int runs = 0;
    int changesFailed = 0;
    for (const auto& [from, to] : changes) {
        for (int after = 0; after < vobus; ++after, ++runs) {
            changesFailed +=
                Run(folder, title, seconds, shape, RunPlan{from, after, to}, false) < 0;
        }
    }
    printf(
        "%stitle %d: %d of %d angle changes played to the end (after each of the block's %d "
        "VOBUs)\n",
        changesFailed > 0 ? "FAIL: " : "", title, runs - changesFailed, runs, vobus);
    return failed + changesFailed;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: dvdplay FOLDER [--seconds N]\n");
        return 2;
    }
    const std::string folder = argv[1];
    double seconds = 30;
    for (int i = 2; i + 1 < argc; ++i) {
        if (strcmp(argv[i], "--seconds") == 0) {
            seconds = atof(argv[++i]);
        }
    }
    dvdnav_t* nav = nullptr;
    if (dvdnav_open(&nav, folder.c_str()) != DVDNAV_STATUS_OK) {
        printf("FAIL: libdvdnav cannot open %s\n", folder.c_str());
        return 1;
    }
    int32_t titles = 0;
    dvdnav_get_number_of_titles(nav, &titles);
    dvdnav_close(nav);

    int failed = 0;
    for (int32_t title = 1; title <= titles; ++title) {
        failed += PlayAngles(folder, title, seconds, ShapeOf(folder, title));
    }
    if (titles == 0) {
        printf("FAIL: no titles\n");
        return 1;
    }
    return failed == 0 ? 0 : 1;
}
