#include "CliHarness.h"

#include <cstdio>

namespace dorvex::clitest {

std::map<std::string, std::string> ParseJson(const std::string& file) {
    const std::string script =
        "import json,sys\n"
        "def walk(p, v):\n"
        "    if isinstance(v, dict):\n"
        "        for k, x in v.items(): walk(p + '.' + k if p else k, x)\n"
        "    elif isinstance(v, list):\n"
        "        print(p + '#=' + str(len(v)))\n"
        "        for i, x in enumerate(v): walk(p + '[' + str(i) + ']', x)\n"
        "    else: print(p + '=' + (v if isinstance(v, str) else json.dumps(v)))\n"
        "walk('', json.load(open(sys.argv[1], encoding='utf-8')))\n";
    const std::string scriptFile = file + ".py";
    WriteText(scriptFile, script);
    std::map<std::string, std::string> values;
    FILE* pipe = popen(("python3 '" + scriptFile + "' '" + file + "'").c_str(), "r");
    if (pipe == nullptr) {
        return values;
    }
    char line[4096];
    while (fgets(line, sizeof(line), pipe) != nullptr) {
        std::string text = line;
        if (!text.empty() && text.back() == '\n') {
            text.pop_back();
        }
        const size_t eq = text.find('=');
        values[text.substr(0, eq)] = text.substr(eq + 1);
    }
    EXPECT_EQ(pclose(pipe), 0) << "not valid JSON: " << ReadText(file);
    return values;
}

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
