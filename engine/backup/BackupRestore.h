// Undoing runs from backup, of one domain or of several (a title set's titles or menu, the video
// manager's menu): their copies go back over the files, and VIDEO_TS.IFO is left in line with
// the title sets as they then are. Everything is checked before the first file moves: that each
// copy is the original the backup's record names and each file it replaces is what the run left
// (else the backup may be another disc's), and what would make a move fail or reach elsewhere (a
// link, a folder or a file that may not be changed). Then the files move one by one, each one
// reported, and one line says whether all of it was done.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "engine/backup/BackupManifest.h"
#include "engine/backup/BackupStore.h"
#include "support/TitleSetFiles.h"

namespace dorvex {

// A domain by the path of its first VOB, which need not exist.
struct RestoreDomain {
    std::string vobPath;
    bool menu = false;
};

enum class RestoreRefusal {
    None,
    // The record is missing or does not vouch for a copy or a file: a forced restore goes on.
    Unverified,
    // A link, or a folder or file that may not be changed: nothing can make the restore safe.
    Blocked,
};

struct RestoreCheck {
    RestoreRefusal refusal = RestoreRefusal::None;
    std::string message;  // what was found and what to do, for the user
    bool Refused() const { return refusal != RestoreRefusal::None; }
};

class BackupRestore {
  public:
    // trustedCopies: copies made by the caller's own run, which it undoes because it did not
    // finish; they are taken as they are, even when another program changed them meanwhile.
    BackupRestore(FileSystem& files, const BackupStore& store,
                  const std::vector<RestoreDomain>& domains,
                  const std::set<std::string>& trustedCopies);

    // True when the backup holds nothing of these domains.
    bool Empty() const { return m_Steps.empty(); }
    RestoreCheck Check();
    // After Check (when it refused, only an Unverified refusal and on purpose): the moves, each
    // one logged, then "Backup files restored", or an alert naming what was not done and false.
    bool Run();

  private:
    enum class Action { PutBack, RemoveRenamed, UpdateVideoManager };
    struct Step {
        Action action;
        std::string file;  // in the disc folder
        std::string copy;  // PutBack; UpdateVideoManager: the copy to start from, or empty
    };
    // What went wrong, collected before anything moves.
    struct Findings {
        std::vector<std::string> blocked;
        std::vector<std::string> unverified;
        bool link = false;
        bool anyMatched = false;
        bool noRecord = false;
    };

    void PlanDomain(const RestoreDomain& domain, std::vector<std::string>& remaining);
    void PlanTitleVobs(const TitleSetFiles& set, std::vector<std::string>& remaining);
    void PlanVideoManager(const TitleSetFiles& set, int32_t titleSet,
                          std::vector<std::string>& remaining);
    // Puts back the copy of file when the backup holds one (a link there too, which Check
    // refuses), taking it off `remaining`.
    bool PlanPutBack(const std::string& file, std::vector<std::string>& remaining);
    // A copy (or a link where one goes) that no step planned so far puts back.
    bool HasCopy(const std::string& copy) const;
    void CheckPlace(const Step& step, Findings& findings);
    void CheckRecord(const Step& step, Findings& findings);
    void CheckWritable(const std::string& path, Findings& findings);
    // A file the record need not name: an output the interrupted run renamed, a VIDEO_TS.IFO
    // the backup holds no copy of.
    bool UnrecordedIsExpected(const Step& step, const std::string& file) const;
    std::string RefusalMessage(const Findings& findings) const;
    // One step; false with the reason when it was not done.
    bool Perform(const Step& step, std::string& reason);
    bool UpdateVideoManagerIfo(const Step& step, std::string& reason);
    // The record after the moves: what went back is no longer in it; it goes with the last copy.
    bool UpdateRecord(std::string& reason);
    std::string What() const;

    FileSystem& m_Files;
    const BackupStore m_Store;
    const std::set<std::string>& m_Trusted;
    std::vector<std::string> m_SetNames;
    std::vector<Step> m_Steps;
    // The names the domains own in the disc folder: their records go once they are back.
    std::vector<std::string> m_DomainNames;
    BackupManifest m_Manifest;
    ManifestRead m_ManifestState = ManifestRead::Missing;
    std::string m_ManifestError;
};

}  // namespace dorvex
