#include "support/WriteBackThread.h"

#include <algorithm>

namespace dorvex {

WriteBackThread::~WriteBackThread() {
    if (!m_Thread.joinable()) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Stop = true;
    }
    m_Wake.notify_one();
    m_Thread.join();
}

void WriteBackThread::Start(FileHandle& file, int64_t offset, int64_t size) {
    if (size <= 0) {
        return;
    }
    std::unique_lock<std::mutex> lock(m_Mutex);
    if (m_File != nullptr && m_File != &file) {
        // Another file's range is still waiting: it goes first (a pass writes one file at a time).
        m_Idle.wait(lock, [this] { return m_File == nullptr; });
    }
    if (m_File == &file) {
        m_First = std::min(m_First, offset);
        m_End = std::max(m_End, offset + size);
    } else {
        m_File = &file;
        m_First = offset;
        m_End = offset + size;
    }
    if (!m_Thread.joinable()) {
        m_Thread = std::thread([this] { Run(); });
    }
    lock.unlock();
    m_Wake.notify_one();
}

void WriteBackThread::Wait() {
    std::unique_lock<std::mutex> lock(m_Mutex);
    m_Idle.wait(lock, [this] { return m_File == nullptr && !m_InHand; });
}

void WriteBackThread::Run() {
    std::unique_lock<std::mutex> lock(m_Mutex);
    for (;;) {
        m_Wake.wait(lock, [this] { return m_Stop || m_File != nullptr; });
        if (m_File == nullptr) {
            return;  // asked to stop, nothing left
        }
        FileHandle* file = m_File;
        const int64_t first = m_First;
        const int64_t end = m_End;
        m_File = nullptr;
        m_InHand = true;
        lock.unlock();
        m_Idle.notify_all();
        file->StartWriteBack(first, end - first);
        lock.lock();
        m_InHand = false;
        m_Idle.notify_all();
    }
}

}  // namespace dorvex
