// Reads the next stretch of a file on a thread of its own while the caller works on the one
// before. Reading from the page cache is a copy into user memory, most of what a pass over a
// file does besides writing; on a thread of its own that copy runs on another core.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "support/FileSystem.h"

namespace dorvex {

class ReadAheadThread {
  public:
    ReadAheadThread() = default;
    // Waits for the read in hand, then stops the thread.
    ~ReadAheadThread();
    ReadAheadThread(const ReadAheadThread&) = delete;
    ReadAheadThread& operator=(const ReadAheadThread&) = delete;

    // Starts reading up to `size` bytes at `offset` of `file` into `buffer`, which neither the
    // caller nor anyone else touches until Finish. One read at a time: one not finished yet is
    // waited for and forgotten. The thread starts at the first call.
    void Start(FileHandle& file, uint8_t* buffer, int64_t size, int64_t offset);
    // Waits for the read started last: what FileHandle::Read returned, with errno as the read
    // left it. 0 when none was started.
    int64_t Finish();

  private:
    void Run();

    std::mutex m_Mutex;
    std::condition_variable m_Wake;  // a read asked for, or stop
    std::condition_variable m_Done;  // the read asked for has been made
    FileHandle* m_File = nullptr;    // the read asked for and not made yet; null for none
    uint8_t* m_Buffer = nullptr;
    int64_t m_Size = 0;
    int64_t m_Offset = 0;
    bool m_Started = false;  // a read was started and not finished
    int64_t m_Got = 0;
    int m_Error = 0;
    bool m_Stop = false;
    std::thread m_Thread;
};

}  // namespace dorvex
