// dorvex-cli clean: one cleaning run, the same engine run and log file as `dorvex -s`.
#include <unistd.h>

#include <CLI/CLI.hpp>

#include "app/core/AbortSignals.h"
#include "app/core/RunSession.h"
#include "app/core/RunSteps.h"
#include "app/dorvexcli/Command.h"
#include "app/dorvexcli/Console.h"
#include "app/dorvexcli/Target.h"
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
        AddPathArgument(*clean, m_Path);
        clean->footer(kExitStatusHelp);
        return clean;
    }

    int Run() override {
        InstallConsoleSinks(m_Quiet);
        CVtsCleaner engine;
        // Nothing shows the IFO phases long enough to need their display pauses.
        engine.m_IfoPauseMs = 0;
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
        ApplySettings(options, m_BackupAbove);
        if (m_NoFixPgcLbas) {
            options.m_FixPGCLBAs = 0;
        }
        options.ApplyTo(engine);

        if (m_Wait && !m_InPlace) {
            // Only an in-place run opens the VOB itself for writing; a run from backup renames it.
            PrintError("--wait works only with --in-place");
            return kExitUsage;
        }
        // A folder is a whole disc; a VOB names its title set.
        const bool wholeDisc = !m_FullDvd && IsFolderArgument(m_Path);
        options.m_FullDvd = m_FullDvd = m_FullDvd || wholeDisc;
        if (!OpenTarget(engine, m_Path, m_FullDvd)) {
            return kExitUsage;
        }
        if (wholeDisc) {
            PrintNote("Cleaning the whole disc in " + m_Path +
                      " (a VOB of it cleans only its title set)");
        }
        RunSession session(engine, options);
        std::string refusal;
        if (!session.Lock(refusal)) {
            PrintError(refusal);
            return kExitUsage;
        }
        if (m_EmptyBackup) {
            engine.DeleteBackup();
        }
        if (const RunCheck check = session.Check(); check.Refused()) {
            PrintError(check.message);
            return kExitUsage;
        }
        const int status = RunOnce(engine, session);
        CloseLogFile();
        return status;
    }

  private:
    int RunOnce(CVtsCleaner& engine, RunSession& session) {
        // The restore at the end runs with the signals still caught: a second Ctrl-C must not
        // cut it short half-way through moving the files back.
        ScopedAbortOnSignals abortOnSignals(engine);
        session.Begin();
        engine.m_Running = 1;
        {
            ProgressLine progress(engine, !m_Quiet && IsTerminal(STDERR_FILENO));
            session.Run();
        }
        engine.m_Running = 0;
        const RunOutcome outcome = session.Finish(false);
        if (!outcome.Unfinished()) {
            return kExitOk;
        }
        // A run stopped half-way is never a success, and says what the files hold.
        PrintError(DescribeOutcome(outcome, engine.m_InPlace != 0));
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
    std::string m_LogPath;
    std::string m_Path;
};

}  // namespace

std::unique_ptr<Command> MakeCleanCommand() {
    return std::make_unique<CleanCommand>();
}

}  // namespace dorvex::cli
