#include "app/core/RunSteps.h"

#include <cstdlib>
#include <ctime>

#include "support/Paths.h"
#include "support/Sinks.h"

namespace dorvex {

std::string DefaultLogPath() {
    for (const char* name : {"TEMP", "TMPDIR"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && value[0] != '\0') {
            return JoinPath(value, "Dorvex.log");
        }
    }
    return "/tmp/Dorvex.log";
}

std::string LocalTimeText(const char* format) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[128];
    size_t len = std::strftime(text, sizeof(text), format, &local);
    return std::string(text, len);
}

void BeginRunLog(CVtsCleaner& engine) {
    engine.m_Abort = 0;
    engine.m_Failed = 0;
    // Each run's log replaces the previous one. A log that cannot be opened is not an error:
    // lines then reach the status line and standard output only.
    OpenLogFile(engine.m_LogPath, "w");
    Logf("%s", LocalTimeText("Starting Processing at %H:%M:%S").c_str());
}

void RunEngine(CVtsCleaner& engine, bool fullDvd) {
    if (fullDvd) {
        engine.ProcessFullDvd();
    } else {
        engine.ProcessVts();
    }
}

bool EndRun(CVtsCleaner& engine, bool closing) {
    // A run that returned early may have left the start-of-run log open; close it so that
    // the end line stays the last text of the file and later lines (the restore's) do not
    // land after it.
    CloseLogFile();
    AppendToFile(engine.m_LogPath, LocalTimeText("End Processing at %H:%M:%S"));

    bool failed = engine.m_Failed.load() != 0;
    bool interrupted = engine.m_Abort.load() != 0 || closing || failed;
    if (engine.m_InPlace == 0 && interrupted) {
        engine.RestoreBackup();
        return true;
    }
    // In place nothing can be undone; a failed write still must not pass for success.
    return failed;
}

}  // namespace dorvex
