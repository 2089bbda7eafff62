#include "engine/backup/FileState.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "engine/PackLayout.h"
#include "support/FileSystem.h"
#include "support/Fingerprint.h"

namespace dorvex {

namespace {

// The offsets of the sampled packs: the first pack, the last whole one, and evenly between.
int64_t SampleOffset(int64_t size, int32_t index) {
    const int64_t lastPack = size / pack::kPackSize - 1;
    return lastPack * index / (kSampledPacks - 1) * pack::kPackSize;
}

uint64_t FingerprintOf(const std::vector<uint8_t>& bytes, int64_t size) {
    return Fingerprint(bytes.data(), bytes.size(), static_cast<uint64_t>(size));
}

}  // namespace

FileState StateOfBytes(const uint8_t* data, size_t size) {
    const int64_t length = static_cast<int64_t>(size);
    if (length <= kWholeFileLimit) {
        return {true, length, Fingerprint(data, size, static_cast<uint64_t>(length))};
    }
    std::vector<uint8_t> sample;
    sample.reserve(static_cast<size_t>(kSampledPacks) * pack::kPackSize);
    for (int32_t i = 0; i < kSampledPacks; ++i) {
        const uint8_t* at = data + SampleOffset(length, i);
        sample.insert(sample.end(), at, at + pack::kPackSize);
    }
    return {true, length, FingerprintOf(sample, length)};
}

bool MeasureFile(FileSystem& files, const std::string& path, FileState& state, std::string& error) {
    state = {};
    if (files.KindOf(path) != FileKind::Regular) {
        return true;
    }
    const int64_t size = files.SizeBytes(path);
    if (size <= kWholeFileLimit) {
        std::vector<uint8_t> bytes;
        if (!files.ReadWhole(path, bytes, error)) {
            return false;
        }
        state = StateOfBytes(bytes.data(), bytes.size());
        return true;
    }
    std::unique_ptr<FileHandle> file = files.Open(path, OpenMode::Read, error);
    if (file == nullptr) {
        return false;
    }
    std::vector<uint8_t> sample(static_cast<size_t>(kSampledPacks) * pack::kPackSize);
    for (int32_t i = 0; i < kSampledPacks; ++i) {
        uint8_t* into = sample.data() + static_cast<size_t>(i) * pack::kPackSize;
        const int64_t got = file->Read(into, pack::kPackSize, SampleOffset(size, i));
        if (got != pack::kPackSize) {
            // A file cut while it is read is as unreadable as one that fails.
            error = got < 0 ? strerror(errno) : "it ended before its size";
            file->Close();
            return false;
        }
    }
    file->Close();
    state = {true, size, FingerprintOf(sample, size)};
    return true;
}

std::string DescribeSize(int64_t bytes) {
    char text[48];
    if (bytes < 1024 * 1024) {
        snprintf(text, sizeof(text), "%lld bytes", static_cast<long long>(bytes));
    } else {
        snprintf(text, sizeof(text), "%.1f MiB", static_cast<double>(bytes) / (1024.0 * 1024.0));
    }
    return text;
}

}  // namespace dorvex
