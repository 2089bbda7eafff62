#include "engine/check/VerifyFolder.h"

#include <vector>

#include "engine/check/VerifyIfo.h"
#include "engine/check/VerifyStream.h"
#include "ifo/IfoFile.h"
#include "support/Paths.h"
#include "support/Sinks.h"
#include "support/TitleSetFiles.h"

namespace dorvex {

namespace {

// Loads an IFO; on refusal adds the reason as a finding and returns false. The model's own log
// line about the refusal is not shown: the finding says it.
bool LoadChecked(CIfoFile& ifo, const std::string& path, CVerifyReport& report) {
    {
        CapturedLines quiet(CapturedLines::Log);
        ifo.Load(path);
    }
    if (ifo.m_bLoaded) {
        return true;
    }
    const std::string reason = ifo.LoadError().empty() ? "it cannot be read" : ifo.LoadError();
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

void VerifyVideoManager(FileSystem& files, const std::string& folder, CVerifyReport& report) {
    report.BeginGroup(TitleSetName(kVideoManager));
    const TitleSetFiles manager = TitleSetFiles::InFolder(files, folder, kVideoManager);
    const std::string path = manager.Ifo();
    if (!files.Exists(path)) {
        report.Add({finding::kIfoDamaged, GetFileName(path), "", -1, -1,
                    GetFileName(path) + " is missing"});
        return;
    }
    CIfoFile vmg(path, files);
    if (!LoadChecked(vmg, path, report)) {
        return;
    }
    VerifyBackupIfo(files, path, report);
    VerifyVmgSizes(vmg, files, folder, report);
    const std::string menu = manager.Vob(kMenuVobPart);
    if (files.SizeBytes(menu) >= 2048) {
        CVerifyStream stream(files, "VIDEO_TS menu", {menu});
        VerifyDomain(vmg, true, stream, report);
    }
}

void VerifyTitleSet(FileSystem& files, const TitleSetFiles& set, const std::string& name,
                    CVerifyReport& report) {
    report.BeginGroup(name);
    const std::string path = set.Ifo();
    CIfoFile ifo(path, files);
    if (!LoadChecked(ifo, path, report)) {
        return;
    }
    VerifyBackupIfo(files, path, report);
    VerifyVtsSizes(ifo, files, set, report);

    std::vector<std::string> titles;
    int32_t expected = kFirstTitleVobPart;
    for (const VobPart& part : set.TitleParts()) {
        if (part.number != expected) {
            report.Add({finding::kVobNumbering, GetFileName(part.path), "", -1, -1,
                        "VOB files are not numbered without gaps: " + GetFileName(part.path) +
                            " follows a missing file"});
        }
        expected = part.number + 1;
        titles.push_back(part.path);
    }

    const std::string menu = set.Vob(kMenuVobPart);
    if (files.SizeBytes(menu) >= 2048) {
        CVerifyStream stream(files, name + " menu", {menu});
        VerifyDomain(ifo, true, stream, report);
    }
    CVerifyStream stream(files, name + " titles", titles);
    VerifyDomain(ifo, false, stream, report);
}

}  // namespace

CVerifyReport VerifyFolder(const std::string& folder, FileSystem& files) {
    std::string base = folder;
    if (!base.empty() && !IsPathSeparator(base.back())) {
        base += kPathSeparator;
    }
    CVerifyReport report;
    VerifyVideoManager(files, base, report);
    for (int32_t vts = 1; vts <= kLastTitleSet; ++vts) {
        const TitleSetFiles set = TitleSetFiles::InFolder(files, base, vts);
        if (files.Exists(set.Ifo())) {
            VerifyTitleSet(files, set, TitleSetName(vts), report);
        }
    }
    return report;
}

}  // namespace dorvex
