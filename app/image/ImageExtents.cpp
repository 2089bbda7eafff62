#include "app/image/ImageExtents.h"

#include <algorithm>

#include "support/FileSystem.h"
#include "support/Paths.h"
#include "support/TitleSetFiles.h"

namespace dorvex {

namespace {

// ISO 9660 (ECMA-119): volume descriptors from sector 16, each a sector that starts with its
// type and "CD001"; directory records of variable length that never cross a sector.
namespace iso {
constexpr int64_t kSectorBytes = 2048;
constexpr int64_t kFirstDescriptorSector = 16;
constexpr int32_t kMostDescriptors = 64;  // a damaged image without a set terminator
constexpr uint8_t kPrimaryVolume = 1;
constexpr uint8_t kSetTerminator = 255;
constexpr int32_t kDescriptorId = 1;  // "CD001"
constexpr int32_t kRootRecord = 156;  // the root folder's record in the primary descriptor
constexpr int32_t kRecordExtent = 2;  // u32 little-endian, then the same big-endian
constexpr int32_t kRecordDataLength = 10;
constexpr int32_t kRecordFlags = 25;
constexpr int32_t kRecordNameLength = 32;
constexpr int32_t kRecordName = 33;
constexpr uint8_t kFlagDirectory = 0x02;
// A VIDEO_TS folder lists some 200 names at most: a few sectors. A damaged length is cut here.
constexpr int64_t kMostFolderBytes = 64 * kSectorBytes;
}  // namespace iso

uint32_t ReadLE32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

struct IsoRecord {
    std::string name;  // without ";1"; "\0" and "\1" for the folder itself and its parent
    uint32_t extent = 0;
    uint32_t length = 0;
    bool folder = false;
};

IsoRecord ReadRecord(const uint8_t* record) {
    std::string name(reinterpret_cast<const char*>(record + iso::kRecordName),
                     record[iso::kRecordNameLength]);
    name = name.substr(0, name.find(';'));
    return {name, ReadLE32(record + iso::kRecordExtent), ReadLE32(record + iso::kRecordDataLength),
            (record[iso::kRecordFlags] & iso::kFlagDirectory) != 0};
}

// The records of the folder whose own record is `folder`; what does not fit is left out.
std::vector<IsoRecord> ReadFolder(int fd, const IsoRecord& folder) {
    std::vector<uint8_t> bytes(
        static_cast<size_t>(std::min<int64_t>(folder.length, iso::kMostFolderBytes)));
    const int64_t got = ReadAtMost(fd, bytes.data(), static_cast<int64_t>(bytes.size()),
                                   int64_t{folder.extent} * iso::kSectorBytes);
    std::vector<IsoRecord> records;
    for (int64_t at = 0; got > 0 && at < got;) {
        const uint8_t length = bytes[static_cast<size_t>(at)];
        if (length == 0) {  // the rest of this sector is padding
            at = (at / iso::kSectorBytes + 1) * iso::kSectorBytes;
            continue;
        }
        const uint8_t* record = bytes.data() + at;
        if (length <= iso::kRecordName || at + length > got ||
            iso::kRecordName + record[iso::kRecordNameLength] > length) {
            break;
        }
        records.push_back(ReadRecord(record));
        at += length;
    }
    return records;
}

std::optional<IsoRecord> RootFolder(int fd) {
    uint8_t sector[iso::kSectorBytes];
    for (int32_t i = 0; i < iso::kMostDescriptors; ++i) {
        const int64_t at = (iso::kFirstDescriptorSector + i) * iso::kSectorBytes;
        if (ReadAtMost(fd, sector, iso::kSectorBytes, at) != iso::kSectorBytes ||
            std::string_view(reinterpret_cast<const char*>(sector + iso::kDescriptorId), 5) !=
                "CD001" ||
            sector[0] == iso::kSetTerminator) {
            return std::nullopt;
        }
        if (sector[0] == iso::kPrimaryVolume) {
            return ReadRecord(sector + iso::kRootRecord);
        }
    }
    return std::nullopt;
}

std::string Sectors(const ImageExtent& e) {
    const int64_t sectors = (e.size + iso::kSectorBytes - 1) / iso::kSectorBytes;
    return "sectors " + std::to_string(e.firstSector) + " to " +
           std::to_string(e.firstSector + sectors - 1);
}

int64_t EndByte(const ImageExtent& e) {
    return int64_t{e.firstSector} * iso::kSectorBytes + e.size;
}

constexpr const char* kWhatToDo =
    ": the image is damaged. Make it again from the disc (or from a copy of its folder), then "
    "try again.";

}  // namespace

std::optional<std::vector<ImageExtent>> ListIsoVideoTs(int fd) {
    const std::optional<IsoRecord> root = RootFolder(fd);
    if (!root) {
        return std::nullopt;
    }
    for (const IsoRecord& record : ReadFolder(fd, *root)) {
        if (record.folder && EqualsIgnoreCase(record.name, "VIDEO_TS")) {
            std::vector<ImageExtent> files;
            for (const IsoRecord& file : ReadFolder(fd, record)) {
                if (!file.folder) {
                    files.push_back({file.name, file.extent, file.length});
                }
            }
            return files;
        }
    }
    return std::nullopt;
}

std::string ExtentProblem(const std::vector<ImageExtent>& udf,
                          const std::optional<std::vector<ImageExtent>>& listed,
                          int64_t imageBytes) {
    // libdvdread, and every player with it, reads a file as one run of sectors from its start.
    for (const ImageExtent& e : udf) {
        if (EndByte(e) > imageBytes) {
            return "the image is cut short: " + e.name + " (" + Sectors(e) + ") ends past its end" +
                   kWhatToDo;
        }
    }
    for (const ImageExtent& l : listed.value_or(std::vector<ImageExtent>())) {
        const bool found = std::any_of(udf.begin(), udf.end(), [&l](const ImageExtent& e) {
            return EqualsIgnoreCase(e.name, l.name);
        });
        if (!found && l.size > 0 && IsDvdFileName(l.name)) {
            return l.name +
                   " is in the image's VIDEO_TS folder, but its UDF file entry cannot "
                   "be read" +
                   kWhatToDo;
        }
    }
    std::vector<ImageExtent> sorted;
    std::copy_if(udf.begin(), udf.end(), std::back_inserter(sorted),
                 [](const ImageExtent& e) { return e.size > 0; });
    std::sort(sorted.begin(), sorted.end(), [](const ImageExtent& a, const ImageExtent& b) {
        return a.firstSector != b.firstSector ? a.firstSector < b.firstSector : a.size > b.size;
    });
    for (size_t i = 1; i < sorted.size(); ++i) {
        const ImageExtent& before = sorted[i - 1];
        const ImageExtent& after = sorted[i];
        // Hard links in the folder the image was made of share one extent: the same bytes.
        const bool sameFile = after.firstSector == before.firstSector && after.size == before.size;
        if (!sameFile && int64_t{after.firstSector} * iso::kSectorBytes < EndByte(before)) {
            return before.name + " (" + Sectors(before) + ") runs into " + after.name +
                   " (from sector " + std::to_string(after.firstSector) +
                   "), so a clean would copy " + after.name + "'s bytes into it" + kWhatToDo;
        }
    }
    return {};
}

}  // namespace dorvex
