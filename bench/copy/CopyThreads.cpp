// Measures what a copy through user memory costs when its two halves (the read into a buffer and
// the write from it) are shared between two cores in different ways, without any DVD logic:
//   single  one thread reads each 1 MiB stretch into its buffer and writes it
//   reader  a second thread reads the next stretch while the first writes this one (the pass
//           from backup reads its input this way)
//   split   two threads each read and write every other stretch, writes in file order, so the
//           bytes a thread reads are written from its own core's cache
// Prints the wall and CPU time (user + system) of the copy. The output must not exist yet.
//
//   dorvex_copy_threads single|reader|split INPUT OUTPUT
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

namespace {

constexpr int64_t kStretch = int64_t{1} << 20;

struct Copy {
    int in = -1;
    int out = -1;
    int64_t size = 0;
    bool failed = false;
};

// Page-aligned, as the pass's buffers are: the kernel copies to and from them much faster.
uint8_t* NewStretchBuffer() {
    void* pages =
        mmap(nullptr, kStretch, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pages == MAP_FAILED) {
        std::fprintf(stderr, "out of memory: %s\n", std::strerror(errno));
        std::exit(1);
    }
    return static_cast<uint8_t*>(pages);
}

void ReadStretch(Copy& copy, uint8_t* buffer, int64_t offset) {
    if (pread(copy.in, buffer, kStretch, offset) < 0) {
        copy.failed = true;
    }
}

void WriteStretch(Copy& copy, const uint8_t* buffer, int64_t offset) {
    const int64_t size = std::min(kStretch, copy.size - offset);
    if (pwrite(copy.out, buffer, static_cast<size_t>(size), offset) != size) {
        copy.failed = true;
    }
}

void CopySingle(Copy& copy) {
    uint8_t* buffer = NewStretchBuffer();
    for (int64_t offset = 0; offset < copy.size; offset += kStretch) {
        ReadStretch(copy, buffer, offset);
        WriteStretch(copy, buffer, offset);
    }
}

void CopyWithReader(Copy& copy) {
    uint8_t* buffers[2] = {NewStretchBuffer(), NewStretchBuffer()};
    std::mutex mutex;
    std::condition_variable changed;
    int64_t asked = -1;  // the stretch the reader is to read next
    int64_t read = -1;   // the last one it has read
    bool stop = false;
    std::thread reader([&] {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            changed.wait(lock, [&] { return stop || asked > read; });
            if (stop) {
                return;
            }
            const int64_t offset = asked;
            lock.unlock();
            ReadStretch(copy, buffers[(offset / kStretch) % 2], offset);
            lock.lock();
            read = offset;
            changed.notify_all();
        }
    });
    ReadStretch(copy, buffers[0], 0);
    for (int64_t offset = 0; offset < copy.size; offset += kStretch) {
        const int64_t next = offset + kStretch;
        if (next < copy.size) {
            std::lock_guard<std::mutex> lock(mutex);
            asked = next;
        }
        changed.notify_all();
        WriteStretch(copy, buffers[(offset / kStretch) % 2], offset);
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return next >= copy.size || read == next; });
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        stop = true;
    }
    changed.notify_all();
    reader.join();
}

void CopySplit(Copy& copy) {
    std::mutex mutex;
    std::condition_variable written;
    int64_t writeNext = 0;  // writes go out in file order, as the pass's do
    auto copyEveryOther = [&](int64_t first) {
        uint8_t* buffer = NewStretchBuffer();
        for (int64_t offset = first; offset < copy.size; offset += 2 * kStretch) {
            ReadStretch(copy, buffer, offset);
            std::unique_lock<std::mutex> lock(mutex);
            written.wait(lock, [&] { return writeNext == offset; });
            lock.unlock();
            WriteStretch(copy, buffer, offset);
            lock.lock();
            writeNext = offset + kStretch;
            written.notify_all();
        }
    };
    std::thread other(copyEveryOther, kStretch);
    copyEveryOther(0);
    other.join();
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fputs("usage: dorvex_copy_threads single|reader|split INPUT OUTPUT\n", stderr);
        return 2;
    }
    const std::string mode = argv[1];
    void (*run)(Copy&) = mode == "single"   ? CopySingle
                         : mode == "reader" ? CopyWithReader
                         : mode == "split"  ? CopySplit
                                            : nullptr;
    if (run == nullptr) {
        std::fprintf(stderr, "unknown mode %s (single, reader or split)\n", argv[1]);
        return 2;
    }
    Copy copy;
    copy.in = open(argv[2], O_RDONLY | O_CLOEXEC);
    if (copy.in < 0) {
        std::fprintf(stderr, "cannot open %s: %s\n", argv[2], std::strerror(errno));
        return 1;
    }
    copy.size = lseek(copy.in, 0, SEEK_END);
    copy.out = open(argv[3], O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (copy.out < 0) {
        std::fprintf(stderr, "cannot create %s: %s (give a path that does not exist yet)\n",
                     argv[3], std::strerror(errno));
        return 1;
    }
    const double cpuBefore = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    run(copy);
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
    const double cpu = CpuSeconds() - cpuBefore;
    if (copy.failed || close(copy.out) != 0) {
        std::fprintf(stderr, "the copy to %s failed\n", argv[3]);
        return 1;
    }
    std::printf("%s wall %.3f s cpu %.3f s\n", mode.c_str(), wall.count(), cpu);
    return 0;
}
