// The dorvex program: the dialog on a desktop, the headless command line without a display.
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/core/CommandLine.h"
#include "app/core/Headless.h"
#include "app/gui/CleanerDlg.h"

namespace {

bool HasDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && value[0] != '\0') {
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (!HasDisplay()) {
        if (argc <= 1) {
            std::fputs("Dorvex needs a display (DISPLAY or WAYLAND_DISPLAY) to show its dialog.\n",
                       stderr);
        }
        // With arguments the command line runs headless; without, it prints its usage (exit 2).
        return dorvex::RunHeadless(argc, argv);
    }
    // The switches are read before Qt sees (and may consume) the arguments.
    std::vector<const char*> args(argv, argv + argc);
    const dorvex::LaunchFields launch =
        dorvex::ParseCommandLine(static_cast<int>(args.size()), args.data());
    if (const int status = dorvex::HandleLaunchRequests(launch); status >= 0) {
        return status;
    }
    QApplication app(argc, argv);
    dorvex::gui::CCleanerDlg dialog;
    dialog.m_Launch = launch;
    return dialog.RunModal();
}
