// A file system whose power can be cut: every call goes to the disk (or another file system) at
// once, so a run behaves as it would, while the calls that change files are also kept as the
// page cache would hold them until they reach the disk. Cut() then leaves on the real folder what
// a machine that lost its power at that moment could find there after a restart.
//
//   PowerCutFileSystem files;            // the disk, inside the test's temporary folder
//   files.MarkDurable(folder);           // what the folder holds now has reached the disk
//   files.CutAfter(n, seed);             // the (n+1)-th change or flush cuts the power instead
//   CVtsCleaner engine{files}; ...       // the run; from the cut on, every call fails with EIO
//   files.WasCut();                      // false: the run did fewer than n+1 (see Operations())
//
// The model (what a journaling Linux file system such as ext4 promises, and no more):
//   - Data is written back page by page (4 KiB, aligned in the file), each page as the cache held
//     it at some moment after it was written: any page may or may not have reached the disk, in
//     no order, and may hold an earlier version of itself.
//   - Metadata (a name made, renamed, exchanged or removed, a folder made, a file's size set by a
//     truncate or grown by a write) reaches the disk in the order it was changed: the file
//     system's journal commits it in sequence, so some first part of the pending metadata has
//     landed, mixed in any way with the data (a cut may land before the data written before it,
//     a grown size before the data that grew it, a rename before the data of the renamed file).
//     Letting metadata land out of order too would give states no journaling file system gives,
//     and a test failing on those would point at no real fault.
//   - FileHandle::Sync (fsync) puts that file's data and size on disk, not its name: on ext4 the
//     name of a new file would come along with the journal commit, but that is ext4's, so a new
//     or renamed name is on disk only after FlushFolder (syncfs), which puts everything there.
//   - WriteWhole is the real one made of the calls above: its temporary file is flushed before
//     it takes the target's name, and that rename lands with the metadata (a Flushed whole write
//     that returned may still be lost to a cut before the next FlushFolder; what it never leaves
//     is a target holding anything but the old bytes or the new).
//   - Files are tracked by their node (what a name points to), names by their path; the state of
//     a name is taken from the disk the first time a call touches it. Renaming a folder is not
//     modelled. Not thread-safe: one run at a time.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/FileSystem.h"

namespace dorvex::testkit {

class PowerCutFileSystem final : public FileSystem {
  public:
    explicit PowerCutFileSystem(FileSystem& inner = TheRealFileSystem()) : m_Inner(inner) {}

    // Every regular file in folder (not below it) is on disk as it is now.
    void MarkDurable(const std::string& folder);
    // The power goes off: what the disk holds (what was flushed, then some first part of the
    // pending metadata and a random choice of the pending pages, both picked by seed and the
    // number of operations so far) is written back to every name this file system has touched,
    // and every later call fails with EIO.
    void Cut(uint64_t seed);
    // The power goes off in place of the change or flush that follows the first `operations`.
    void CutAfter(int64_t operations, uint64_t seed);
    // Changes and flushes so far: opens that create or empty a file, writes, copies, truncates,
    // renames, exchanges, removals, new folders, Sync and FlushFolder.
    int64_t Operations() const { return m_Operations; }
    bool WasCut() const { return m_Dead; }
    // The operation the cut took the place of ("write VTS_01_1.VOB at 8192, 4096 bytes").
    const std::string& CutAt() const { return m_CutAt; }

    std::unique_ptr<FileHandle> Open(const std::string& path, OpenMode mode,
                                     std::string& error) override;
    bool Exists(const std::string& path) override;
    int64_t SizeBytes(const std::string& path) override;
    FileKind KindOf(const std::string& path) override;
    FileIdentity IdentityOf(const std::string& path) override { return m_Inner.IdentityOf(path); }
    std::vector<std::string> ListFiles(const std::string& folder) override;
    int Rename(const std::string& from, const std::string& to) override;
    int Exchange(const std::string& first, const std::string& second) override;
    int Remove(const std::string& path) override;
    int MakeFolder(const std::string& path) override;
    bool ReadWhole(const std::string& path, std::vector<uint8_t>& data,
                   std::string& error) override;
    bool WriteWhole(const std::string& path, const uint8_t* data, size_t size, std::string& error,
                    Durability durability) override;
    bool FlushFolder(const std::string& folder, std::string& error) override;

    // For the open files: a change of a node's data, and the gate every call passes.
    void WrotePages(int64_t node, FileHandle& file, int64_t offset, int64_t size);
    void Truncated(int64_t node, int64_t size);
    void Synced(int64_t node);
    // False (errno EIO) once the power is off, or when this operation is the one that cuts it.
    bool Proceed(const std::string& what);
    bool Alive() const;

  private:
    // What a disk holds of a node: bytes past `size` are kept (a page may land before the size
    // that covers it) but not part of the file.
    struct Node {
        bool folder = false;
        int64_t size = 0;
        std::vector<uint8_t> bytes;
    };
    // A change the system made that the disk may not hold yet.
    struct Pending {
        enum class Kind { Page, Size, Name, Unname, Rename, Exchange };
        Pending(Kind k, int64_t n, int64_t a = 0, std::string first = {}, std::string second = {})
            : kind(k), node(n), at(a), name(std::move(first)), other(std::move(second)) {}
        Kind kind;
        int64_t node = -1;
        int64_t at = 0;  // Page: its offset; Size: the size
        std::string name, other;
        std::vector<uint8_t> bytes;  // Page: its content
        bool Metadata() const { return kind != Kind::Page; }
    };

    // The node a name points to in the running system (-1: none), learnt from the disk the
    // first time the name is touched.
    int64_t Touch(const std::string& key);
    int64_t NewNode(bool folder);
    void Land(const Pending& change);
    void WriteBack();
    std::vector<uint8_t> FileBytes(int64_t node) const;

    FileSystem& m_Inner;
    std::map<int64_t, Node> m_Disk;              // every node, as the disk holds it
    std::map<std::string, int64_t> m_DiskNames;  // every name on disk
    std::map<std::string, int64_t> m_Names;      // every touched name, as the system sees it
    std::map<int64_t, int64_t> m_Sizes;          // every file's size, as the system sees it
    std::set<std::string> m_Touched;             // names whose disk state is known
    std::vector<Pending> m_Pending;              // in the order they were made
    int64_t m_NextNode = 0;
    int64_t m_Operations = 0;
    int64_t m_CutAfter = -1;
    uint64_t m_CutSeed = 0;
    bool m_Dead = false;
    std::string m_CutAt;
};

}  // namespace dorvex::testkit
