#include "engine/plan/OverlayFileSystem.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "engine/Navpack.h"

namespace dorvex {

namespace {

constexpr int64_t kPack = pack::kPackSize;

// An open file of the overlay: reads see the real file under what the run wrote; writes keep
// navpacks and only lengthen the file for the rest.
class OverlayHandle final : public FileHandle {
  public:
    OverlayHandle(std::shared_ptr<OverlayFile> file, std::unique_ptr<FileHandle> source)
        : m_File(std::move(file)), m_Source(std::move(source)) {}

    int64_t Read(uint8_t* buffer, int64_t size, int64_t offset) override {
        const int64_t end = std::min(offset + size, m_File->size);
        if (end <= offset) {
            return 0;
        }
        if (m_File->written) {
            const int64_t have = std::min<int64_t>(end, static_cast<int64_t>(m_File->whole.size()));
            if (have <= offset) {
                return 0;
            }
            std::memcpy(buffer, m_File->whole.data() + offset, static_cast<size_t>(have - offset));
            return have - offset;
        }
        int64_t got = 0;
        if (m_Source != nullptr) {
            got = m_Source->Read(buffer, end - offset, offset);
            if (got < 0) {
                return -1;
            }
        }
        // Kept packs stand over the real bytes, and a run of them after what the real file
        // holds (a file the run created) can be read as well.
        for (auto it = m_File->packs.lower_bound(offset / kPack);
             it != m_File->packs.end() && it->first * kPack < end; ++it) {
            const int64_t first = std::max(offset, it->first * kPack);
            const int64_t last = std::min(end, (it->first + 1) * kPack);
            if (first > offset + got) {
                break;
            }
            std::memcpy(buffer + (first - offset), it->second.data() + (first - it->first * kPack),
                        static_cast<size_t>(last - first));
            got = std::max(got, last - offset);
        }
        return got;
    }

    bool Write(const iovec* pieces, int count, int64_t offset) override {
        uint8_t pack[kPack];
        int64_t filled = 0;
        for (int i = 0; i < count; ++i) {
            const auto* bytes = static_cast<const uint8_t*>(pieces[i].iov_base);
            for (size_t done = 0; done < pieces[i].iov_len;) {
                const size_t take =
                    std::min(pieces[i].iov_len - done, static_cast<size_t>(kPack - filled));
                std::memcpy(pack + filled, bytes + done, take);
                filled += static_cast<int64_t>(take);
                done += take;
                if (filled == kPack) {
                    KeepOrDiscard(offset / kPack, pack);
                    offset += kPack;
                    filled = 0;
                }
            }
        }
        return true;
    }

    int64_t CopyFrom(FileHandle&, int64_t, int64_t to, int64_t size) override {
        // The pass copies only packs it leaves unchanged, never a navpack.
        m_File->Discard(to / kPack, size / kPack);
        return size;
    }

    bool Truncate(int64_t size) override {
        m_File->Truncate(size / kPack);
        return true;
    }

    bool Sync() override { return true; }
    bool Close() override { return true; }

  private:
    void KeepOrDiscard(int64_t sector, const uint8_t* pack) {
        if (navpack::IsNavpack(pack)) {
            m_File->KeepPack(sector, pack);
        } else {
            m_File->Discard(sector, 1);
        }
    }

    std::shared_ptr<OverlayFile> m_File;
    std::unique_ptr<FileHandle> m_Source;
};

}  // namespace

void OverlayFile::KeepPack(int64_t sector, const uint8_t* pack) {
    packs[sector].assign(pack, pack + kPack);
    size = std::max(size, (sector + 1) * kPack);
}

void OverlayFile::Discard(int64_t first, int64_t count) {
    packs.erase(packs.lower_bound(first), packs.lower_bound(first + count));
    size = std::max(size, (first + count) * kPack);
}

void OverlayFile::Truncate(int64_t sectors) {
    packs.erase(packs.lower_bound(sectors), packs.end());
    size = sectors * kPack;
}

std::string OverlayFileSystem::Key(const std::string& path) {
    std::string key = std::filesystem::path(path).lexically_normal().string();
    while (key.size() > 1 && key.back() == '/') {
        key.pop_back();
    }
    return key;
}

std::shared_ptr<OverlayFile> OverlayFileSystem::Take(const std::string& path) {
    auto it = m_Files.find(Key(path));
    if (it != m_Files.end()) {
        return it->second->exists ? it->second : nullptr;
    }
    if (!m_Disk.Exists(path)) {
        return nullptr;
    }
    auto file = std::make_shared<OverlayFile>();
    file->folder = m_Disk.KindOf(path) == FileKind::Folder;
    file->size = m_Disk.SizeBytes(path);
    file->source = path;
    m_Files[Key(path)] = file;
    return file;
}

std::shared_ptr<OverlayFile> OverlayFileSystem::Create(const std::string& path) {
    auto file = std::make_shared<OverlayFile>();
    m_Files[Key(path)] = file;
    return file;
}

const OverlayFile* OverlayFileSystem::Find(const std::string& path) const {
    auto it = m_Files.find(Key(path));
    return it == m_Files.end() ? nullptr : it->second.get();
}

std::unique_ptr<FileHandle> OverlayFileSystem::Open(const std::string& path, OpenMode mode,
                                                    std::string& error) {
    if (mode == OpenMode::CreateNew && KindOf(path) != FileKind::Missing) {
        error = strerror(EEXIST);
        errno = EEXIST;
        return nullptr;
    }
    const bool create = mode == OpenMode::Create || mode == OpenMode::CreateNew;
    std::shared_ptr<OverlayFile> file = create ? Create(path) : Take(path);
    if (file == nullptr) {
        error = strerror(ENOENT);
        errno = ENOENT;
        return nullptr;
    }
    std::unique_ptr<FileHandle> source;
    if (!file->source.empty() && !file->written) {
        source = m_Disk.Open(file->source, OpenMode::Read, error);
        if (source == nullptr) {
            return nullptr;
        }
    }
    return std::make_unique<OverlayHandle>(std::move(file), std::move(source));
}

bool OverlayFileSystem::Exists(const std::string& path) {
    if (const OverlayFile* file = Find(path)) {
        return file->exists;
    }
    return m_Disk.Exists(path);
}

int64_t OverlayFileSystem::SizeBytes(const std::string& path) {
    if (const OverlayFile* file = Find(path)) {
        return file->exists ? file->size : 0;
    }
    return m_Disk.SizeBytes(path);
}

FileKind OverlayFileSystem::KindOf(const std::string& path) {
    const OverlayFile* file = Find(path);
    if (file == nullptr) {
        return m_Disk.KindOf(path);
    }
    if (!file->exists) {
        return FileKind::Missing;
    }
    return file->folder ? FileKind::Folder : FileKind::Regular;
}

int OverlayFileSystem::Exchange(const std::string& first, const std::string& second) {
    std::shared_ptr<OverlayFile> a = Take(first);
    std::shared_ptr<OverlayFile> b = Take(second);
    if (a == nullptr || b == nullptr) {
        errno = ENOENT;
        return -1;
    }
    m_Files[Key(first)] = b;
    m_Files[Key(second)] = a;
    m_Records.push_back({OverlayEvent::Rename, first, second});
    return 0;
}

std::vector<std::string> OverlayFileSystem::ListFiles(const std::string& folder) {
    std::vector<std::string> names;
    const std::string key = Key(folder.empty() ? "." : folder);
    const std::filesystem::path base(key);
    for (const std::string& name : m_Disk.ListFiles(folder)) {
        const OverlayFile* file = Find((base / name).string());
        if (file == nullptr || (file->exists && !file->folder)) {
            names.push_back(name);
        }
    }
    // Files the run made or moved into the folder.
    for (const auto& [path, file] : m_Files) {
        const std::filesystem::path entry(path);
        if (file->exists && !file->folder && Key(file->source) != path &&
            entry.parent_path() == base &&
            std::find(names.begin(), names.end(), entry.filename().string()) == names.end()) {
            names.push_back(entry.filename().string());
        }
    }
    return names;
}

int OverlayFileSystem::Rename(const std::string& from, const std::string& to) {
    std::shared_ptr<OverlayFile> file = Take(from);
    if (file == nullptr) {
        errno = ENOENT;
        return -1;
    }
    if (Key(from) == Key(to)) {
        return 0;
    }
    m_Files[Key(to)] = file;
    auto gone = std::make_shared<OverlayFile>();
    gone->exists = false;
    m_Files[Key(from)] = gone;
    m_Records.push_back({OverlayEvent::Rename, from, to});
    return 0;
}

int OverlayFileSystem::Remove(const std::string& path) {
    if (Take(path) == nullptr) {
        errno = ENOENT;
        return -1;
    }
    auto gone = std::make_shared<OverlayFile>();
    gone->exists = false;
    m_Files[Key(path)] = gone;
    m_Records.push_back({OverlayEvent::Remove, path, {}});
    return 0;
}

int OverlayFileSystem::MakeFolder(const std::string& path) {
    if (Take(path) != nullptr) {
        errno = EEXIST;
        return -1;
    }
    Create(path)->folder = true;
    m_Records.push_back({OverlayEvent::MakeFolder, path, {}});
    return 0;
}

bool OverlayFileSystem::ReadWhole(const std::string& path, std::vector<uint8_t>& data,
                                  std::string& error) {
    const std::shared_ptr<OverlayFile> file = Take(path);
    if (file == nullptr) {
        error = strerror(ENOENT);
        return false;
    }
    if (file->written) {
        data = file->whole;
        return true;
    }
    std::unique_ptr<FileHandle> handle = Open(path, OpenMode::Read, error);
    if (handle == nullptr) {
        return false;
    }
    data.assign(static_cast<size_t>(file->size), 0);
    const int64_t got = handle->Read(data.data(), file->size, 0);
    if (got < 0) {
        error = strerror(errno);
        return false;
    }
    data.resize(static_cast<size_t>(got));
    return true;
}

bool OverlayFileSystem::WriteWhole(const std::string& path, const uint8_t* data, size_t size,
                                   std::string&, Durability) {
    auto file = Create(path);
    file->whole.assign(data, data + size);
    file->written = true;
    file->size = static_cast<int64_t>(size);
    m_Records.push_back({OverlayEvent::WriteWhole, path, {}});
    return true;
}

}  // namespace dorvex
