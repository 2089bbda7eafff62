#include "app/dorvexcli/Summary.h"

#include <algorithm>

namespace dorvex::cli {

int WorstStatus(const std::vector<PathResult>& results) {
    int worst = 0;
    for (const PathResult& result : results) {
        worst = std::max(worst, result.status);
    }
    return worst;
}

std::string ReadableSummary(const std::vector<PathResult>& results) {
    std::string text = "summary of " + std::to_string(results.size()) + " paths (exit status " +
                       std::to_string(WorstStatus(results)) + "):\n";
    for (const PathResult& result : results) {
        text += "  " + result.outcome + ": " + result.path;
        if (!result.detail.empty()) {
            text += ": " + result.detail;
        }
        text += "\n";
    }
    return text;
}

}  // namespace dorvex::cli
