// A DVD-Video disc image (.iso) read as a folder: the files of its VIDEO_TS folder, found through
// libdvdread's UDF reader, the one most Linux players open images with, and read straight from
// the image. Nothing is ever written to the image: every write, rename or removal fails.
//
// The image's files appear under a folder of their own, IMAGE/VIDEO_TS/, so that the checker
// and the dry run read an image exactly as they read a disc folder.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/image/ImageExtents.h"
#include "support/FileSystem.h"

namespace dorvex {

// True when path is a regular file that carries an ISO 9660 or UDF volume descriptor where a
// disc image has it (sector 16); a VOB, an IFO or a folder never does.
bool LooksLikeDiscImage(const std::string& path);

class ImageFileSystem final : public FileSystem {
  public:
    // A file as the image spells its name (VTS_01_1.VOB), and the run of sectors UDF gives it.
    using Entry = ImageExtent;

    explicit ImageFileSystem(const std::string& imagePath);
    ~ImageFileSystem() override;
    ImageFileSystem(const ImageFileSystem&) = delete;
    ImageFileSystem& operator=(const ImageFileSystem&) = delete;

    // False, with what to tell the user in `error`, when the image cannot be read, holds no
    // VIDEO_TS.IFO or VTS_xx_0.IFO, or a file that cannot be read from sectors of its own
    // (ExtentProblem).
    bool Load(std::string& error);

    const std::string& ImagePath() const { return m_ImagePath; }
    // IMAGE/VIDEO_TS/, the folder the image's DVD files appear in.
    std::string Folder() const { return m_ImagePath + "/VIDEO_TS/"; }
    // The DVD files of the image's VIDEO_TS folder, in name order.
    const std::vector<Entry>& Entries() const { return m_Entries; }
    int64_t TotalBytes() const;
    // The UDF volume identifier ("" when the image has none).
    const std::string& VolumeLabel() const { return m_Label; }

    std::unique_ptr<FileHandle> Open(const std::string& path, OpenMode mode,
                                     std::string& error) override;
    bool Exists(const std::string& path) override;
    int64_t SizeBytes(const std::string& path) override;
    FileKind KindOf(const std::string& path) override;
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

  private:
    const Entry* Find(const std::string& path) const;
    bool IsFolderPath(const std::string& path) const;

    std::string m_ImagePath;
    int m_Fd = -1;
    std::vector<Entry> m_Entries;
    std::string m_Label;
};

// The image at path read as a folder; null, with why in error, when it cannot be read.
std::unique_ptr<ImageFileSystem> OpenDiscImage(const std::string& path, std::string& error);

}  // namespace dorvex
