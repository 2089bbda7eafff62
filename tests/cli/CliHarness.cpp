#include "CliHarness.h"

namespace dorvex::clitest {

std::vector<std::string> ConsoleLinesOfLog(const std::string& log) {
    std::vector<std::string> lines;
    for (const std::string& line : SplitLines(log)) {
        if (line.rfind("Dorvex -- ", 0) != 0 && line.rfind("End Processing at ", 0) != 0) {
            lines.push_back(line);
        }
    }
    return lines;
}

}  // namespace dorvex::clitest
