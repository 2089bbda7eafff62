// check --html and plan --html: one HTML file holding everything it shows (inline SVG and CSS,
// no script, nothing fetched): the map of every title set read, and the findings or the plan's
// steps as tables whose rows link to the map and whose marks link back, with the figures of
// --json. External text (paths, file names, messages) is escaped.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "engine/check/VerifyReport.h"
#include "engine/map/DiscMap.h"
#include "engine/plan/DryRun.h"

namespace dorvex::cli {

// One PATH of check: its report, or why there is none.
struct CheckedDisc {
    std::string path;
    std::string folder;
    const CVerifyReport* report = nullptr;
    std::string error;
};

struct PlanPage {
    std::string path;  // as the user named it
    std::string vob;   // the VOB the run starts from
    bool removeUnreferenced = false;
    bool fullDvd = false;
    bool pruneMissingVobs = false;
};

// "keep", "renumber" or "drop", as --json says it.
std::string CellAction(const PlannedCell& cell);

std::string CheckHtml(const std::vector<CheckedDisc>& discs);
std::string PlanHtml(const PlanResult& plan, const PlanPage& page);

// The title sets' maps of a check's reports and of a plan, each with the name of its own SVG
// file for --svg: "VTS_01.svg", with several PATHs "2-VTS_01.svg" for the second.
using NamedMap = std::pair<std::string, map::TitleSetMap>;
std::vector<NamedMap> CheckMaps(const std::vector<CheckedDisc>& discs);
std::vector<NamedMap> PlanMaps(const PlanResult& plan);

}  // namespace dorvex::cli
