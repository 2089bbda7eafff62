#include "engine/map/MapSvg.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include "support/Utf8.h"

namespace dorvex::map {

namespace {

// Vertical layout of one domain, from its top.
constexpr double kMargin = 12;
constexpr double kTitleHeight = 30;
constexpr double kLabelHeight = 16;
constexpr double kMarkHeight = 10;
constexpr double kBandHeight = 26;
constexpr double kStripeHeight = 6;  // interleaved blocks, along the band's top
constexpr double kFileRowHeight = 16;
constexpr double kDomainGap = 10;
constexpr double kLegendHeight = 24;
constexpr double kMarkGap = 4;  // findings closer than this many pixels share one mark

std::string Num(double value) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.1f", value);
    return text;
}

std::string Thousands(int64_t value) {
    const std::string digits = std::to_string(value);
    std::string out;
    for (size_t i = 0; i < digits.size(); ++i) {
        const size_t left = digits.size() - i;
        if (i > 0 && left % 3 == 0 && digits[i - 1] != '-') {
            out += ',';
        }
        out += digits[i];
    }
    return out;
}

std::string Span(int64_t first, int64_t end) {
    return end - first <= 1 ? "sector " + Thousands(first)
                            : "sectors " + Thousands(first) + "-" + Thousands(end - 1);
}

void Rect(std::string& out, double x, double y, double width, double height, const char* fill,
          const std::string& title, const std::string& extra = {}) {
    out += "<rect x=\"" + Num(x) + "\" y=\"" + Num(y) + "\" width=\"" + Num(width) +
           "\" height=\"" + Num(height) + "\" fill=\"" + fill + "\"" + extra + "><title>" +
           EscapeMarkup(title) + "</title></rect>\n";
}

void Text(std::string& out, double x, double y, const std::string& text, const char* style) {
    out += "<text x=\"" + Num(x) + "\" y=\"" + Num(y) + "\" " + style + ">" + EscapeMarkup(text) +
           "</text>\n";
}

const char* PlayedBy(Player player) {
    switch (player) {
        case Player::Titles:
            return "played by a title PGC";
        case Player::Menus:
            return "played by a menu PGC";
        case Player::Nobody:
            break;
    }
    return "played by no PGC";
}

std::string CellTitle(const CellBlock& cell) {
    const Block& b = cell.block;
    if (b.items > 1) {
        return std::to_string(b.items) + " cell pieces " + PlayedBy(cell.player) + ", " +
               Span(b.first, b.end) + " (" + Thousands(b.sectors) + " sectors)";
    }
    std::string text = "cell " + std::to_string(cell.cell->vobId) + "/" +
                       std::to_string(cell.cell->cellId) + ", " + Span(b.first, b.end) + " (" +
                       Thousands(b.sectors) + " sectors), " + PlayedBy(cell.player);
    if (cell.cell->interleaved) {
        text += ", interleaved";
    }
    if (cell.cell->angleBlock >= 0) {
        text += ", angle block " + std::to_string(cell.cell->angleBlock + 1);
    }
    return text;
}

std::string RunTitle(const Block& b, const char* what) {
    std::string text = Thousands(b.sectors) + " " + what + ", " + Span(b.first, b.end);
    return b.items > 1 ? text + " (" + std::to_string(b.items) + " runs)" : text;
}

void Runs(std::string& out, const std::vector<SectorRun>& runs, const BandScale& scale, double y,
          double height, const char* fill, const char* what) {
    for (const Block& b : MergeRuns(runs, scale)) {
        Rect(out, b.x, y, b.width, height, fill, RunTitle(b, what));
    }
}

void Cells(std::string& out, const DomainMap& domain, const BandScale& scale, double y) {
    Rect(out, scale.left, y, scale.width, kBandHeight, colour::kEmpty,
         domain.name + ": " + SizeText(domain.sectors));
    for (const CellBlock& cell : MergeCells(domain.cells, scale)) {
        Rect(out, cell.block.x, y, cell.block.width, kBandHeight, ColourOf(cell.player),
             CellTitle(cell));
    }
}

// The stream sector that the `kept`-th kept sector was before the run.
int64_t OldSectorOfKept(const std::vector<SectorRun>& removed, int64_t kept) {
    int64_t sector = kept;
    for (const SectorRun& run : removed) {
        if (run.first > sector) {
            break;
        }
        sector += run.count;
    }
    return sector;
}

// Boundaries between VOB files, with the names where there is room for them.
void Files(std::string& out, const std::vector<FileSpan>& files, const BandScale& scale, double y,
           const std::vector<SectorRun>* removed) {
    for (const FileSpan& file : files) {
        const int64_t first = removed ? OldSectorOfKept(*removed, file.first) : file.first;
        const int64_t end = removed ? OldSectorOfKept(*removed, file.first + file.sectors - 1) + 1
                                    : first + file.sectors;
        const double x = scale.X(first);
        out += "<line x1=\"" + Num(x) + "\" y1=\"" + Num(y - kBandHeight) + "\" x2=\"" + Num(x) +
               "\" y2=\"" + Num(y + 4) + "\" stroke=\"#000\" stroke-width=\"1\"/>\n";
        Rect(out, x, y + 1, std::max(1.0, scale.X(end) - x), kFileRowHeight - 2, "#fff",
             file.name + ": " + Thousands(file.sectors) + " sectors");
        // About 6 pixels a character at this size; a name without room for it is left to the
        // band's hover text.
        const double room = scale.X(end) - x - 6.0;
        std::string label = file.name + " (" + Thousands(file.sectors) + ")";
        if (room < 6.0 * static_cast<double>(label.size())) {
            label = file.name;
        }
        if (room >= 6.0 * static_cast<double>(label.size())) {
            Text(out, x + 3, y + 12, label, "font-size=\"10\" fill=\"#333\"");
        }
    }
}

std::string Plural(int64_t n, const char* one, const char* many) {
    return Thousands(n) + " " + (n == 1 ? one : many);
}

std::string BeforeLabel(const DomainMap& domain) {
    std::set<std::pair<uint16_t, uint8_t>> seen;
    std::set<std::pair<uint16_t, uint8_t>> unplayedCells;
    for (const CellRun& cell : domain.cells) {
        seen.insert({cell.vobId, cell.cellId});
        if (cell.player == Player::Nobody) {
            unplayedCells.insert({cell.vobId, cell.cellId});
        }
    }
    const auto unplayed = static_cast<int64_t>(unplayedCells.size());
    std::string text = domain.name + ": " + SizeText(domain.sectors) + " in " +
                       Plural(static_cast<int64_t>(domain.files.size()), "VOB file", "VOB files") +
                       ", " + Plural(static_cast<int64_t>(seen.size()), "cell", "cells");
    if (unplayed > 0) {
        text += " (" + Thousands(unplayed) + " played by no PGC)";
    }
    if (const int64_t blank = TotalSectors(domain.blank); blank > 0) {
        text += ", " + Plural(blank, "blank pack", "blank packs");
    }
    if (!domain.marks.empty()) {
        text += ", findings at " +
                Plural(static_cast<int64_t>(domain.marks.size()), "sector", "sectors");
    }
    return text;
}

// Sectors that both run lists hold (each in stream order).
int64_t Overlap(const std::vector<SectorRun>& a, const std::vector<SectorRun>& b) {
    int64_t both = 0;
    for (size_t i = 0, j = 0; i < a.size() && j < b.size();) {
        both += std::max<int64_t>(
            0, std::min(a[i].End(), b[j].End()) - std::max(a[i].first, b[j].first));
        (a[i].End() < b[j].End() ? i : j) += 1;
    }
    return both;
}

std::string AfterLabel(const DomainMap& domain) {
    const int64_t removed = TotalSectors(domain.removed);
    const int64_t blankRemoved = Overlap(domain.blank, domain.removed);
    const int64_t stuffed = TotalSectors(domain.blank) - blankRemoved;
    std::string text =
        "after the run: " + SizeText(domain.sectorsAfter) + " in " +
        Plural(static_cast<int64_t>(domain.filesAfter.size()), "VOB file", "VOB files") + ", " +
        Plural(removed, "sector", "sectors") + " removed";
    if (removed > 0) {
        text += " (" + Plural(blankRemoved, "blank pack", "blank packs") + ", " +
                Thousands(removed - blankRemoved) + " of cells no PGC plays)";
    }
    if (stuffed > 0) {
        text += ", " + Plural(stuffed, "blank pack", "blank packs") + " replaced by stuffing";
    }
    return text;
}

const char* kLabelStyle = "font-size=\"12\" fill=\"#111\"";

void Marks(std::string& out, const DomainMap& domain, const BandScale& scale, double y,
           const std::string& id, const SvgOptions& options) {
    const std::vector<Block> marks = MergeMarks(domain.marks, scale, kMarkGap);
    for (size_t k = 0; k < marks.size(); ++k) {
        const Block& b = marks[k];
        const double x = b.x + 0.5;
        const std::string href = options.markHref ? options.markHref(domain, b) : std::string();
        out += href.empty() ? "" : "<a href=\"" + EscapeMarkup(href) + "\">";
        out +=
            "<path id=\"" + id + "-m" + std::to_string(k) + "\" d=\"M" + Num(x - 4) + " " + Num(y) +
            "h8l-4 " + Num(kMarkHeight - 2) + "z\" fill=\"" + colour::kMark + "\"><title>" +
            EscapeMarkup(Plural(b.sectors, "finding", "findings") + " at " + Span(b.first, b.end)) +
            "</title></path>";
        out += href.empty() ? "\n" : "</a>\n";
    }
}

// One band of the stream before the run: cells, interleaved blocks along its top, blank packs,
// sectors without a pack header; marks above it, files below it.
double BeforeBand(std::string& out, const DomainMap& domain, const BandScale& scale, double y,
                  const std::string& id, const SvgOptions& options) {
    Text(out, scale.left, y + 12, BeforeLabel(domain), kLabelStyle);
    y += kLabelHeight;
    Marks(out, domain, scale, y, id, options);
    y += kMarkHeight;
    out += "<g id=\"" + id + "-before\">\n";
    Cells(out, domain, scale, y);
    Runs(out, InterleavedRuns(domain.cells), scale, y, kStripeHeight, colour::kInterleaved,
         "sectors of interleaved blocks");
    Runs(out, domain.blank, scale, y, kBandHeight, colour::kBlank, "blank packs");
    Runs(out, domain.notPacks, scale, y, kBandHeight, colour::kNotAPack,
         "sectors without an MPEG-2 pack header");
    out += "</g>\n";
    y += kBandHeight;
    Files(out, domain.files, scale, y, nullptr);
    return y + kFileRowHeight;
}

// The band after the run, along the same sectors: what the run removes is drawn where it was.
double AfterBand(std::string& out, const DomainMap& domain, const BandScale& scale, double y,
                 const std::string& id) {
    Text(out, scale.left, y + 12, AfterLabel(domain), kLabelStyle);
    y += kLabelHeight;
    out += "<g id=\"" + id + "-after\">\n";
    Cells(out, domain, scale, y);
    Runs(out, domain.blank, scale, y, kBandHeight, colour::kStuffed,
         "blank packs replaced by stuffing packs");
    Runs(out, domain.removed, scale, y, kBandHeight, colour::kRemoved, "sectors removed");
    out += "</g>\n";
    y += kBandHeight;
    Files(out, domain.filesAfter, scale, y, &domain.removed);
    return y + kFileRowHeight;
}

double DomainHeight(const DomainMap& domain) {
    const double band = kLabelHeight + kBandHeight + kFileRowHeight;
    return kMarkHeight + band + (domain.planned ? band : 0) + kDomainGap;
}

void Legend(std::string& out, const TitleSetMap& map, double y) {
    std::vector<std::pair<const char*, const char*>> keys = {{colour::kTitles, "played by titles"},
                                                             {colour::kMenus, "played by menus"},
                                                             {colour::kNobody, "played by no PGC"},
                                                             {colour::kInterleaved, "interleaved"},
                                                             {colour::kBlank, "blank packs"},
                                                             {colour::kNotAPack, "not a pack"},
                                                             {colour::kMark, "findings"}};
    if (std::any_of(map.domains.begin(), map.domains.end(),
                    [](const DomainMap& d) { return d.planned; })) {
        keys.push_back({colour::kRemoved, "removed"});
        keys.push_back({colour::kStuffed, "stuffed"});
    }
    double x = kMargin;
    for (const auto& [fill, text] : keys) {
        Rect(out, x, y, 12, 12, fill, text);
        Text(out, x + 16, y + 10, text, "font-size=\"11\" fill=\"#333\"");
        x += 24 + 7.0 * static_cast<double>(std::char_traits<char>::length(text));
    }
}

std::string DomainId(const SvgOptions& options, size_t index) {
    return options.idPrefix + "-d" + std::to_string(index);
}

BandScale ScaleOf(const DomainMap& domain, const SvgOptions& options) {
    return {kMargin, options.width - 2 * kMargin, domain.sectors};
}

}  // namespace

std::string TitleSetSvg(const TitleSetMap& map, const SvgOptions& options) {
    double height = kTitleHeight + kLegendHeight + kMargin;
    for (const DomainMap& domain : map.domains) {
        height += DomainHeight(domain);
    }
    std::string out = options.standalone ? "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" : "";
    out += "<svg xmlns=\"http://www.w3.org/2000/svg\" id=\"" + EscapeMarkup(options.idPrefix) +
           "\" width=\"" + Num(options.width) + "\" height=\"" + Num(height) + "\" viewBox=\"0 0 " +
           Num(options.width) + " " + Num(height) +
           "\" font-family=\"sans-serif\" shape-rendering=\"crispEdges\">\n";
    out += "<rect width=\"" + Num(options.width) + "\" height=\"" + Num(height) +
           "\" fill=\"#fff\"/>\n";
    Text(out, kMargin, 20, map.name, "font-size=\"16\" font-weight=\"bold\" fill=\"#111\"");
    double y = kTitleHeight;
    for (size_t i = 0; i < map.domains.size(); ++i) {
        const DomainMap& domain = map.domains[i];
        const BandScale scale = ScaleOf(domain, options);
        const std::string id = EscapeMarkup(DomainId(options, i));
        y = BeforeBand(out, domain, scale, y, id, options);
        if (domain.planned) {
            y = AfterBand(out, domain, scale, y, id);
        }
        y += kDomainGap;
    }
    Legend(out, map, y);
    return out + "</svg>\n";
}

std::string MarkIdFor(const TitleSetMap& map, const SvgOptions& options,
                      const std::string& domainName, int64_t sector) {
    for (size_t i = 0; i < map.domains.size(); ++i) {
        const DomainMap& domain = map.domains[i];
        if (domain.name != domainName) {
            continue;
        }
        const std::vector<Block> marks =
            MergeMarks(domain.marks, ScaleOf(domain, options), kMarkGap);
        for (size_t k = 0; k < marks.size(); ++k) {
            if (sector >= marks[k].first && sector < marks[k].end) {
                return DomainId(options, i) + "-m" + std::to_string(k);
            }
        }
    }
    return {};
}

std::string BandIdFor(const TitleSetMap& map, const SvgOptions& options,
                      const std::string& domainName) {
    for (size_t i = 0; i < map.domains.size(); ++i) {
        if (map.domains[i].name == domainName) {
            return DomainId(options, i) + "-before";
        }
    }
    return {};
}

const char* ColourOf(Player player) {
    switch (player) {
        case Player::Titles:
            return colour::kTitles;
        case Player::Menus:
            return colour::kMenus;
        case Player::Nobody:
            break;
    }
    return colour::kNobody;
}

std::string SizeText(int64_t sectors) {
    const double bytes = static_cast<double>(sectors) * 2048.0;
    char size[32];
    if (bytes >= 1e9) {
        std::snprintf(size, sizeof(size), "%.2f GB", bytes / 1e9);
    } else {
        std::snprintf(size, sizeof(size), "%.1f MB", bytes / 1e6);
    }
    return Thousands(sectors) + (sectors == 1 ? " sector (" : " sectors (") + size + ")";
}

}  // namespace dorvex::map
