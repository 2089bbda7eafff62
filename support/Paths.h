// Path and file utilities: splitting and joining paths, and asking the disk about a file. What a
// DVD file is called is TitleSetFiles.h's. Results are owned strings, so the dialog and the worker
// thread can build paths at the same time without sharing buffers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace dorvex {

// The separator this program inserts. Both '\\' and '/' are recognised when splitting.
inline constexpr char kPathSeparator = '/';

inline bool IsPathSeparator(char c) {
    return c == '/' || c == '\\';
}

struct PathParts {
    std::string drive;   // "D:" when the second character is ':', else empty
    std::string folder;  // up to and including the last separator
    std::string base;    // file name up to its last '.'
    std::string ext;     // the last '.' and what follows it
};

PathParts SplitPath(std::string_view path);

std::string Concat(std::string_view first, std::string_view second);
std::string Concat3(std::string_view first, std::string_view second, std::string_view third);
std::string GetFileExt(std::string_view path);
std::string GetBaseName(std::string_view path);
std::string GetFileName(std::string_view path);
std::string GetFolder(std::string_view path);
std::string ReplaceExt(std::string_view path, std::string_view newExt);
std::string JoinPath(std::string_view folder, std::string_view name);
// The folder without its trailing separators ("/" stays "/").
std::string StripSeparator(std::string folder);

// An empty path stands for an absent argument.
// On the disk itself, for the front ends and tools; a run asks the FileSystem it was given.
bool FileExists(std::string_view path);
int32_t FileSizeKB(std::string_view path);
int64_t FileSizeBytes(std::string_view path);
bool IsEmptyOrMissing(std::string_view path);

// Removes the regular files of a folder; subfolders and undeletable entries are passed over.
void DeleteFolderFiles(std::string_view folder, std::string_view pattern = "*");

bool EqualsIgnoreCase(std::string_view a, std::string_view b);

}  // namespace dorvex
