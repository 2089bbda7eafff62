#include "support/WriteBackThread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <utility>
#include <vector>

namespace dorvex {
namespace {

using namespace std::chrono_literals;

// A file whose write-back hint blocks, as sync_file_range does while the disk's queue is full,
// until the test lets it go; it keeps the ranges it was given.
class SlowDiskFile final : public FileHandle {
  public:
    int64_t Read(uint8_t*, int64_t, int64_t) override { return 0; }
    bool Write(const iovec*, int, int64_t) override { return true; }
    int64_t CopyFrom(FileHandle&, int64_t, int64_t, int64_t) override { return 0; }
    bool Truncate(int64_t) override { return true; }
    bool Sync() override { return true; }
    bool Close() override { return true; }
    void StartWriteBack(int64_t offset, int64_t size) override {
        std::unique_lock<std::mutex> lock(m_Mutex);
        ranges.emplace_back(offset, offset + size);
        m_Entered.notify_all();
        m_Released.wait(lock, [this] { return m_Free; });
    }
    void WaitForFirstHint() {
        std::unique_lock<std::mutex> lock(m_Mutex);
        m_Entered.wait(lock, [this] { return !ranges.empty(); });
    }
    void Release() {
        {
            std::lock_guard<std::mutex> lock(m_Mutex);
            m_Free = true;
        }
        m_Released.notify_all();
    }

    std::vector<std::pair<int64_t, int64_t>> ranges;  // [first, end)

  private:
    std::mutex m_Mutex;
    std::condition_variable m_Entered;
    std::condition_variable m_Released;
    bool m_Free = false;
};

// The caller goes on while the disk is behind; what it asked for meanwhile reaches the disk in
// one range covering all of it, and Wait returns only once that has been handed on.
TEST(WriteBackThread, TheCallerNeverWaitsForTheDiskAndRangesAskedMeanwhileGoAsOne) {
    SlowDiskFile file;
    WriteBackThread thread;
    thread.Start(file, 0, 100);
    file.WaitForFirstHint();
    auto later = std::async(std::launch::async, [&] {
        thread.Start(file, 100, 50);
        thread.Start(file, 300, 10);
        thread.Start(file, 150, 20);
    });
    ASSERT_EQ(later.wait_for(10s), std::future_status::ready) << "the caller waited for the disk";
    auto waiting = std::async(std::launch::async, [&] { thread.Wait(); });
    EXPECT_EQ(waiting.wait_for(50ms), std::future_status::timeout) << "Wait left a range behind";
    file.Release();
    ASSERT_EQ(waiting.wait_for(10s), std::future_status::ready);
    const std::vector<std::pair<int64_t, int64_t>> expected = {{0, 100}, {100, 310}};
    EXPECT_EQ(file.ranges, expected);
}

}  // namespace
}  // namespace dorvex
