// dvdrestore: undoes runs from backup on a whole VIDEO_TS folder with the program's own Restore
// Backup, title set by title set (menu VOB and title VOBs) and then the video manager, as the
// dialog's Restore Backup button does for each file it was given.
//
//   dvdrestore FOLDER
#include <cstdio>
#include <string>

#include "engine/VtsCleaner.h"
#include "support/Paths.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: dvdrestore FOLDER\n");
        return 2;
    }
    const std::string folder = dorvex::JoinPath(argv[1], "");
    dorvex::CVtsCleaner engine;
    auto restore = [&](const std::string& name, bool menu) {
        // The engine's Open wants an existing VOB; a restore only needs the path and domain.
        engine.SetVobPath(folder + name);
        engine.m_Menu = menu ? 1 : 0;
        engine.RestoreBackup();
    };
    char name[32];
    for (int n = 1; n <= 99; ++n) {
        snprintf(name, sizeof(name), "VTS_%02d_0.VOB", n);
        restore(name, true);
        snprintf(name, sizeof(name), "VTS_%02d_1.VOB", n);
        restore(name, false);
    }
    restore("VIDEO_TS.VOB", true);
    // The backup folder is empty now; DeleteBackup removes it as the program would.
    engine.DeleteBackup();
    printf("\n");
    return 0;
}
