#include "app/core/OpenCheck.h"

#include "support/Paths.h"
#include "support/TitleSetFiles.h"

namespace dorvex {

bool IsProcessableTitle(const std::string& fileTitle) {
    return EqualsIgnoreCase(fileTitle, "video_ts") || VobTitleSetNumber(fileTitle).has_value();
}

int32_t CheckedOpen(CVtsCleaner& engine, const std::string& path, bool commandLine,
                    const ShowMessageFn& showMessage) {
    if (!IsProcessableTitle(GetBaseName(path))) {
        showMessage(kMsgNotTitleVob);
        return -1;
    }
    // The base Open on purpose: a dialog engine's Open override calls this check itself.
    if (engine.CVtsCleaner::Open(path) != 0) {
        showMessage(commandLine ? kMsgOpenFailedCommandLine : kMsgOpenFailedInteractive);
        return -1;
    }
    return 0;
}

}  // namespace dorvex
