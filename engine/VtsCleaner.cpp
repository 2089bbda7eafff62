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
    // A run from backup killed between moving the original away and making its output leaves
    // the name empty: the same command again must reach the check that names the backup.
    if (!m_Files.Exists(path) &&
        !m_Files.IsRegularFile(BackupStore(m_Files, path, m_BackupAbove != 0).CopyOf(path))) {
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
    return m_Menu == 0 && NextTitleVob(m_Files, path, skipEmpty);
}

uint32_t CVtsCleaner::GetTotalSectors() {
    std::string path = VobPathSnapshot();
    m_FilesAtStart.clear();
    uint32_t total = 0;
    do {
        m_FilesAtStart.emplace_back(path, static_cast<uint32_t>(m_Files.SizeKB(path) / 2));
        total += m_FilesAtStart.back().second;
    } while (NextVobFile(path, true));
    return total;
}

std::string CVtsCleaner::DescribeShortFile() const {
    const BackupStore backup = Backup();
    const std::string reached = VobPathSnapshot();
    for (const auto& [path, sectors] : m_FilesAtStart) {
        // From backup a file the pass read is its copy, which the pass only reads. In place a
        // file read is cut to what was kept and tells nothing; the files after it are untouched.
        const std::string copy = backup.CopyOf(path);
        const bool moved = m_BackupRun.CopiesThisRun().count(copy) != 0;
        if (m_InPlace && GetVobDigit(path) <= GetVobDigit(reached)) {
            continue;
        }
        const std::string now = moved ? copy : path;
        const uint32_t left = static_cast<uint32_t>(m_Files.SizeKB(now) / 2);
        if (left < sectors) {
            return GetFileName(path) + " held " + std::to_string(sectors) +
                   " sectors when the run began, " +
                   (m_Files.Exists(now) ? std::to_string(left) + " now" : "and is gone");
        }
    }
    return "a file up to " + GetFileName(reached) + " was cut before the run read it";
}

RunStep CVtsCleaner::Step() const {
    return {m_Files,
            VobPathSnapshot(),
            m_Menu != 0,
            m_InPlace != 0,
            m_AllowShort != 0,
            Backup(),
            CurrentJournalOptions(),
            &m_BackupRun.CopiesThisRun()};
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
