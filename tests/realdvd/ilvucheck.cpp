// ilvucheck: derives the interleaved layout of every title set of a VIDEO_TS folder or image
// from its IFO and stream (through libdvdread only), recomputes what the seamless playback,
// seamless angle and non-seamless angle fields of every navpack should hold for that layout
// (the rules are in IlvuLayout.h), and prints each navpack field that differs, and each place
// where the IFO's description of the pieces (cell address table, a cell's sectors and first
// ILVU end) disagrees with the stream.
//
//   ilvucheck FOLDER|IMAGE [--layout] [--cleared]
//
// --layout also prints the layout: every cell's pieces and the angle blocks. --cleared holds
// every navpack, played or not, to fields all 0 instead (what a clean with -a leaves). Exits 1
// when anything differs, 0 when every navpack holds what its layout gives it.

#include <dvdread/dvd_reader.h>
#include <dvdread/ifo_read.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "IlvuLayout.h"

namespace {

using namespace dorvex::ilvu;

// The reader's notes (no CSS library, no device name) say nothing about the files; dvdcheck
// judges libdvdread's complaints.
void Quiet(void*, dvd_logger_level_t, const char*, va_list) {}

std::vector<uint8_t> TitleStream(dvd_reader_t* dvd, int vts) {
    std::vector<uint8_t> bytes;
    dvd_file_t* file = DVDOpenFile(dvd, vts, DVD_READ_TITLE_VOBS);
    if (file == nullptr) {
        return bytes;
    }
    const ssize_t blocks = DVDFileSize(file);
    bytes.resize(size_t(blocks > 0 ? blocks : 0) * DVD_VIDEO_LB_LEN);
    if (blocks > 0 && DVDReadBlocks(file, 0, size_t(blocks), bytes.data()) != blocks) {
        bytes.clear();
    }
    DVDCloseFile(file);
    return bytes;
}

void PrintLayout(const char* name, const Layout& layout) {
    for (const Piece& piece : PiecesOf(layout)) {
        printf("  %s cell %u/%u: %u..%u (%zu VOBUs)%s\n", name, unsigned(piece.cell.vob),
               unsigned(piece.cell.cell), piece.first, piece.last,
               piece.lastNavpack - piece.firstNavpack + 1,
               layout.played.count(piece.cell) ? "" : ", played by no PGC");
    }
    for (const AngleBlock& block : layout.blocks) {
        printf("  %s angle block, %s:", name, block.seamless ? "seamless" : "non-seamless");
        for (const CellId& cell : block.angles) {
            printf(" %u/%u", unsigned(cell.vob), unsigned(cell.cell));
        }
        printf("\n");
    }
}

struct Options {
    bool printLayout = false;
    bool cleared = false;
};

// Every navpack whose ILVU and angle fields are not all 0.
std::vector<Mismatch> NotCleared(const Layout& layout) {
    std::vector<Mismatch> found;
    for (const Navpack& nav : layout.navpacks) {
        if (nav.found != Fields{}) {
            found.push_back(
                {nav.sector, nav.cell, "ILVU and angle fields not cleared", 0, nav.found.category});
        }
    }
    return found;
}

// Returns the number of differences found in the title set.
int CheckTitleSet(dvd_reader_t* dvd, int vts, const Options& options) {
    ifo_handle_t* ifo = ifoOpen(dvd, vts);
    char name[16];
    snprintf(name, sizeof(name), "VTS_%02d", vts);
    if (ifo == nullptr) {
        printf("FAIL: %s: the IFO does not open\n", name);
        return 1;
    }
    const std::vector<uint8_t> stream = TitleStream(dvd, vts);
    std::vector<std::string> problems;
    const Layout layout =
        LayoutOf(*ifo, stream.data(), uint32_t(stream.size() / DVD_VIDEO_LB_LEN), problems);
    ifoClose(ifo);
    if (options.printLayout) {
        PrintLayout(name, layout);
    }
    for (const std::string& problem : problems) {
        printf("FAIL: %s: %s\n", name, problem.c_str());
    }
    const std::vector<Mismatch> mismatches =
        options.cleared ? NotCleared(layout) : CompareFields(layout);
    for (const Mismatch& m : mismatches) {
        printf("FAIL: %s: %s\n", name, Describe(m).c_str());
    }
    size_t unplayed = 0;
    for (const Navpack& nav : layout.navpacks) {
        unplayed += layout.played.count(nav.cell) == 0 ? 1 : 0;
    }
    printf(
        "%s: %zu navpacks (%zu of cells no PGC plays%s), %zu interleaved cells, "
        "%zu angle blocks: %zu mismatches\n",
        name, layout.navpacks.size(), unplayed, options.cleared ? "" : ", not compared",
        layout.interleaved.size(), layout.blocks.size(), mismatches.size() + problems.size());
    return int(mismatches.size() + problems.size());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: ilvucheck FOLDER|IMAGE [--layout] [--cleared]\n");
        return 2;
    }
    Options options;
    for (int i = 2; i < argc; ++i) {
        options.printLayout |= strcmp(argv[i], "--layout") == 0;
        options.cleared |= strcmp(argv[i], "--cleared") == 0;
    }
    static const dvd_logger_cb kLogger = {Quiet};
    dvd_reader_t* dvd = DVDOpen2(nullptr, &kLogger, argv[1]);
    if (dvd == nullptr) {
        printf("FAIL: libdvdread cannot open %s\n", argv[1]);
        return 1;
    }
    int differences = 0;
    int sets = 0;
    for (int vts = 1; vts <= 99; ++vts) {
        dvd_stat_t stat;
        if (DVDFileStat(dvd, vts, DVD_READ_INFO_FILE, &stat) != 0) {
            continue;
        }
        ++sets;
        differences += CheckTitleSet(dvd, vts, options);
    }
    DVDClose(dvd);
    printf("%s: %d title set(s), %d mismatch(es)\n", argv[1], sets, differences);
    return differences == 0 && sets > 0 ? 0 : 1;
}
