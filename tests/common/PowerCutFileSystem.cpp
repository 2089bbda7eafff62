#include "common/PowerCutFileSystem.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <stdexcept>

#include "support/WholeFile.h"

namespace dorvex::testkit {

namespace {

constexpr int64_t kPage = 4096;

// One name for one path however it is spelt ("a//b", "a/./b").
std::string Key(const std::string& path) {
    return std::filesystem::path(path).lexically_normal().string();
}

std::string Name(const std::string& key) {
    return std::filesystem::path(key).filename().string();
}

class PowerCutHandle final : public FileHandle {
  public:
    PowerCutHandle(PowerCutFileSystem& files, int64_t node, std::string key,
                   std::unique_ptr<FileHandle> inner)
        : m_Files(files), m_Node(node), m_Key(std::move(key)), m_Inner(std::move(inner)) {}

    FileHandle& Inner() { return *m_Inner; }

    int64_t Read(uint8_t* buffer, int64_t size, int64_t offset) override {
        return m_Files.Alive() ? m_Inner->Read(buffer, size, offset) : -1;
    }
    bool Write(const iovec* pieces, int count, int64_t offset) override {
        int64_t size = 0;
        for (int i = 0; i < count; ++i) {
            size += static_cast<int64_t>(pieces[i].iov_len);
        }
        if (!m_Files.Proceed(Describe("write", offset, size))) {
            return false;
        }
        const bool written = m_Inner->Write(pieces, count, offset);
        // Even a failed write may have changed some pages: the cache holds what it holds.
        m_Files.WrotePages(m_Node, *m_Inner, offset, size);
        return written;
    }
    int64_t CopyFrom(FileHandle& source, int64_t from, int64_t to, int64_t size) override {
        if (!m_Files.Proceed(Describe("copy to", to, size))) {
            return -1;
        }
        auto* ours = dynamic_cast<PowerCutHandle*>(&source);
        const int64_t copied = m_Inner->CopyFrom(ours ? ours->Inner() : source, from, to, size);
        m_Files.WrotePages(m_Node, *m_Inner, to, copied);
        return copied;
    }
    bool Truncate(int64_t size) override {
        if (!m_Files.Proceed(Describe("cut", size, 0)) || !m_Inner->Truncate(size)) {
            return false;
        }
        m_Files.Truncated(m_Node, size);
        return true;
    }
    // The disk is the model's: a real fsync would only cost time.
    bool Sync() override {
        if (!m_Files.Proceed("fsync " + Name(m_Key))) {
            return false;
        }
        m_Files.Synced(m_Node);
        return true;
    }
    bool Close() override {
        const bool closed = m_Inner->Close();
        return m_Files.Alive() && closed;
    }
    void ExpectSequentialReads() override { m_Inner->ExpectSequentialReads(); }

  private:
    std::string Describe(const char* what, int64_t offset, int64_t size) const {
        std::string text = std::string(what) + " " + Name(m_Key) + " at " + std::to_string(offset);
        return size > 0 ? text + ", " + std::to_string(size) + " bytes" : text;
    }

    PowerCutFileSystem& m_Files;
    int64_t m_Node;  // -1: not a file the model follows
    std::string m_Key;
    std::unique_ptr<FileHandle> m_Inner;
};

}  // namespace

bool PowerCutFileSystem::Alive() const {
    if (m_Dead) {
        errno = EIO;
    }
    return !m_Dead;
}

bool PowerCutFileSystem::Proceed(const std::string& what) {
    if (!Alive()) {
        return false;
    }
    if (m_CutAfter >= 0 && m_Operations >= m_CutAfter) {
        m_CutAt = what;
        Cut(m_CutSeed);
        errno = EIO;
        return false;
    }
    ++m_Operations;
    return true;
}

void PowerCutFileSystem::CutAfter(int64_t operations, uint64_t seed) {
    m_CutAfter = operations;
    m_CutSeed = seed;
}

int64_t PowerCutFileSystem::NewNode(bool folder) {
    m_Disk[m_NextNode].folder = folder;
    return m_NextNode++;
}

int64_t PowerCutFileSystem::Touch(const std::string& key) {
    if (m_Touched.count(key) != 0) {
        return m_Names[key];
    }
    int64_t node = -1;
    const FileKind kind = m_Inner.KindOf(key);
    if (kind == FileKind::Regular) {
        node = NewNode(false);
        std::string error;
        if (!m_Inner.ReadWhole(key, m_Disk[node].bytes, error)) {
            throw std::runtime_error("PowerCutFileSystem cannot read " + key + ": " + error);
        }
        m_Disk[node].size = static_cast<int64_t>(m_Disk[node].bytes.size());
        m_Sizes[node] = m_Disk[node].size;
    } else if (kind == FileKind::Folder) {
        node = NewNode(true);
    } else if (kind != FileKind::Missing) {
        return -1;  // links and the like are not followed: what happens to them is not modelled
    }
    m_Touched.insert(key);
    m_Names[key] = node;
    if (node >= 0) {
        m_DiskNames[key] = node;
    }
    return node;
}

void PowerCutFileSystem::MarkDurable(const std::string& folder) {
    Touch(Key(folder));
    for (const std::string& name : m_Inner.ListFiles(folder)) {
        Touch(Key(folder + "/" + name));
    }
}

void PowerCutFileSystem::WrotePages(int64_t node, FileHandle& file, int64_t offset, int64_t size) {
    if (node < 0 || size <= 0) {
        return;
    }
    // Each page as the cache holds it now, read back whole: what a write-back would take.
    for (int64_t page = offset / kPage * kPage; page < offset + size; page += kPage) {
        Pending change{Pending::Kind::Page, node, page};
        change.bytes.assign(kPage, 0);
        file.Read(change.bytes.data(), kPage, page);
        m_Pending.push_back(std::move(change));
    }
    if (offset + size > m_Sizes[node]) {
        m_Sizes[node] = offset + size;
        m_Pending.push_back({Pending::Kind::Size, node, offset + size});
    }
}

void PowerCutFileSystem::Truncated(int64_t node, int64_t size) {
    if (node >= 0) {
        m_Sizes[node] = size;
        m_Pending.push_back({Pending::Kind::Size, node, size});
    }
}

void PowerCutFileSystem::Synced(int64_t node) {
    // The file's data and size in the order they were made; its name waits for its folder.
    const auto own = [node](const Pending& change) {
        return change.node == node &&
               (change.kind == Pending::Kind::Page || change.kind == Pending::Kind::Size);
    };
    for (const Pending& change : m_Pending) {
        if (own(change)) {
            Land(change);
        }
    }
    m_Pending.erase(std::remove_if(m_Pending.begin(), m_Pending.end(), own), m_Pending.end());
}

void PowerCutFileSystem::Land(const Pending& change) {
    Node& node = m_Disk[change.node];
    switch (change.kind) {
        case Pending::Kind::Page:
            if (static_cast<int64_t>(node.bytes.size()) < change.at + kPage) {
                node.bytes.resize(static_cast<size_t>(change.at + kPage));
            }
            std::copy(change.bytes.begin(), change.bytes.end(), node.bytes.begin() + change.at);
            break;
        case Pending::Kind::Size:
            // A cut frees what lies past it; a file grown later shows zeros there, not old data.
            if (change.at < node.size && change.at < static_cast<int64_t>(node.bytes.size())) {
                node.bytes.resize(static_cast<size_t>(change.at));
            }
            node.size = change.at;
            break;
        case Pending::Kind::Name:
            m_DiskNames[change.name] = change.node;
            break;
        case Pending::Kind::Unname:
            m_DiskNames.erase(change.name);
            break;
        case Pending::Kind::Rename:
            if (auto from = m_DiskNames.find(change.name); from != m_DiskNames.end()) {
                const int64_t moved = from->second;
                m_DiskNames.erase(from);
                m_DiskNames[change.other] = moved;
            }
            break;
        case Pending::Kind::Exchange: {
            const auto one = m_DiskNames.find(change.name);
            const auto other = m_DiskNames.find(change.other);
            if (one != m_DiskNames.end() && other != m_DiskNames.end()) {
                std::swap(one->second, other->second);
            }
            break;
        }
    }
}

void PowerCutFileSystem::Cut(uint64_t seed) {
    if (m_Dead) {
        return;
    }
    // Mixed with the point of the cut: one seed chooses afresh at every point of a run.
    std::mt19937_64 random(seed * 0x9E3779B97F4A7C15u + static_cast<uint64_t>(m_Operations));
    const auto metadata =
        static_cast<size_t>(std::count_if(m_Pending.begin(), m_Pending.end(),
                                          [](const Pending& change) { return change.Metadata(); }));
    // How far the journal got, and how much of the data was written back, vary from cut to cut.
    const size_t committed = std::uniform_int_distribution<size_t>(0, metadata)(random);
    std::bernoulli_distribution lands(std::uniform_real_distribution<double>(0, 1)(random));
    size_t seen = 0;
    for (const Pending& change : m_Pending) {
        // In the order they were made: a page and an older version of it land as the last did.
        if (change.Metadata() ? seen++ < committed : lands(random)) {
            Land(change);
        }
    }
    m_Pending.clear();
    m_Dead = true;
    WriteBack();
}

std::vector<uint8_t> PowerCutFileSystem::FileBytes(int64_t node) const {
    const Node& file = m_Disk.at(node);
    std::vector<uint8_t> bytes(static_cast<size_t>(file.size), 0);
    std::copy_n(file.bytes.begin(), std::min(file.bytes.size(), bytes.size()), bytes.begin());
    return bytes;
}

void PowerCutFileSystem::WriteBack() {
    const auto onDisk = [this](const std::string& key, bool folder) {
        const auto name = m_DiskNames.find(key);
        return name != m_DiskNames.end() && m_Disk.at(name->second).folder == folder;
    };
    // A file the disk holds under another name than the system does (a rename that did not
    // land) goes back to that name as the same file, so that what tells files apart (their
    // identity) comes back with their bytes.
    std::map<std::string, std::string> moved;  // disk name -> where the file waits meanwhile
    for (const auto& [key, node] : m_DiskNames) {
        for (const auto& [name, systemNode] : m_Names) {
            if (systemNode == node && name != key && m_Inner.IsRegularFile(name)) {
                moved[key] = key + ".power-cut-move";
                if (m_Inner.Rename(name, moved[key]) != 0) {
                    throw std::runtime_error("PowerCutFileSystem cannot move " + name);
                }
                break;
            }
        }
    }
    // What the system has and the disk has not goes first, what is inside a folder before it.
    for (auto key = m_Touched.rbegin(); key != m_Touched.rend(); ++key) {
        const FileKind kind = m_Inner.KindOf(*key);
        if ((kind == FileKind::Regular && !onDisk(*key, false)) ||
            (kind == FileKind::Folder && !onDisk(*key, true))) {
            m_Inner.Remove(*key);
        }
    }
    for (const auto& [key, waiting] : moved) {
        if (m_Inner.Rename(waiting, key) != 0) {
            throw std::runtime_error("PowerCutFileSystem cannot move back " + key);
        }
    }
    for (const std::string& key : m_Touched) {
        std::string error;
        if (onDisk(key, true) && !m_Inner.IsFolder(key) && m_Inner.MakeFolder(key) != 0) {
            throw std::runtime_error("PowerCutFileSystem cannot make " + key);
        }
        if (!onDisk(key, false)) {
            continue;
        }
        const std::vector<uint8_t> bytes = FileBytes(m_DiskNames.at(key));
        std::unique_ptr<FileHandle> file = m_Inner.Open(key, OpenMode::Create, error);
        if (file == nullptr || !file->Write(bytes.data(), static_cast<int64_t>(bytes.size()), 0) ||
            !file->Close()) {
            throw std::runtime_error("PowerCutFileSystem cannot write back " + key);
        }
    }
}

std::unique_ptr<FileHandle> PowerCutFileSystem::Open(const std::string& path, OpenMode mode,
                                                     std::string& error) {
    const std::string key = Key(path);
    const bool creates = mode == OpenMode::Create || mode == OpenMode::CreateNew;
    if (creates ? !Proceed("create " + Name(key)) : !Alive()) {
        error = strerror(EIO);
        return nullptr;
    }
    // A file only read changes nothing the model must know.
    int64_t node = mode == OpenMode::Read && m_Touched.count(key) == 0 ? -1 : Touch(key);
    std::unique_ptr<FileHandle> inner = m_Inner.Open(path, mode, error);
    if (inner == nullptr) {
        return nullptr;
    }
    if (creates && node < 0) {
        node = NewNode(false);
        m_Names[key] = node;
        m_Sizes[node] = 0;
        m_Pending.push_back({Pending::Kind::Name, node, 0, key});
    } else if (mode == OpenMode::Create && m_Sizes[node] > 0) {
        Truncated(node, 0);
    }
    return std::make_unique<PowerCutHandle>(*this, node, key, std::move(inner));
}

bool PowerCutFileSystem::Exists(const std::string& path) {
    return Alive() && m_Inner.Exists(path);
}

int64_t PowerCutFileSystem::SizeBytes(const std::string& path) {
    return Alive() ? m_Inner.SizeBytes(path) : 0;
}

FileKind PowerCutFileSystem::KindOf(const std::string& path) {
    return Alive() ? m_Inner.KindOf(path) : FileKind::Missing;
}

std::vector<std::string> PowerCutFileSystem::ListFiles(const std::string& folder) {
    return Alive() ? m_Inner.ListFiles(folder) : std::vector<std::string>();
}

int PowerCutFileSystem::Rename(const std::string& from, const std::string& to) {
    const std::string key = Key(from);
    const std::string target = Key(to);
    if (!Proceed("rename " + Name(key) + " to " + Name(target))) {
        return -1;
    }
    const int64_t node = Touch(key);
    Touch(target);
    if (node >= 0 && m_Disk[node].folder) {
        throw std::logic_error("PowerCutFileSystem does not model renaming a folder: " + key);
    }
    const int result = m_Inner.Rename(from, to);
    if (result == 0) {
        m_Names[target] = node;
        m_Names[key] = -1;
        m_Pending.push_back({Pending::Kind::Rename, node, 0, key, target});
    }
    return result;
}

int PowerCutFileSystem::Exchange(const std::string& first, const std::string& second) {
    const std::string one = Key(first);
    const std::string other = Key(second);
    if (!Proceed("exchange " + Name(one) + " and " + Name(other))) {
        return -1;
    }
    Touch(one);
    Touch(other);
    const int result = m_Inner.Exchange(first, second);
    if (result == 0) {
        std::swap(m_Names[one], m_Names[other]);
        m_Pending.push_back({Pending::Kind::Exchange, -1, 0, one, other});
    }
    return result;
}

int PowerCutFileSystem::Remove(const std::string& path) {
    const std::string key = Key(path);
    if (!Proceed("remove " + Name(key))) {
        return -1;
    }
    Touch(key);
    const int result = m_Inner.Remove(path);
    if (result == 0) {
        m_Names[key] = -1;
        m_Pending.push_back({Pending::Kind::Unname, -1, 0, key});
    }
    return result;
}

int PowerCutFileSystem::MakeFolder(const std::string& path) {
    const std::string key = Key(path);
    if (!Proceed("make folder " + Name(key))) {
        return -1;
    }
    Touch(key);
    const int result = m_Inner.MakeFolder(path);
    if (result == 0) {
        m_Names[key] = NewNode(true);
        m_Pending.push_back({Pending::Kind::Name, m_Names[key], 0, key});
    }
    return result;
}

bool PowerCutFileSystem::ReadWhole(const std::string& path, std::vector<uint8_t>& data,
                                   std::string& error) {
    if (!Alive()) {
        error = strerror(EIO);
        return false;
    }
    return m_Inner.ReadWhole(path, data, error);
}

bool PowerCutFileSystem::WriteWhole(const std::string& path, const uint8_t* data, size_t size,
                                    std::string& error, Durability durability) {
    return WriteWholeFile(*this, path, data, size, error, durability);
}

bool PowerCutFileSystem::FlushFolder(const std::string& folder, std::string& error) {
    if (!Proceed("syncfs")) {
        error = strerror(EIO);
        return false;
    }
    if (!m_Inner.IsFolder(folder)) {
        error = strerror(ENOENT);
        return false;
    }
    for (const Pending& change : m_Pending) {
        Land(change);
    }
    m_Pending.clear();
    return true;
}

}  // namespace dorvex::testkit
