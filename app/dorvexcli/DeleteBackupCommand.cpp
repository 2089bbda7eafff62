// dorvex-cli delete-backup: deletes the backup folder of a title set's folder with every file in
// it, keeping the cleaned files for good.
#include <CLI/CLI.hpp>

#include "app/core/BackupActions.h"
#include "app/dorvexcli/Command.h"
#include "app/dorvexcli/Console.h"
#include "app/dorvexcli/Target.h"
#include "support/Paths.h"

namespace dorvex::cli {

namespace {

class DeleteBackupCommand : public Command {
  public:
    CLI::App* AddTo(CLI::App& program) override {
        CLI::App* remove = program.add_subcommand(
            "delete-backup", "Delete the backup folder and every file in it, keeping the result");
        remove->add_flag("-y,--yes", m_Yes, "Do not ask for confirmation");
        remove->add_flag("--backup-above", m_BackupAbove, "The backup folder is beside VIDEO_TS");
        AddPathArgument(*remove, m_Path);
        remove->footer(kExitStatusHelp);
        return remove;
    }

    int Run() override {
        InstallConsoleSinks(false);
        CVtsCleaner engine;
        RunOptions options;
        ApplySettings(options, m_BackupAbove);
        options.ApplyTo(engine);
        // Any VOB of the folder names the same backup folder.
        if (!OpenTarget(engine, m_Path, true)) {
            return kExitUsage;
        }
        BackupAction remove(engine, BackupActionKind::Delete, true);
        std::string refusal;
        if (!remove.Lock(refusal)) {
            PrintError(refusal);
            return kExitUsage;
        }
        const BackupCheck check = remove.Check();
        if (check.refused) {
            if (!check.message.empty()) {
                PrintError(check.message);
            }
            return kExitUsage;
        }
        const std::string question = "Delete " + check.folder + " and the " +
                                     std::to_string(check.copies) +
                                     " file(s) in it? The originals are then gone for good.";
        switch (Confirm(question, m_Yes)) {
            case Confirmation::Yes:
                break;
            case Confirmation::No:
                PrintError("nothing deleted");
                return kExitFailed;
            case Confirmation::NoTerminal:
                PrintError(
                    "delete-backup needs a confirmation: standard input is not a terminal; "
                    "pass --yes to delete anyway");
                return kExitUsage;
        }
        // Each file deleted, and what could not be, has been said.
        if (!remove.Perform()) {
            PrintError("not all of the backup in " + check.folder + " was deleted");
            return kExitFailed;
        }
        PrintNote(FileExists(check.folder) ? "Deleted the backup; " + check.folder +
                                                 " stays for the files Dorvex did not put there"
                                           : "Deleted " + check.folder);
        return kExitOk;
    }

  private:
    bool m_Yes = false;
    bool m_BackupAbove = false;
    std::string m_Path;
};

}  // namespace

std::unique_ptr<Command> MakeDeleteBackupCommand() {
    return std::make_unique<DeleteBackupCommand>();
}

}  // namespace dorvex::cli
