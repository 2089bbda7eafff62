#include "engine/VtsCleaner.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "engine/PackInfo.h"
#include "engine/preflight/Preflight.h"
#include "ifo/IfoFile.h"
#include "support/Paths.h"
#include "support/Sinks.h"

namespace dorvex {

namespace {

// MPEG-2 pack header with SCR 0 and mux rate 25200, then a padding packet of 2028 bytes of 0xFF.
constexpr uint8_t kStuffingHeader[20] = {0x00, 0x00, 0x01, 0xBA, 0x44, 0x00, 0x04,
                                         0x00, 0x04, 0x01, 0x01, 0x89, 0xC3, 0xF8,
                                         0x00, 0x00, 0x01, 0xBE, 0x07, 0xEC};

}  // namespace

CVtsCleaner::CVtsCleaner(FileSystem& files) : m_Files(files), m_InFile(files), m_OutFile(files) {
    memset(m_Stuffing, 0xFF, sizeof(m_Stuffing));
    memcpy(m_Stuffing, kStuffingHeader, sizeof(kStuffingHeader));
}

CVtsCleaner::~CVtsCleaner() = default;

void CVtsCleaner::SetVobPath(const std::string& path) {
    std::lock_guard<std::mutex> guard(m_VobPathLock);
    m_VobPath = path;
}

void CVtsCleaner::SetVobPathDigit(char digit) {
    std::string path = VobPathSnapshot();
    SetVobDigit(path, digit);
    SetVobPath(ResolveCase(m_Files, path));
}

std::string CVtsCleaner::VobPathSnapshot() const {
    std::lock_guard<std::mutex> guard(m_VobPathLock);
    return m_VobPath;
}

int32_t CVtsCleaner::Open(const std::string& named) {
    if (!EqualsIgnoreCase(GetFileExt(named), ".VOB")) {
        return -1;
    }
    // A name derived from another (a full-DVD step's) finds its file in whatever case.
    const std::string path = ResolveCase(m_Files, named);
    if (!m_Files.Exists(path)) {
        return -1;
    }
    std::string vobPath = path;
    if (IsVideoManagerName(vobPath) || GetVobDigit(vobPath) == '0') {
        m_Menu = 1;
    } else {
        m_Menu = 0;
        SetVobDigit(vobPath, '1');
        vobPath = ResolveCase(m_Files, vobPath);
    }
    SetVobPath(vobPath);
    g_nVideoStandard = kStandardUnknown;
    return 0;
}

bool CVtsCleaner::NextVobFile(std::string& path, bool skipEmpty) {
    if (m_Menu) {
        return false;
    }
    // Only a decimal digit below '9' can step; any other character ends the walk at once.
    for (char digit = GetVobDigit(path); digit >= '0' && digit < '9'; digit = GetVobDigit(path)) {
        SetVobDigit(path, static_cast<char>(digit + 1));
        // The next part may be spelled in another case than this one.
        path = ResolveCase(m_Files, path);
        if (!skipEmpty || m_Files.SizeKB(path) >= 1) {
            return true;
        }
    }
    return false;
}

uint32_t CVtsCleaner::GetTotalSectors() {
    std::string path = VobPathSnapshot();
    uint32_t total = static_cast<uint32_t>(m_Files.SizeKB(path) / 2);
    while (NextVobFile(path, true)) {
        total += static_cast<uint32_t>(m_Files.SizeKB(path) / 2);
    }
    return total;
}

RunStep CVtsCleaner::Step() const {
    return {m_Files,  VobPathSnapshot(),       m_Menu != 0,     m_InPlace != 0, m_AllowShort != 0,
            Backup(), CurrentJournalOptions(), &m_CopiesThisRun};
}

RunCheck CVtsCleaner::CheckBeforeRun() const {
    return Preflight(Step()).BeforeRun();
}

bool CVtsCleaner::RefusesForInterruptedRun(bool wholeFolder) {
    const RunCheck check = Preflight(Step()).BeforeBackupCommand(wholeFolder);
    if (!check.Refused()) {
        return false;
    }
    Alert(check.message.c_str());
    m_Refused = 1;
    return true;
}

bool CVtsCleaner::WaitWhilePaused() {
    while (m_Pause.load() && !m_Abort.load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return !RunInterrupted();
}

}  // namespace dorvex
