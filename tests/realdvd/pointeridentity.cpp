// pointeridentity: runs the cleaner's relative-pointer rewrite over every navpack of an
// authored VIDEO_TS folder with nothing removed. Recomputing each pointer through the identity
// map must give back the authoring tool's own bytes; any difference means the rewrite
// misreads a field's flags, direction or "none" values.
//
//   pointeridentity FOLDER
//
// Exits 1 on the first navpack that would change, 0 when none does.

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ifo/CellRecords.h"
#include "engine/PackLayout.h"
#include "engine/RelativePointers.h"
#include "support/BigEndian.h"

namespace {

using namespace dorvex;

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

bool IsNav(const uint8_t* p) {
    return ReadBE32(p, pack::kPciPacket) == pack::kCodePrivate2 &&
           ReadBE32(p, pack::kDsiPacket) == pack::kCodePrivate2;
}

// Returns the number of navpacks checked, or -1 after reporting a changed one.
int CheckStream(const std::string& name, std::vector<uint8_t> bytes) {
    const int32_t sectors = static_cast<int32_t>(bytes.size() / pack::kPackSize);
    std::vector<int32_t> navs;
    std::vector<int32_t> vcids;
    for (int32_t i = 0; i < sectors; ++i) {
        const uint8_t* p = bytes.data() + static_cast<size_t>(i) * pack::kPackSize;
        if (IsNav(p)) {
            navs.push_back(i);
            vcids.push_back(PackVcid(ReadBE16(p, pack::kDsiVobId), p[pack::kDsiCellId]));
        }
    }
    const COldStreamLayout layout(navs.data(), vcids.data(), static_cast<int32_t>(navs.size()),
                                  sectors);
    const CRemovedSectors nothing;
    for (size_t n = 0; n < navs.size(); ++n) {
        uint8_t* p = bytes.data() + static_cast<size_t>(navs[n]) * pack::kPackSize;
        uint8_t before[pack::kPackSize];
        memcpy(before, p, sizeof(before));
        if (RewriteRelativePointers(p, static_cast<int32_t>(n), nothing, layout) ||
            memcmp(before, p, sizeof(before)) != 0) {
            printf("FAIL: %s: navpack at %d changes under the identity map\n", name.c_str(),
                   navs[n]);
            return -1;
        }
    }
    return static_cast<int>(navs.size());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: pointeridentity FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    int checked = 0;
    std::vector<std::pair<std::string, std::vector<std::string>>> streams = {
        {"VIDEO_TS.VOB", {"VIDEO_TS.VOB"}}};
    for (int vts = 1; vts <= 99; ++vts) {
        char menu[32];
        snprintf(menu, sizeof(menu), "VTS_%02d_0.VOB", vts);
        std::vector<std::string> titles;
        for (int part = 1; part <= 9; ++part) {
            char name[32];
            snprintf(name, sizeof(name), "VTS_%02d_%d.VOB", vts, part);
            titles.push_back(name);
        }
        streams.push_back({menu, {menu}});
        streams.push_back({titles[0], titles});
    }
    for (const auto& [name, files] : streams) {
        std::vector<uint8_t> bytes;
        for (const std::string& file : files) {
            std::vector<uint8_t> part = ReadFile(folder + "/" + file);
            bytes.insert(bytes.end(), part.begin(), part.end());
        }
        if (bytes.empty()) {
            continue;
        }
        const int n = CheckStream(name, std::move(bytes));
        if (n < 0) {
            return 1;
        }
        checked += n;
    }
    printf("%s: %d navpacks unchanged under the identity map\n", folder.c_str(), checked);
    return checked > 0 ? 0 : 1;
}
