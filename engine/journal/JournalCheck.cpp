#include "engine/journal/JournalCheck.h"

#include <cerrno>
#include <cstring>

#include "engine/Navpack.h"
#include "engine/PackLayout.h"
#include "support/Fingerprint.h"
#include "support/Paths.h"
#include "support/TitleSetFiles.h"

namespace dorvex {

namespace {

constexpr int64_t kPackSize = pack::kPackSize;

// The navpack fields a run may change after it wrote the navpack.
constexpr navpack::Field kChangedLater[] = {
    navpack::Field::VobuEnd,   navpack::Field::RefEnds,        navpack::Field::SearchPointers,
    navpack::Field::AudioSync, navpack::Field::SubpictureSync, navpack::Field::IlvuAngle,
};

std::string SectorText(const std::string& name, int64_t sector) {
    return name + " sector " + std::to_string(sector);
}

// Reads one pack of a file; false when it is not there whole.
bool ReadPack(FileSystem& files, const std::string& path, int64_t sector, uint8_t* pack) {
    std::string error;
    std::unique_ptr<FileHandle> file = files.Open(path, OpenMode::Read, error);
    return file != nullptr && file->Read(pack, kPackSize, sector * kPackSize) == kPackSize;
}

std::string CheckPart(FileSystem& files, const std::string& folder, const JournalHeader& header,
                      size_t part, int64_t size, bool renamed, std::string& path) {
    const JournalPart& expected = header.parts[part];
    path = PartPath(files, folder, header, part, renamed);
    if (path.empty()) {
        // The tidy step removes a part the pass emptied.
        return renamed && size == 0 ? std::string() : expected.name + " is missing";
    }
    if (files.KindOf(path) != FileKind::Regular) {
        return GetFileName(path) + " is not a regular file (a link, or something else)";
    }
    const FileIdentity identity = files.IdentityOf(path);
    if (expected.identity.Known() && identity.Known() && identity != expected.identity) {
        return GetFileName(path) + " is another file than the one the run was changing (it was " +
               "replaced or copied back)";
    }
    // In place a part only shrinks, and each cut is announced by a flushed record before it is
    // made: a part longer than the record says is one whose cut the disk has not kept yet (the
    // finishing run makes it again); a shorter one lost bytes the run still needs.
    const int64_t now = files.SizeBytes(path);
    if (now < size) {
        return GetFileName(path) + " holds " + std::to_string(now) +
               " bytes, the interrupted run left " + std::to_string(size);
    }
    return {};
}

}  // namespace

uint64_t CheckedFingerprint(const uint8_t* pack) {
    if (!navpack::IsNavpack(pack)) {
        return Fingerprint(pack, static_cast<size_t>(kPackSize));
    }
    uint8_t masked[pack::kPackSize];
    std::memcpy(masked, pack, sizeof(masked));
    for (navpack::Field field : kChangedLater) {
        navpack::ClearField(masked, field);
    }
    return Fingerprint(masked, sizeof(masked));
}

std::string PartPath(FileSystem& files, const std::string& folder, const JournalHeader& header,
                     size_t part, bool mayBeRenamed) {
    const JournalPart& expected = header.parts[part];
    const std::string named = ResolveCase(files, JoinPath(folder, expected.name));
    const bool there = files.KindOf(named) != FileKind::Missing;
    if (there && (!mayBeRenamed || !expected.identity.Known() ||
                  files.IdentityOf(named) == expected.identity)) {
        return named;
    }
    if (!mayBeRenamed || !expected.identity.Known()) {
        return there ? named : std::string();
    }
    const TitleSetFiles set(files, JoinPath(folder, header.vobName));
    for (int32_t number = kFirstTitleVobPart; number <= kLastTitleVobPart; ++number) {
        const std::string candidate = set.Vob(number);
        if (files.IdentityOf(candidate) == expected.identity) {
            return candidate;
        }
    }
    return {};
}

std::string CheckFilesAgainst(FileSystem& files, const std::string& folder,
                              const JournalHeader& header, const JournalRecord& record,
                              bool renamed) {
    std::vector<std::string> paths(header.parts.size());
    for (size_t part = 0; part < header.parts.size(); ++part) {
        int64_t size = record.files.sizes[part];
        // The cut this record announced may have been made already.
        if (record.kind == JournalRecordKind::Cut && record.cutPart == part) {
            const int64_t cut = record.cutSectors * kPackSize;
            if (files.SizeBytes(PartPath(files, folder, header, part, renamed)) == cut) {
                size = cut;
            }
        }
        if (std::string found = CheckPart(files, folder, header, part, size, renamed, paths[part]);
            !found.empty()) {
            return found;
        }
    }
    uint8_t pack[pack::kPackSize];
    for (const PackCheck& check : record.files.checks) {
        const std::string& path = paths[check.part];
        const std::string name = header.parts[check.part].name;
        if (path.empty() || !ReadPack(files, path, check.sector, pack)) {
            return SectorText(name, check.sector) + " cannot be read";
        }
        if (CheckedFingerprint(pack) != check.fingerprint) {
            return SectorText(name, check.sector) + " is not what the interrupted run left there";
        }
    }
    return {};
}

bool RedoCuts(FileSystem& files, const std::string& folder, const JournalHeader& header,
              const JournalRecord& record, bool renamed, std::string& error) {
    for (size_t part = 0; part < header.parts.size(); ++part) {
        const std::string path = PartPath(files, folder, header, part, renamed);
        const int64_t size = record.files.sizes[part];
        if (path.empty() || files.SizeBytes(path) <= size) {
            continue;
        }
        std::unique_ptr<FileHandle> file = files.Open(path, OpenMode::Update, error);
        if (file == nullptr || !file->Truncate(size) || !file->Sync() || !file->Close()) {
            error =
                "Couldn't cut " + path + " to the " + std::to_string(size) +
                " bytes the interrupted run left: " + (file == nullptr ? error : strerror(errno));
            return false;
        }
    }
    return true;
}

namespace {

enum class MovedPack { Made, ToMake, Lost };

// Where one pack of a move stands, with the source's bytes read into `pack` when it is to make.
MovedPack Where(FileHandle& file, const RecordedMove& move, int64_t i, uint8_t* pack) {
    const uint64_t wanted = move.fingerprints[static_cast<size_t>(i)];
    const auto holds = [&](int64_t sector) {
        return file.Read(pack, kPackSize, sector * kPackSize) == kPackSize &&
               Fingerprint(pack, static_cast<size_t>(kPackSize)) == wanted;
    };
    if (holds(move.sector + i)) {
        return MovedPack::Made;
    }
    return holds(move.from + i) ? MovedPack::ToMake : MovedPack::Lost;
}

std::unique_ptr<FileHandle> OpenMovePart(FileSystem& files, const std::string& folder,
                                         const JournalHeader& header, const RecordedMove& move,
                                         bool renamed, OpenMode mode, std::string& error) {
    const std::string path = PartPath(files, folder, header, move.part, renamed);
    std::unique_ptr<FileHandle> file = path.empty() ? nullptr : files.Open(path, mode, error);
    if (file == nullptr) {
        error = "Couldn't open " + (path.empty() ? header.parts[move.part].name : path) +
                (error.empty() ? "" : ": " + error);
    }
    return file;
}

}  // namespace

std::string FindLostMoves(FileSystem& files, const std::string& folder, const JournalHeader& header,
                          const std::vector<RecordedMove>& moves, bool renamed) {
    uint8_t pack[pack::kPackSize];
    for (const RecordedMove& move : moves) {
        std::string error;
        std::unique_ptr<FileHandle> file =
            OpenMovePart(files, folder, header, move, renamed, OpenMode::Read, error);
        if (file == nullptr) {
            return error;
        }
        int64_t lost = 0;
        int64_t first = -1;
        for (int64_t i = 0; i < move.Packs(); ++i) {
            if (Where(*file, move, i, pack) == MovedPack::Lost) {
                first = first < 0 ? move.sector + i : first;
                ++lost;
            }
        }
        if (lost > 0) {
            return header.parts[move.part].name + ": " + std::to_string(lost) +
                   " packs the run was moving down to sectors from " + std::to_string(first) +
                   " on were lost (the disk kept later writes over them, not the moves)";
        }
    }
    return {};
}

bool RedoMoves(FileSystem& files, const std::string& folder, const JournalHeader& header,
               const std::vector<RecordedMove>& moves, bool renamed, std::string& error) {
    uint8_t pack[pack::kPackSize];
    for (const RecordedMove& move : moves) {
        std::unique_ptr<FileHandle> file =
            OpenMovePart(files, folder, header, move, renamed, OpenMode::Update, error);
        if (file == nullptr) {
            return false;
        }
        for (int64_t i = 0; i < move.Packs(); ++i) {
            const MovedPack where = Where(*file, move, i, pack);
            if (where == MovedPack::Lost ||
                (where == MovedPack::ToMake &&
                 !file->Write(pack, kPackSize, (move.sector + i) * kPackSize))) {
                error = "Couldn't move " + header.parts[move.part].name + " sector " +
                        std::to_string(move.from + i) + " down again";
                return false;
            }
        }
        if (!file->Sync() || !file->Close()) {
            error = "Couldn't write " + header.parts[move.part].name + ": " + strerror(errno);
            return false;
        }
    }
    return true;
}

}  // namespace dorvex
