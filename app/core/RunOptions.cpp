#include "app/core/RunOptions.h"

#include <cstdlib>

#include "engine/VtsCleaner.h"
#include "support/Paths.h"

namespace dorvex {

void RunOptions::ApplyTo(CVtsCleaner& engine) const {
    engine.m_RemoveUnrefed = m_RemoveUnrefed;
    engine.m_InPlace = m_InPlace;
    engine.m_RemapVOBIDs = m_RemapVOBIDs;
    engine.m_ResetIlvu = m_ResetIlvu;
    engine.m_WaitForFile = m_WaitForFile;
    engine.m_BackupAbove = m_BackupAbove;
    engine.m_FixPGCLBAs = m_FixPGCLBAs;
    engine.m_AllowShort = m_AllowShort;
    engine.m_PruneMissingVobs = m_PruneMissingVobs;
    engine.m_IfoPauseMs = m_IfoPauseMs;
    engine.m_LogPath = m_LogPath.empty() ? DefaultLogPath() : m_LogPath;
    engine.m_LogFollowsLinks = m_LogPath.empty() ? 0 : 1;
}

std::string DefaultLogPath() {
    for (const char* name : {"TEMP", "TMPDIR"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && value[0] != '\0') {
            return JoinPath(value, "Dorvex.log");
        }
    }
    return "/tmp/Dorvex.log";
}

}  // namespace dorvex
