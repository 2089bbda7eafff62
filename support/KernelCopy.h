// The loop around the kernel's copy between two files (copy_file_range), kept apart from the
// call itself so that a test file system can stand in for a kernel that refuses or copies short,
// and the same loop decides what that means.
#pragma once

#include <cerrno>
#include <cstdint>

namespace dorvex {

// Whether a refused kernel copy only means that these two files cannot be copied between inside
// the kernel, so the caller copies through memory: across file systems (EXDEV), on a file system
// or a kernel without the call (EOPNOTSUPP: network and FUSE mounts; ENOSYS), or for files it
// does not take (EINVAL).
inline bool KernelCannotCopy(int error) {
    return error == EXDEV || error == EOPNOTSUPP || error == ENOSYS || error == EINVAL;
}

// Copies size bytes from `from` to `to` by calls of copy(from, to, size) that answer as
// copy_file_range does: the bytes copied (possibly fewer than asked), 0 at the source's end, or
// -1 with errno. Returns the bytes copied, fewer where a call copied nothing (the source ended,
// or a file system that stops short), or -1 with errno; a refusal the caller can copy around
// comes back as EXDEV, after a partial copy as the bytes copied so far.
template <typename Copy>
int64_t CopyInKernel(Copy&& copy, int64_t from, int64_t to, int64_t size) {
    int64_t done = 0;
    while (done < size) {
        const int64_t n = copy(from + done, to + done, size - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            if (KernelCannotCopy(errno)) {
                errno = EXDEV;
            }
            return done > 0 && errno == EXDEV ? done : -1;
        }
        if (n == 0) {
            break;
        }
        done += n;
    }
    return done;
}

}  // namespace dorvex
