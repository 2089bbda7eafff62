#include "engine/journal/WriteRedo.h"

#include <cerrno>
#include <cstring>

#include "engine/PackLayout.h"
#include "support/Fingerprint.h"
#include "support/Paths.h"

namespace dorvex {

namespace {

constexpr int64_t kPackSize = pack::kPackSize;

bool ReadPack(FileHandle& file, int64_t sector, uint8_t* pack) {
    return file.Read(pack, kPackSize, sector * kPackSize) == kPackSize;
}

uint64_t PackFingerprint(const uint8_t* pack) {
    return Fingerprint(pack, static_cast<size_t>(kPackSize));
}

}  // namespace

bool RedoWrite(FileSystem& files, const std::string& folder, const RecordedWrite& write,
               std::string& error) {
    const std::string path = JoinPath(folder, write.file);
    std::unique_ptr<FileHandle> file = files.Open(path, OpenMode::Update, error);
    if (file == nullptr) {
        error = "Couldn't open " + path + ": " + error;
        return false;
    }
    const auto failed = [&](const char* what, int64_t sector) {
        error = std::string("Couldn't ") + what + " sector " + std::to_string(sector) + " of " +
                path + ": " + strerror(errno);
        return false;
    };
    if (!write.literal.empty() &&
        !file->Write(write.literal.data(), static_cast<int64_t>(write.literal.size()),
                     write.sector * kPackSize)) {
        return failed("write", write.sector);
    }
    uint8_t pack[pack::kPackSize];
    const int64_t first = write.sector + write.LiteralPacks();
    // In order of sectors, as the write went: a copy's source always lies at or after its
    // destination, so no pack written here is a source still to come.
    for (int64_t i = 0; i < write.copiedPacks; ++i) {
        const int64_t to = first + i;
        const int64_t from = write.copiedFrom + i;
        const bool exposed = static_cast<size_t>(i) < write.fingerprints.size();
        if (exposed) {
            const uint64_t wanted = write.fingerprints[static_cast<size_t>(i)];
            if (ReadPack(*file, to, pack) && PackFingerprint(pack) == wanted) {
                continue;
            }
            if (!ReadPack(*file, from, pack) || PackFingerprint(pack) != wanted) {
                error = "Sector " + std::to_string(to) + " of " + path +
                        " cannot be rebuilt: neither it nor its source (sector " +
                        std::to_string(from) + ") holds the pack the run was moving there";
                return false;
            }
        } else if (!ReadPack(*file, from, pack)) {
            return failed("read", from);
        }
        if (!file->Write(pack, kPackSize, to * kPackSize)) {
            return failed("write", to);
        }
    }
    if (!file->Close()) {
        return failed("close after writing", write.sector);
    }
    return true;
}

bool RedoTruncate(FileSystem& files, const std::string& folder, const std::string& name,
                  int64_t sectors, std::string& error) {
    const std::string path = JoinPath(folder, name);
    std::unique_ptr<FileHandle> file = files.Open(path, OpenMode::Update, error);
    if (file == nullptr) {
        error = "Couldn't open " + path + ": " + error;
        return false;
    }
    if (!file->Truncate(sectors * kPackSize) || !file->Close()) {
        error = "Couldn't cut " + path + ": " + strerror(errno);
        return false;
    }
    return true;
}

}  // namespace dorvex
