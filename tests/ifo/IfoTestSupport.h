// Shared helpers of the IFO tests: log capture and loading builder images from files.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/IfoBuilder.h"
#include "common/StreamBuilder.h"
#include "common/TempDir.h"
#include "ifo/IfoFile.h"
#include "support/Sinks.h"

namespace dorvex::testkit {

// Records the log sink's lines while it lives.
class LogCapture {
  public:
    LogCapture() { Lines().clear(); }
    static std::vector<std::string>& Lines() {
        static std::vector<std::string> lines;
        return lines;
    }
    int Count(const std::string& line) const {
        int n = 0;
        for (const std::string& l : Lines()) {
            n += l == line ? 1 : 0;
        }
        return n;
    }

  private:
    static void Record(char* text, int32_t level) {
        if (level == kLogLevelNormal) {
            Lines().emplace_back(text);
        }
    }
    ScopedSinks m_Sinks{Record, nullptr};
};

inline std::unique_ptr<CIfoFile> LoadImage(const TempDir& dir, const std::string& name,
                                           const std::vector<uint8_t>& image) {
    WriteIfoPair(dir / name, image);
    return std::make_unique<CIfoFile>(dir / name);
}

inline std::vector<uint8_t> ImageOf(CIfoFile& ifo) {
    return std::vector<uint8_t>(ifo.Data(), ifo.Data() + ifo.ImageSize());
}

}  // namespace dorvex::testkit
