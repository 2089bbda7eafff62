// dorvex-cli restore: puts the files of the backup folder back in place, undoing the last run
// from backup of the title set (or with --full-dvd of every title set of the folder).
#include <unistd.h>

#include <CLI/CLI.hpp>

#include "app/core/AbortSignals.h"
#include "app/core/RunSession.h"
#include "app/dorvexcli/Command.h"
#include "app/dorvexcli/Console.h"
#include "app/dorvexcli/Target.h"
#include "support/Paths.h"
#include "support/TitleSetFiles.h"

namespace dorvex::cli {

namespace {

class RestoreCommand : public Command {
  public:
    CLI::App* AddTo(CLI::App& program) override {
        CLI::App* restore = program.add_subcommand(
            "restore", "Put the backup copies back, undoing the last run from backup");
        restore->add_flag("-y,--yes", m_Yes, "Do not ask for confirmation");
        restore->add_flag("-f,--full-dvd", m_FullDvd, "Every title set of the folder and VIDEO_TS");
        restore->add_flag("--backup-above", m_BackupAbove, "The backup folder is beside VIDEO_TS");
        AddPathArgument(*restore, m_Path);
        restore->footer(kExitStatusHelp);
        return restore;
    }

    int Run() override {
        InstallConsoleSinks(false);
        // A folder is the whole disc, as for clean.
        m_FullDvd = m_FullDvd || IsFolderArgument(m_Path);
        CVtsCleaner engine;
        RunOptions options;
        ApplySettings(options, m_BackupAbove);
        options.ApplyTo(engine);
        if (!OpenTarget(engine, m_Path, m_FullDvd)) {
            return kExitUsage;
        }
        const std::string vob = engine.VobPathSnapshot();
        FolderLock lock;
        std::string refusal;
        if (!LockDiscFolder(vob, lock, refusal)) {
            PrintError(refusal);
            return kExitUsage;
        }
        BackupListing backup = ListBackup(engine);
        if (backup.unsafe) {
            engine.RestoreBackup();  // says why it will not
            return kExitUsage;
        }
        if (engine.RefusesForInterruptedRun(m_FullDvd)) {
            return kExitUsage;
        }
        size_t ours = 0;
        for (const std::string& name : backup.files) {
            ours += m_FullDvd || BelongsToTitleSet(vob, name) ? 1 : 0;
        }
        if (ours == 0) {
            PrintError("no backup of " + SetName(vob) + " in " + backup.folder);
            return kExitUsage;
        }

        std::string what = m_FullDvd ? "the DVD" : SetName(vob);
        std::string question = "Restore " + std::to_string(ours) + " file(s) of " + what +
                               " from " + backup.folder + ", undoing the last run?";
        switch (Confirm(question, m_Yes)) {
            case Confirmation::Yes:
                break;
            case Confirmation::No:
                PrintError("nothing restored");
                return kExitFailed;
            case Confirmation::NoTerminal:
                PrintError("restore needs a confirmation: standard input is not a terminal; " +
                           std::string("pass --yes to restore anyway"));
                return kExitUsage;
        }

        // Half a restore is worse than a late exit: Ctrl-C only sets the engine's abort flag,
        // which moving the files back does not look at.
        ScopedAbortOnSignals holdSignals(engine);
        if (m_FullDvd) {
            RestoreFolder(engine, GetFolder(vob), backup);
        } else {
            engine.RestoreBackup();
        }
        engine.m_Files.Remove(backup.folder);  // only when nothing is left in it
        return kExitOk;
    }

  private:
    // As the engine's messages name it, in whatever case the disc spells it.
    static std::string SetName(const std::string& vob) {
        const int32_t titleSet = TitleSetOf(vob);
        return titleSet >= 0 ? TitleSetName(titleSet) : GetBaseName(vob);
    }

    // The steps of a full-DVD run in its order: each title set's menu and titles, then the video
    // manager. A step whose VOB is gone (a run that only brought its IFO in line) is restored
    // through its path all the same.
    static void RestoreFolder(CVtsCleaner& engine, const std::string& folder,
                              const BackupListing& backup) {
        for (const FullDvdStep& step : FullDvdSteps(folder)) {
            RestoreStep(engine, step.vob, step.menu, backup);
        }
    }

    static void RestoreStep(CVtsCleaner& engine, const std::string& vob, bool menu,
                            const BackupListing& backup) {
        bool anyCopy = false;
        for (const std::string& name : backup.files) {
            anyCopy = anyCopy || BelongsToTitleSet(vob, name);
        }
        if (!anyCopy) {
            return;
        }
        if (engine.CVtsCleaner::Open(vob) != 0) {
            engine.SetVobPath(vob);
            engine.m_Menu = menu ? 1 : 0;
        }
        engine.RestoreBackup();
    }

    bool m_Yes = false;
    bool m_FullDvd = false;
    bool m_BackupAbove = false;
    std::string m_Path;
};

}  // namespace

std::unique_ptr<Command> MakeRestoreCommand() {
    return std::make_unique<RestoreCommand>();
}

}  // namespace dorvex::cli
