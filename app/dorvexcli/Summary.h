// check and clean with several PATHs: each is done on its own, one after the other, and one
// summary follows (readable, or with --json as JSON, see docs/json.md). The exit status is the
// highest of theirs.
#pragma once

#include <string>
#include <vector>

#include "support/JsonWriter.h"

namespace dorvex::cli {

struct PathResult {
    std::string path;
    int status = 0;       // this path's exit status, as if it had been alone
    std::string outcome;  // one word: "clean", "findings", "cleaned", "refused", "failed",
                          // "interrupted", "not-started"
    std::string detail;   // for people: "17 findings in movie.iso/VIDEO_TS/", a refusal ...
};

int WorstStatus(const std::vector<PathResult>& results);

// "summary of 3 paths (exit status 2):" and one line per path.
std::string ReadableSummary(const std::vector<PathResult>& results);

// "paths": [...] and "exitStatus" into the open object; each path's object is left open for
// `more` to add its own members.
template <typename More>
void SummaryMembers(CJsonWriter& json, const std::vector<PathResult>& results, More&& more) {
    json.Key("paths");
    json.BeginArray();
    for (size_t i = 0; i < results.size(); ++i) {
        const PathResult& result = results[i];
        json.BeginObject();
        json.Member("path", result.path);
        json.Member("outcome", result.outcome);
        json.Member("exitStatus", result.status);
        json.Member("detail", result.detail);
        more(json, i);
        json.EndObject();
    }
    json.EndArray();
    json.Member("exitStatus", WorstStatus(results));
}

}  // namespace dorvex::cli
