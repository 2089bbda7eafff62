#include "support/ReadAheadThread.h"

#include <cerrno>

namespace dorvex {

ReadAheadThread::~ReadAheadThread() {
    if (!m_Thread.joinable()) {
        return;
    }
    Finish();
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Stop = true;
    }
    m_Wake.notify_one();
    m_Thread.join();
}

void ReadAheadThread::Start(FileHandle& file, uint8_t* buffer, int64_t size, int64_t offset) {
    Finish();
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_File = &file;
        m_Buffer = buffer;
        m_Size = size;
        m_Offset = offset;
        m_Started = true;
        if (!m_Thread.joinable()) {
            m_Thread = std::thread([this] { Run(); });
        }
    }
    m_Wake.notify_one();
}

int64_t ReadAheadThread::Finish() {
    std::unique_lock<std::mutex> lock(m_Mutex);
    if (!m_Started) {
        return 0;
    }
    m_Done.wait(lock, [this] { return m_File == nullptr; });
    m_Started = false;
    errno = m_Error;
    return m_Got;
}

void ReadAheadThread::Run() {
    std::unique_lock<std::mutex> lock(m_Mutex);
    for (;;) {
        m_Wake.wait(lock, [this] { return m_Stop || m_File != nullptr; });
        if (m_File == nullptr) {
            return;  // asked to stop, nothing asked for
        }
        FileHandle* file = m_File;
        uint8_t* buffer = m_Buffer;
        const int64_t size = m_Size;
        const int64_t offset = m_Offset;
        lock.unlock();
        errno = 0;
        const int64_t got = file->Read(buffer, size, offset);
        const int error = errno;
        lock.lock();
        m_Got = got;
        m_Error = error;
        m_File = nullptr;
        m_Done.notify_all();
    }
}

}  // namespace dorvex
