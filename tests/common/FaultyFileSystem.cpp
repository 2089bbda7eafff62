#include "common/FaultyFileSystem.h"

#include <cerrno>
#include <cstring>

#include <algorithm>
#include <vector>

#include "support/KernelCopy.h"
#include "support/WholeFile.h"

namespace dorvex::testkit {

namespace {

constexpr int64_t kPack = 2048;

class FaultyHandle final : public FileHandle {
  public:
    FaultyHandle(FaultyFileSystem& files, std::string path, std::unique_ptr<FileHandle> inner)
        : m_Files(files), m_Path(std::move(path)), m_Inner(std::move(inner)) {}

    FileHandle& Inner() { return *m_Inner; }

    int64_t Read(uint8_t* buffer, int64_t size, int64_t offset) override {
        if (!m_Files.Allows(FileOp::Read, m_Path, offset / kPack)) {
            return -1;
        }
        return m_Inner->Read(buffer, size, offset);
    }
    bool Write(const iovec* pieces, int count, int64_t offset) override {
        return m_Files.Allows(FileOp::Write, m_Path, offset / kPack) &&
               m_Inner->Write(pieces, count, offset);
    }
    int64_t CopyFrom(FileHandle& source, int64_t from, int64_t to, int64_t size) override {
        if (!m_Files.Allows(FileOp::Write, m_Path, to / kPack)) {
            return -1;
        }
        auto* faulty = dynamic_cast<FaultyHandle*>(&source);
        FileHandle& inner = faulty != nullptr ? faulty->Inner() : source;
        if (m_Files.CopyFault()) {
            return CopyAsTheFaultSays(inner, from, to, size);
        }
        return m_Inner->CopyFrom(inner, from, to, size);
    }
    bool Truncate(int64_t size) override {
        return m_Files.Allows(FileOp::Truncate, m_Path, size / kPack) && m_Inner->Truncate(size);
    }
    bool Sync() override { return m_Files.Allows(FileOp::Sync, m_Path) && m_Inner->Sync(); }
    bool Close() override {
        const bool closed = m_Inner->Close();
        return m_Files.Allows(FileOp::Close, m_Path) && closed;
    }
    void ExpectSequentialReads() override { m_Inner->ExpectSequentialReads(); }
    bool ReadsFromAnyThread() const override {
        return m_Files.ReadsFromAnyThread() && m_Inner->ReadsFromAnyThread();
    }
    void StartWriteBack(int64_t offset, int64_t size) override {
        m_Files.HintedWriteBack(m_Path, offset, size);
        m_Inner->StartWriteBack(offset, size);
    }

  private:
    int64_t CopyAsTheFaultSays(FileHandle& source, int64_t from, int64_t to, int64_t size) {
        const KernelCopyFault fault = *m_Files.CopyFault();
        std::vector<uint8_t> bytes;
        auto call = [&](int64_t in, int64_t out, int64_t wanted) -> int64_t {
            m_Files.CountKernelCopyCall();
            // As the kernel: never within one file between ranges that overlap.
            if (&source == m_Inner.get() && in < out + wanted && out < in + wanted) {
                m_Files.CountOverlappingKernelCopy();
                errno = EINVAL;
                return -1;
            }
            const bool refused = m_Files.KernelCopyCalls() > fault.pieces;
            if (refused) {
                errno = fault.refusal;
                return fault.refusal == 0 ? 0 : -1;
            }
            bytes.resize(static_cast<size_t>(std::min(wanted, fault.piece)));
            const int64_t got = source.Read(bytes.data(), static_cast<int64_t>(bytes.size()), in);
            if (got > 0 && !m_Inner->Write(bytes.data(), got, out)) {
                return -1;
            }
            return got;
        };
        return CopyInKernel(call, from, to, size);
    }

    FaultyFileSystem& m_Files;
    std::string m_Path;
    std::unique_ptr<FileHandle> m_Inner;
};

}  // namespace

bool FaultyFileSystem::Allows(FileOp op, const std::string& path, int64_t sector) const {
    std::lock_guard<std::mutex> oneAtATime(m_RuleMutex);
    if (m_Rule && !m_Rule(op, path, sector)) {
        errno = EIO;
        return false;
    }
    return true;
}

std::unique_ptr<FileHandle> FaultyFileSystem::Open(const std::string& path, OpenMode mode,
                                                   std::string& error) {
    const bool create = mode == OpenMode::Create || mode == OpenMode::CreateNew;
    if (!Allows(create ? FileOp::Create : FileOp::Open, path)) {
        error = strerror(EIO);
        return nullptr;
    }
    std::unique_ptr<FileHandle> inner = m_Inner.Open(path, mode, error);
    if (inner == nullptr) {
        return nullptr;
    }
    return std::make_unique<FaultyHandle>(*this, path, std::move(inner));
}

int FaultyFileSystem::Rename(const std::string& from, const std::string& to) {
    return Allows(FileOp::Rename, from) ? m_Inner.Rename(from, to) : -1;
}

int FaultyFileSystem::Exchange(const std::string& first, const std::string& second) {
    return Allows(FileOp::Rename, first) ? m_Inner.Exchange(first, second) : -1;
}

int FaultyFileSystem::Remove(const std::string& path) {
    return Allows(FileOp::Remove, path) ? m_Inner.Remove(path) : -1;
}

bool FaultyFileSystem::ReadWhole(const std::string& path, std::vector<uint8_t>& data,
                                 std::string& error) {
    if (!Allows(FileOp::Read, path)) {
        error = strerror(EIO);
        return false;
    }
    return m_Inner.ReadWhole(path, data, error);
}

bool FaultyFileSystem::WriteWhole(const std::string& path, const uint8_t* data, size_t size,
                                  std::string& error, Durability durability) {
    return WriteWholeFile(*this, path, data, size, error, durability);
}

bool FaultyFileSystem::FlushFolder(const std::string& folder, std::string& error) {
    if (!Allows(FileOp::Sync, folder)) {
        error = strerror(EIO);
        return false;
    }
    return m_Inner.FlushFolder(folder, error);
}

bool FaultyFileSystem::MayChange(const std::string& path, std::string& error) {
    if (!Allows(FileOp::Access, path)) {
        error = strerror(EACCES);
        return false;
    }
    return m_Inner.MayChange(path, error);
}

}  // namespace dorvex::testkit
