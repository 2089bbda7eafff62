// Undoing the last run from backup of one domain (a title set's titles or menu, or the video
// manager's menu): its copies go back over the files, and VIDEO_TS.IFO is left in line with
// the title sets as they then are.
#pragma once

#include <string>

#include "engine/backup/BackupStore.h"
#include "support/TitleSetFiles.h"

namespace dorvex {

class BackupRestore {
  public:
    BackupRestore(FileSystem& files, const BackupStore& store, const std::string& vobPath,
                  bool menu);

    // False (alerted) when VIDEO_TS.IFO could not be saved.
    bool Run();

  private:
    void RestoreTitleVobs();
    // VIDEO_TS.IFO after a title set went back: its copy when no other set stays cleaned, else
    // the IFO on disk with the title-set sectors of the files as they are.
    bool RestoreVideoManagerIfo();

    FileSystem& m_Files;
    const BackupStore& m_Store;
    const TitleSetFiles m_Set;
    const std::string m_VobPath;
    const bool m_Menu;
    const int32_t m_TitleSet;
};

}  // namespace dorvex
