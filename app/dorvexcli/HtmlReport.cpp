#include "app/dorvexcli/HtmlReport.h"

#include "engine/Navpack.h"
#include "engine/map/MapSvg.h"
#include "engine/map/RunMapRecorder.h"
#include "support/Paths.h"
#include "support/Utf8.h"

namespace dorvex::cli {

namespace {

constexpr const char* kStyle =
    "body{font-family:sans-serif;margin:16px;color:#111;max-width:1000px}"
    "h1{font-size:20px}h2{font-size:17px;margin-top:28px}h3{font-size:15px}"
    "table{border-collapse:collapse;margin:8px 0;font-size:13px}"
    "th,td{border:1px solid #ccc;padding:2px 6px;text-align:left;vertical-align:top}"
    "td.n{text-align:right}tr:target{background:#fff3b0}svg{display:block;margin:8px 0}"
    "a{color:#1a4f9c}";

std::string E(std::string_view text) {
    return EscapeMarkup(text);
}

std::string Cell(const std::string& text, bool number = false) {
    return std::string(number ? "<td class=\"n\">" : "<td>") + text + "</td>";
}

std::string Cell(int64_t value) {
    return Cell(std::to_string(value), true);
}

std::string Link(const std::string& id, const std::string& text) {
    return id.empty() ? text : "<a href=\"#" + E(id) + "\">" + text + "</a>";
}

std::string Header(std::initializer_list<const char*> names) {
    std::string row = "<tr>";
    for (const char* name : names) {
        row += std::string("<th>") + name + "</th>";
    }
    return row + "</tr>\n";
}

std::string Page(const std::string& title, const std::string& body) {
    return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>" +
           E(title) + "</title>\n<style>" + kStyle + "</style>\n</head>\n<body>\n<h1>" + E(title) +
           "</h1>\n" + body + "</body>\n</html>\n";
}

std::string CountsTable(const std::map<std::string, int64_t>& counts) {
    if (counts.empty()) {
        return {};
    }
    std::string html = "<table class=\"counts\">\n" + Header({"kind", "findings"});
    for (const auto& [kind, count] : counts) {
        html += "<tr>" + Cell(E(kind)) + Cell(count) + "</tr>\n";
    }
    return html + "</table>\n";
}

std::string Findings(int64_t n) {
    return n == 0 ? "no findings" : std::to_string(n) + (n == 1 ? " finding" : " findings");
}

// Ids of one PATH's group: its section, its map, its findings.
struct GroupIds {
    std::string section;
    std::string FindingRow(size_t i) const { return section + "-f" + std::to_string(i); }
    map::SvgOptions Svg() const {
        map::SvgOptions options;
        options.idPrefix = section + "-map";
        return options;
    }
};

GroupIds IdsOf(size_t disc, const VerifyGroup& group) {
    return {"p" + std::to_string(disc + 1) + "-" + group.name};
}

map::TitleSetMap MapOf(const VerifyGroup& group) {
    return {group.name, group.maps};
}

std::string FindingRows(const VerifyGroup& group, const GroupIds& ids, const map::TitleSetMap& m,
                        const map::SvgOptions& svg) {
    std::string html;
    for (size_t i = 0; i < group.findings.size(); ++i) {
        const VerifyFinding& f = group.findings[i];
        std::string mark =
            f.sector >= 0 ? map::MarkIdFor(m, svg, f.stream, f.sector) : std::string();
        if (mark.empty() && f.sector >= 0) {
            mark = map::BandIdFor(m, svg, f.stream);
        }
        const std::string sector = f.sector >= 0 ? Link(mark, std::to_string(f.sector)) : "";
        html += "<tr id=\"" + E(ids.FindingRow(i)) + "\">" + Cell(E(f.kind)) + Cell(E(f.file)) +
                Cell(f.fileSector >= 0 ? std::to_string(f.fileSector) : "", true) +
                Cell(E(f.stream)) + Cell(sector, true) + Cell(E(f.message)) + "</tr>\n";
    }
    for (const auto& [where, count] : group.omitted) {
        html += "<tr>" + Cell(E(where.second)) + Cell(E(where.first)) + "<td colspan=\"4\">" +
                std::to_string(count) + " more not shown</td></tr>\n";
    }
    for (const VerifyFinding& note : group.notes) {
        html += "<tr>" + Cell("note: " + E(note.kind)) + Cell(E(note.file)) + Cell("") +
                Cell(E(note.stream)) + Cell("") + Cell(E(note.message)) + "</tr>\n";
    }
    return html;
}

std::string GroupSection(size_t disc, const VerifyGroup& group) {
    const GroupIds ids = IdsOf(disc, group);
    const map::TitleSetMap m = MapOf(group);
    map::SvgOptions svg = ids.Svg();
    svg.markHref = [&group, &ids](const map::DomainMap& domain, const map::Block& mark) {
        for (size_t i = 0; i < group.findings.size(); ++i) {
            const VerifyFinding& f = group.findings[i];
            if (f.stream == domain.name && f.sector >= mark.first && f.sector < mark.end) {
                return "#" + ids.FindingRow(i);
            }
        }
        return "#" + ids.section + "-findings";
    };
    std::string html = "<section id=\"" + E(ids.section) + "\">\n<h3>" + E(group.name) + ": " +
                       Findings(group.Total()) + "</h3>\n";
    if (!m.domains.empty()) {
        html += map::TitleSetSvg(m, svg);
    }
    html += CountsTable(group.counts);
    if (!group.findings.empty() || !group.omitted.empty() || !group.notes.empty()) {
        html += "<table class=\"findings\" id=\"" + E(ids.section) + "-findings\">\n" +
                Header({"kind", "file", "file sector", "stream", "sector", "message"}) +
                FindingRows(group, ids, m, svg) + "</table>\n";
    }
    return html + "</section>\n";
}

std::string DiscSection(size_t index, const CheckedDisc& disc) {
    std::string html = "<h2 id=\"p" + std::to_string(index + 1) + "\">" + E(disc.path) + "</h2>\n";
    if (disc.report == nullptr) {
        return html + "<p>not checked: " + E(disc.error) + "</p>\n";
    }
    std::map<std::string, int64_t> counts;
    for (const VerifyGroup& group : disc.report->Groups()) {
        for (const auto& [kind, count] : group.counts) {
            counts[kind] += count;
        }
    }
    html += "<p>" + Findings(disc.report->Total()) + " in " + E(disc.folder) + "</p>\n" +
            CountsTable(counts);
    for (const VerifyGroup& group : disc.report->Groups()) {
        html += GroupSection(index, group);
    }
    return html;
}

std::string YesNo(bool value) {
    return value ? "yes" : "no";
}

// The map of each title set of a plan, and where a step's band is drawn.
struct PlanMapIds {
    std::vector<NamedMap> maps;
    static std::string Prefix(const std::string& set) { return "plan-" + set + "-map"; }
    std::string BandOf(const map::DomainMap& domain) const {
        for (const NamedMap& named : maps) {
            map::SvgOptions options;
            options.idPrefix = Prefix(named.second.name);
            if (std::string id = map::BandIdFor(named.second, options, domain.name); !id.empty()) {
                return id;
            }
        }
        return {};
    }
};

std::string StepRow(size_t i, const PlannedStep& step, const PlanMapIds& ids) {
    return "<tr id=\"step" + std::to_string(i + 1) + "\">" +
           Cell(Link(step.vobPass ? ids.BandOf(step.map) : "", E(GetFileName(step.vob)))) +
           Cell(step.menu ? "menu" : "titles") + Cell(step.packsRead) + Cell(step.packsWritten) +
           Cell(step.packsRemoved) + Cell(step.blankRemoved) + Cell(step.blankStuffed) +
           Cell(step.navpacksChanged) + Cell(step.navpacksDropped) + "</tr>\n";
}

std::string CellsTable(const PlannedStep& step, const std::string& band) {
    std::string html = "<table class=\"cells\">\n" +
                       Header({"cell", "action", "becomes", "sector (where it first starts)"});
    for (const PlannedCell& cell : step.cells) {
        const std::string id = std::to_string(cell.vobId) + "/" + std::to_string(cell.cellId);
        const std::string becomes =
            cell.dropped ? ""
                         : std::to_string(cell.newVobId) + "/" + std::to_string(cell.newCellId);
        html += "<tr>" + Cell(id) + Cell(CellAction(cell)) + Cell(becomes) +
                Cell(Link(band, std::to_string(cell.sector)), true) + "</tr>\n";
    }
    return html + "</table>\n";
}

std::string PackCells(const PlannedPack& at) {
    return Cell(E(at.file)) + Cell(at.fileSector) + Cell(at.sector);
}

std::string NavpackTables(const PlannedStep& step) {
    std::string html = "<table class=\"fields\">\n" + Header({"navpack field", "navpacks changed"});
    for (int32_t f = 0; f < navpack::kFieldCount; ++f) {
        html += "<tr>" + Cell(navpack::kFieldNames[f]) + Cell(step.fieldCounts[f]) + "</tr>\n";
    }
    html += "</table>\n";
    if (step.firstNavpacks.empty()) {
        return html;
    }
    html += "<table class=\"navpacks\">\n" +
            Header({"file", "file sector", "sector", "new sector", "fields"});
    for (const PlannedNavpack& nav : step.firstNavpacks) {
        std::string fields;
        for (int32_t f = 0; f < navpack::kFieldCount; ++f) {
            if ((nav.fields >> f) & 1u) {
                fields += (fields.empty() ? "" : ", ") + std::string(navpack::kFieldNames[f]);
            }
        }
        html += "<tr>" + PackCells(nav.at) + Cell(nav.newSector) + Cell(fields) + "</tr>\n";
    }
    return html + "</table>\n";
}

std::string StepDetails(size_t i, const PlannedStep& step, const PlanMapIds& ids) {
    std::string html =
        "<h3>" + E(GetFileName(step.vob)) + " (" + (step.menu ? "menu" : "titles") + ")</h3>\n";
    if (!step.firstBlanks.empty()) {
        html += "<table class=\"blanks\">\n" +
                Header({"first blank packs: file", "file sector", "sector"});
        for (const PlannedPack& at : step.firstBlanks) {
            html += "<tr>" + PackCells(at) + "</tr>\n";
        }
        html += "</table>\n";
    }
    const std::string band = step.vobPass ? ids.BandOf(step.map) : std::string();
    return html + CellsTable(step, band) + NavpackTables(step) + "<p>" +
           Link("step" + std::to_string(i + 1), "back to the steps") + "</p>\n";
}

std::string RunChanges(const PlanResult& plan) {
    std::string html;
    if (!plan.missingVobs.empty()) {
        html += "<h2>Missing VOBs</h2>\n<table>\n" +
                Header({"vob", "domain", "ifo", "described sectors", "action"});
        for (const PlannedMissingVob& m : plan.missingVobs) {
            html += "<tr>" + Cell(E(m.vob)) + Cell(m.menu ? "menu" : "titles") + Cell(E(m.ifo)) +
                    Cell(m.describedSectors) + Cell(m.updated ? "update" : "keep") + "</tr>\n";
        }
        html += "</table>\n";
    }
    html += "<h2>Files</h2>\n<table class=\"files\">\n" + Header({"action", "path", "to"});
    for (const PlannedFileChange& change : plan.files) {
        html +=
            "<tr>" + Cell(E(change.action)) + Cell(E(change.path)) + Cell(E(change.to)) + "</tr>\n";
    }
    html += "</table>\n<h2>IFO files</h2>\n<table class=\"ifo\">\n" + Header({"file", "changes"});
    for (const PlannedIfo& ifo : plan.ifos) {
        std::string changes;
        for (const std::string& change : ifo.changes) {
            changes += (changes.empty() ? "" : ", ") + E(change);
        }
        html += "<tr>" + Cell(E(GetFileName(ifo.path))) + Cell(changes) + "</tr>\n";
    }
    html += "</table>\n";
    for (const std::string& alert : plan.alerts) {
        html += "<p>alert: " + E(alert) + "</p>\n";
    }
    return html;
}

}  // namespace

std::string CellAction(const PlannedCell& cell) {
    if (cell.dropped) {
        return "drop";
    }
    return cell.newVobId == cell.vobId && cell.newCellId == cell.cellId ? "keep" : "renumber";
}

std::string CheckHtml(const std::vector<CheckedDisc>& discs) {
    std::string body;
    for (size_t i = 0; i < discs.size(); ++i) {
        body += DiscSection(i, discs[i]);
    }
    const std::string title =
        discs.size() == 1 ? "dorvex-cli check " + discs[0].path
                          : "dorvex-cli check of " + std::to_string(discs.size()) + " paths";
    return Page(title, body);
}

std::string PlanHtml(const PlanResult& plan, const PlanPage& page) {
    PlanMapIds ids{PlanMaps(plan)};
    std::string body =
        "<p>" + E(page.vob) + "; remove unreferenced: " + YesNo(page.removeUnreferenced) +
        ", full DVD: " + YesNo(page.fullDvd) +
        ", prune missing VOBs: " + YesNo(page.pruneMissingVobs) + "; " +
        (plan.failed ? "the run would fail" : "nothing was changed (a plan only)") + "</p>\n";
    for (const NamedMap& named : ids.maps) {
        map::SvgOptions svg;
        svg.idPrefix = PlanMapIds::Prefix(named.second.name);
        body += map::TitleSetSvg(named.second, svg);
    }
    body += "<h2>Steps</h2>\n<table class=\"steps\">\n" +
            Header({"vob", "domain", "packs read", "written", "removed", "blank packs removed",
                    "stuffed", "navpacks changed", "dropped"});
    for (size_t i = 0; i < plan.steps.size(); ++i) {
        body += StepRow(i, plan.steps[i], ids);
    }
    body += "</table>\n";
    for (size_t i = 0; i < plan.steps.size(); ++i) {
        body += StepDetails(i, plan.steps[i], ids);
    }
    return Page("dorvex-cli plan " + page.path, body + RunChanges(plan));
}

std::vector<NamedMap> CheckMaps(const std::vector<CheckedDisc>& discs) {
    std::vector<NamedMap> maps;
    for (size_t i = 0; i < discs.size(); ++i) {
        if (discs[i].report == nullptr) {
            continue;
        }
        const std::string prefix = discs.size() == 1 ? "" : std::to_string(i + 1) + "-";
        for (const VerifyGroup& group : discs[i].report->Groups()) {
            if (!group.maps.empty()) {
                maps.push_back({prefix + group.name + ".svg", MapOf(group)});
            }
        }
    }
    return maps;
}

std::vector<NamedMap> PlanMaps(const PlanResult& plan) {
    std::vector<map::DomainMap> domains;
    for (const PlannedStep& step : plan.steps) {
        if (step.vobPass) {
            domains.push_back(step.map);
        }
    }
    std::vector<NamedMap> maps;
    for (map::TitleSetMap& set : map::GroupByTitleSet(domains)) {
        std::string name = set.name + ".svg";
        maps.push_back({std::move(name), std::move(set)});
    }
    return maps;
}

}  // namespace dorvex::cli
