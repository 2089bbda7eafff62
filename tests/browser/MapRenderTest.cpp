// check --html and plan -u --html of the damaged synthetic disc, screenshot by headless
// chromium: every band of the map is found in the picture, and at the middle of each of its
// sectors shows the colour the model (the checker's and the plan's maps, computed here in the
// test's own process) gives that sector: who plays its cell, a blank pack, what the run removes
// or stuffs. The pictures stay in the build folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "common/DiscBuilder.h"
#include "common/TempDir.h"
#include "engine/check/VerifyFolder.h"
#include "engine/map/MapSvg.h"
#include "engine/plan/DryRun.h"
#include "support/JsonWriter.h"

namespace dorvex::testkit {
namespace {

bool In(const std::vector<map::SectorRun>& runs, int64_t sector) {
    return std::any_of(runs.begin(), runs.end(), [sector](const map::SectorRun& run) {
        return sector >= run.first && sector < run.End();
    });
}

const char* Before(const map::DomainMap& domain, int64_t sector) {
    if (In(domain.blank, sector)) {
        return map::colour::kBlank;
    }
    for (const map::CellRun& cell : domain.cells) {
        if (sector >= cell.first && sector < cell.End()) {
            return map::ColourOf(cell.player);
        }
    }
    return map::colour::kEmpty;
}

const char* After(const map::DomainMap& domain, int64_t sector) {
    if (In(domain.removed, sector)) {
        return map::colour::kRemoved;
    }
    return In(domain.blank, sector) ? map::colour::kStuffed : Before(domain, sector);
}

// One band's probes: every sector (its middle is looked at), with the colour the model gives it.
void Band(CJsonWriter& json, const map::DomainMap& domain,
          const char* (*colour)(const map::DomainMap&, int64_t)) {
    json.BeginArray();
    for (int64_t s = 0; s < domain.sectors; ++s) {
        json.BeginObject();
        json.Member("sector", s);
        json.Member("sectors", domain.sectors);
        json.Member("colour", colour(domain, s));
        json.Member("what", domain.name + " sector " + std::to_string(s));
        json.EndObject();
    }
    json.EndArray();
}

std::string Probes(const std::vector<map::DomainMap>& domains) {
    CJsonWriter json;
    json.BeginObject();
    json.Member("width", 1000);
    // Room for the page's headings and tables above the maps.
    json.Member("height", 500 + 150 * static_cast<int64_t>(domains.size()));
    json.Member("minPixels", 400);
    json.Key("palette");
    json.BeginArray();
    for (const char* c :
         {map::colour::kTitles, map::colour::kMenus, map::colour::kNobody, map::colour::kBlank,
          map::colour::kNotAPack, map::colour::kInterleaved, map::colour::kRemoved,
          map::colour::kStuffed, map::colour::kEmpty, "#000000"}) {
        json.String(c);
    }
    json.EndArray();
    json.Key("bands");
    json.BeginArray();
    for (const map::DomainMap& domain : domains) {
        Band(json, domain, Before);
        if (domain.planned) {
            Band(json, domain, After);
        }
    }
    json.EndArray();
    json.EndObject();
    return json.Text();
}

struct Page {
    const char* name;
    std::vector<std::string> args;
};

TEST(BrowserMap, BandsShowTheModelsColours) {
    TempDir dir;
    const std::string disc = dir / "disc";
    MakeDamagedDisc(disc);
    std::vector<map::DomainMap> checked;
    const CVerifyReport report = VerifyFolder(disc);
    for (const VerifyGroup& group : report.Groups()) {
        checked.insert(checked.end(), group.maps.begin(), group.maps.end());
    }
    CPlanningCleaner planner;
    ASSERT_EQ(planner.Open(VobPath(disc, 1, 1)), 0);
    planner.m_RemoveUnrefed = 1;
    const std::vector<map::DomainMap> planned = {planner.Plan(false).steps.at(0).map};
    ASSERT_FALSE(planned[0].removed.empty());

    const std::pair<Page, std::vector<map::DomainMap>> pages[] = {
        {{"check", {"check"}}, checked}, {{"plan", {"plan", "-u"}}, planned}};
    for (const auto& [page, domains] : pages) {
        SCOPED_TRACE(page.name);
        const std::string html = dir / (std::string(page.name) + ".html");
        std::string command = DORVEX_CLI2_PATH;
        for (const std::string& arg : page.args) {
            command += " " + arg;
        }
        command += " --html '" + html + "' '" + disc + "' >/dev/null";
        ASSERT_LE(WEXITSTATUS(std::system(command.c_str())), 1);
        const std::string probes = dir / (std::string(page.name) + ".json");
        std::ofstream(probes) << Probes(domains);
        const std::string png = std::string(DORVEX_PICTURES_DIR) + "/map-" + page.name + ".png";
        const int status =
            std::system(("python3 '" DORVEX_SOURCE_DIR "/tests/cli/map_report.py' render '" + html +
                         "' '" + probes + "' '" + png + "'")
                            .c_str());
        if (WEXITSTATUS(status) == 77) {
            GTEST_SKIP() << "chromium is not installed: apt-get install chromium";
        }
        EXPECT_EQ(WEXITSTATUS(status), 0) << "see " << png;
    }
}

}  // namespace
}  // namespace dorvex::testkit
