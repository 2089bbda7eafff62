#include "engine/check/VerifyFolder.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "engine/check/VerifyIfo.h"
#include "engine/check/VerifyStream.h"
#include "ifo/IfoFile.h"
#include "support/Paths.h"
#include "support/Sinks.h"

namespace dorvex {

namespace {

constexpr int kLastTitleSet = 99;
constexpr int kLastTitleVob = 9;

std::string VtsFileName(int titleSet, int part, const char* ext) {
    char name[32];
    std::snprintf(name, sizeof(name), "VTS_%02d_%d.%s", titleSet, part, ext);
    return name;
}

// The IFO model says why it refuses a file only in a log line; the check wants it as a finding.
std::string g_LastLogLine;
void CaptureLog(char* text, int32_t) {
    g_LastLogLine = text;
}

// Loads an IFO; on refusal adds the reason as a finding and returns false.
bool LoadChecked(CIfoFile& ifo, const std::string& path, CVerifyReport& report) {
    const SinkFn saved = g_pfnLog;
    g_pfnLog = CaptureLog;
    g_LastLogLine.clear();
    ifo.Load(path);
    g_pfnLog = saved;
    if (ifo.m_bLoaded) {
        return true;
    }
    std::string reason = g_LastLogLine;
    const size_t colon = reason.find(": ");
    reason = colon == std::string::npos ? "it cannot be read" : reason.substr(colon + 2);
    report.Add({finding::kIfoDamaged, GetFileName(path), "", -1, -1,
                GetFileName(path) + " is refused: " + reason});
    return false;
}

// One domain: its stream scanned, then everything the IFO says about it.
void VerifyDomain(CIfoFile& ifo, bool menu, CVerifyStream& stream, CVerifyReport& report) {
    if (!stream.Scan(report)) {
        return;
    }
    VerifyVobuAdmap(ifo, menu, stream, report);
    VerifyCells(ifo, menu, stream, report);
    if (!menu) {
        VerifyTimeMaps(ifo, stream, report);
    }
    VerifyReferencedCells(ifo, menu, stream, report);
    stream.CheckNavPointers(report);
}

void VerifyVideoManager(const std::string& folder, CVerifyReport& report) {
    report.BeginGroup("VIDEO_TS");
    const std::string path = folder + g_IfoNames[0];
    if (!FileExists(path)) {
        report.Add({finding::kIfoDamaged, g_IfoNames[0], "", -1, -1, "VIDEO_TS.IFO is missing"});
        return;
    }
    CIfoFile vmg("");
    if (!LoadChecked(vmg, path, report)) {
        return;
    }
    VerifyBackupIfo(path, report);
    VerifyVmgSizes(vmg, folder, report);
    const std::string menu = folder + ReplaceExt(g_IfoNames[0], ".VOB");
    if (FileSizeBytes(menu) >= 2048) {
        CVerifyStream stream("VIDEO_TS menu", {menu});
        VerifyDomain(vmg, true, stream, report);
    }
}

void VerifyTitleSet(const std::string& folder, int titleSet, CVerifyReport& report) {
    const std::string name = VtsFileName(titleSet, 0, "IFO").substr(0, 6);
    report.BeginGroup(name);
    const std::string path = folder + VtsFileName(titleSet, 0, "IFO");
    CIfoFile ifo("");
    if (!LoadChecked(ifo, path, report)) {
        return;
    }
    VerifyBackupIfo(path, report);
    VerifyVtsSizes(ifo, folder, titleSet, report);

    std::vector<std::string> titles;
    bool gap = false;
    for (int part = 1; part <= kLastTitleVob; ++part) {
        const std::string vob = folder + VtsFileName(titleSet, part, "VOB");
        if (!FileExists(vob)) {
            gap = true;
            continue;
        }
        if (gap) {
            report.Add({finding::kVobNumbering, GetFileName(vob), "", -1, -1,
                        "VOB files are not numbered without gaps: " + GetFileName(vob) +
                            " follows a missing file"});
            gap = false;
        }
        titles.push_back(vob);
    }

    const std::string menu = folder + VtsFileName(titleSet, 0, "VOB");
    if (FileSizeBytes(menu) >= 2048) {
        CVerifyStream stream(name + " menu", {menu});
        VerifyDomain(ifo, true, stream, report);
    }
    CVerifyStream stream(name + " titles", titles);
    VerifyDomain(ifo, false, stream, report);
}

}  // namespace

CVerifyReport VerifyFolder(const std::string& folder) {
    std::string base = folder;
    if (!base.empty() && !IsPathSeparator(base.back())) {
        base += kPathSeparator;
    }
    CVerifyReport report;
    VerifyVideoManager(base, report);
    for (int vts = 1; vts <= kLastTitleSet; ++vts) {
        if (FileExists(base + VtsFileName(vts, 0, "IFO"))) {
            VerifyTitleSet(base, vts, report);
        }
    }
    return report;
}

}  // namespace dorvex
