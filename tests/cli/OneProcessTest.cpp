// Plans and cleans of different discs, made one after the other in this process with nothing
// reset in between, give what each gives in a process of its own: no run leaves state behind
// that changes the next one (the video standard, the sinks, the dry run's files, a fault rule).
#include <regex>

#include "CliHarness.h"
#include "app/core/RunSession.h"
#include "engine/plan/DryRun.h"
#include "support/Sinks.h"

namespace dorvex::clitest {
namespace {

class OneProcess : public CliHarness {};

// The step's pack and navpack counts as the JSON of dorvex-cli plan gives them.
std::vector<int64_t> CountsOfJson(const std::string& json) {
    static const std::regex kCounts(
        "\"packs\": \\{\\s*\"read\": (\\d+),\\s*\"written\": (\\d+),\\s*\"removed\": (\\d+)"
        "[\\s\\S]*?\"navpacks\": \\{\\s*\"changed\": (\\d+),\\s*\"dropped\": (\\d+)");
    std::smatch match;
    std::vector<int64_t> counts;
    if (std::regex_search(json, match, kCounts)) {
        for (size_t i = 1; i < match.size(); ++i) {
            counts.push_back(std::stoll(match[i].str()));
        }
    }
    return counts;
}

std::vector<int64_t> CountsOfPlan(const PlanResult& plan) {
    if (plan.steps.empty()) {
        return {};
    }
    const PlannedStep& step = plan.steps.front();
    return {step.packsRead, step.packsWritten, step.packsRemoved, step.navpacksChanged,
            step.navpacksDropped};
}

TEST_F(OneProcess, PlansAndCleansOfTwoDiscsMatchRunsInFreshProcesses) {
    struct Disc {
        const char* name;
        testkit::DiscShape shape;
    };
    const Disc discs[] = {{"pal", {576, true}}, {"ntsc", {480, true}}, {"pal-again", {576, true}}};
    RunOptions options;
    options.m_RemoveUnrefed = 1;
    ScopedSinks quiet(DiscardMessage, DiscardMessage);
    for (const Disc& disc : discs) {
        SCOPED_TRACE(disc.name);
        const std::string here = Path(std::string(disc.name) + "/here/VIDEO_TS");
        const std::string fresh = Path(std::string(disc.name) + "/fresh/VIDEO_TS");
        MakeDamagedDisc(here, disc.shape);
        MakeDamagedDisc(fresh, disc.shape);

        CPlanningCleaner planner;
        options.ApplyTo(planner);
        ASSERT_EQ(planner.Open(here + "/VTS_01_1.VOB"), 0);
        const PlanResult plan = planner.Plan(false);
        ASSERT_FALSE(plan.failed);

        CVtsCleaner engine;
        options.m_LogPath = Path(std::string(disc.name) + ".log");
        ASSERT_EQ(engine.Open(here + "/VTS_01_1.VOB"), 0);
        ASSERT_FALSE(RunSession(engine, options).RunHere().Interrupted());

        const ChildResult planned = Cli({"plan", "-u", "--json", fresh});
        ASSERT_EQ(planned.status, 0) << planned.err;
        EXPECT_EQ(CountsOfPlan(plan), CountsOfJson(planned.out));
        const ChildResult cleaned =
            Cli({"clean", "-u", "-q", "--log", Path("fresh.log"), fresh + "/VTS_01_1.VOB"});
        ASSERT_EQ(cleaned.status, 0) << cleaned.err;
        EXPECT_TRUE(ReadTree(here) == ReadTree(fresh));
    }
}

}  // namespace
}  // namespace dorvex::clitest
