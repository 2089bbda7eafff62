#include "support/FileOverlay.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

namespace dorvex {

namespace {

constexpr int64_t kPack = 2048;

CFileOverlay* g_pOverlay = nullptr;

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

std::string CFileOverlay::Key(const std::string& path) {
    std::string key = std::filesystem::path(path).lexically_normal().string();
    while (key.size() > 1 && key.back() == '/') {
        key.pop_back();
    }
    return key;
}

std::shared_ptr<OverlayFile> CFileOverlay::Open(const std::string& path) {
    auto it = m_Files.find(Key(path));
    if (it != m_Files.end()) {
        return it->second->exists ? it->second : nullptr;
    }
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        return nullptr;
    }
    auto file = std::make_shared<OverlayFile>();
    file->folder = S_ISDIR(st.st_mode);
    file->size = static_cast<int64_t>(st.st_size);
    file->source = path;
    m_Files[Key(path)] = file;
    return file;
}

std::shared_ptr<OverlayFile> CFileOverlay::Create(const std::string& path) {
    auto file = std::make_shared<OverlayFile>();
    m_Files[Key(path)] = file;
    return file;
}

const OverlayFile* CFileOverlay::Find(const std::string& path) const {
    auto it = m_Files.find(Key(path));
    return it == m_Files.end() ? nullptr : it->second.get();
}

int CFileOverlay::Rename(const std::string& from, const std::string& to) {
    std::shared_ptr<OverlayFile> file = Open(from);
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

int CFileOverlay::Remove(const std::string& path) {
    if (Open(path) == nullptr) {
        errno = ENOENT;
        return -1;
    }
    auto gone = std::make_shared<OverlayFile>();
    gone->exists = false;
    m_Files[Key(path)] = gone;
    m_Records.push_back({OverlayEvent::Remove, path, {}});
    return 0;
}

int CFileOverlay::MakeFolder(const std::string& path) {
    if (Open(path) != nullptr) {
        errno = EEXIST;
        return -1;
    }
    auto folder = Create(path);
    folder->folder = true;
    m_Records.push_back({OverlayEvent::MakeFolder, path, {}});
    return 0;
}

void CFileOverlay::WriteWhole(const std::string& path, const uint8_t* data, size_t size) {
    auto file = Create(path);
    file->whole.assign(data, data + size);
    file->written = true;
    file->size = static_cast<int64_t>(size);
    m_Records.push_back({OverlayEvent::WriteWhole, path, {}});
}

CFileOverlay* ActiveOverlay() {
    return g_pOverlay;
}

ScopedOverlay::ScopedOverlay(CFileOverlay& overlay) : m_Previous(g_pOverlay) {
    g_pOverlay = &overlay;
}

ScopedOverlay::~ScopedOverlay() {
    g_pOverlay = m_Previous;
}

}  // namespace dorvex
