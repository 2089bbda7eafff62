// What a file of the disc folder or of the backup holds, told apart cheaply enough to be asked
// of every file a run from backup moves and of every file a restore would replace: its size and
// a fingerprint of its bytes.
//
// A file up to kWholeFileLimit bytes (every IFO and BUP, small menu VOBs) is fingerprinted
// whole. A larger one, a title VOB of up to a GiB, by kSampledPacks packs spread evenly from its
// first to its last, with the size. That tells the question a restore asks: is this the file the
// run moved or left, or another one? Another disc's VOB, a file cleaned again, ripped again or
// cut differs in its size or in nearly every pack (each pack header carries the stream's clock,
// each navpack its own sector number), so it differs in the sample too. What the sample does not
// see is a change of the same size that spares all sampled packs (a few bytes edited in place);
// that is damage, not another file, and no reason to read a whole disc twice per run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dorvex {

class FileSystem;

inline constexpr int64_t kWholeFileLimit = 8 * 1024 * 1024;
inline constexpr int32_t kSampledPacks = 64;

struct FileState {
    bool present = false;
    int64_t size = 0;
    uint64_t fingerprint = 0;

    bool operator==(const FileState&) const = default;
};

// The state of bytes about to be written whole (an IFO image).
FileState StateOfBytes(const uint8_t* data, size_t size);

// The state of the regular file at path; absent for a missing one. False, with the reason, when
// it cannot be read.
bool MeasureFile(FileSystem& files, const std::string& path, FileState& state, std::string& error);

// "2 KiB", "1.3 MiB": how a size is told in messages.
std::string DescribeSize(int64_t bytes);

}  // namespace dorvex
