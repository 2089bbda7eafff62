// dvdcheck: an independent check of a VIDEO_TS folder, built on libdvdread only (it shares no
// code with the cleaner). It asserts what a player relies on: the IFOs open cleanly, every cell
// of every program chain starts and ends on navigation packs that carry the cell's own sector
// and VOB/cell IDs, the cell address tables, VOBU address maps and time maps agree with the
// navigation packs found by scanning the VOB stream, and the sector and size fields agree with
// the files on disk. With --before it also checks that the cleaned stream holds every pack of the
// original that had to survive, in order, byte for byte outside the fields the cleaner rewrites.
//
//   dvdcheck FOLDER|IMAGE [--before ORIGINAL_FOLDER] [--removed] [--ilvu-cleared]
//
// --ilvu-cleared: the ILVU and angle fields of every navpack must be 0 (a clean with -a), instead
// of what the interleaved layout gives them.
//
// An image (.iso) is read the way a player reads it: libdvdread opens the image, and every file
// the checks look at is one libdvdread read from it by domain (DVDOpenFile, DVDReadBlocks), laid
// out as a folder first. Prints one line per finding and exits 1 when there is any, 0 when the
// folder passes.

#include <dvdread/dvd_reader.h>
#include <dvdread/ifo_read.h>
#include <dvdread/ifo_types.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "IlvuLayout.h"

namespace {

constexpr size_t kSector = 2048;

int g_findings = 0;

void Fail(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Fail(const char* format, ...) {
    va_list args;
    va_start(args, format);
    fputs("FAIL: ", stdout);
    vprintf(format, args);
    fputc('\n', stdout);
    va_end(args);
    ++g_findings;
}

uint32_t Be32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
uint16_t Be16(const uint8_t* p) {
    return uint16_t((p[0] << 8) | p[1]);
}

// The file a DVD name stands for, in whatever case the folder spells it (libdvdread finds
// files the same way).
std::string Actual(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) == 0) {
        return path;
    }
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (strcasecmp(entry.path().filename().c_str(), name.c_str()) == 0) {
            return entry.path().string();
        }
    }
    return path;
}

bool Exists(const std::string& path) {
    struct stat st;
    return stat(Actual(path).c_str(), &st) == 0;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(Actual(path), std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

uint32_t SectorsOf(const std::string& path) {
    struct stat st;
    if (stat(Actual(path).c_str(), &st) != 0) {
        return 0;
    }
    return uint32_t(st.st_size / 1024 / 2);
}

std::string VtsName(int vts, int part, const char* ext) {
    char name[32];
    snprintf(name, sizeof(name), "VTS_%02d_%d.%s", vts, part, ext);
    return name;
}

// One domain's VOB stream: the menu VOB, or the title VOBs 1..9 taken as one stream.
struct Stream {
    std::string name;
    std::vector<uint8_t> bytes;
    std::vector<uint32_t> navpacks;  // sectors of the navigation packs, in order
    // Packs of the result that stand where the original had a blank pack (as stuffing, or as
    // the next pack after a removed one): a sync offset aimed at the lost pack lands there.
    std::set<uint32_t> afterBlank;

    size_t Sectors() const { return bytes.size() / kSector; }
    const uint8_t* Pack(uint32_t sector) const { return bytes.data() + size_t(sector) * kSector; }
    bool IsNav(uint32_t sector) const {
        if (sector >= Sectors()) {
            return false;
        }
        const uint8_t* p = Pack(sector);
        return Be32(p + 38) == 0x1BF && Be32(p + 1024) == 0x1BF;
    }
};

Stream LoadStream(const std::string& folder, const std::vector<std::string>& files,
                  const std::string& name) {
    Stream s;
    s.name = name;
    for (const std::string& file : files) {
        std::vector<uint8_t> part = ReadFile(folder + "/" + file);
        s.bytes.insert(s.bytes.end(), part.begin(), part.end());
    }
    s.bytes.resize(s.bytes.size() / kSector * kSector);
    for (uint32_t i = 0; i < s.Sectors(); ++i) {
        if (s.IsNav(i)) {
            s.navpacks.push_back(i);
        }
    }
    return s;
}

// A sector that is not an MPEG-2 pack (for example a zero-filled one) stops a player's demuxer.
void CheckPacks(const Stream& s) {
    size_t bad = 0;
    uint32_t first = 0;
    for (uint32_t i = 0; i < s.Sectors(); ++i) {
        if (Be32(s.Pack(i)) != 0x1BA || Be32(s.Pack(i) + 14) == 0) {
            first = bad == 0 ? i : first;
            ++bad;
        }
    }
    if (bad > 0) {
        Fail("%s: %zu sectors are not MPEG-2 packs, the first at %u", s.name.c_str(), bad, first);
    }
}

void CheckNavpacks(const Stream& s) {
    CheckPacks(s);
    for (size_t i = 0; i < s.navpacks.size(); ++i) {
        uint32_t sector = s.navpacks[i];
        const uint8_t* p = s.Pack(sector);
        if (Be32(p + 45) != sector || Be32(p + 1035) != sector) {
            Fail("%s: navpack at %u carries LBA %u/%u", s.name.c_str(), sector, Be32(p + 45),
                 Be32(p + 1035));
        }
        uint32_t end = sector + Be32(p + 1039);
        uint32_t expected =
            i + 1 < s.navpacks.size() ? s.navpacks[i + 1] - 1 : uint32_t(s.Sectors() - 1);
        if (end != expected) {
            Fail("%s: navpack at %u: VOBU ends at %u, next VOBU starts at %u", s.name.c_str(),
                 sector, end, expected + 1);
        }
    }
}

// The stream a pack carries, as the sync offsets of a navpack name them: audio stream n is
// 0x80 + n (AC-3, DTS from 0x88, LPCM from 0xA0, MPEG audio from 0xC0 as a PES stream), a
// sub-picture stream 0x20 + n. -1 for any other pack.
int AudioStreamOf(const uint8_t* p) {
    const uint32_t code = Be32(p + 14);
    if (code >= 0x1C0 && code <= 0x1C7) {
        return int(code - 0x1C0);
    }
    if (code != 0x1BD) {
        return -1;
    }
    const uint8_t sub = p[23 + p[22]];
    if ((sub >= 0x80 && sub <= 0x8F) || (sub >= 0xA0 && sub <= 0xA7)) {
        return sub & 7;
    }
    return -1;
}

int SubpictureStreamOf(const uint8_t* p) {
    if (Be32(p + 14) != 0x1BD) {
        return -1;
    }
    const uint8_t sub = p[23 + p[22]];
    return sub >= 0x20 && sub <= 0x3F ? sub - 0x20 : -1;
}

// The DSI pointers a player follows: the search pointers (libdvdnav reads on by the next-VOBU
// pointer), the reference picture ends (fast play) and the sync offsets (audio and sub-picture
// after a jump). Each must land where its meaning says, inside the navpack's own cell.
void CheckNavPointers(const Stream& s) {
    constexpr uint32_t kEndOfCell = 0x3FFFFFFF;
    const size_t n = s.navpacks.size();
    std::map<uint32_t, size_t> index;
    for (size_t i = 0; i < n; ++i) {
        index[s.navpacks[i]] = i;
    }
    auto vcid = [&](size_t i) {
        const uint8_t* p = s.Pack(s.navpacks[i]);
        return (uint32_t(Be16(p + 1055)) << 8) | p[1058];
    };
    size_t reported = 0;
    auto report = [&](uint32_t sector, const char* what, uint32_t value) {
        if (++reported <= 10) {
            Fail("%s: navpack at %u: %s (value %08x)", s.name.c_str(), sector, what, value);
        }
    };
    // The neighbours within the cell: an interleaved cell's next VOBU may lie beyond the ILVUs
    // of other cells.
    std::vector<size_t> previousInCell(n, n);
    std::vector<size_t> nextInCell(n, n);
    std::map<uint32_t, size_t> lastSeen;
    for (size_t i = 0; i < n; ++i) {
        auto seen = lastSeen.find(vcid(i));
        if (seen != lastSeen.end()) {
            previousInCell[i] = seen->second;
            nextInCell[seen->second] = i;
        }
        lastSeen[vcid(i)] = i;
    }
    for (size_t i = 0; i < n; ++i) {
        const uint32_t sector = s.navpacks[i];
        const uint8_t* p = s.Pack(sector);
        const bool firstOfCell = previousInCell[i] == n;
        const bool lastOfCell = nextInCell[i] == n;
        const uint32_t vobuEnd = i + 1 < n ? s.navpacks[i + 1] : uint32_t(s.Sectors());
        for (int k = 0; k < 42; ++k) {
            const uint32_t value = Be32(p + 1265 + 4 * k);
            const uint32_t distance = value & kEndOfCell;
            const bool backward = k > 20;
            if (k == 20 || k == 21) {
                const bool noNeighbour = k == 20 ? lastOfCell : firstOfCell;
                if (distance == kEndOfCell) {
                    if (!noNeighbour) {
                        report(sector,
                               k == 20 ? "next VOBU pointer says end of cell, it is not"
                                       : "previous VOBU pointer says start of cell",
                               value);
                    }
                    continue;
                }
                const size_t neighbour = k == 20 ? nextInCell[i] : previousInCell[i];
                const uint32_t expected = noNeighbour ? 0 : s.navpacks[neighbour];
                const uint32_t target = backward ? sector - distance : sector + distance;
                if (noNeighbour || target != expected) {
                    report(sector,
                           k == 20 ? "next VOBU pointer misses the next navpack of the cell"
                                   : "previous VOBU pointer misses the previous navpack",
                           value);
                }
                continue;
            }
            if (distance == kEndOfCell) {
                continue;
            }
            const int64_t target =
                backward ? int64_t(sector) - distance : int64_t(sector) + distance;
            auto hit = index.find(uint32_t(target));
            if (target < 0 || hit == index.end() || vcid(hit->second) != vcid(i)) {
                report(sector, "search pointer does not land on a navpack of its cell", value);
            }
        }
        for (int k = 0; k < 3; ++k) {
            const uint32_t distance = Be32(p + 1043 + 4 * k);
            if (distance != 0 && sector + distance >= vobuEnd) {
                report(sector, "reference picture end lies outside the VOBU", distance);
            }
        }
        for (int k = 0; k < 8; ++k) {
            const uint32_t value = Be16(p + 1433 + 2 * k);
            const uint32_t distance = value & 0x7FFF;
            if (distance == 0 || distance == 0x3FFF || distance == 0x7FFF) {
                continue;
            }
            const int64_t target =
                (value & 0x8000) ? int64_t(sector) - distance : int64_t(sector) + distance;
            if (target < 0 || target >= int64_t(s.Sectors()) ||
                (AudioStreamOf(s.Pack(uint32_t(target))) != k &&
                 s.afterBlank.count(uint32_t(target)) == 0)) {
                report(sector, "audio sync offset does not land on a pack of its stream", value);
            }
        }
        for (int k = 0; k < 32; ++k) {
            const uint32_t value = Be32(p + 1449 + 4 * k);
            const uint32_t distance = value & 0x7FFFFFFF;
            if (distance == 0 || distance == 0x7FFFFFFF) {
                continue;
            }
            const int64_t target =
                (value & 0x80000000) ? int64_t(sector) - distance : int64_t(sector) + distance;
            if (target < 0 || target >= int64_t(s.Sectors()) ||
                (SubpictureStreamOf(s.Pack(uint32_t(target))) != k &&
                 s.afterBlank.count(uint32_t(target)) == 0)) {
                report(sector, "sub-picture sync offset does not land on a pack of its stream",
                       value);
            }
        }
    }
    if (reported > 10) {
        Fail("%s: %zu more pointer findings", s.name.c_str(), reported - 10);
    }
}

// The seamless playback and angle fields of every navpack against what the title set's
// interleaved layout gives them (or, cleared, against 0), and the IFO's pieces against the
// stream's (IlvuLayout.h).
void CheckIlvuFields(const Stream& s, const ifo_handle_t& ifo, bool cleared) {
    std::vector<std::string> problems;
    const dorvex::ilvu::Layout layout =
        dorvex::ilvu::LayoutOf(ifo, s.bytes.data(), uint32_t(s.Sectors()), problems);
    for (const std::string& problem : problems) {
        Fail("%s: %s", s.name.c_str(), problem.c_str());
    }
    std::vector<dorvex::ilvu::Mismatch> mismatches;
    if (!cleared) {
        mismatches = dorvex::ilvu::CompareFields(layout);
    }
    for (size_t i = 0; cleared && i < layout.navpacks.size(); ++i) {
        const dorvex::ilvu::Navpack& nav = layout.navpacks[i];
        if (nav.found != dorvex::ilvu::Fields{}) {
            mismatches.push_back({nav.sector, nav.cell, "fields not cleared", 0, 1});
        }
    }
    for (size_t i = 0; i < mismatches.size() && i < 10; ++i) {
        Fail("%s: %s", s.name.c_str(), dorvex::ilvu::Describe(mismatches[i]).c_str());
    }
    if (mismatches.size() > 10) {
        Fail("%s: %zu more ILVU and angle field findings", s.name.c_str(), mismatches.size() - 10);
    }
}

void CheckAdmap(const Stream& s, const vobu_admap_t* admap) {
    if (admap == nullptr) {
        if (!s.navpacks.empty()) {
            Fail("%s: no VOBU address map", s.name.c_str());
        }
        return;
    }
    size_t n = (admap->last_byte + 1 - VOBU_ADMAP_SIZE) / 4;
    std::vector<uint32_t> entries(admap->vobu_start_sectors, admap->vobu_start_sectors + n);
    if (entries != s.navpacks) {
        Fail("%s: VOBU address map holds %zu entries, the stream %zu navpacks (or they differ)",
             s.name.c_str(), entries.size(), s.navpacks.size());
    }
}

void CheckCell(const Stream& s, const c_adt_t* cadt, int pgcn, int celln, const cell_playback_t& cp,
               const cell_position_t& pos) {
    const char* name = s.name.c_str();
    for (uint32_t sector : {cp.first_sector, cp.last_vobu_start_sector}) {
        if (!s.IsNav(sector)) {
            Fail("%s: PGC %d cell %d: sector %u is not a navpack", name, pgcn, celln, sector);
            return;
        }
        const uint8_t* p = s.Pack(sector);
        if (Be16(p + 1055) != pos.vob_id_nr || p[1058] != pos.cell_nr) {
            Fail("%s: PGC %d cell %d (%u/%u): navpack at %u carries %u/%u", name, pgcn, celln,
                 pos.vob_id_nr, pos.cell_nr, sector, Be16(p + 1055), p[1058]);
        }
    }
    uint32_t lastEnd = cp.last_vobu_start_sector + Be32(s.Pack(cp.last_vobu_start_sector) + 1039);
    if (cp.last_sector != lastEnd) {
        Fail("%s: PGC %d cell %d: last sector %u, last VOBU ends at %u", name, pgcn, celln,
             cp.last_sector, lastEnd);
    }
    if (cadt == nullptr) {
        Fail("%s: no cell address table", name);
        return;
    }
    // An interleaved cell has one entry per ILVU; together they reach from its first sector to
    // its last (ilvucheck holds each entry against the stream).
    size_t n = (cadt->last_byte + 1 - C_ADT_SIZE) / sizeof(cell_adr_t);
    uint32_t first = UINT32_MAX;
    uint32_t last = 0;
    for (size_t i = 0; i < n; ++i) {
        const cell_adr_t& a = cadt->cell_adr_table[i];
        if (a.vob_id == pos.vob_id_nr && a.cell_id == pos.cell_nr) {
            first = std::min<uint32_t>(first, a.start_sector);
            last = std::max<uint32_t>(last, a.last_sector);
        }
    }
    if (first == UINT32_MAX) {
        Fail("%s: PGC %d cell %d: %u/%u missing from the cell address table", name, pgcn, celln,
             pos.vob_id_nr, pos.cell_nr);
    } else if (first > cp.first_sector || last < cp.last_sector) {
        Fail("%s: PGC %d cell %d: address table %u..%u does not cover %u..%u", name, pgcn, celln,
             first, last, cp.first_sector, cp.last_sector);
    }
}

void CheckCadtVobCount(const Stream& s, const c_adt_t* cadt) {
    if (cadt == nullptr) {
        return;
    }
    size_t n = (cadt->last_byte + 1 - C_ADT_SIZE) / sizeof(cell_adr_t);
    for (size_t i = 0; i < n; ++i) {
        if (cadt->cell_adr_table[i].vob_id > cadt->nr_of_vobs) {
            Fail("%s: cell address table names VOB ID %u of %u VOBs", s.name.c_str(),
                 cadt->cell_adr_table[i].vob_id, cadt->nr_of_vobs);
        }
    }
}

void CheckPgc(const Stream& s, const c_adt_t* cadt, int pgcn, const pgc_t* pgc) {
    if (pgc == nullptr) {
        return;
    }
    for (int c = 0; c < pgc->nr_of_cells; ++c) {
        CheckCell(s, cadt, pgcn, c + 1, pgc->cell_playback[c], pgc->cell_position[c]);
    }
}

void CheckMenus(const Stream& s, const pgci_ut_t* ut, const c_adt_t* cadt) {
    if (ut == nullptr) {
        return;
    }
    for (int lu = 0; lu < ut->nr_of_lus; ++lu) {
        const pgcit_t* it = ut->lu[lu].pgcit;
        for (int p = 0; it != nullptr && p < it->nr_of_pgci_srp; ++p) {
            CheckPgc(s, cadt, p + 1, it->pgci_srp[p].pgc);
        }
    }
}

void CheckTimeMaps(const Stream& s, const vts_tmapt_t* tmapt) {
    if (tmapt == nullptr) {
        return;
    }
    std::set<uint32_t> navs(s.navpacks.begin(), s.navpacks.end());
    for (int m = 0; m < tmapt->nr_of_tmaps; ++m) {
        const vts_tmap_t& map = tmapt->tmap[m];
        for (int e = 0; e < map.nr_of_entries; ++e) {
            uint32_t sector = map.map_ent[e] & 0x7FFFFFFF;
            if (navs.count(sector) == 0) {
                Fail("%s: time map %d entry %d points at %u, not a navpack", s.name.c_str(), m + 1,
                     e + 1, sector);
            }
        }
    }
}

void CheckBup(const std::string& folder, const std::string& base) {
    if (ReadFile(folder + "/" + base + ".IFO") != ReadFile(folder + "/" + base + ".BUP")) {
        Fail("%s.BUP differs from %s.IFO", base.c_str(), base.c_str());
    }
}

std::vector<std::string> TitleVobs(const std::string& folder, int vts) {
    std::vector<std::string> files;
    for (int part = 1; part <= 9; ++part) {
        if (Exists(folder + "/" + VtsName(vts, part, "VOB"))) {
            files.push_back(VtsName(vts, part, "VOB"));
        }
    }
    return files;
}

void CheckVobNumbering(const std::string& folder, int vts) {
    bool gap = false;
    for (int part = 1; part <= 9; ++part) {
        bool exists = Exists(folder + "/" + VtsName(vts, part, "VOB"));
        if (exists && gap) {
            Fail("title set %d: VOB files are not numbered without gaps", vts);
            return;
        }
        gap = gap || !exists;
    }
}

// ---- Log capture: libdvdread reports CHECK_VALUE failures through its logger. ----

void CaptureLog(void*, dvd_logger_level_t level, const char* format, va_list args) {
    char line[1024];
    vsnprintf(line, sizeof(line), format, args);
    // Opening a folder always brings a note about the missing CSS library and the device name;
    // those say nothing about the files.
    bool aboutTheReader = strstr(line, "css") != nullptr || strstr(line, "device name") != nullptr;
    if (!aboutTheReader && (level == DVD_LOGGER_LEVEL_ERROR || level == DVD_LOGGER_LEVEL_WARN ||
                            strstr(line, "CHECK_VALUE") != nullptr)) {
        Fail("libdvdread: %s", line);
    }
}

// ---- Sizes ----

void CheckVtsSizes(const std::string& folder, int vts, const vtsi_mat_t* mat) {
    uint32_t ifo = SectorsOf(folder + "/" + VtsName(vts, 0, "IFO"));
    uint32_t menu = SectorsOf(folder + "/" + VtsName(vts, 0, "VOB"));
    uint32_t title = 0;
    for (int part = 1; part <= 9; ++part) {
        title += SectorsOf(folder + "/" + VtsName(vts, part, "VOB"));
    }
    if (mat->vtsi_last_sector != ifo - 1) {
        Fail("VTS %d: VTSI_LAST_SECTOR %u, IFO has %u sectors", vts, mat->vtsi_last_sector, ifo);
    }
    if (mat->vtsm_vobs != (menu > 0 ? ifo : 0)) {
        Fail("VTS %d: VTSM_VOBS %u, expected %u", vts, mat->vtsm_vobs, menu > 0 ? ifo : 0);
    }
    if (mat->vtstt_vobs != ifo + menu) {
        Fail("VTS %d: VTSTT_VOBS %u, expected %u", vts, mat->vtstt_vobs, ifo + menu);
    }
    if (mat->vts_last_sector != 2 * ifo + menu + title - 1) {
        Fail("VTS %d: VTS_LAST_SECTOR %u, expected %u", vts, mat->vts_last_sector,
             2 * ifo + menu + title - 1);
    }
}

void CheckVmgSizes(const std::string& folder, const ifo_handle_t* vmg) {
    uint32_t ifo = SectorsOf(folder + "/VIDEO_TS.IFO");
    uint32_t menu = SectorsOf(folder + "/VIDEO_TS.VOB");
    const vmgi_mat_t* mat = vmg->vmgi_mat;
    if (mat->vmgi_last_sector != ifo - 1) {
        Fail("VMG: VMGI_LAST_SECTOR %u, IFO has %u sectors", mat->vmgi_last_sector, ifo);
    }
    if (mat->vmgm_vobs != (menu > 0 ? ifo : 0)) {
        Fail("VMG: VMGM_VOBS %u, expected %u", mat->vmgm_vobs, menu > 0 ? ifo : 0);
    }
    // Title sets lie one after another: IFO, menu VOB, title VOBs, BUP.
    std::map<int, uint32_t> start;
    uint32_t next = 2 * ifo + menu;
    for (int vts = 1; vts <= 99; ++vts) {
        start[vts] = next;
        uint32_t vtsIfo = SectorsOf(folder + "/" + VtsName(vts, 0, "IFO"));
        next += 2 * vtsIfo + SectorsOf(folder + "/" + VtsName(vts, 0, "VOB"));
        for (int part = 1; part <= 9; ++part) {
            uint32_t sectors = SectorsOf(folder + "/" + VtsName(vts, part, "VOB"));
            if (sectors == 0) {
                break;
            }
            next += sectors;
        }
    }
    // A title whose title set is not in the folder (a partial copy) has nothing to start at.
    std::vector<std::pair<int, const title_info_t*>> placed;
    const tt_srpt_t* tt = vmg->tt_srpt;
    for (int t = 0; tt != nullptr && t < tt->nr_of_srpts; ++t) {
        const title_info_t& info = tt->title[t];
        if (Exists(folder + "/" + VtsName(info.title_set_nr, 0, "IFO"))) {
            placed.push_back({t + 1, &info});
        } else {
            printf("note: VMG: title %d is in title set %d, which is not in the folder\n", t + 1,
                   info.title_set_nr);
        }
    }
    // dvdauthor leaves room after a video manager without a menu and starts every title set
    // behind it: consistent padding is how it authors, not a fault.
    const int64_t padding = int64_t(mat->vmg_last_sector) - (2 * ifo + menu - 1);
    bool padded = padding > 0;
    for (const auto& [title, info] : placed) {
        padded = padded && int64_t(info->title_set_sector) == start[info->title_set_nr] + padding;
    }
    if (padded) {
        printf("note: VMG: %lld sectors of padding after the video manager\n",
               static_cast<long long>(padding));
        return;
    }
    if (mat->vmg_last_sector != 2 * ifo + menu - 1) {
        Fail("VMG: VMG_LAST_SECTOR %u, expected %u", mat->vmg_last_sector, 2 * ifo + menu - 1);
    }
    for (const auto& [title, info] : placed) {
        if (info->title_set_sector != start[info->title_set_nr]) {
            Fail("VMG: title %d (VTS %d) starts at %u, expected %u", title, info->title_set_nr,
                 info->title_set_sector, start[info->title_set_nr]);
        }
    }
}

// ---- Domains whose VOB is missing (a partial copy) ----

std::vector<cell_adr_t> CadtEntries(const c_adt_t* cadt) {
    if (cadt == nullptr) {
        return {};
    }
    const size_t n = (cadt->last_byte + 1 - C_ADT_SIZE) / sizeof(cell_adr_t);
    return std::vector<cell_adr_t>(cadt->cell_adr_table, cadt->cell_adr_table + n);
}

std::vector<uint32_t> AdmapEntries(const vobu_admap_t* admap) {
    if (admap == nullptr) {
        return {};
    }
    const size_t n = (admap->last_byte + 1 - VOBU_ADMAP_SIZE) / 4;
    return std::vector<uint32_t>(admap->vobu_start_sectors, admap->vobu_start_sectors + n);
}

bool SameCadt(const std::vector<cell_adr_t>& a, const std::vector<cell_adr_t>& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](const cell_adr_t& x, const cell_adr_t& y) {
               return x.vob_id == y.vob_id && x.cell_id == y.cell_id &&
                      x.start_sector == y.start_sector && x.last_sector == y.last_sector;
           });
}

// True when the domain has no VOB while its tables still describe content: nothing of the stream
// can be checked, and with the original at hand its tables must be the original's, untouched.
bool MissingDomain(const std::string& name, const c_adt_t* cadt, const vobu_admap_t* admap,
                   const c_adt_t* oldCadt, const vobu_admap_t* oldAdmap, bool haveOriginal) {
    const std::vector<cell_adr_t> cells = CadtEntries(cadt);
    const std::vector<uint32_t> vobus = AdmapEntries(admap);
    if (cells.empty() && vobus.empty()) {
        return false;
    }
    printf("note: %s: no VOB; the IFO describes %zu cells and %zu VOBUs\n", name.c_str(),
           cells.size(), vobus.size());
    if (haveOriginal &&
        (!SameCadt(cells, CadtEntries(oldCadt)) || vobus != AdmapEntries(oldAdmap))) {
        Fail("%s: the tables of a domain without VOB changed", name.c_str());
    }
    return true;
}

// ---- Playback times: the frame rate of every time code is the disc's ----

// The disc's video standard as its titles' attributes give it (a menu domain without video may
// carry attributes nobody set): 1 PAL, 0 NTSC.
int g_videoFormat = 0;

void CheckRate(const std::string& where, const dvd_time_t& time) {
    const uint8_t expected = g_videoFormat == 1 ? 0x40 : 0xC0;
    const bool zero = time.hour == 0 && time.minute == 0 && time.second == 0 && time.frame_u == 0;
    if (!zero && (time.frame_u & 0xC0) != expected) {
        Fail("%s: playback time %02x:%02x:%02x.%02x is not at the %s frame rate", where.c_str(),
             time.hour, time.minute, time.second, time.frame_u,
             g_videoFormat == 1 ? "PAL" : "NTSC");
    }
}

void CheckRates(const std::string& name, const pgcit_t* it) {
    for (int p = 0; it != nullptr && p < it->nr_of_pgci_srp; ++p) {
        const pgc_t* pgc = it->pgci_srp[p].pgc;
        if (pgc == nullptr) {
            continue;
        }
        const std::string where = name + ": PGC " + std::to_string(p + 1);
        CheckRate(where, pgc->playback_time);
        for (int c = 0; c < pgc->nr_of_cells; ++c) {
            CheckRate(where + " cell " + std::to_string(c + 1),
                      pgc->cell_playback[c].playback_time);
        }
    }
}

void CheckMenuRates(const std::string& name, const pgci_ut_t* ut) {
    for (int lu = 0; ut != nullptr && lu < ut->nr_of_lus; ++lu) {
        CheckRates(name + " menu LU " + std::to_string(lu + 1), ut->lu[lu].pgcit);
    }
}

// ---- Content preservation against the original folder ----

// The navpack fields the cleaner may rewrite: the two LBAs, the VOBU end address, the VOB ID
// and the cell ID, the relative pointers (reference picture ends, search pointers, sync
// offsets), whose targets the pointer checks verify, and the ILVU and angle fields (non-seamless
// angles, seamless playback, seamless angles), which must be what the layout gives them.
bool SameExceptNavFields(const uint8_t* a, const uint8_t* b, bool nav) {
    if (!nav) {
        return memcmp(a, b, kSector) == 0;
    }
    static const std::pair<size_t, size_t> kRewritten[] = {
        {45, 4},   {105, 36},  {1035, 4},  {1039, 4},   {1043, 12}, {1055, 2},
        {1058, 1}, {1063, 12}, {1211, 54}, {1265, 168}, {1433, 144}};
    uint8_t x[kSector];
    uint8_t y[kSector];
    memcpy(x, a, kSector);
    memcpy(y, b, kSector);
    for (auto [offset, size] : kRewritten) {
        memset(x + offset, 0, size);
        memset(y + offset, 0, size);
    }
    return memcmp(x, y, kSector) == 0;
}

bool IsBlank(const uint8_t* p) {
    return Be32(p + 14) == 0;
}

bool IsStuffing(const uint8_t* p) {
    return Be32(p) == 0x1BA && Be32(p + 14) == 0x1BE;
}

// Walks the original stream and the cleaned one side by side. A pack of the original may be left
// out only when it is blank (with removal on) or belongs to a cell that no program chain of the
// original references; a blank pack may also come back as a stuffing pack.
void CheckPreserved(const Stream& before, Stream& after,
                    const std::set<std::pair<int, int>>& referenced, bool removed) {
    size_t j = 0;
    int vob = 0;
    int cell = 0;
    size_t dropped = 0;
    for (uint32_t i = 0; i < before.Sectors(); ++i) {
        const uint8_t* p = before.Pack(i);
        bool nav = before.IsNav(i);
        if (nav) {
            vob = Be16(p + 1055);
            cell = p[1058];
        }
        bool blank = IsBlank(p);
        // With removal on a cell no PGC plays is dropped whole: the navpacks of another angle's
        // ILVU may equal its own in every field the cleaner keeps, so it is not matched at all.
        const bool unplayed = referenced.count({vob, cell}) == 0;
        if (j < after.Sectors() && !(removed && unplayed)) {
            const uint8_t* q = after.Pack(uint32_t(j));
            if ((blank && IsStuffing(q)) || SameExceptNavFields(p, q, nav)) {
                if (blank) {
                    after.afterBlank.insert(uint32_t(j));
                }
                ++j;
                continue;
            }
        }
        bool mayDrop = (blank && removed) || unplayed;
        if (!mayDrop) {
            Fail("%s: pack %u of the original (VCID %d/%d) is missing from the result",
                 before.name.c_str(), i, vob, cell);
            return;
        }
        if (blank) {
            after.afterBlank.insert(uint32_t(j));
        }
        ++dropped;
    }
    if (j != after.Sectors()) {
        Fail("%s: the result holds %zu packs the original does not have", after.name.c_str(),
             after.Sectors() - j);
    }
    printf("%s: %zu packs kept, %zu removed\n", before.name.c_str(), j, dropped);
}

std::set<std::pair<int, int>> ReferencedCells(const pgcit_t* it) {
    std::set<std::pair<int, int>> cells;
    for (int p = 0; it != nullptr && p < it->nr_of_pgci_srp; ++p) {
        const pgc_t* pgc = it->pgci_srp[p].pgc;
        for (int c = 0; pgc != nullptr && c < pgc->nr_of_cells; ++c) {
            cells.insert(
                {int(pgc->cell_position[c].vob_id_nr), int(pgc->cell_position[c].cell_nr)});
        }
    }
    return cells;
}

std::set<std::pair<int, int>> ReferencedMenuCells(const pgci_ut_t* ut) {
    std::set<std::pair<int, int>> cells;
    for (int lu = 0; ut != nullptr && lu < ut->nr_of_lus; ++lu) {
        std::set<std::pair<int, int>> more = ReferencedCells(ut->lu[lu].pgcit);
        cells.insert(more.begin(), more.end());
    }
    return cells;
}

// Not a fault a player sees, but what a removal run will drop: cells the stream holds and no
// program chain plays.
void NoteUnplayedCells(const Stream& s, const std::set<std::pair<int, int>>& referenced) {
    std::set<std::pair<int, int>> noted;
    for (uint32_t i = 0; i < s.Sectors(); ++i) {
        if (!s.IsNav(i)) {
            continue;
        }
        const uint8_t* p = s.Pack(i);
        std::pair<int, int> vcid{Be16(p + 1055), p[1058]};
        if (referenced.count(vcid) == 0 && noted.insert(vcid).second) {
            printf("note: %s: cell %d/%d (at %u) is played by no PGC\n", s.name.c_str(), vcid.first,
                   vcid.second, i);
        }
    }
}

const dvd_logger_cb kLogger = {CaptureLog};

// One domain's file (or, for the title VOBs, the whole stream) as libdvdread reads it from the
// image, written to the folder as the parts DVDFileStat names.
bool CopyDomain(dvd_reader_t* dvd, int vts, dvd_read_domain_t domain,
                const std::vector<std::string>& names, const std::string& folder) {
    dvd_stat_t stat;
    if (DVDFileStat(dvd, vts, domain, &stat) != 0) {
        return false;  // not on the image
    }
    dvd_file_t* file = DVDOpenFile(dvd, vts, domain);
    if (file == nullptr) {
        Fail("libdvdread finds %s on the image but cannot open it", names[0].c_str());
        return false;
    }
    const bool info = domain == DVD_READ_INFO_FILE || domain == DVD_READ_INFO_BACKUP_FILE;
    std::vector<unsigned char> sector(kSector);
    int block = 0;
    for (int part = 0; part < stat.nr_parts && part < int(names.size()); ++part) {
        std::ofstream out(folder + "/" + names[part], std::ios::binary);
        const int blocks = int(stat.parts_size[part] / kSector);
        for (int i = 0; i < blocks; ++i, ++block) {
            const bool read = info ? DVDReadBytes(file, sector.data(), kSector) == ssize_t(kSector)
                                   : DVDReadBlocks(file, block, 1, sector.data()) == 1;
            if (!read) {
                Fail("libdvdread cannot read %s block %d from the image", names[part].c_str(), i);
                DVDCloseFile(file);
                return false;
            }
            out.write(reinterpret_cast<const char*>(sector.data()), kSector);
        }
    }
    DVDCloseFile(file);
    return true;
}

// The image's DVD files, as libdvdread reads them, in a new folder.
std::string FolderOfImage(dvd_reader_t* dvd) {
    char pattern[] = "/tmp/dvdcheck-image-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        return {};
    }
    const std::string folder = pattern;
    CopyDomain(dvd, 0, DVD_READ_INFO_FILE, {"VIDEO_TS.IFO"}, folder);
    CopyDomain(dvd, 0, DVD_READ_INFO_BACKUP_FILE, {"VIDEO_TS.BUP"}, folder);
    CopyDomain(dvd, 0, DVD_READ_MENU_VOBS, {"VIDEO_TS.VOB"}, folder);
    for (int vts = 1; vts <= 99; ++vts) {
        if (!CopyDomain(dvd, vts, DVD_READ_INFO_FILE, {VtsName(vts, 0, "IFO")}, folder)) {
            continue;
        }
        CopyDomain(dvd, vts, DVD_READ_INFO_BACKUP_FILE, {VtsName(vts, 0, "BUP")}, folder);
        CopyDomain(dvd, vts, DVD_READ_MENU_VOBS, {VtsName(vts, 0, "VOB")}, folder);
        std::vector<std::string> parts;
        for (int part = 1; part <= 9; ++part) {
            parts.push_back(VtsName(vts, part, "VOB"));
        }
        CopyDomain(dvd, vts, DVD_READ_TITLE_VOBS, parts, folder);
    }
    return folder;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr,
                "usage: dvdcheck FOLDER [--before ORIGINAL_FOLDER] [--removed] [--ilvu-cleared]\n");
        return 2;
    }
    std::string folder = argv[1];
    std::string beforeFolder;
    bool removed = false;
    bool ilvuCleared = false;
    for (int i = 2; i < argc; ++i) {
        if (strcmp(argv[i], "--before") == 0 && i + 1 < argc) {
            beforeFolder = argv[++i];
        } else if (strcmp(argv[i], "--removed") == 0) {
            removed = true;
        } else if (strcmp(argv[i], "--ilvu-cleared") == 0) {
            ilvuCleared = true;
        }
    }

    dvd_reader_t* dvd = DVDOpen2(nullptr, &kLogger, folder.c_str());
    dvd_reader_t* original =
        beforeFolder.empty() ? nullptr : DVDOpen2(nullptr, &kLogger, beforeFolder.c_str());
    if (dvd == nullptr || (!beforeFolder.empty() && original == nullptr)) {
        Fail("cannot open the folder with libdvdread");
        return 1;
    }
    const std::string shown = folder;
    std::string imageFolder;
    if (std::filesystem::is_regular_file(folder)) {
        imageFolder = FolderOfImage(dvd);
        if (imageFolder.empty()) {
            Fail("cannot make a folder for the image's files");
            return 1;
        }
        folder = imageFolder;
    }

    bool standardKnown = false;
    for (int vts = 1; vts <= 99 && !standardKnown; ++vts) {
        if (Exists(folder + "/" + VtsName(vts, 0, "IFO"))) {
            if (ifo_handle_t* first = ifoOpenVTSI(dvd, vts)) {
                g_videoFormat = first->vtsi_mat->vts_video_attr.video_format;
                standardKnown = true;
                ifoClose(first);
            }
        }
    }
    ifo_handle_t* vmg = ifoOpen(dvd, 0);
    if (vmg != nullptr && !standardKnown) {
        g_videoFormat = vmg->vmgi_mat->vmgm_video_attr.video_format;
    }
    if (vmg == nullptr) {
        Fail("VIDEO_TS.IFO does not open");
    } else {
        CheckBup(folder, "VIDEO_TS");
        CheckVmgSizes(folder, vmg);
        CheckMenuRates("VMG", vmg->pgci_ut);
        Stream menu = LoadStream(folder, {"VIDEO_TS.VOB"}, "VIDEO_TS.VOB");
        ifo_handle_t* oldVmg = original != nullptr ? ifoOpen(original, 0) : nullptr;
        if (menu.Sectors() == 0) {
            MissingDomain("VIDEO_TS.VOB", vmg->menu_c_adt, vmg->menu_vobu_admap,
                          oldVmg ? oldVmg->menu_c_adt : nullptr,
                          oldVmg ? oldVmg->menu_vobu_admap : nullptr, oldVmg != nullptr);
        }
        ifoClose(oldVmg);
        if (menu.Sectors() > 0) {
            CheckNavpacks(menu);
            CheckAdmap(menu, vmg->menu_vobu_admap);
            CheckCadtVobCount(menu, vmg->menu_c_adt);
            CheckMenus(menu, vmg->pgci_ut, vmg->menu_c_adt);
            NoteUnplayedCells(menu, ReferencedMenuCells(vmg->pgci_ut));
        }
        if (original != nullptr) {
            ifo_handle_t* before = ifoOpen(original, 0);
            Stream old = LoadStream(beforeFolder, {"VIDEO_TS.VOB"}, "VIDEO_TS.VOB");
            if (before != nullptr && old.Sectors() > 0) {
                CheckPreserved(old, menu, ReferencedMenuCells(before->pgci_ut), removed);
            }
            ifoClose(before);
        }
        CheckNavPointers(menu);
    }

    for (int vts = 1; vts <= 99; ++vts) {
        if (!Exists(folder + "/" + VtsName(vts, 0, "IFO"))) {
            continue;
        }
        ifo_handle_t* ifo = ifoOpen(dvd, vts);
        if (ifo == nullptr) {
            Fail("%s does not open", VtsName(vts, 0, "IFO").c_str());
            continue;
        }
        std::string base = VtsName(vts, 0, "IFO");
        base.resize(base.size() - 4);
        CheckBup(folder, base);
        CheckVtsSizes(folder, vts, ifo->vtsi_mat);
        CheckVobNumbering(folder, vts);

        CheckMenuRates(base, ifo->pgci_ut);
        CheckRates(base, ifo->vts_pgcit);
        ifo_handle_t* before =
            original != nullptr && Exists(beforeFolder + "/" + VtsName(vts, 0, "IFO"))
                ? ifoOpen(original, vts)
                : nullptr;

        Stream menu = LoadStream(folder, {VtsName(vts, 0, "VOB")}, VtsName(vts, 0, "VOB"));
        if (menu.Sectors() == 0) {
            MissingDomain(menu.name, ifo->menu_c_adt, ifo->menu_vobu_admap,
                          before ? before->menu_c_adt : nullptr,
                          before ? before->menu_vobu_admap : nullptr, before != nullptr);
        }
        if (menu.Sectors() > 0) {
            CheckNavpacks(menu);
            CheckAdmap(menu, ifo->menu_vobu_admap);
            CheckCadtVobCount(menu, ifo->menu_c_adt);
            CheckMenus(menu, ifo->pgci_ut, ifo->menu_c_adt);
            NoteUnplayedCells(menu, ReferencedMenuCells(ifo->pgci_ut));
        }
        Stream titles = LoadStream(folder, TitleVobs(folder, vts), "VTS_" + base.substr(4, 2));
        const bool titlesMissing =
            titles.Sectors() == 0 &&
            MissingDomain(titles.name + " titles", ifo->vts_c_adt, ifo->vts_vobu_admap,
                          before ? before->vts_c_adt : nullptr,
                          before ? before->vts_vobu_admap : nullptr, before != nullptr);
        if (!titlesMissing) {
            CheckNavpacks(titles);
            CheckAdmap(titles, ifo->vts_vobu_admap);
            CheckCadtVobCount(titles, ifo->vts_c_adt);
            for (int p = 0; ifo->vts_pgcit != nullptr && p < ifo->vts_pgcit->nr_of_pgci_srp; ++p) {
                CheckPgc(titles, ifo->vts_c_adt, p + 1, ifo->vts_pgcit->pgci_srp[p].pgc);
            }
            CheckTimeMaps(titles, ifo->vts_tmapt);
            CheckIlvuFields(titles, *ifo, ilvuCleared);
            NoteUnplayedCells(titles, ReferencedCells(ifo->vts_pgcit));
        }

        if (original != nullptr) {
            if (before != nullptr) {
                Stream oldMenu = LoadStream(beforeFolder, {VtsName(vts, 0, "VOB")}, menu.name);
                if (oldMenu.Sectors() > 0) {
                    CheckPreserved(oldMenu, menu, ReferencedMenuCells(before->pgci_ut), removed);
                }
                Stream oldTitles =
                    LoadStream(beforeFolder, TitleVobs(beforeFolder, vts), titles.name);
                CheckPreserved(oldTitles, titles, ReferencedCells(before->vts_pgcit), removed);
                ifoClose(before);
            } else {
                Fail("original %s does not open", VtsName(vts, 0, "IFO").c_str());
            }
        }
        CheckNavPointers(menu);
        CheckNavPointers(titles);
        ifoClose(ifo);
    }
    ifoClose(vmg);
    DVDClose(dvd);
    if (original != nullptr) {
        DVDClose(original);
    }
    if (!imageFolder.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(imageFolder, ignored);
    }
    printf("%s: %d finding(s)\n", shown.c_str(), g_findings);
    return g_findings == 0 ? 0 : 1;
}
