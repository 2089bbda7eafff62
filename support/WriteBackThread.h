// Starts the disk's write-back of ranges of a file from a thread of its own. The kernel does the
// work of starting writes (mapping blocks, building requests) in the caller, and the call blocks
// while the disk's queue is full; on a thread of its own that work runs on another core and the
// caller never waits for the disk.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "support/FileSystem.h"

namespace dorvex {

class WriteBackThread {
  public:
    WriteBackThread() = default;
    // Waits for the range in hand, then stops the thread.
    ~WriteBackThread();
    WriteBackThread(const WriteBackThread&) = delete;
    WriteBackThread& operator=(const WriteBackThread&) = delete;

    // Asks for [offset, offset + size) of `file` to be handed to write-back. A range of the same
    // file still waiting is widened to cover both: while the disk is behind, one call catches up
    // with many batches. The thread starts at the first call.
    void Start(FileHandle& file, int64_t offset, int64_t size);
    // Returns once nothing is waiting or in hand: before `file` is flushed, closed or destroyed.
    void Wait();

  private:
    void Run();

    std::mutex m_Mutex;
    std::condition_variable m_Wake;  // something to do, or stop
    std::condition_variable m_Idle;  // nothing waiting, nothing in hand
    FileHandle* m_File = nullptr;    // the range waiting; null for none
    int64_t m_First = 0;
    int64_t m_End = 0;
    bool m_InHand = false;
    bool m_Stop = false;
    std::thread m_Thread;
};

}  // namespace dorvex
