// dorvex-cli plan: what `clean` with the same options would do, without doing it, on a folder,
// a VOB or a disc image read where it is. The engine runs
// its own pass and repair on an in-memory overlay of the files (engine/plan/DryRun.h): nothing is
// written anywhere, not even a log file. Readable report or JSON (docs/json.md).
#include <CLI/CLI.hpp>
#include <cstdio>
#include <initializer_list>
#include <utility>

#include "app/core/DiscFolder.h"
#include "app/core/OpenCheck.h"
#include "app/dorvexcli/Command.h"
#include "app/dorvexcli/Console.h"
#include "app/dorvexcli/HtmlReport.h"
#include "app/dorvexcli/ImageArgument.h"
#include "app/dorvexcli/ReportFiles.h"
#include "app/dorvexcli/Target.h"
#include "engine/plan/DryRun.h"
#include "support/JsonWriter.h"
#include "support/Paths.h"
#include "support/Sinks.h"

namespace dorvex::cli {

namespace {

std::string Vcid(uint32_t vobId, uint32_t cellId) {
    return std::to_string(vobId) + "/" + std::to_string(cellId);
}

std::string FieldList(uint32_t fields) {
    std::string text;
    for (int32_t f = 0; f < navpack::kFieldCount; ++f) {
        if ((fields >> f) & 1u) {
            text += (text.empty() ? "" : ", ") + std::string(navpack::kFieldNames[f]);
        }
    }
    return text;
}

std::string Where(const PlannedPack& at) {
    return at.file + " sector " + std::to_string(at.fileSector);
}

std::string BlankPacksLine(const PlannedStep& step) {
    std::string text = "  blank packs: " + std::to_string(step.blankRemoved) + " removed, " +
                       std::to_string(step.blankStuffed) + " replaced by stuffing; first at";
    for (const PlannedPack& at : step.firstBlanks) {
        text += " " + Where(at) + (&at == &step.firstBlanks.back() ? "" : ",");
    }
    return text + "\n";
}

std::string CellLines(const PlannedStep& step) {
    std::string text;
    for (const PlannedCell& cell : step.cells) {
        const std::string action = CellAction(cell);
        if (action == "keep") {
            continue;
        }
        text += "  cell " + Vcid(cell.vobId, cell.cellId) +
                (action == "drop" ? " dropped (no PGC plays it)"
                                  : " becomes " + Vcid(cell.newVobId, cell.newCellId)) +
                "\n";
    }
    return text;
}

std::string ChangedNavpackLines(const PlannedStep& step) {
    std::string text = "  navpacks: " + std::to_string(step.navpacksChanged) + " changed (";
    bool first = true;
    for (int32_t f = 0; f < navpack::kFieldCount; ++f) {
        if (step.fieldCounts[f] > 0) {
            text += (first ? "" : ", ") + std::string(navpack::kFieldNames[f]) + " " +
                    std::to_string(step.fieldCounts[f]);
            first = false;
        }
    }
    text += ")\n";
    for (const PlannedNavpack& nav : step.firstNavpacks) {
        text += "    " + Where(nav.at) + " -> stream sector " + std::to_string(nav.newSector) +
                ": " + FieldList(nav.fields) + "\n";
    }
    return text;
}

std::string StepText(const PlannedStep& step) {
    std::string text = GetFileName(step.vob) + (step.menu ? " (menu)" : " (titles)") + ": " +
                       std::to_string(step.packsRead) + " packs read, " +
                       std::to_string(step.packsWritten) + " written, " +
                       std::to_string(step.packsRemoved) + " removed\n";
    if (step.blankRemoved + step.blankStuffed > 0) {
        text += BlankPacksLine(step);
    }
    text += CellLines(step);
    if (step.navpacksChanged > 0) {
        text += ChangedNavpackLines(step);
    }
    if (step.navpacksDropped > 0) {
        text +=
            "  navpacks: " + std::to_string(step.navpacksDropped) + " dropped with their cells\n";
    }
    return text;
}

std::string MissingVobLine(const PlannedMissingVob& missing) {
    const std::string ifo = GetFileName(missing.ifo);
    const std::string described = std::to_string(missing.describedSectors);
    std::string what;
    if (!missing.updated) {
        what =
            "its tables in " + ifo + " describe " + described + " sectors and are left unchanged";
    } else if (missing.describedSectors > 0) {
        what = ifo + " updated without it (its tables described " + described + " sectors)";
    } else {
        what = ifo + " updated without it";
    }
    return GetFileName(missing.vob) + (missing.menu ? " (menu)" : " (titles)") + ": missing; " +
           what + "\n";
}

std::string IfoLine(const PlannedIfo& ifo) {
    std::string text = GetFileName(ifo.path) + ": ";
    if (ifo.changes.empty()) {
        return text + "no change\n";
    }
    for (size_t i = 0; i < ifo.changes.size(); ++i) {
        text += (i == 0 ? "" : ", ") + ifo.changes[i];
    }
    return text + "\n";
}

std::string Readable(const PlanResult& plan) {
    std::string text;
    for (const PlannedStep& step : plan.steps) {
        text += StepText(step);
    }
    for (const PlannedMissingVob& missing : plan.missingVobs) {
        text += MissingVobLine(missing);
    }
    for (const PlannedFileChange& change : plan.files) {
        if (change.action == "rename" || change.action == "remove") {
            text += change.action + " " + GetFileName(change.path) +
                    (change.to.empty() ? "" : " -> " + GetFileName(change.to)) + "\n";
        }
    }
    for (const PlannedIfo& ifo : plan.ifos) {
        text += IfoLine(ifo);
    }
    for (const std::string& alert : plan.alerts) {
        text += "alert: " + alert + "\n";
    }
    text += plan.failed ? "the run would fail; nothing was changed\n"
                        : "nothing was changed (a plan only)\n";
    return text;
}

void PackMembers(CJsonWriter& json, const PlannedPack& at) {
    json.Member("file", at.file);
    json.Member("fileSector", at.fileSector);
    json.Member("sector", at.sector);
}

void CountMembers(CJsonWriter& json,
                  std::initializer_list<std::pair<const char*, int64_t>> counts) {
    for (const auto& [name, count] : counts) {
        json.Member(name, count);
    }
}

void BlankPacksObject(CJsonWriter& json, const PlannedStep& step) {
    json.Key("blankPacks");
    json.BeginObject();
    CountMembers(json, {{"removed", step.blankRemoved}, {"stuffed", step.blankStuffed}});
    json.Key("first");
    json.BeginArray();
    for (const PlannedPack& at : step.firstBlanks) {
        json.BeginObject();
        PackMembers(json, at);
        json.EndObject();
    }
    json.EndArray();
    json.EndObject();
}

void CellsArray(CJsonWriter& json, const PlannedStep& step) {
    json.Key("cells");
    json.BeginArray();
    for (const PlannedCell& cell : step.cells) {
        json.BeginObject();
        json.Member("vobId", int64_t{cell.vobId});
        json.Member("cellId", int64_t{cell.cellId});
        json.Member("action", CellAction(cell));
        json.Key("newVobId");
        cell.dropped ? json.Null() : json.Int(cell.newVobId);
        json.Key("newCellId");
        cell.dropped ? json.Null() : json.Int(cell.newCellId);
        json.Member("sector", cell.sector);
        json.EndObject();
    }
    json.EndArray();
}

void NavpackFieldNames(CJsonWriter& json, uint32_t fields) {
    json.Key("fields");
    json.BeginArray();
    for (int32_t f = 0; f < navpack::kFieldCount; ++f) {
        if ((fields >> f) & 1u) {
            json.String(navpack::kFieldNames[f]);
        }
    }
    json.EndArray();
}

void NavpacksObject(CJsonWriter& json, const PlannedStep& step) {
    json.Key("navpacks");
    json.BeginObject();
    CountMembers(json, {{"changed", step.navpacksChanged}, {"dropped", step.navpacksDropped}});
    json.Key("fields");
    json.BeginObject();
    for (int32_t f = 0; f < navpack::kFieldCount; ++f) {
        json.Member(navpack::kFieldNames[f], step.fieldCounts[f]);
    }
    json.EndObject();
    json.Key("first");
    json.BeginArray();
    for (const PlannedNavpack& nav : step.firstNavpacks) {
        json.BeginObject();
        PackMembers(json, nav.at);
        json.Member("newSector", nav.newSector);
        NavpackFieldNames(json, nav.fields);
        json.EndObject();
    }
    json.EndArray();
    json.EndObject();
}

void StepObject(CJsonWriter& json, const PlannedStep& step) {
    json.BeginObject();
    json.Member("vob", step.vob);
    json.Member("domain", step.menu ? "menu" : "titles");
    json.Key("packs");
    json.BeginObject();
    CountMembers(
        json,
        {{"read", step.packsRead}, {"written", step.packsWritten}, {"removed", step.packsRemoved}});
    json.EndObject();
    BlankPacksObject(json, step);
    CellsArray(json, step);
    NavpacksObject(json, step);
    json.EndObject();
}

void MissingVobsArray(CJsonWriter& json, const std::vector<PlannedMissingVob>& missingVobs) {
    json.Key("missingVobs");
    json.BeginArray();
    for (const PlannedMissingVob& missing : missingVobs) {
        json.BeginObject();
        json.Member("vob", missing.vob);
        json.Member("domain", missing.menu ? "menu" : "titles");
        json.Member("ifo", missing.ifo);
        json.Member("describedSectors", missing.describedSectors);
        json.Member("action", missing.updated ? "update" : "keep");
        json.EndObject();
    }
    json.EndArray();
}

void FilesArray(CJsonWriter& json, const std::vector<PlannedFileChange>& files) {
    json.Key("files");
    json.BeginArray();
    for (const PlannedFileChange& change : files) {
        json.BeginObject();
        json.Member("action", change.action);
        json.Member("path", change.path);
        json.Key("to");
        change.to.empty() ? json.Null() : json.String(change.to);
        json.EndObject();
    }
    json.EndArray();
}

void StringsArray(CJsonWriter& json, const char* key, const std::vector<std::string>& texts) {
    json.Key(key);
    json.BeginArray();
    for (const std::string& text : texts) {
        json.String(text);
    }
    json.EndArray();
}

void IfosArray(CJsonWriter& json, const std::vector<PlannedIfo>& ifos) {
    json.Key("ifo");
    json.BeginArray();
    for (const PlannedIfo& ifo : ifos) {
        json.BeginObject();
        json.Member("path", ifo.path);
        json.Member("file", GetFileName(ifo.path));
        StringsArray(json, "changes", ifo.changes);
        json.EndObject();
    }
    json.EndArray();
}

std::string Json(const PlanResult& plan, const std::string& vob, bool removeUnreferenced,
                 bool fullDvd, bool pruneMissingVobs) {
    CJsonWriter json;
    json.BeginObject();
    json.Member("schema", 1);
    json.Member("command", "plan");
    json.Member("path", vob);
    json.Key("options");
    json.BeginObject();
    json.Member("removeUnreferenced", removeUnreferenced);
    json.Member("fullDvd", fullDvd);
    json.Member("pruneMissingVobs", pruneMissingVobs);
    json.EndObject();
    json.Member("failed", plan.failed);
    json.Key("steps");
    json.BeginArray();
    for (const PlannedStep& step : plan.steps) {
        StepObject(json, step);
    }
    json.EndArray();
    MissingVobsArray(json, plan.missingVobs);
    FilesArray(json, plan.files);
    IfosArray(json, plan.ifos);
    StringsArray(json, "alerts", plan.alerts);
    json.EndObject();
    return json.Text();
}

class PlanCommand : public Command {
  public:
    CLI::App* AddTo(CLI::App& program) override {
        CLI::App* plan = program.add_subcommand(
            "plan", "Show what clean (same options) would do, changing nothing");
        plan->add_flag("-u,--remove-unreferenced", m_RemoveUnreferenced,
                       "As clean -u: unreferenced cells and blank packs are removed");
        plan->add_flag("-f,--full-dvd", m_FullDvd, "Every title set of the folder, then VIDEO_TS");
        plan->add_flag("--prune-missing-vobs", m_PruneMissingVobs, kPruneMissingVobsHelp);
        plan->add_flag("--json", m_Json, "The report as JSON (schema in docs/json.md)");
        plan->add_option("--html", m_Html,
                         "Also write the plan with a map of each title set before and after as "
                         "one HTML file (a new file: FILE must not exist)")
            ->type_name("FILE");
        plan->add_option("--svg", m_Svg,
                         "Also write each title set's map as an SVG file into the folder DIR "
                         "(new files only)")
            ->type_name("DIR");
        plan->add_flag("--allow-short", m_AllowShort,
                       "Plan for VOB files shorter than their IFO says, as clean --allow-short");
        AddPathArgument(*plan, m_Path);
        plan->footer(
            "Exit status:\n"
            "  0  the plan was made (whatever it would change)\n"
            "  1  the run would fail (a read error, a file it could not use)\n"
            "  2  bad usage, or refused input (not a title-set VOB)\n");
        return plan;
    }

    int Run() override {
        if (!m_Html.empty()) {
            if (const std::string refusal = RefuseReportPath(m_Html, "--html"); !refusal.empty()) {
                PrintError(refusal);
                return kExitUsage;
            }
        }
        InstallConsoleSinks(true);
        ScopedSinks quiet(DiscardMessage, nullptr);
        // An image is read where it is, as a folder of its own.
        std::unique_ptr<ImageFileSystem> image;
        if (IsImageArgument(m_Path)) {
            std::string error;
            if ((image = OpenDiscImage(m_Path, error)) == nullptr) {
                PrintError(error);
                return kExitUsage;
            }
        }
        CPlanningCleaner engine(image != nullptr ? static_cast<FileSystem&>(*image)
                                                 : TheRealFileSystem());
        RunOptions options;
        options.m_RemoveUnrefed = m_RemoveUnreferenced ? 1 : 0;
        options.m_AllowShort = m_AllowShort ? 1 : 0;
        options.m_PruneMissingVobs = m_PruneMissingVobs ? 1 : 0;
        ApplySettings(options, false);
        options.ApplyTo(engine);
        if (image != nullptr ? !OpenImageTarget(engine, *image)
                             : !OpenTarget(engine, m_Path, m_FullDvd)) {
            return kExitUsage;
        }
        const std::string vob = engine.VobPathSnapshot();
        const PlanResult plan = engine.Plan(m_FullDvd);
        if (!WriteReports(plan, vob)) {
            return kExitUsage;
        }
        const std::string text =
            m_Json ? Json(plan, vob, m_RemoveUnreferenced, m_FullDvd, m_PruneMissingVobs)
                   : Readable(plan);
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
        return plan.failed ? kExitFailed : kExitOk;
    }

  private:
    // --html and --svg; false when one could not be written (said why).
    bool WriteReports(const PlanResult& plan, const std::string& vob) const {
        std::string error;
        if (!m_Svg.empty()) {
            const std::vector<NamedMap> maps = PlanMaps(plan);
            error = RefuseSvgFolder(m_Svg, SvgNames(maps));
            if (error.empty() && !WriteSvgFiles(m_Svg, maps, error)) {
                error += "; the SVG files written before it are kept";
            }
        }
        if (error.empty() && !m_Html.empty()) {
            const PlanPage page{m_Path, vob, m_RemoveUnreferenced, m_FullDvd, m_PruneMissingVobs};
            WriteNewFile(m_Html, PlanHtml(plan, page), error);
        }
        if (!error.empty()) {
            PrintError(error);
        }
        return error.empty();
    }

    bool OpenImageTarget(CVtsCleaner& engine, ImageFileSystem& image) const {
        const std::string vob = FirstVobInFolder(image, image.Folder(), m_FullDvd);
        if (vob.empty()) {
            PrintError(m_Path + ": no title set VOB (VTS_xx_1.VOB) in this image");
            return false;
        }
        auto showMessage = [](const std::string& text) { PrintError(text); };
        return CheckedOpen(engine, vob, true, showMessage) == 0;
    }

    bool m_RemoveUnreferenced = false;
    bool m_AllowShort = false;
    bool m_FullDvd = false;
    bool m_PruneMissingVobs = false;
    bool m_Json = false;
    std::string m_Html;
    std::string m_Svg;
    std::string m_Path;
};

}  // namespace

std::unique_ptr<Command> MakePlanCommand() {
    return std::make_unique<PlanCommand>();
}

}  // namespace dorvex::cli
