// A file system that fails on purpose: every call goes to the disk (or another file system)
// unless the rule given says no, and then it fails with EIO as the system call would. The rule
// sees the operation, the file and the sector (the first one a read or write touches).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "support/FileSystem.h"

namespace dorvex::testkit {

class FaultyFileSystem final : public FileSystem {
  public:
    using Rule = std::function<bool(FileOp op, const std::string& path, int64_t sector)>;

    explicit FaultyFileSystem(FileSystem& inner = TheRealFileSystem()) : m_Inner(inner) {}

    // Null lets everything through.
    void SetRule(Rule rule) { m_Rule = std::move(rule); }
    // True when the rule lets the operation through; else errno is EIO.
    bool Allows(FileOp op, const std::string& path, int64_t sector = 0) const;
    FileSystem& Inner() { return m_Inner; }

    std::unique_ptr<FileHandle> Open(const std::string& path, OpenMode mode,
                                     std::string& error) override;
    bool Exists(const std::string& path) override { return m_Inner.Exists(path); }
    int64_t SizeBytes(const std::string& path) override { return m_Inner.SizeBytes(path); }
    FileKind KindOf(const std::string& path) override { return m_Inner.KindOf(path); }
    FileIdentity IdentityOf(const std::string& path) override { return m_Inner.IdentityOf(path); }
    std::vector<std::string> ListFiles(const std::string& folder) override {
        return m_Inner.ListFiles(folder);
    }
    int Rename(const std::string& from, const std::string& to) override;
    // Asks for Rename on the first name.
    int Exchange(const std::string& first, const std::string& second) override;
    int Remove(const std::string& path) override;
    int MakeFolder(const std::string& path) override { return m_Inner.MakeFolder(path); }
    bool ReadWhole(const std::string& path, std::vector<uint8_t>& data,
                   std::string& error) override;
    // A whole write goes through this file system's own calls (so a rule can fail the write or
    // the flush of the temporary file).
    bool WriteWhole(const std::string& path, const uint8_t* data, size_t size, std::string& error,
                    Durability durability) override;
    // Asks for Sync on the folder.
    bool FlushFolder(const std::string& folder, std::string& error) override;
    // Asks for Access on the path; a refusal says EACCES, as a file without write permission.
    bool MayChange(const std::string& path, std::string& error) override;

  private:
    FileSystem& m_Inner;
    Rule m_Rule;
};

}  // namespace dorvex::testkit
