// The dorvex program: the dialog on a desktop, the headless command line without a display.
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/core/Headless.h"
#include "app/core/RunSteps.h"
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
        if (argc > 1) {
            return dorvex::RunHeadless(argc, argv);
        }
        std::fputs(
            "Dorvex needs a display to show its dialog (DISPLAY or WAYLAND_DISPLAY).\n"
            "Without one, name a VOB file and switches, for example:\n"
            "  dorvex -s -u VIDEO_TS/VTS_01_1.VOB\n",
            stderr);
        return 2;
    }
    // The switches are read before Qt sees (and may consume) the arguments.
    std::vector<const char*> args(argv, argv + argc);
    QApplication app(argc, argv);
    dorvex::gui::CCleanerDlg dialog;
    dialog.m_Launch =
        dorvex::ParseCommandLine(static_cast<int>(args.size()), args.data(), dialog.m_Engine);
    return dialog.RunModal();
}
