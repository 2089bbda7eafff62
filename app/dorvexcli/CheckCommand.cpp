// dorvex-cli check: a read-only verification of a VIDEO_TS folder. It writes nothing, not even
// a log file; the report goes to standard output, readable or as JSON (see docs/json.md).
#include <CLI/CLI.hpp>
#include <cstdio>

#include "app/dorvexcli/Command.h"
#include "app/dorvexcli/Console.h"
#include "app/dorvexcli/FolderArgument.h"
#include "engine/check/VerifyFolder.h"
#include "support/JsonWriter.h"

namespace dorvex::cli {

namespace {

void WriteStdout(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

std::string FindingLine(const VerifyFinding& f) {
    std::string line = "  " + f.kind + ": " + f.file;
    if (f.fileSector >= 0) {
        line += " sector " + std::to_string(f.fileSector);
        if (f.sector != f.fileSector) {
            line += " (" + f.stream + " sector " + std::to_string(f.sector) + ")";
        }
    }
    return line + ": " + f.message + "\n";
}

std::string Readable(const CVerifyReport& report, const std::string& folder) {
    std::string text;
    for (const VerifyGroup& group : report.Groups()) {
        const int64_t total = group.Total();
        text += group.name + ": " +
                (total == 0 ? std::string("no findings")
                            : std::to_string(total) + (total == 1 ? " finding" : " findings")) +
                "\n";
        for (const VerifyFinding& finding : group.findings) {
            text += FindingLine(finding);
        }
        for (const auto& [where, count] : group.omitted) {
            text += "  " + where.second + ": " + where.first + ": " + std::to_string(count) +
                    " more not shown\n";
        }
        for (const VerifyFinding& note : group.notes) {
            text += "  note:" + FindingLine(note).substr(1);
        }
    }
    const int64_t total = report.Total();
    text += total == 0 ? "no findings in " + folder + "\n"
                       : std::to_string(total) + (total == 1 ? " finding" : " findings") + " in " +
                             folder + "\n";
    return text;
}

void CountsMember(CJsonWriter& json, const std::map<std::string, int64_t>& counts) {
    json.Key("counts");
    json.BeginObject();
    for (const auto& [kind, count] : counts) {
        json.Member(kind, count);
    }
    json.EndObject();
}

void OptionalInt(CJsonWriter& json, const char* name, int64_t value) {
    json.Key(name);
    if (value < 0) {
        json.Null();
    } else {
        json.Int(value);
    }
}

void FindingObject(CJsonWriter& json, const VerifyFinding& f) {
    json.BeginObject();
    json.Member("kind", f.kind);
    json.Member("file", f.file);
    json.Key("stream");
    if (f.stream.empty()) {
        json.Null();
    } else {
        json.String(f.stream);
    }
    OptionalInt(json, "sector", f.sector);
    OptionalInt(json, "fileSector", f.fileSector);
    json.Member("message", f.message);
    json.EndObject();
}

std::string Json(const CVerifyReport& report, const std::string& folder) {
    CJsonWriter json;
    json.BeginObject();
    json.Member("schema", 1);
    json.Member("command", "check");
    json.Member("folder", folder);
    json.Member("total", report.Total());
    std::map<std::string, int64_t> counts;
    for (const VerifyGroup& group : report.Groups()) {
        for (const auto& [kind, count] : group.counts) {
            counts[kind] += count;
        }
    }
    CountsMember(json, counts);
    json.Key("titleSets");
    json.BeginArray();
    for (const VerifyGroup& group : report.Groups()) {
        json.BeginObject();
        json.Member("name", group.name);
        json.Member("total", group.Total());
        CountsMember(json, group.counts);
        json.Key("findings");
        json.BeginArray();
        for (const VerifyFinding& f : group.findings) {
            FindingObject(json, f);
        }
        json.EndArray();
        json.Key("omitted");
        json.BeginArray();
        for (const auto& [where, count] : group.omitted) {
            json.BeginObject();
            json.Member("kind", where.second);
            json.Member("where", where.first);
            json.Member("count", count);
            json.EndObject();
        }
        json.EndArray();
        json.Key("notes");
        json.BeginArray();
        for (const VerifyFinding& note : group.notes) {
            FindingObject(json, note);
        }
        json.EndArray();
        json.EndObject();
    }
    json.EndArray();
    json.EndObject();
    return json.Text();
}

class CheckCommand : public Command {
  public:
    CLI::App* AddTo(CLI::App& program) override {
        CLI::App* check = program.add_subcommand(
            "check", "Verify a VIDEO_TS folder without changing anything (exit 1 on findings)");
        check->add_flag("--json", m_Json, "The report as JSON (schema in docs/json.md)");
        check->add_option("PATH", m_Path, "A VIDEO_TS folder, or a file in it")
            ->required()
            ->type_name("");
        check->footer(
            "Exit status:\n"
            "  0  no findings\n"
            "  1  findings\n"
            "  2  bad usage, or no readable DVD-Video folder at PATH\n");
        return check;
    }

    int Run() override {
        std::string error;
        const std::string folder = ResolveDvdFolder(m_Path, error);
        if (folder.empty()) {
            PrintError(error);
            return kExitUsage;
        }
        const CVerifyReport report = VerifyFolder(folder);
        WriteStdout(m_Json ? Json(report, folder) : Readable(report, folder));
        return report.Total() == 0 ? kExitOk : kExitFailed;
    }

  private:
    bool m_Json = false;
    std::string m_Path;
};

}  // namespace

std::unique_ptr<Command> MakeCheckCommand() {
    return std::make_unique<CheckCommand>();
}

}  // namespace dorvex::cli
