#include "engine/backup/BackupManifest.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "support/ByteRecord.h"
#include "support/FileSystem.h"
#include "support/Fingerprint.h"
#include "support/Paths.h"
#include "support/TitleSetFiles.h"

namespace dorvex {

namespace {

constexpr std::string_view kMagic = "DORVEXBK";
constexpr uint32_t kVersion = 1;
constexpr uint8_t kCopied = 1;
constexpr uint8_t kRunning = 2;
constexpr size_t kTrailerBytes = 8;

void PutState(ByteRecordWriter& out, const FileState& state) {
    out.U8(state.present ? 1 : 0);
    out.I64(state.size);
    out.U64(state.fingerprint);
}

FileState GetState(ByteRecordReader& in) {
    FileState state;
    state.present = in.U8() != 0;
    state.size = in.I64();
    state.fingerprint = in.U64();
    return state;
}

bool IsVob(std::string_view name) {
    const std::optional<DvdNameParts> parts = ParseDvdFileName(name);
    return parts && parts->kind == DvdFileKind::Vob;
}

}  // namespace

bool BackupRecord::Accepts(const FileState& found) const {
    if (!found.present) {
        return true;
    }
    // A VOB the run was writing when it stopped holds part of an output nobody recorded.
    if (running && IsVob(name)) {
        return true;
    }
    return std::find(left.begin(), left.end(), found) != left.end();
}

void BackupRecord::AddLeft(const FileState& state) {
    if (std::find(left.begin(), left.end(), state) == left.end()) {
        left.push_back(state);
    }
}

ManifestRead BackupManifest::Read(FileSystem& files, const std::string& path, std::string& error) {
    m_Records.clear();
    if (files.KindOf(path) == FileKind::Missing) {
        return ManifestRead::Missing;
    }
    std::vector<uint8_t> bytes;
    if (files.KindOf(path) != FileKind::Regular) {
        error = "it is not a file";
        return ManifestRead::Unreadable;
    }
    if (!files.ReadWhole(path, bytes, error)) {
        return ManifestRead::Unreadable;
    }
    if (bytes.size() < kMagic.size() + kTrailerBytes ||
        std::string_view(reinterpret_cast<const char*>(bytes.data()), kMagic.size()) != kMagic) {
        error = "it is not a Dorvex backup record";
        return ManifestRead::Unreadable;
    }
    const size_t body = bytes.size() - kTrailerBytes;
    ByteRecordReader trailer(bytes.data() + body, kTrailerBytes);
    if (trailer.U64() != Fingerprint(bytes.data(), body)) {
        error = "it is damaged (its fingerprint does not match)";
        return ManifestRead::Unreadable;
    }
    ByteRecordReader in(bytes.data() + kMagic.size(), body - kMagic.size());
    if (in.U32() != kVersion) {
        error = "it was written by another version of Dorvex";
        return ManifestRead::Unreadable;
    }
    const uint32_t count = in.U32();
    for (uint32_t i = 0; i < count && in.Good(); ++i) {
        BackupRecord record;
        record.name = in.Text();
        const uint8_t flags = in.U8();
        record.copied = (flags & kCopied) != 0;
        record.running = (flags & kRunning) != 0;
        record.original = GetState(in);
        const uint32_t states = in.U32();
        for (uint32_t s = 0; s < states && in.Good(); ++s) {
            record.left.push_back(GetState(in));
        }
        m_Records.push_back(std::move(record));
    }
    if (!in.Good() || !in.AtEnd()) {
        m_Records.clear();
        error = "it is damaged (its records do not add up)";
        return ManifestRead::Unreadable;
    }
    return ManifestRead::Read;
}

bool BackupManifest::Write(FileSystem& files, const std::string& path, Durability durability,
                           std::string& error) const {
    std::vector<uint8_t> bytes;
    ByteRecordWriter out(bytes);
    out.Bytes(reinterpret_cast<const uint8_t*>(kMagic.data()), kMagic.size());
    out.U32(kVersion);
    out.U32(static_cast<uint32_t>(m_Records.size()));
    for (const BackupRecord& record : m_Records) {
        out.Text(record.name);
        out.U8(
            static_cast<uint8_t>((record.copied ? kCopied : 0) | (record.running ? kRunning : 0)));
        PutState(out, record.original);
        out.U32(static_cast<uint32_t>(record.left.size()));
        for (const FileState& state : record.left) {
            PutState(out, state);
        }
    }
    out.U64(Fingerprint(bytes.data(), bytes.size()));
    return files.WriteWhole(path, bytes.data(), bytes.size(), error, durability);
}

const BackupRecord* BackupManifest::Find(std::string_view name) const {
    for (const BackupRecord& record : m_Records) {
        if (EqualsIgnoreCase(record.name, name)) {
            return &record;
        }
    }
    return nullptr;
}

BackupRecord* BackupManifest::Find(std::string_view name) {
    return const_cast<BackupRecord*>(std::as_const(*this).Find(name));
}

BackupRecord& BackupManifest::Entry(std::string_view name) {
    if (BackupRecord* found = Find(name)) {
        return *found;
    }
    // A disc's files are found whatever their case; the record names them one way, so that it
    // reads the same for a disc in any case.
    BackupRecord& added = m_Records.emplace_back();
    const std::optional<DvdNameParts> parts = ParseDvdFileName(name);
    added.name = !parts ? std::string(name)
                        : DvdFileName(parts->titleSet, parts->part,
                                      parts->kind == DvdFileKind::Vob   ? "VOB"
                                      : parts->kind == DvdFileKind::Ifo ? "IFO"
                                                                        : "BUP");
    return added;
}

void BackupManifest::Erase(std::string_view name) {
    std::erase_if(m_Records, [name](const BackupRecord& record) {
        return EqualsIgnoreCase(record.name, name);
    });
}

}  // namespace dorvex
