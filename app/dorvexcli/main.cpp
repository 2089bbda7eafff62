// dorvex-cli: the command line of Dorvex with subcommands and GNU-style options. The parser only
// fills each subcommand's fields; the chosen subcommand then runs on its own.
#include <CLI/CLI.hpp>
#include <iostream>
#include <vector>

#include "app/dorvexcli/Command.h"

namespace {

using dorvex::cli::Command;

int ReportParseError(CLI::App& program, const std::vector<CLI::App*>& parsers,
                     const CLI::ParseError& error) {
    // --help and --version come as "errors" with exit code 0.
    if (error.get_exit_code() == 0) {
        return program.exit(error);
    }
    std::string helpCommand = "dorvex-cli";
    for (const CLI::App* parser : parsers) {
        if (parser->parsed()) {
            helpCommand += " " + parser->get_name();
        }
    }
    std::cerr << "dorvex-cli: " << error.what() << "\n"
              << "Try '" << helpCommand << " --help' for more information.\n";
    return dorvex::cli::kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App program("Dorvex cleans and repairs DVD-Video title sets (VIDEO_TS folders).",
                     "dorvex-cli");
    program.set_version_flag("--version", "dorvex-cli " DORVEX_VERSION,
                             "Print the version and exit");
    program.require_subcommand(1);
    program.footer(dorvex::cli::kExitStatusHelp);

    std::vector<std::unique_ptr<Command>> commands;
    commands.push_back(dorvex::cli::MakeCleanCommand());
    commands.push_back(dorvex::cli::MakeRestoreCommand());
    commands.push_back(dorvex::cli::MakeDeleteBackupCommand());
    commands.push_back(dorvex::cli::MakeCheckCommand());
    commands.push_back(dorvex::cli::MakePlanCommand());
    std::vector<CLI::App*> parsers;
    for (const auto& command : commands) {
        parsers.push_back(command->AddTo(program));
    }

    try {
        program.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return ReportParseError(program, parsers, error);
    }
    for (size_t i = 0; i < commands.size(); ++i) {
        if (parsers[i]->parsed()) {
            return commands[i]->Run();
        }
    }
    return dorvex::cli::kExitUsage;
}
