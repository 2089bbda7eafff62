// dvdplay: plays every title of a VIDEO_TS folder to its end through libdvdnav, the navigation
// library of the common Linux players, reading every block as a player would (no decoding). A
// title has played to its end when its program chain's last cell (by the IFO, read with
// libdvdread) has been entered and the player then leaves the title (post command, stop). Any
// navigation error ("Expected NAV packet but none found", a jump outside the stream) fails the
// title at once.
//
//   dvdplay FOLDER [--seconds N]
//
// Prints one line per title and exits 1 when any title fails, 0 when all play through.

#include <dvdnav/dvdnav.h>
#include <dvdread/dvd_reader.h>
#include <dvdread/ifo_read.h>

#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

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

// Cells of the program chain a title starts with, or 0 when the IFOs do not say.
int CellsOfTitle(const std::string& folder, int32_t title) {
    dvd_reader_t* dvd = DVDOpen(folder.c_str());
    if (dvd == nullptr) {
        return 0;
    }
    int cells = 0;
    ifo_handle_t* vmg = ifoOpen(dvd, 0);
    if (vmg != nullptr && vmg->tt_srpt != nullptr && title <= vmg->tt_srpt->nr_of_srpts) {
        const title_info_t& info = vmg->tt_srpt->title[title - 1];
        ifo_handle_t* vts = ifoOpen(dvd, info.title_set_nr);
        if (vts != nullptr && vts->vts_ptt_srpt != nullptr && vts->vts_pgcit != nullptr &&
            info.vts_ttn <= vts->vts_ptt_srpt->nr_of_srpts &&
            vts->vts_ptt_srpt->title[info.vts_ttn - 1].nr_of_ptts > 0) {
            const int pgcn = vts->vts_ptt_srpt->title[info.vts_ttn - 1].ptt[0].pgcn;
            if (pgcn >= 1 && pgcn <= vts->vts_pgcit->nr_of_pgci_srp) {
                cells = vts->vts_pgcit->pgci_srp[pgcn - 1].pgc->nr_of_cells;
            }
        }
        ifoClose(vts);
    }
    ifoClose(vmg);
    DVDClose(dvd);
    return cells;
}

struct TitleResult {
    bool ok = false;
    std::string why;
    int64_t blocks = 0;
    int cells = 0;
};

TitleResult PlayTitle(const std::string& folder, int32_t title, double seconds) {
    TitleResult result;
    Problems problems;
    static const dvdnav_logger_cb kLogger = {CaptureLog};
    dvdnav_t* nav = nullptr;
    if (dvdnav_open2(&nav, &problems, &kLogger, folder.c_str()) != DVDNAV_STATUS_OK) {
        result.why = "libdvdnav cannot open the folder";
        return result;
    }
    dvdnav_set_PGC_positioning_flag(nav, 1);
    const int lastCell = CellsOfTitle(folder, title);
    if (dvdnav_title_play(nav, title) != DVDNAV_STATUS_OK) {
        result.why = std::string("title does not start: ") + dvdnav_err_to_string(nav);
        dvdnav_close(nav);
        return result;
    }

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    uint8_t block[DVD_VIDEO_LB_LEN];
    int highestCell = 0;
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
        bool leftTitle = event == DVDNAV_STOP;
        switch (event) {
            case DVDNAV_BLOCK_OK:
                ++result.blocks;
                break;
            case DVDNAV_CELL_CHANGE: {
                dvdnav_cell_change_event_t cell;
                memcpy(&cell, block, sizeof(cell));
                int32_t current = 0;
                int32_t part = 0;
                if (dvdnav_current_title_info(nav, &current, &part) != DVDNAV_STATUS_OK ||
                    current != title) {
                    leftTitle = true;
                    break;
                }
                ++result.cells;
                highestCell = cell.cellN > highestCell ? cell.cellN : highestCell;
                break;
            }
            case DVDNAV_STILL_FRAME:
                dvdnav_still_skip(nav);
                break;
            case DVDNAV_WAIT:
                dvdnav_wait_skip(nav);
                break;
            case DVDNAV_VTS_CHANGE: {
                int32_t current = 0;
                int32_t part = 0;
                if (result.blocks > 0 &&
                    (dvdnav_current_title_info(nav, &current, &part) != DVDNAV_STATUS_OK ||
                     current != title)) {
                    leftTitle = true;
                }
                break;
            }
            default:
                break;
        }
        if (leftTitle) {
            if (lastCell == 0 || highestCell != lastCell) {
                result.why = "left the title before its last cell (cell " +
                             std::to_string(highestCell) + " of " + std::to_string(lastCell) + ")";
            } else {
                result.ok = true;
            }
            break;
        }
    }
    dvdnav_close(nav);
    return result;
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
        TitleResult r = PlayTitle(folder, title, seconds);
        if (r.ok) {
            printf("title %d: played to its end (%d cells entered, %lld blocks)\n", title, r.cells,
                   static_cast<long long>(r.blocks));
        } else {
            printf("FAIL: title %d: %s (after %lld blocks)\n", title, r.why.c_str(),
                   static_cast<long long>(r.blocks));
            ++failed;
        }
    }
    if (titles == 0) {
        printf("FAIL: no titles\n");
        return 1;
    }
    return failed == 0 ? 0 : 1;
}
