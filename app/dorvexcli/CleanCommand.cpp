// dorvex-cli clean: one cleaning run per PATH, the same engine run and log file as `dorvex -s`;
// a disc image is cleaned into a new image or folder (ImageArgument.h).
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>

#include "app/core/AbortSignals.h"
#include "app/core/DiscFolder.h"
#include "app/core/RunSession.h"
#include "app/dorvexcli/Command.h"
#include "app/dorvexcli/Console.h"
#include "app/dorvexcli/ImageArgument.h"
#include "app/dorvexcli/Summary.h"
#include "app/dorvexcli/Target.h"
#include "support/Paths.h"
#include "support/Sinks.h"

namespace dorvex::cli {

namespace {

class CleanCommand : public Command {
  public:
    CLI::App* AddTo(CLI::App& program) override {
        CLI::App* clean = program.add_subcommand(
            "clean", "Clean and repair a title set (or with --full-dvd the whole folder)");
        clean->add_flag("-u,--remove-unreferenced", m_RemoveUnreferenced,
                        "Remove unreferenced cells and blank packs");
        clean->add_flag("-i,--in-place", m_InPlace, "Change the files in place, no backup");
        clean->add_flag("-f,--full-dvd", m_FullDvd, "Every title set of the folder, then VIDEO_TS");
        clean->add_flag("-v,--keep-vob-ids", m_KeepVobIds, "Do not renumber the VOB IDs");
        clean->add_flag("-a,--reset-ilvu", m_ResetIlvu,
                        "Clear the navpacks' ILVU and angle fields");
        clean->add_flag("-w,--wait", m_Wait, "With -i: wait until the VOB can be opened");
        clean->add_flag("--backup-above", m_BackupAbove,
                        "Backup folder beside VIDEO_TS, not in it");
        clean->add_flag("--no-fix-pgc-lbas", m_NoFixPgcLbas,
                        "Leave the PGCs' VOBU sectors as they are");
        clean->add_flag("--prune-missing-vobs", m_PruneMissingVobs, kPruneMissingVobsHelp);
        clean->add_flag("-c,--empty-backup", m_EmptyBackup, "Empty the backup folder first");
        clean->add_flag("--allow-short", m_AllowShort,
                        "Clean VOB files shorter than their IFO says (or not its own) anyway");
        clean->add_option("--log", m_LogPath, "The run's log file (default $TEMP/Dorvex.log)")
            ->type_name("FILE");
        clean->add_flag("-q,--quiet", m_Quiet, "Errors only: no log lines, no progress line");
        clean->add_option("-o,--output", m_Output, kOutputHelp)->type_name("NEW.iso|DIR");
        clean->add_flag("--json", m_Json,
                        "A summary of the paths cleaned as JSON on standard output");
        clean->add_option("PATH", m_Paths, kPathsHelp)->required()->type_name("");
        clean->footer(kExitStatusHelp);
        return clean;
    }

    int Run() override {
        InstallConsoleSinks(m_Quiet);
        if (!UsableTogether()) {
            return kExitUsage;
        }
        if (m_Paths.size() == 1 && !m_Json) {
            return CleanPath(m_Paths.front());
        }
        std::vector<PathResult> results;
        for (size_t i = 0; i < m_Paths.size(); ++i) {
            const std::string& path = m_Paths[i];
            if (m_Paths.size() > 1) {
                PrintNote("== " + path + " (" + std::to_string(i + 1) + " of " +
                          std::to_string(m_Paths.size()) + ")");
            }
            const uint32_t signals = AbortSignalsCaught();
            const int status = CleanPath(path);
            const bool interrupted = AbortSignalsCaught() != signals;
            results.push_back({path, status,
                               status == kExitOk      ? "cleaned"
                               : interrupted          ? "interrupted"
                               : status == kExitUsage ? "refused"
                                                      : "failed",
                               IsImageArgument(path) && status == kExitOk
                                   ? "into " + m_Targets[path]
                                   : std::string()});
            if (interrupted) {
                // Ctrl-C stops the whole call, not one disc of it.
                for (size_t j = i + 1; j < m_Paths.size(); ++j) {
                    results.push_back({m_Paths[j], kExitFailed, "not-started", ""});
                }
                break;
            }
        }
        if (m_Json) {
            CJsonWriter json;
            json.BeginObject();
            json.Member("schema", 1);
            json.Member("command", "clean");
            SummaryMembers(json, results, [](CJsonWriter&, size_t) {});
            json.EndObject();
            WriteStdout(json.Text());
        } else {
            WriteStdout(ReadableSummary(results));
        }
        return WorstStatus(results);
    }

  private:
    static constexpr const char* kOutputHelp =
        "For a disc image: where the cleaned copy goes, a new image (a name ending in .iso) or a "
        "new folder holding VIDEO_TS; an existing folder receives it under the image's own name";
    static constexpr const char* kPathsHelp =
        "A VOB (its title set), a VIDEO_TS folder (the whole disc) or a disc image (.iso, the "
        "whole disc, with --output); several are cleaned one after the other";

    // What cannot work whatever the paths hold, refused before anything is done.
    bool UsableTogether() {
        if (m_Wait && !m_InPlace) {
            // Only an in-place run opens the VOB itself for writing; a run from backup renames it.
            PrintError("--wait works only with --in-place");
            return false;
        }
        std::set<std::string> discs;
        for (const std::string& path : m_Paths) {
            const std::string disc = DiscOf(path);
            if (!disc.empty() && !discs.insert(disc).second) {
                PrintError(path + " names a disc named before: each disc is cleaned once");
                return false;
            }
            const bool image = IsImageArgument(path);
            if (image && (m_InPlace || m_Wait || m_EmptyBackup || m_BackupAbove)) {
                PrintError(path +
                           ": a disc image is never changed, so it has no backup and no in-place "
                           "run: leave out --in-place, --wait, --empty-backup and --backup-above");
                return false;
            }
            if (!image && !m_Output.empty()) {
                PrintError("--output is for disc images; " + path +
                           " is cleaned where it is: name it in a call without --output");
                return false;
            }
            if (image) {
                std::string refusal;
                const std::string target = ImageOutputPath(path, m_Output, refusal);
                if (target.empty()) {
                    PrintError(refusal);
                    return false;
                }
                if (!m_Targets.emplace(path, target).second ||
                    std::count_if(m_Targets.begin(), m_Targets.end(),
                                  [&target](const auto& t) { return t.second == target; }) > 1) {
                    PrintError(target +
                               " would be written twice: clean one image at a time "
                               "with --output NEW.iso, or into a folder with --output DIR");
                    return false;
                }
            }
        }
        return true;
    }

    // The disc a PATH stands for, to find one named twice; empty when it cannot be told (the
    // run then says why it refuses the path).
    std::string DiscOf(const std::string& path) const {
        std::string error;
        std::string place = IsImageArgument(path) ? path : ResolveVob(path, true, error);
        if (place.empty()) {
            return {};
        }
        if (!IsImageArgument(path)) {
            place = GetFolder(place);
        }
        std::error_code code;
        return std::filesystem::weakly_canonical(place, code).string();
    }

    int CleanPath(const std::string& path) {
        if (IsImageArgument(path)) {
            return CleanImage(path, m_Targets[path], Options(), m_Quiet);
        }
        return CleanFolderOrVob(path);
    }

    // What the command line asks of a run, the settings file's part included.
    RunOptions Options() const {
        RunOptions options;
        options.m_RemoveUnrefed = m_RemoveUnreferenced ? 1 : 0;
        options.m_InPlace = m_InPlace ? 1 : 0;
        options.m_RemapVOBIDs = m_KeepVobIds ? 0 : 1;
        options.m_ResetIlvu = m_ResetIlvu ? 1 : 0;
        options.m_WaitForFile = m_Wait ? 1 : 0;
        options.m_FullDvd = m_FullDvd;
        options.m_PruneMissingVobs = m_PruneMissingVobs ? 1 : 0;
        options.m_EmptyBackup = m_EmptyBackup;
        options.m_LogPath = m_LogPath;
        options.m_AllowShort = m_AllowShort ? 1 : 0;
        // Each run of a call with several paths adds its lines to the same log file.
        options.m_AppendLog = m_LogStarted;
        ApplySettings(options, m_BackupAbove);
        if (m_NoFixPgcLbas) {
            options.m_FixPGCLBAs = 0;
        }
        return options;
    }

    int CleanFolderOrVob(const std::string& path) {
        RunOptions options = Options();
        // A folder is a whole disc; a VOB names its title set.
        const bool wholeDisc = !m_FullDvd && IsFolderArgument(path);
        options.m_FullDvd = m_FullDvd || wholeDisc;
        std::string error;
        const std::string vob = ResolveVob(path, options.m_FullDvd, error);
        if (vob.empty()) {
            PrintError(error);
            return kExitUsage;
        }
        CVtsCleaner engine;
        RunSession session(engine, options, RunProgressHooks(engine, m_Quiet));
        RunStart start = session.Open(vob);
        if (start.Ready()) {
            if (wholeDisc) {
                PrintNote("Cleaning the whole disc in " + path +
                          " (a VOB of it cleans only its title set)");
            }
            start = session.Prepare();
        }
        if (!start.Ready()) {
            if (!start.message.empty()) {
                PrintError(start.message);
            }
            return kExitUsage;
        }
        m_LogStarted = true;
        const RunOutcome outcome = session.RunHere();
        CloseLogFile();
        if (!outcome.Unfinished()) {
            return kExitOk;
        }
        // A run stopped half-way is never a success, and says what the files hold.
        PrintError(DescribeOutcome(outcome, options.m_InPlace != 0));
        return outcome.refused ? kExitUsage : kExitFailed;
    }

    bool m_RemoveUnreferenced = false;
    bool m_InPlace = false;
    bool m_FullDvd = false;
    bool m_KeepVobIds = false;
    bool m_ResetIlvu = false;
    bool m_Wait = false;
    bool m_BackupAbove = false;
    bool m_NoFixPgcLbas = false;
    bool m_EmptyBackup = false;
    bool m_AllowShort = false;
    bool m_PruneMissingVobs = false;
    bool m_Quiet = false;
    bool m_Json = false;
    std::string m_LogPath;
    std::string m_Output;
    std::vector<std::string> m_Paths;
    std::map<std::string, std::string> m_Targets;  // image -> where its cleaned copy goes
    bool m_LogStarted = false;
};

}  // namespace

std::unique_ptr<Command> MakeCleanCommand() {
    return std::make_unique<CleanCommand>();
}

}  // namespace dorvex::cli
