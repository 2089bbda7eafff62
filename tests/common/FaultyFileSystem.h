// A file system that fails on purpose: every call goes to the disk (or another file system)
// unless the rule given says no, and then it fails with EIO as the system call would. The rule
// sees the operation, the file and the sector (the first one a read or write touches).
#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "support/FileSystem.h"

namespace dorvex::testkit {

// A kernel whose copy between files (copy_file_range) copies at most `piece` bytes a call for
// its first `pieces` calls, then refuses every call with errno `refusal` (0: copies nothing, as
// at the source's end).
struct KernelCopyFault {
    int64_t piece = 0;
    int32_t pieces = 0;
    int refusal = 0;
};

class FaultyFileSystem final : public FileSystem {
  public:
    using Rule = std::function<bool(FileOp op, const std::string& path, int64_t sector)>;

    explicit FaultyFileSystem(FileSystem& inner = TheRealFileSystem()) : m_Inner(inner) {}

    // Null lets everything through.
    void SetRule(Rule rule) {
        std::lock_guard<std::mutex> oneAtATime(m_RuleMutex);
        m_Rule = std::move(rule);
    }
    // True when the rule lets the operation through; else errno is EIO. The rule sees one call
    // at a time, whichever thread makes it.
    bool Allows(FileOp op, const std::string& path, int64_t sector = 0) const;
    FileSystem& Inner() { return m_Inner; }
    // Whether its files may be read from another thread, as the disk's may (the rule then sees
    // those reads from there); yes unless told otherwise.
    void SetReadsFromAnyThread(bool allowed) { m_ReadsFromAnyThread = allowed; }
    bool ReadsFromAnyThread() const { return m_ReadsFromAnyThread; }
    // Copies between files then go through a stand-in for the kernel's copy that behaves as
    // `fault` says, through the same loop as the disk's copies; none: the inner file system's.
    void SetKernelCopyFault(std::optional<KernelCopyFault> fault) {
        m_CopyFault = fault;
        m_KernelCopyCalls = 0;
        m_OverlappingKernelCopies = 0;
    }
    const std::optional<KernelCopyFault>& CopyFault() const { return m_CopyFault; }
    // How many times the stand-in was called since the fault was set.
    int64_t KernelCopyCalls() const { return m_KernelCopyCalls; }
    void CountKernelCopyCall() { ++m_KernelCopyCalls; }
    // Calls the stand-in refused, as the kernel does, for copying within one file between
    // ranges that overlap.
    int64_t OverlappingKernelCopies() const { return m_OverlappingKernelCopies; }
    void CountOverlappingKernelCopy() { ++m_OverlappingKernelCopies; }
    // Sees every write-back hint (path, offset, size) before it goes on to the disk.
    using WriteBackWatch = std::function<void(const std::string&, int64_t, int64_t)>;
    void SetWriteBackWatch(WriteBackWatch watch) { m_WriteBackWatch = std::move(watch); }
    void HintedWriteBack(const std::string& path, int64_t offset, int64_t size) const {
        if (m_WriteBackWatch) {
            m_WriteBackWatch(path, offset, size);
        }
    }

    std::unique_ptr<FileHandle> Open(const std::string& path, OpenMode mode,
                                     std::string& error) override;
    bool Exists(const std::string& path) override { return m_Inner.Exists(path); }
    int64_t SizeBytes(const std::string& path) override { return m_Inner.SizeBytes(path); }
    FileKind KindOf(const std::string& path) override { return m_Inner.KindOf(path); }
    FileIdentity IdentityOf(const std::string& path) override { return m_Inner.IdentityOf(path); }
    // Counted; empty, as for a folder that can be searched but not read, once told so.
    std::vector<std::string> ListFiles(const std::string& folder) override {
        ++m_Listings;
        return m_ListingsFail ? std::vector<std::string>{} : m_Inner.ListFiles(folder);
    }
    int64_t Listings() const { return m_Listings; }
    void SetListingsFail(bool fail) { m_ListingsFail = fail; }
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
    mutable std::mutex m_RuleMutex;
    bool m_ReadsFromAnyThread = true;
    std::optional<KernelCopyFault> m_CopyFault;
    int64_t m_KernelCopyCalls = 0;
    int64_t m_OverlappingKernelCopies = 0;
    int64_t m_Listings = 0;
    bool m_ListingsFail = false;
    WriteBackWatch m_WriteBackWatch;
};

}  // namespace dorvex::testkit
