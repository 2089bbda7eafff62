// One run at a time per disc folder: every command that changes a disc's files holds an
// exclusive advisory lock (flock) on the folder for as long as it works. Nothing is written into
// the folder for it, and the kernel lets the lock go when the holder ends, however it ends.
#pragma once

#include <string>

namespace dorvex {

class FolderLock {
  public:
    FolderLock() = default;
    ~FolderLock() { Release(); }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    FolderLock(FolderLock&& other) noexcept : m_Fd(other.m_Fd) { other.m_Fd = -1; }
    FolderLock& operator=(FolderLock&& other) noexcept;

    // Takes the lock without waiting. False when another holder has it, or the folder cannot be
    // opened or locked; `holder` then names the process that holds it ("process 1234
    // (dorvex-cli)") or says why the folder cannot be locked, and LockError tells which.
    bool Acquire(const std::string& folder, std::string& holder);
    void Release();
    bool Held() const { return m_Fd >= 0; }
    // After a failed Acquire: 0 when another holder has the lock, else the errno that kept the
    // folder from being locked (EACCES for a folder this user may not read, ENOLCK, ...).
    int LockError() const { return m_Error; }

  private:
    int m_Fd = -1;
    int m_Error = 0;
};

}  // namespace dorvex
