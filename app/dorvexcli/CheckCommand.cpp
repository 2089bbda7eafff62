// dorvex-cli check: a read-only verification of a VIDEO_TS folder or a disc image, read where it
// is. It writes nothing, not even a log file; the report goes to standard output, readable or as
// JSON (see docs/json.md).
#include <CLI/CLI.hpp>
#include <cstdio>
#include <optional>

#include "app/core/DiscFolder.h"
#include "app/dorvexcli/Command.h"
#include "app/dorvexcli/Console.h"
#include "app/dorvexcli/HtmlReport.h"
#include "app/dorvexcli/ImageArgument.h"
#include "app/dorvexcli/ReportFiles.h"
#include "app/dorvexcli/Summary.h"
#include "engine/check/VerifyFolder.h"
#include "support/JsonWriter.h"

namespace dorvex::cli {

namespace {

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

// The report's members, in the single report's object or in a path's of several.
void ReportMembers(CJsonWriter& json, const CVerifyReport& report, const std::string& folder) {
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
}

std::string Json(const CVerifyReport& report, const std::string& folder) {
    CJsonWriter json;
    json.BeginObject();
    json.Member("schema", 1);
    json.Member("command", "check");
    ReportMembers(json, report, folder);
    json.EndObject();
    return json.Text();
}

// One PATH checked: its report, or why there is none.
struct Checked {
    PathResult result;
    std::string folder;
    std::optional<CVerifyReport> report;
};

Checked CheckPath(const std::string& path) {
    Checked checked;
    checked.result.path = path;
    std::string error;
    std::unique_ptr<ImageFileSystem> image;
    if (IsImageArgument(path)) {
        image = OpenDiscImage(path, error);
        checked.folder = image != nullptr ? image->Folder() : std::string();
    } else {
        checked.folder = ResolveDiscFolder(path, DiscFiles::Ifo, error);
    }
    if (checked.folder.empty()) {
        checked.result.status = kExitUsage;
        checked.result.outcome = "refused";
        checked.result.detail = error;
        return checked;
    }
    checked.report =
        image != nullptr ? VerifyFolder(checked.folder, *image) : VerifyFolder(checked.folder);
    const int64_t total = checked.report->Total();
    checked.result.status = total == 0 ? kExitOk : kExitFailed;
    checked.result.outcome = total == 0 ? "clean" : "findings";
    checked.result.detail = total == 0
                                ? "no findings"
                                : std::to_string(total) + (total == 1 ? " finding" : " findings");
    return checked;
}

class CheckCommand : public Command {
  public:
    CLI::App* AddTo(CLI::App& program) override {
        CLI::App* check = program.add_subcommand(
            "check", "Verify a VIDEO_TS folder without changing anything (exit 1 on findings)");
        check->add_flag("--json", m_Json, "The report as JSON (schema in docs/json.md)");
        check
            ->add_option("--html", m_Html,
                         "Also write the report with a map of every title set as one HTML "
                         "file (a new file: FILE must not exist)")
            ->type_name("FILE");
        check
            ->add_option("--svg", m_Svg,
                         "Also write each title set's map as an SVG file into the folder DIR "
                         "(VTS_01.svg ...; new files only)")
            ->type_name("DIR");
        check
            ->add_option("PATH", m_Paths,
                         "A VIDEO_TS folder, a file in it, or a disc image (.iso); several are "
                         "checked one after the other, with a summary at the end")
            ->required()
            ->type_name("");
        check->footer(
            "Exit status (with several PATHs the highest of theirs):\n"
            "  0  no findings\n"
            "  1  findings\n"
            "  2  bad usage, or no readable DVD-Video folder or image at PATH\n");
        return check;
    }

    int Run() override {
        if (!m_Html.empty()) {
            if (const std::string refusal = RefuseReportPath(m_Html, "--html"); !refusal.empty()) {
                PrintError(refusal);
                return kExitUsage;
            }
        }
        if (m_Paths.size() == 1) {
            const std::vector<Checked> all = {CheckPath(m_Paths.front())};
            const Checked& checked = all.front();
            if (!WriteReports(all)) {
                return kExitUsage;
            }
            if (!checked.report) {
                PrintError(checked.result.detail);
                return kExitUsage;
            }
            WriteStdout(m_Json ? Json(*checked.report, checked.folder)
                               : Readable(*checked.report, checked.folder));
            return checked.result.status;
        }
        // Each path's report as soon as it is checked; the files and the summary after the last.
        std::vector<Checked> all;
        std::vector<PathResult> results;
        for (const std::string& path : m_Paths) {
            all.push_back(CheckPath(path));
            const Checked& checked = all.back();
            results.push_back(checked.result);
            if (m_Json) {
                continue;
            }
            WriteStdout("== " + path + "\n");
            if (checked.report) {
                WriteStdout(Readable(*checked.report, checked.folder));
            } else {
                PrintError(checked.result.detail);
            }
        }
        if (!WriteReports(all)) {
            return kExitUsage;
        }
        if (!m_Json) {
            WriteStdout(ReadableSummary(results));
            return WorstStatus(results);
        }
        CJsonWriter json;
        json.BeginObject();
        json.Member("schema", 1);
        json.Member("command", "check");
        SummaryMembers(json, results, [&all](CJsonWriter& writer, size_t i) {
            if (all[i].report) {
                ReportMembers(writer, *all[i].report, all[i].folder);
            }
        });
        json.EndObject();
        WriteStdout(json.Text());
        return WorstStatus(results);
    }

  private:
    // --html and --svg, after every PATH was checked; false when one could not be written.
    bool WriteReports(const std::vector<Checked>& all) const {
        if (m_Html.empty() && m_Svg.empty()) {
            return true;
        }
        std::vector<CheckedDisc> discs;
        for (const Checked& checked : all) {
            discs.push_back({checked.result.path, checked.folder,
                             checked.report ? &*checked.report : nullptr, checked.result.detail});
        }
        std::string error;
        if (!m_Svg.empty()) {
            const std::vector<NamedMap> maps = CheckMaps(discs);
            error = RefuseSvgFolder(m_Svg, SvgNames(maps));
            if (error.empty() && !WriteSvgFiles(m_Svg, maps, error)) {
                error += "; the SVG files written before it are kept";
            }
        }
        if (error.empty() && !m_Html.empty()) {
            WriteNewFile(m_Html, CheckHtml(discs), error);
        }
        if (!error.empty()) {
            PrintError(error);
        }
        return error.empty();
    }

    bool m_Json = false;
    std::string m_Html;
    std::string m_Svg;
    std::vector<std::string> m_Paths;
};

}  // namespace

std::unique_ptr<Command> MakeCheckCommand() {
    return std::make_unique<CheckCommand>();
}

}  // namespace dorvex::cli
