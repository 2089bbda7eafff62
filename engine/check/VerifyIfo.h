// The checks that hold an IFO against its VOB stream and against the files on disk, on the
// program's own IFO model. Each adds its findings to the report's current group.
#pragma once

#include <string>

#include "engine/check/VerifyReport.h"
#include "engine/check/VerifyStream.h"
#include "support/TitleSetFiles.h"

namespace dorvex {

class CIfoFile;
class FileSystem;
class TitleSetFiles;

// Every PGC of a domain that no disc holds (a cell count past its cell tables, VOB or cell ID 0,
// more different cells than the cell address table, one cell played over and over): one finding
// each, as the run's refusal words it.
void VerifyPgcStructure(CIfoFile& ifo, bool menu, CVerifyReport& report);
// Every cell of every PGC of a domain (but those VerifyPgcStructure reports): its first and last
// VOBU start sectors hold navpacks with the cell's VOB/cell ID, its last sector ends the last VOBU,
// and the cell address table holds and covers it (and names no VOB ID above its VOB count).
void VerifyCells(CIfoFile& ifo, bool menu, const CVerifyStream& stream, CVerifyReport& report);
// The VOBU address map lists exactly the navpacks of the stream.
void VerifyVobuAdmap(CIfoFile& ifo, bool menu, const CVerifyStream& stream, CVerifyReport& report);
// Every time-map entry of the title domain points at a navpack.
void VerifyTimeMaps(CIfoFile& ifo, const CVerifyStream& stream, CVerifyReport& report);
// Cells the stream holds that no PGC of the domain plays: what a run with removal drops.
void VerifyReferencedCells(CIfoFile& ifo, bool menu, const CVerifyStream& stream,
                           CVerifyReport& report);

// The domains of a title set (or the video manager's menu) whose VOB is missing while the IFO's
// tables still describe it.
struct MissingDomains {
    bool menu = false;
    bool titles = false;
};

// What the video manager's check needs to know of the rest of the folder.
struct VmgContext {
    bool menuMissing = false;  // VIDEO_TS.VOB is missing and the menu tables describe it
    // The first title set whose IFO is missing or that misses a VOB its IFO describes; the
    // title sets from there on cannot be placed by the files (kLastTitleSet + 1: none).
    int32_t firstIncompleteTitleSet = kLastTitleSet + 1;
};

// The header's sector fields against the sizes of the title set's files; fields that count a
// missing VOB are left to that VOB's finding.
void VerifyVtsSizes(CIfoFile& ifo, FileSystem& files, const TitleSetFiles& set,
                    const MissingDomains& missing, CVerifyReport& report);
// VIDEO_TS.IFO's sector fields and every title's start sector in TT_SRPT (folder ends with a
// separator); a title set that TT_SRPT names and whose IFO is missing is a finding. A video
// manager padded as dvdauthor pads it is a note.
void VerifyVmgSizes(CIfoFile& vmg, FileSystem& files, const std::string& folder,
                    const VmgContext& context, CVerifyReport& report);
// The .BUP holds the same bytes as the .IFO.
void VerifyBackupIfo(FileSystem& files, const std::string& ifoPath, CVerifyReport& report);

}  // namespace dorvex
