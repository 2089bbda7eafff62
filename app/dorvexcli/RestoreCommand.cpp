// dorvex-cli restore: puts the files of the backup folder back in place, undoing the last run
// from backup of the title set (or with --full-dvd of every title set of the folder).
#include <CLI/CLI.hpp>

#include "app/core/BackupActions.h"
#include "app/dorvexcli/Command.h"
#include "app/dorvexcli/Console.h"
#include "app/dorvexcli/Target.h"

namespace dorvex::cli {

namespace {

class RestoreCommand : public Command {
  public:
    CLI::App* AddTo(CLI::App& program) override {
        CLI::App* restore = program.add_subcommand(
            "restore", "Put the backup copies back, undoing the last run from backup");
        restore->add_flag("-y,--yes", m_Yes, "Do not ask for confirmation");
        restore->add_flag("--force", m_Force,
                          "Restore a backup whose record does not vouch for its copies or for "
                          "the files they replace (never over a link or what may not be "
                          "changed)");
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
        BackupAction restore(engine, BackupActionKind::Restore, m_FullDvd);
        std::string refusal;
        if (!restore.Lock(refusal)) {
            PrintError(refusal);
            return kExitUsage;
        }
        const BackupCheck check = restore.Check();
        if (check.refused && !(check.forceable && m_Force)) {
            if (!check.message.empty()) {
                PrintError(check.message);
            }
            return kExitUsage;
        }
        const std::string question = "Restore " + std::to_string(check.copies) + " file(s) of " +
                                     check.what + " from " + check.folder +
                                     ", undoing the last run?";
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
        // Each file restored, and what was not, has been said.
        return restore.Perform(m_Force) ? kExitOk : kExitFailed;
    }

  private:
    bool m_Yes = false;
    bool m_Force = false;
    bool m_FullDvd = false;
    bool m_BackupAbove = false;
    std::string m_Path;
};

}  // namespace

std::unique_ptr<Command> MakeRestoreCommand() {
    return std::make_unique<RestoreCommand>();
}

}  // namespace dorvex::cli
