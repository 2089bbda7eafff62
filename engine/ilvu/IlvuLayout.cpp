#include "engine/ilvu/IlvuLayout.h"

#include <algorithm>
#include <cstdio>

#include "support/BigEndian.h"

namespace dorvex::ilvu {

namespace {

int64_t Bcd(uint8_t v) {
    return int64_t{v >> 4} * 10 + (v & 15);
}

uint32_t Relative(uint32_t target, uint32_t from) {
    return target >= from ? target - from : pack::kAngleBackward | (from - target);
}

// Consecutive navpacks of one cell, from the first to the sector before the next navpack of
// another cell.
std::vector<Piece> Runs(const Layout& layout) {
    std::vector<Piece> runs;
    for (size_t i = 0; i < layout.navpacks.size(); ++i) {
        const Navpack& nav = layout.navpacks[i];
        if (runs.empty() || runs.back().cell != nav.cell) {
            if (!runs.empty()) {
                runs.back().last = nav.sector - 1;
            }
            runs.push_back({nav.cell, nav.sector, nav.sector, i, i});
        }
        runs.back().lastNavpack = i;
    }
    if (!runs.empty()) {
        runs.back().last = layout.sectors - 1;
    }
    return runs;
}

using PiecesByCell = std::map<CellId, std::vector<Piece>>;

PiecesByCell ByCell(const std::vector<Piece>& pieces) {
    PiecesByCell byCell;
    for (const Piece& piece : pieces) {
        byCell[piece.cell].push_back(piece);
    }
    return byCell;
}

// Navpack indices of one cell, in stream order.
std::vector<size_t> VobusOf(const std::vector<Piece>& pieces) {
    std::vector<size_t> vobus;
    for (const Piece& piece : pieces) {
        for (size_t i = piece.firstNavpack; i <= piece.lastNavpack; ++i) {
            vobus.push_back(i);
        }
    }
    return vobus;
}

void FillIlvu(const Layout& layout, const std::vector<Piece>& pieces,
              std::map<uint32_t, Fields>& expected) {
    for (size_t k = 0; k < pieces.size(); ++k) {
        const Piece& piece = pieces[k];
        for (size_t i = piece.firstNavpack; i <= piece.lastNavpack; ++i) {
            const uint32_t sector = layout.navpacks[i].sector;
            Fields& f = expected[sector];
            f.category = pack::kIlvuInBlock | (i == piece.firstNavpack ? pack::kIlvuUnitStart : 0) |
                         (i == piece.lastNavpack ? pack::kIlvuUnitEnd : 0);
            f.ilvuEnd = piece.last - sector;
            if (k + 1 < pieces.size()) {
                f.nextStart = pieces[k + 1].first - sector;
                f.nextSize = uint16_t(pieces[k + 1].last - pieces[k + 1].first + 1);
            } else {
                f.nextStart = pack::kNextIlvuNone;
                f.nextSize = pack::kNextIlvuSizeNone;
            }
        }
    }
}

// SML_AGLI of every navpack of one angle cell: per angle, its ILVU that follows in time.
void FillSeamless(const Layout& layout, const AngleBlock& block, const std::vector<Piece>& own,
                  const PiecesByCell& byCell, std::map<uint32_t, Fields>& expected) {
    for (size_t k = 0; k < own.size(); ++k) {
        for (size_t i = own[k].firstNavpack; i <= own[k].lastNavpack; ++i) {
            const uint32_t sector = layout.navpacks[i].sector;
            Fields& f = expected[sector];
            for (size_t n = 0; n < block.angles.size() && n < size_t{kAngles}; ++n) {
                f.smlAddress[n] = pack::kAngleEnd;
                f.smlSize[n] = 0;
                auto other = byCell.find(block.angles[n]);
                if (k + 1 == own.size() || other == byCell.end()) {
                    continue;
                }
                const int64_t from = layout.navpacks[own[k + 1].firstNavpack].time;
                for (const Piece& piece : other->second) {
                    if (layout.navpacks[piece.firstNavpack].time >= from) {
                        f.smlAddress[n] = Relative(piece.first, sector);
                        f.smlSize[n] = uint16_t(piece.last - piece.first + 1);
                        break;
                    }
                }
            }
        }
    }
}

// NSML_AGLI of every navpack of one angle cell: per angle, its VOBU that starts when this one
// ends.
void FillNonSeamless(const Layout& layout, const AngleBlock& block, const std::vector<Piece>& own,
                     const PiecesByCell& byCell, std::map<uint32_t, Fields>& expected) {
    const std::vector<size_t> vobus = VobusOf(own);
    for (size_t v = 0; v < vobus.size(); ++v) {
        const uint32_t sector = layout.navpacks[vobus[v]].sector;
        Fields& f = expected[sector];
        for (size_t n = 0; n < block.angles.size() && n < size_t{kAngles}; ++n) {
            f.nsml[n] = pack::kAngleEnd;
            auto other = byCell.find(block.angles[n]);
            if (v + 1 == vobus.size() || other == byCell.end()) {
                continue;
            }
            const int64_t from = layout.navpacks[vobus[v + 1]].time;
            for (size_t target : VobusOf(other->second)) {
                if (layout.navpacks[target].time >= from) {
                    f.nsml[n] = Relative(layout.navpacks[target].sector, sector);
                    break;
                }
            }
        }
    }
}

// The sector spans of the interleaved blocks: overlapping spans of interleaved cells merged.
std::vector<std::pair<uint32_t, uint32_t>> BlockSpans(const Layout& layout,
                                                      const PiecesByCell& byCell) {
    std::vector<std::pair<uint32_t, uint32_t>> spans;
    for (const CellId& cell : layout.interleaved) {
        auto found = byCell.find(cell);
        if (found != byCell.end()) {
            spans.emplace_back(found->second.front().first, found->second.back().last);
        }
    }
    std::sort(spans.begin(), spans.end());
    std::vector<std::pair<uint32_t, uint32_t>> merged;
    for (const auto& span : spans) {
        if (!merged.empty() && span.first <= merged.back().second + 1) {
            merged.back().second = std::max(merged.back().second, span.second);
        } else {
            merged.push_back(span);
        }
    }
    return merged;
}

void FillPreUnits(const Layout& layout, const PiecesByCell& byCell,
                  std::map<uint32_t, Fields>& expected) {
    const auto spans = BlockSpans(layout, byCell);
    auto inBlock = [&](uint32_t sector) {
        return std::any_of(spans.begin(), spans.end(),
                           [&](const auto& s) { return sector >= s.first && sector <= s.second; });
    };
    for (const auto& span : spans) {
        std::vector<uint32_t> before;
        for (size_t i = layout.navpacks.size(); i-- > 0 && before.size() < size_t(kPreUnitVobus);) {
            const uint32_t sector = layout.navpacks[i].sector;
            if (sector >= span.first) {
                continue;
            }
            if (inBlock(sector)) {
                break;
            }
            before.push_back(sector);
        }
        for (size_t b = 0; b < before.size(); ++b) {
            auto f = expected.find(before[b]);
            if (f != expected.end()) {
                f->second.category = pack::kIlvuPreUnit |
                                     (b + 1 == before.size() ? pack::kIlvuUnitStart : 0) |
                                     (b == 0 ? pack::kIlvuUnitEnd : 0);
            }
        }
    }
}

void Compare(std::vector<Mismatch>& out, const Navpack& nav, const std::string& field,
             uint32_t expected, uint32_t found) {
    if (expected != found) {
        out.push_back({nav.sector, nav.cell, field, expected, found});
    }
}

}  // namespace

std::string AddressTableFault(const Layout& layout, const CellId& cell) {
    auto entries = layout.addressTable.find(cell);
    if (entries == layout.addressTable.end()) {
        return "no entry";
    }
    const auto& navs = layout.navpacks;
    auto bySector = [](const Navpack& nav, uint32_t sector) { return nav.sector < sector; };
    size_t held = 0;
    uint32_t end = 0;
    for (const Span& span : entries->second) {
        const std::string entry = std::to_string(span.first) + ".." + std::to_string(span.second);
        auto first = std::lower_bound(navs.begin(), navs.end(), span.first, bySector);
        auto next = std::lower_bound(navs.begin(), navs.end(), span.second + 1, bySector);
        if (held > 0 && span.first <= end) {
            return "entry " + entry + " overlaps the one before";
        }
        if (first == navs.end() || first->sector != span.first || first->cell != cell) {
            return "entry " + entry + " does not start at a navpack of the cell";
        }
        if (next != navs.end() ? next->sector != span.second + 1
                               : span.second + 1 != layout.sectors) {
            return "entry " + entry + " ends inside a VOBU";
        }
        for (auto nav = first; nav != next; ++nav) {
            if (nav->cell != cell) {
                return "entry " + entry + " holds a navpack of another cell at " +
                       std::to_string(nav->sector);
            }
        }
        held += size_t(next - first);
        end = span.second;
    }
    const size_t all = size_t(std::count_if(navs.begin(), navs.end(),
                                            [&](const Navpack& nav) { return nav.cell == cell; }));
    if (held != all) {
        return "the entries hold " + std::to_string(held) + " of the cell's " +
               std::to_string(all) + " VOBUs";
    }
    return {};
}

std::vector<Piece> PiecesOf(const Layout& layout) {
    std::vector<Piece> pieces;
    std::set<CellId> tabled;
    for (const auto& [cell, spans] : layout.addressTable) {
        if (!AddressTableFault(layout, cell).empty()) {
            continue;
        }
        tabled.insert(cell);
        for (const Span& span : spans) {
            auto bySector = [](const Navpack& nav, uint32_t sector) { return nav.sector < sector; };
            const auto& navs = layout.navpacks;
            auto first = std::lower_bound(navs.begin(), navs.end(), span.first, bySector);
            auto next = std::lower_bound(navs.begin(), navs.end(), span.second + 1, bySector);
            pieces.push_back({cell, span.first, span.second, size_t(first - navs.begin()),
                              size_t(next - navs.begin()) - 1});
        }
    }
    for (const Piece& run : Runs(layout)) {
        if (tabled.count(run.cell) == 0) {
            pieces.push_back(run);
        }
    }
    std::sort(pieces.begin(), pieces.end(),
              [](const Piece& a, const Piece& b) { return a.first < b.first; });
    return pieces;
}

std::map<uint32_t, Fields> ExpectedFields(const Layout& layout) {
    std::map<uint32_t, Fields> expected;
    for (const Navpack& nav : layout.navpacks) {
        if (layout.played.count(nav.cell) != 0) {
            expected[nav.sector] = Fields{};
        }
    }
    const PiecesByCell byCell = ByCell(PiecesOf(layout));
    FillPreUnits(layout, byCell, expected);
    for (const CellId& cell : layout.interleaved) {
        auto found = byCell.find(cell);
        if (found != byCell.end()) {
            FillIlvu(layout, found->second, expected);
        }
    }
    for (const AngleBlock& block : layout.blocks) {
        for (const CellId& cell : block.angles) {
            auto found = byCell.find(cell);
            if (found == byCell.end()) {
                continue;
            }
            if (block.seamless) {
                FillSeamless(layout, block, found->second, byCell, expected);
            } else {
                FillNonSeamless(layout, block, found->second, byCell, expected);
            }
        }
    }
    return expected;
}

std::vector<Mismatch> CompareFields(const Layout& layout) {
    const std::map<uint32_t, Fields> expected = ExpectedFields(layout);
    std::vector<Mismatch> out;
    for (const Navpack& nav : layout.navpacks) {
        auto e = expected.find(nav.sector);
        if (e == expected.end()) {
            continue;
        }
        const Fields& want = e->second;
        const Fields& got = nav.found;
        Compare(out, nav, "ILVU category", want.category, got.category);
        Compare(out, nav, "ILVU_EA", want.ilvuEnd, got.ilvuEnd);
        Compare(out, nav, "NT_ILVU_SA", want.nextStart, got.nextStart);
        Compare(out, nav, "NT_ILVU_SZ", want.nextSize, got.nextSize);
        for (int n = 0; n < kAngles; ++n) {
            const std::string angle = "[" + std::to_string(n + 1) + "]";
            Compare(out, nav, "SML_AGLI" + angle + " address", want.smlAddress[n],
                    got.smlAddress[n]);
            Compare(out, nav, "SML_AGLI" + angle + " size", want.smlSize[n], got.smlSize[n]);
            Compare(out, nav, "NSML_AGLI" + angle, want.nsml[n], got.nsml[n]);
        }
    }
    return out;
}

Fields ReadFields(const uint8_t* pack) {
    Fields f;
    f.category = ReadBE16(pack, pack::kDsiIlvuCategory);
    f.ilvuEnd = ReadBE32(pack, pack::kDsiIlvuEnd);
    f.nextStart = ReadBE32(pack, pack::kDsiNextIlvuStart);
    f.nextSize = ReadBE16(pack, pack::kDsiNextIlvuSize);
    for (int32_t n = 0; n < kAngles; ++n) {
        const int32_t sml = pack::kDsiSmlAngle + pack::kSmlAngleEntrySize * n;
        f.smlAddress[n] = ReadBE32(pack, sml);
        f.smlSize[n] = ReadBE16(pack, sml + pack::kSmlAngleSizeAt);
        f.nsml[n] = ReadBE32(pack, pack::kPciNsmlAngle + pack::kPciNsmlAngleEntrySize * n);
    }
    return f;
}

int64_t CellElapsedFrames(const uint8_t* pack) {
    const uint8_t* t = pack + pack::kDsiCellElapsed;
    // The two top bits of the frame byte give the rate: 01 25 frames a second, 11 30.
    const int64_t rate = (t[3] & 0xC0) == 0x40 ? 25 : 30;
    return ((Bcd(t[0]) * 60 + Bcd(t[1])) * 60 + Bcd(t[2])) * rate + Bcd(t[3] & 0x3F);
}

void AddBlock(Layout& layout, const AngleBlock& block, std::vector<std::string>& problems) {
    for (const AngleBlock& known : layout.blocks) {
        if (known == block) {
            return;
        }
        for (const CellId& cell : block.angles) {
            if (std::find(known.angles.begin(), known.angles.end(), cell) != known.angles.end()) {
                problems.push_back("cell " + Name(cell) + " is in two different angle blocks");
            }
        }
    }
    layout.blocks.push_back(block);
}

std::string Name(const CellId& cell) {
    return std::to_string(cell.vob) + "/" + std::to_string(cell.cell);
}

std::string Describe(const Mismatch& m) {
    char text[160];
    snprintf(text, sizeof(text), "navpack at %u (cell %u/%u): %s: expected %08x, found %08x",
             m.sector, unsigned(m.cell.vob), unsigned(m.cell.cell), m.field.c_str(), m.expected,
             m.found);
    return text;
}

}  // namespace dorvex::ilvu
