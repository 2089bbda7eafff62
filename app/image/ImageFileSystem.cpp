#include "app/image/ImageFileSystem.h"

#include <dvdread/dvd_reader.h>
#include <dvdread/dvd_udf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "support/Paths.h"
#include "support/TitleSetFiles.h"

namespace dorvex {

namespace {

constexpr int64_t kSectorBytes = 2048;
// Where ISO 9660 and UDF put their first volume descriptor: sector 16, after the system area.
constexpr int64_t kFirstDescriptorSector = 16;

// libdvdread would print its notes (no CSS library, a UDF detail) to standard error.
void QuietLog(void*, dvd_logger_level_t, const char*, va_list) {}

class ImageFileHandle final : public FileHandle {
  public:
    ImageFileHandle(int fd, int64_t start, int64_t size) : m_Fd(fd), m_Start(start), m_Size(size) {}

    int64_t Read(uint8_t* buffer, int64_t size, int64_t offset) override {
        if (offset >= m_Size) {
            return 0;
        }
        return ReadAtMost(m_Fd, buffer, std::min(size, m_Size - offset), m_Start + offset);
    }
    bool Write(const iovec*, int, int64_t) override { return ReadOnly(); }
    int64_t CopyFrom(FileHandle&, int64_t, int64_t, int64_t) override {
        errno = EROFS;
        return -1;
    }
    bool Truncate(int64_t) override { return ReadOnly(); }
    bool Sync() override { return true; }
    bool Close() override { return true; }

  private:
    static bool ReadOnly() {
        errno = EROFS;
        return false;
    }

    int m_Fd;
    int64_t m_Start;
    int64_t m_Size;
};

// Every name a VIDEO_TS folder may hold, in the order a folder listing sorts them.
std::vector<std::string> DvdFileNames() {
    std::vector<std::string> names;
    for (const char* ext : {"BUP", "IFO", "VOB"}) {
        names.push_back(DvdFileName(kVideoManager, 0, ext));
    }
    for (int32_t titleSet = 1; titleSet <= kLastTitleSet; ++titleSet) {
        names.push_back(DvdFileName(titleSet, kMenuVobPart, "BUP"));
        names.push_back(DvdFileName(titleSet, kMenuVobPart, "IFO"));
        for (int32_t part = kMenuVobPart; part <= kLastTitleVobPart; ++part) {
            names.push_back(DvdFileName(titleSet, part, "VOB"));
        }
    }
    return names;
}

}  // namespace

bool LooksLikeDiscImage(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return false;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    // A descriptor starts with its type byte, then "CD001" (ISO 9660) or, for UDF's volume
    // recognition sequence, "BEA01".
    char id[6] = {};
    const bool read = ::pread(fd, id, sizeof(id), kFirstDescriptorSector * kSectorBytes) ==
                      static_cast<ssize_t>(sizeof(id));
    ::close(fd);
    return read && (std::memcmp(id + 1, "CD001", 5) == 0 || std::memcmp(id + 1, "BEA01", 5) == 0);
}

ImageFileSystem::ImageFileSystem(const std::string& imagePath)
    : m_ImagePath(StripSeparator(imagePath)) {}

ImageFileSystem::~ImageFileSystem() {
    if (m_Fd >= 0) {
        ::close(m_Fd);
    }
}

bool ImageFileSystem::Load(std::string& error) {
    m_Fd = ::open(m_ImagePath.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (m_Fd < 0 || ::fstat(m_Fd, &st) != 0) {
        error = m_ImagePath + ": " + strerror(errno);
        return false;
    }
    dvd_logger_cb logger{QuietLog};
    dvd_reader_t* dvd = DVDOpen2(nullptr, &logger, m_ImagePath.c_str());
    if (dvd == nullptr) {
        error = m_ImagePath + ": libdvdread cannot open it as a DVD image";
        return false;
    }
    // Without its cache libdvdread looks each name up on its own: with it, the first lookup maps
    // every file of the folder and fails for all when one file entry cannot be read, which would
    // blame the wrong file.
    DVDUDFCacheLevel(dvd, 0);
    for (const std::string& name : DvdFileNames()) {
        uint32_t size = 0;
        const uint32_t sector = UDFFindFile(dvd, ("/VIDEO_TS/" + name).c_str(), &size);
        if (sector != 0) {
            m_Entries.push_back({name, sector, size});
        }
    }
    char label[33] = {};
    unsigned char volumeSet[128];
    if (DVDUDFVolumeInfo(dvd, label, sizeof(label), volumeSet, sizeof(volumeSet)) == 0) {
        m_Label = label;
    }
    DVDClose(dvd);

    std::sort(m_Entries.begin(), m_Entries.end(),
              [](const Entry& a, const Entry& b) { return a.name < b.name; });
    const std::string problem = ExtentProblem(m_Entries, ListIsoVideoTs(m_Fd), st.st_size);
    if (!problem.empty()) {
        error = m_ImagePath + ": " + problem;
        return false;
    }
    const bool holdsIfo = std::any_of(m_Entries.begin(), m_Entries.end(), [](const Entry& e) {
        return EqualsIgnoreCase(GetFileExt(e.name), ".IFO");
    });
    if (!holdsIfo) {
        error = m_ImagePath + ": no VIDEO_TS.IFO or VTS_xx_0.IFO in this image's UDF file system";
        return false;
    }
    return true;
}

int64_t ImageFileSystem::TotalBytes() const {
    int64_t total = 0;
    for (const Entry& entry : m_Entries) {
        total += entry.size;
    }
    return total;
}

const ImageFileSystem::Entry* ImageFileSystem::Find(const std::string& path) const {
    const std::string folder = Folder();
    if (path.size() <= folder.size() || path.compare(0, folder.size(), folder) != 0) {
        return nullptr;
    }
    const std::string name = path.substr(folder.size());
    for (const Entry& entry : m_Entries) {
        if (entry.name == name) {
            return &entry;
        }
    }
    return nullptr;
}

bool ImageFileSystem::IsFolderPath(const std::string& path) const {
    return StripSeparator(path) == StripSeparator(Folder());
}

std::unique_ptr<FileHandle> ImageFileSystem::Open(const std::string& path, OpenMode mode,
                                                  std::string& error) {
    const Entry* entry = Find(path);
    if (mode != OpenMode::Read) {
        errno = EROFS;
        error = strerror(EROFS);
        return nullptr;
    }
    if (entry == nullptr) {
        errno = ENOENT;
        error = strerror(ENOENT);
        return nullptr;
    }
    return std::make_unique<ImageFileHandle>(m_Fd, entry->firstSector * kSectorBytes, entry->size);
}

bool ImageFileSystem::Exists(const std::string& path) {
    return Find(path) != nullptr || IsFolderPath(path);
}

int64_t ImageFileSystem::SizeBytes(const std::string& path) {
    const Entry* entry = Find(path);
    return entry == nullptr ? 0 : entry->size;
}

FileKind ImageFileSystem::KindOf(const std::string& path) {
    if (Find(path) != nullptr) {
        return FileKind::Regular;
    }
    return IsFolderPath(path) ? FileKind::Folder : FileKind::Missing;
}

std::vector<std::string> ImageFileSystem::ListFiles(const std::string& folder) {
    std::vector<std::string> names;
    if (IsFolderPath(folder)) {
        for (const Entry& entry : m_Entries) {
            names.push_back(entry.name);
        }
    }
    return names;
}

int ImageFileSystem::Rename(const std::string&, const std::string&) {
    errno = EROFS;
    return -1;
}

int ImageFileSystem::Exchange(const std::string&, const std::string&) {
    errno = EROFS;
    return -1;
}

int ImageFileSystem::Remove(const std::string&) {
    errno = EROFS;
    return -1;
}

int ImageFileSystem::MakeFolder(const std::string&) {
    errno = EROFS;
    return -1;
}

bool ImageFileSystem::ReadWhole(const std::string& path, std::vector<uint8_t>& data,
                                std::string& error) {
    std::unique_ptr<FileHandle> file = Open(path, OpenMode::Read, error);
    if (file == nullptr) {
        return false;
    }
    data.resize(static_cast<size_t>(SizeBytes(path)));
    if (file->Read(data.data(), static_cast<int64_t>(data.size()), 0) !=
        static_cast<int64_t>(data.size())) {
        error = errno != 0 ? strerror(errno) : "the image ends early";
        return false;
    }
    return true;
}

bool ImageFileSystem::WriteWhole(const std::string&, const uint8_t*, size_t, std::string& error,
                                 Durability) {
    error = strerror(EROFS);
    return false;
}

bool ImageFileSystem::FlushFolder(const std::string&, std::string&) {
    return true;  // nothing is ever written
}

std::unique_ptr<ImageFileSystem> OpenDiscImage(const std::string& path, std::string& error) {
    auto image = std::make_unique<ImageFileSystem>(path);
    if (!image->Load(error)) {
        return nullptr;
    }
    return image;
}

}  // namespace dorvex
